// What the browser tests read of the game in any engine, through a driver
// of engines.mjs or browser.mjs's openBrowser: its frames against the
// desktop's, the menu, keys and play, the page's message and controls, and
// the high-score table in the site's storage; and the running of cases.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { check, Failure, log, serve, sleep, waitUntil } from './browser.mjs';

export const W = 640,
  H = 480;
// ---- Pictures -------------------------------------------------------------

export function rgb565(r, g, b) {
  return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}

export const starColours = new Set([0, rgb565(55, 55, 55), rgb565(150, 150, 150), rgb565(255, 255, 255)]);

// The canvas as RGB565, the way the desktop's 16-bit screen holds it.
export async function frame(g) {
  const b64 = await g.peek(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let s = '';
    for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode.apply(null, d.subarray(i, i + 0x8000));
    return btoa(s);
  });
  const rgba = Buffer.from(b64, 'base64');
  check(rgba.length === W * H * 4, `the canvas is not 640x480 (${rgba.length / 4} pixels)`);
  const out = new Uint16Array(W * H);
  for (let i = 0; i < W * H; i++) out[i] = rgb565(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
  return out;
}

export function readRgb565(file) {
  const b = fs.readFileSync(file);
  return new Uint16Array(b.buffer, b.byteOffset, b.length / 2);
}

// Pixels that differ, leaving out those where both frames show only black or
// a star: the stars fall at random in each.
export function differences(a, b) {
  const at = [];
  for (let i = 0; i < a.length; i++) {
    if (a[i] !== b[i] && !(starColours.has(a[i]) && starColours.has(b[i]))) at.push(i);
  }
  return at;
}

export const expand = (p) => [((p >> 11) & 31) << 3, ((p >> 5) & 63) << 2, (p & 31) << 3];

// The two frames side by side with the differences in red between them.
export function savePair(file, desktop, browser, diff) {
  const rgb = Buffer.alloc(W * 3 * H * 3);
  const marked = new Set(diff);
  for (let i = 0; i < W * H; i++) {
    const at = (Math.floor(i / W) * W * 3 + (i % W)) * 3;
    rgb.set(expand(desktop[i]), at);
    rgb.set(marked.has(i) ? [255, 0, 0] : [expand(desktop[i])[0] >> 2, 0, 0], at + W * 3);
    rgb.set(expand(browser[i]), at + W * 6);
  }
  execFileSync('convert', ['-size', `${W * 3}x${H}`, '-depth', '8', 'rgb:-', file], { input: rgb });
}

// For each box [x, y, w, h] of the canvas, the sum over its pixels of an
// expression of their r, g and b (a test counts the pixels that pass it).
export function pixels(g, expression, ...boxes) {
  return g.peek(
    (expression, boxes) => {
      const ctx = document.getElementById('screen').getContext('2d');
      const f = new Function('r', 'g', 'b', `return ${expression}`);
      return boxes.map(([x, y, w, h]) => {
        const d = ctx.getImageData(x, y, w, h).data;
        let sum = 0;
        for (let i = 0; i < d.length; i += 4) sum += +f(d[i], d[i + 1], d[i + 2]);
        return sum;
      });
    },
    expression,
    boxes,
  );
}

// The menu is up while its NEW GAME button is drawn: stars or a table light a
// few of those pixels at most.
export async function buttonShown(g) {
  return (await pixels(g, 'r + g + b > 0', [285, 266, 130, 22]))[0] > (130 * 22) / 2;
}

export async function menuShown(g) {
  await waitUntil('the menu', () => buttonShown(g), 15000);
}

// The text of the empty high-score screen, line by line (rows of the screen
// where only it is drawn): as wide as the desktop's within 5%, in the same
// place within 2 pixels, and in the desktop's one solid colour.
export const textLines = { title: [30, 90], 'no scores yet': [130, 170], hint: [436, 475] };
export function textBox(frame, [top, bottom]) {
  const box = { x0: W, y0: H, x1: -1, y1: -1, colours: new Set() };
  for (let y = top; y < bottom; y++) {
    for (let x = 0; x < W; x++) {
      const p = frame[y * W + x];
      if (starColours.has(p)) continue;
      box.colours.add(p);
      box.x0 = Math.min(box.x0, x);
      box.x1 = Math.max(box.x1, x);
      box.y0 = Math.min(box.y0, y);
      box.y1 = Math.max(box.y1, y);
    }
  }
  return box;
}

export function checkText(desktop, browser) {
  for (const [line, rows] of Object.entries(textLines)) {
    const d = textBox(desktop, rows),
      b = textBox(browser, rows);
    check(d.x1 >= 0 && b.x1 >= 0, `${line}: no text found`);
    const dw = d.x1 - d.x0 + 1,
      bw = b.x1 - b.x0 + 1;
    log(
      `${line}: desktop ${dw} px wide at (${d.x0}, ${d.y0}), browser ${bw} px at (${b.x0}, ${b.y0}), ` +
        `${b.colours.size} colour${b.colours.size === 1 ? '' : 's'}`,
    );
    check(Math.abs(bw - dw) <= 0.05 * dw, `${line}: ${bw} px wide in the browser, ${dw} px on the desktop`);
    check(
      Math.abs(b.x0 - d.x0) <= 2 && Math.abs(b.y0 - d.y0) <= 2 && Math.abs(b.y1 - d.y1) <= 2,
      `${line}: at (${b.x0}, ${b.y0}) in the browser, (${d.x0}, ${d.y0}) on the desktop`,
    );
    check(
      b.colours.size === 1 && [...b.colours][0] === [...d.colours][0],
      `${line}: drawn in ${b.colours.size} colours`,
    );
  }
}

// Waits until the game has drawn n more frames: a key it was given has been
// taken by then, whatever the machine's pace.
export async function framesPass(g, n = 10) {
  const from = await g.peek(() => Module.frameCount());
  await waitUntil(`${n} more frames`, async () => (await g.peek(() => Module.frameCount())) >= from + n);
}

// Which menu item is lit: the brightest of the three.
export async function litItem(g) {
  const sums = await pixels(g, 'r + g + b', ...[266, 306, 346].map((y) => [285, y, 130, 22]));
  return sums.indexOf(Math.max(...sums));
}

// Lights a menu item by pressing Up or Down: a press held past the game's
// short key repeat delay may take two steps.
export async function select(g, item) {
  for (let tries = 0; tries < 10; tries++) {
    const lit = await litItem(g);
    if (lit === item) return;
    await g.press(lit < item ? 'ArrowDown' : 'ArrowUp');
    await waitUntil('the menu to move', async () => (await litItem(g)) !== lit, 5000);
  }
  throw new Failure(`menu item ${item} could not be lit`);
}

// A key held as a browser holds it: one press, then, after the system's
// delay, its own repeats (about 500 ms, then 30 a second) until released.
export async function hold(g, key, ms) {
  const end = Date.now() + ms;
  await g.down(key);
  await sleep(Math.min(500, ms));
  while (Date.now() < end) {
    await g.down(key); // pressed again while down: a repeat
    await sleep(33);
  }
  await g.up(key);
}

// Records, in the page, whether each key press reached the page's default
// handling (a scroll, for arrows and Space).
export async function watchDefaults(g) {
  await g.peek(() => {
    window.defaultsLeft = [];
    window.addEventListener('keydown', (e) => {
      if (!e.defaultPrevented) window.defaultsLeft.push(e.key);
    });
  });
}

export async function messageShown(g, timeout = 10000) {
  return waitUntil(
    "the page's message",
    () =>
      g.peek(() => {
        const m = document.getElementById('message');
        return (
          !m.hidden && getComputedStyle(m).display !== 'none' && document.getElementById('message-text').textContent
        );
      }),
    timeout,
  );
}

// ---- The high-score table in the browser's storage --------------------------

export const scoresPath = '/home/web_user/.local/share/quorvane/scores';

// The files the game keeps in the site's IndexedDB, by name, as text, once
// those given are put there as the game would have stored them.
export function storedFiles(g, put = {}) {
  return g.peek(
    async (dir, put) => {
      const db = await new Promise((resolve, reject) => {
        const r = indexedDB.open('quorvane', 1);
        r.onupgradeneeded = () => r.result.createObjectStore('files');
        r.onsuccess = () => resolve(r.result);
        r.onerror = () => reject(r.error);
      });
      const tx = db.transaction('files', 'readwrite'),
        store = tx.objectStore('files');
      const done = new Promise((resolve) => (tx.oncomplete = resolve));
      for (const [name, text] of Object.entries(put))
        store.put({ contents: new TextEncoder().encode(text) }, dir + '/' + name);
      const get = (r) => new Promise((resolve) => (r.onsuccess = () => resolve(r.result)));
      const keys = await get(store.getAllKeys());
      const values = await get(store.getAll());
      await done;
      db.close();
      const files = {};
      keys.forEach((k, i) => {
        if (k.startsWith(dir + '/')) files[k.slice(dir.length + 1)] = new TextDecoder().decode(values[i].contents);
      });
      return files;
    },
    path.dirname(scoresPath),
    put,
  );
}

export function entries(text) {
  return (text || '')
    .split('\n')
    .slice(1)
    .filter(Boolean)
    .map((l) => {
      const [score, time, name] = l.split('\t');
      return { score: +score, time: +time, name };
    });
}

// Play is on while the left side panel fills its column: only play draws it.
export async function playing(g) {
  return (await pixels(g, 'r + g + b > 30', [40, 0, 1, 400]))[0] > 240;
}

export async function startGame(g) {
  await select(g, 0);
  await g.press('Space');
  await waitUntil('play', () => playing(g), 5000);
}

// Whether play is on (as playing() tells it), where the ship is and where
// the lowest enemy above it is, by the centres of what is colourful (not
// black, grey or a side panel) in their rows: one reading of the canvas,
// which costs WebKit far more than the pixels read.
export function sighting(g) {
  return g.peek(() => {
    const w = 518;
    const d = document.getElementById('screen').getContext('2d').getImageData(40, 0, w, 400).data;
    let panel = 0;
    for (let y = 0; y < 400; y++) if (d[4 * y * w] + d[4 * y * w + 1] + d[4 * y * w + 2] > 30) panel++;
    const colourful = (i) => d[i] + d[i + 1] + d[i + 2] > 90 && !(d[i] === d[i + 1] && d[i] === d[i + 2]);
    const centre = (y0, y1) => {
      let x0 = 476,
        x1 = -1;
      for (let y = y0; y < y1; y += 2) {
        for (let x = 0; x < 476; x++)
          if (colourful(4 * (y * w + 42 + x))) [x0, x1] = [Math.min(x0, x), Math.max(x1, x)];
      }
      return x1 < 0 ? null : 82 + (x0 + x1) / 2;
    };
    let y = 348;
    while (y >= 0 && centre(y, y + 1) === null) y -= 2;
    return { playing: panel > 240, ship: centre(352, 382), enemy: y < 0 ? null : centre(Math.max(0, y - 20), y + 1) };
  });
}

// Steers the ship under the lowest enemy, which ends the game: each one
// that falls wholly inside the ship takes a life.
export async function playToGameOver(g) {
  const start = Date.now();
  let held = null;
  for (;;) {
    check(Date.now() - start < 150000, 'no game over within 150 s');
    const { playing: on, ship, enemy } = await sighting(g);
    if (!on) break;
    const key =
      ship === null || enemy === null || Math.abs(enemy - ship) <= 6 ? null : enemy < ship ? 'ArrowLeft' : 'ArrowRight';
    if (key === held) continue;
    if (held) await g.up(held);
    if (key) await g.down(key);
    held = key;
  }
  if (held) await g.up(held);
  await menuShown(g);
  log(`game over after ${((Date.now() - start) / 1000).toFixed(1)} s of play`);
}

// How wide the score on the menu is drawn, in pixels: its digits, 7 apart.
export function menuScoreWidth(g) {
  return g.peek(() => {
    const d = document.getElementById('screen').getContext('2d').getImageData(280, 210, 110, 20).data;
    let x0 = 110,
      x1 = -1;
    for (let i = 0; i < d.length; i += 4) {
      if (d[i + 2] > 120 && d[i + 2] > d[i] + 40) [x0, x1] = [Math.min(x0, (i / 4) % 110), Math.max(x1, (i / 4) % 110)];
    }
    return x1 - x0 + 1;
  });
}

export async function openTable(g) {
  await select(g, 1);
  await g.press('Space');
  await waitUntil('the high-score screen', async () => !(await buttonShown(g)), 5000);
}

// The Name box: what it holds, where, and whether it has the keys.
const nameBox = (g) =>
  g.peek(() => {
    const e = document.getElementById('name'),
      r = e.getBoundingClientRect();
    return { value: e.value, x: r.x + r.width / 2, y: r.y + r.height / 2, focused: document.activeElement === e };
  });

// On the menu of a first visit: a name typed into the box reaches the
// table, its keys never the game; a game played to its end leaves its score
// on the menu, and its entry is in storage by the time the menu is back.
// Gives the score. The box is pictured, as the name is typed, in `shot`.
export async function nameAndGameOver(g, shot) {
  await menuShown(g);
  let box = await nameBox(g);
  check(box.value === 'player', 'the name box does not start as "player"');
  const zeroWidth = await menuScoreWidth(g);
  await g.click(box.x, box.y);
  await g.peek(() => document.getElementById('name').select());
  await g.type("  Zoë O'Hara");
  for (const key of ['ArrowDown', 'ArrowDown', 'Space', 'ArrowUp']) await g.press(key);
  await g.type(' ');
  await framesPass(g);
  check((await litItem(g)) === 0 && !(await playing(g)), 'keys typed into the name box reached the game');
  await g.shot(shot);
  await g.press('Escape');
  await framesPass(g);
  check(await g.peek(() => document.getElementById('message').hidden), 'Escape in the name box ended the game');
  box = await nameBox(g);
  check(
    box.value === "Zoë O'Hara" && !box.focused,
    `the name box shows "${box.value}", not the name as kept, or keeps the keys`,
  );
  await g.press('ArrowDown');
  await waitUntil('keys to reach the game once the name box is left', async () => (await litItem(g)) > 0, 5000);
  await startGame(g);
  await playToGameOver(g);
  const stored = entries((await storedFiles(g)).scores);
  check(
    stored.length === 1 && stored[0].name === "Zoë O'Hara" && stored[0].score > 0,
    `stored by the time the menu is back: ${JSON.stringify(stored)}`,
  );
  const { score } = stored[0],
    width = await menuScoreWidth(g);
  log(`menu score ${width} px wide after ${score}, ${zeroWidth} px for 0`);
  check(
    Math.abs(width - zeroWidth - 7 * (String(score).length - 1)) <= 2,
    `the menu's score is ${width} px wide after a game of ${score}`,
  );
  return score;
}

// On a later visit: the name in the box, the game's entry in storage, and
// on the high-score screen (pictured in `shot`).
export async function scoreKept(g, score, shot) {
  await menuShown(g);
  check((await nameBox(g)).value === "Zoë O'Hara", 'the browser did not remember the name');
  const stored = entries((await storedFiles(g)).scores);
  check(
    stored.length === 1 && stored[0].score === score,
    `on the later visit the table holds ${JSON.stringify(stored)}`,
  );
  await openTable(g);
  const [rows] = await pixels(g, 'r > 150 && b > 150', [84, 138, 508, 22]);
  await g.shot(shot);
  check(rows > 100, 'the high-score screen shows no first row on the later visit');
}

// The boxes of the controls, the picture and its play area (the middle 480
// of its 640 columns), and what the bar says.
export function controls(g) {
  return g.peek(() => {
    const box = (e, r = e.getBoundingClientRect()) => ({
      x: r.x,
      y: r.y,
      w: r.width,
      h: r.height,
      cx: r.x + r.width / 2,
      cy: r.y + r.height / 2,
    });
    const c = box(document.getElementById('screen')),
      root = document.documentElement;
    const [steer, fire, quit] = ['Steer', 'Fire', 'Quit'].map((l) => document.querySelector(`[aria-label=${l}]`));
    return {
      shown: steer.checkVisibility(),
      steer: box(steer),
      fire: box(fire),
      drawn: box(fire.firstChild),
      quit: box(quit),
      picture: c,
      play: { ...c, x: c.x + c.w / 8, w: (c.w * 3) / 4 },
      // biome-ignore lint/performance/useDomNodeTextContent: the hint as shown, its hidden parts left out
      hint: document.getElementById('bar').innerText,
      scrolls: root.scrollWidth > innerWidth || root.scrollHeight > innerHeight,
      view: { w: innerWidth, h: innerHeight },
    };
  });
}

// Runs the cases named on the command line (all, when none is), against the
// site served as a web server would: --site DIR --frames EXE --build DIR
// --source DIR --out DIR, and the options named in `more`. Exits with 1 if
// any failed.
export async function run(cases, more = []) {
  const needed = ['site', 'frames', 'build', 'out', 'source'];
  const { values: o, positionals } = parseArgs({
    options: Object.fromEntries(needed.concat(more).map((k) => [k, { type: 'string' }])),
    allowPositionals: true,
  });
  for (const k of needed) {
    check(o[k], `--${k} is needed`);
    o[k] = path.resolve(o[k]);
  }
  fs.mkdirSync(o.out, { recursive: true });
  const server = await serve(o.site);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const chosen = positionals.length ? positionals : Object.keys(cases);
  let failed = 0;
  for (const name of chosen) {
    if (!cases[name]) throw new Error(`no case ${name}; cases: ${Object.keys(cases).join(' ')}`);
    log(`case ${name}`);
    try {
      await cases[name](o, url, server);
      log(`case ${name}: passed`);
    } catch (e) {
      failed++;
      log(`case ${name}: FAILED: ${e instanceof Failure ? e.message : e.stack}`);
    }
  }
  server.close();
  log(failed ? `${failed} of ${chosen.length} cases failed` : `all ${chosen.length} cases passed`);
  process.exit(failed ? 1 : 0);
}

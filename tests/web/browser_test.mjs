// The browser build of the game in Debian's Chromium, headless, each case in
// a fresh profile: its frames against the desktop game's own, its text, keys
// and music, and the page around it. Screenshots go to --out.
//   node browser_test.mjs --site DIR --frames EXE --build DIR --source DIR --out DIR [CASE...]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';
import { check, desktop, Failure, log, openBrowser, serve, sleep, waitUntil } from './browser.mjs';

const W = 640,
  H = 480;

// ---- Pictures -------------------------------------------------------------

function rgb565(r, g, b) {
  return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}
const starColours = new Set([0, rgb565(55, 55, 55), rgb565(150, 150, 150), rgb565(255, 255, 255)]);

// The canvas as RGB565, the way the desktop's 16-bit screen holds it.
async function frame(g) {
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

function readRgb565(file) {
  const b = fs.readFileSync(file);
  return new Uint16Array(b.buffer, b.byteOffset, b.length / 2);
}

// Pixels that differ, leaving out those where both frames show only black or
// a star: the stars fall at random in each.
function differences(a, b) {
  const at = [];
  for (let i = 0; i < a.length; i++) {
    if (a[i] !== b[i] && !(starColours.has(a[i]) && starColours.has(b[i]))) at.push(i);
  }
  return at;
}

const expand = (p) => [((p >> 11) & 31) << 3, ((p >> 5) & 63) << 2, (p & 31) << 3];

// The two frames side by side with the differences in red between them.
function savePair(file, desktop, browser, diff) {
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
function pixels(g, expression, ...boxes) {
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
async function buttonShown(g) {
  return (await pixels(g, 'r + g + b > 0', [285, 266, 130, 22]))[0] > (130 * 22) / 2;
}
async function menuShown(g) {
  await waitUntil('the menu', () => buttonShown(g), 15000);
}

// The text of the empty high-score screen, line by line (rows of the screen
// where only it is drawn): as wide as the desktop's within 5%, in the same
// place within 2 pixels, and in the desktop's one solid colour.
const textLines = { title: [30, 90], 'no scores yet': [130, 170], hint: [436, 475] };
function textBox(frame, [top, bottom]) {
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
function checkText(desktop, browser) {
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

// ---- Cases ------------------------------------------------------------------

const cases = {};

// The menu and the empty high-score screen, pixel for pixel against the
// desktop game's after both are reduced to RGB565, the stars left out.
cases.frames = async (o, url) => {
  const ref = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-frames-'));
  execFileSync(o.frames, [ref], { cwd: o.build, env: { ...process.env, XDG_DATA_HOME: path.join(ref, 'data') } });
  const g = await openBrowser();
  try {
    await g.page.goto(url);
    await menuShown(g);
    const menu = await frame(g);
    await openTable(g);
    const table = await frame(g);
    const results = [];
    for (const [name, browser, need] of [
      ['menu', menu, 0.999],
      ['high_scores', table, 0.99],
    ]) {
      const desktop = readRgb565(path.join(ref, name + '.rgb565'));
      const diff = differences(desktop, browser);
      const same = 1 - diff.length / (W * H);
      savePair(path.join(o.out, `frames-${name}.png`), desktop, browser, diff);
      log(`${name}: ${diff.length} of ${W * H} pixels differ, ${(same * 100).toFixed(3)}% equal (need ${need * 100}%)`);
      results.push([name, same, need]);
    }
    for (const [name, same, need] of results) check(same >= need, `${name}: only ${(same * 100).toFixed(3)}% equal`);
    checkText(readRgb565(path.join(ref, 'high_scores.rgb565')), table);
  } finally {
    await g.close();
    fs.rmSync(ref, { recursive: true, force: true });
  }
};

// Waits until the game has drawn n more frames: a key it was given has been
// taken by then, whatever the machine's pace.
async function framesPass(g, n = 10) {
  const from = await g.peek(() => Module.frameCount());
  await waitUntil(`${n} more frames`, async () => (await g.peek(() => Module.frameCount())) >= from + n);
}

// Which menu item is lit: the brightest of the three.
async function litItem(g) {
  const sums = await pixels(g, 'r + g + b', ...[266, 306, 346].map((y) => [285, y, 130, 22]));
  return sums.indexOf(Math.max(...sums));
}

// Lights a menu item by pressing Up or Down: a press held past the game's
// short key repeat delay may take two steps.
async function select(g, item) {
  for (let tries = 0; tries < 10; tries++) {
    const lit = await litItem(g);
    if (lit === item) return;
    await g.page.keyboard.press(lit < item ? 'ArrowDown' : 'ArrowUp');
    await waitUntil('the menu to move', async () => (await litItem(g)) !== lit, 5000);
  }
  throw new Failure(`menu item ${item} could not be lit`);
}

// A key held as a browser holds it: one press, then, after the system's
// delay, its own repeats (about 500 ms, then 30 a second) until released.
async function hold(page, key, ms) {
  const end = Date.now() + ms;
  await page.keyboard.down(key);
  await sleep(Math.min(500, ms));
  while (Date.now() < end) {
    await page.keyboard.down(key); // pressed again while down: a repeat
    await sleep(33);
  }
  await page.keyboard.up(key);
}

// Records, in the page, whether each key press reached the page's default
// handling (a scroll, for arrows and Space).
async function watchDefaults(g) {
  await g.peek(() => {
    window.defaultsLeft = [];
    window.addEventListener('keydown', (e) => {
      if (!e.defaultPrevented) window.defaultsLeft.push(e.key);
    });
  });
}

// A held Down walks the menu to EXIT, keys working with no click first; a
// quick press is one step however many repeats the browser fires in it; a
// held Space fires a shot every 300 ms and no more; no arrow or Space reaches
// the page. Told by counts and order, not by pace: a busy machine may show a
// step or a shot late, never an extra one.
cases.keys = async (o, url) => {
  const g = await openBrowser();
  try {
    const page = g.page;
    await page.goto(url);
    await menuShown(g);
    await watchDefaults(g);
    check((await litItem(g)) === 0, 'the menu does not start on NEW GAME');
    // Held as headless Chromium holds it, with no repeats of its own: only
    // the game's repeat takes the second step.
    await page.keyboard.down('ArrowDown');
    await waitUntil('a held Down to walk the menu to EXIT', async () => (await litItem(g)) === 2);
    await page.keyboard.up('ArrowDown');

    // A press with two of the browser's repeats and its release, in one task
    // of the page, so that the game takes them all in one frame: one step.
    await g.peek(() => {
      for (const [type, repeat] of [
        ['keydown', false],
        ['keydown', true],
        ['keydown', true],
        ['keyup', false],
      ]) {
        const e = new KeyboardEvent(type, { key: 'ArrowUp', code: 'ArrowUp', repeat, bubbles: true, cancelable: true });
        Object.defineProperty(e, 'keyCode', { value: 38 });
        Object.defineProperty(e, 'which', { value: 38 });
        document.body.dispatchEvent(e);
      }
    });
    await waitUntil('the press of Up taken', async () => (await litItem(g)) !== 2, 5000);
    await framesPass(g);
    const after = await litItem(g);
    check(after === 1, `a quick press of Up with browser repeats went from EXIT to item ${after}`);
    await select(g, 0);

    // Space held from the menu, with the browser's own repeats: the game
    // starts, and each new shot shows at the ship's nose, over the black
    // above it. Shots are at least 300 ms apart on the game's clock, so the
    // time Space was down in the page bounds their number.
    await g.peek(() => {
      window.launches = [];
      window.space = [];
      for (const type of ['keydown', 'keyup']) {
        document.addEventListener(type, (e) => e.key === ' ' && !e.repeat && window.space.push(performance.now()));
      }
      let was = false;
      const ctx = document.getElementById('screen').getContext('2d');
      window.launchWatch = setInterval(() => {
        const d = ctx.getImageData(313, 336, 10, 14).data;
        let lit = 0;
        for (let k = 0; k < d.length; k += 4)
          if (d[k] + d[k + 1] + d[k + 2] > 200 && !(d[k] === d[k + 1] && d[k] === d[k + 2])) lit++;
        const now = lit > 20;
        if (now && !was) window.launches.push(performance.now());
        was = now;
      }, 3);
    });
    await hold(page, 'Space', 1350);
    await framesPass(g);
    const { launches, space } = await g.peek(() => {
      clearInterval(window.launchWatch);
      return { launches: window.launches, space: window.space };
    });
    const down = space[1] - space[0],
      most = Math.floor(down / 300) + 1;
    log(
      `held Space ${Math.round(down)} ms: ${launches.length} shots, ${launches
        .slice(1)
        .map((t, i) => Math.round(t - launches[i]))
        .join(', ')} ms apart`,
    );
    check(
      launches.length >= 4 && launches.length <= most,
      `a held Space fired ${launches.length} shots in ${Math.round(down)} ms, not one every 300 ms`,
    );
    const left = await g.peek(() => window.defaultsLeft);
    check(left.length === 0, `keys left to the page's default handling: ${left.join(' ')}`);
  } finally {
    await g.close();
  }
};

// Where the browser blocks sound until the player acts, the track starts at
// the first key press and loops from then on; where it does not, at once. A
// new game starts it again from its beginning.
cases.music = async (o, url) => {
  const state = (g) => g.peek(() => Module.musicState());
  for (const blocked of [true, false]) {
    const policy = blocked ? 'user-gesture-required' : 'no-user-gesture-required';
    // Playwright mutes the headless browser, and muted sound may always play.
    const g = await openBrowser({ args: [`--autoplay-policy=${policy}`], ignoreDefaultArgs: ['--mute-audio'] });
    try {
      const page = g.page;
      await page.goto(url);
      await menuShown(g);
      if (blocked) {
        const first = await waitUntil('the track refused', async () => {
          const s = await state(g);
          return (s.waiting || s.playing) && s;
        });
        check(
          first.waiting && !first.playing,
          `sound blocked: the track should wait for a press (${JSON.stringify(first)})`,
        );
        check(
          await g.peek(() => !document.getElementById('sound-note').hidden),
          'the page does not say that sound starts at a press',
        );
        await page.keyboard.press('ArrowDown');
      }
      const playing = await waitUntil('the music', async () => {
        const s = await state(g);
        return s.playing && s.time > 0.2 && s;
      });
      check(playing.loop, 'the track does not loop');
      check(
        await g.peek(() => document.getElementById('sound-note').hidden),
        'the note about sound stays after the music started',
      );
      await waitUntil('the music to play on', async () => {
        const s = await state(g);
        return s.playing && s.time > playing.time + 0.4;
      });
      await select(g, 0);
      // Started again, the track has played no longer than the time since the press.
      const pressed = Date.now();
      await page.keyboard.press('Space');
      const restarted = await waitUntil(
        'the track from its start',
        async () => {
          const s = await state(g);
          return s.playing && s.time < (Date.now() - pressed) / 1000 + 0.1 && s;
        },
        3000,
      );
      check(restarted.loop, 'the track restarted does not loop');
      const errors = g.console.filter((l) => /^(error|pageerror)/.test(l));
      check(errors.length === 0, `the page reported: ${errors.join(' | ')}`);
      log(`${blocked ? 'sound blocked until a press' : 'sound allowed'}: plays, loops, restarts with a new game`);
    } finally {
      await g.close();
    }
  }
  // A track that cannot be had leaves the game playing in silence: one line
  // in the console names its address and the reason, the page promises no
  // sound, and nothing is thrown to the page.
  const junk = Buffer.alloc(60000, 'not a track ');
  for (const [what, fulfil, reason] of [
    ['a server error', { status: 500, body: 'broken' }, /tavik-shootemup\.mp3: 500 Internal Server Error$/],
    ['damaged', { status: 200, contentType: 'audio/mpeg', body: junk }, /tavik-shootemup\.mp3: the file is damaged/],
  ]) {
    const g = await openBrowser({
      args: ['--autoplay-policy=user-gesture-required'],
      ignoreDefaultArgs: ['--mute-audio'],
      route: (page) => page.route('**/*.mp3', (route) => route.fulfill(fulfil)),
    });
    try {
      await g.page.goto(url);
      await menuShown(g);
      await waitUntil('the line about the music', () => g.console.some((l) => /music/.test(l)));
      await startGame(g);
      const said = g.console.filter((l) => /music/.test(l));
      check(said.length === 1 && reason.test(said[0]), `track ${what}: the console says ${JSON.stringify(said)}`);
      const s = await state(g);
      check(!s.playing && !s.waiting, `track ${what}: ${JSON.stringify(s)}`);
      check(
        await g.peek(() => document.getElementById('sound-note').hidden),
        `track ${what}: the page still promises sound`,
      );
      const thrown = g.console.filter((l) => /^pageerror/.test(l));
      check(
        thrown.length === 0 && (await g.peek(() => document.getElementById('message').hidden)),
        `track ${what}: ${thrown.join(' | ')}`,
      );
      await g.page.screenshot({ path: path.join(o.out, `music-${what.replace(/ /g, '-')}.png`) });
      log(`track ${what}: plays in silence; "${said[0]}"`);
    } finally {
      await g.close();
    }
  }
};

// The picture's box on the page, the stage it sits in, and how it is scaled.
function layout(g) {
  return g.peek(() => {
    const c = document.getElementById('screen').getBoundingClientRect();
    const s = (document.fullscreenElement || document.getElementById('stage')).getBoundingClientRect();
    return {
      c: { x: c.x, y: c.y, w: c.width, h: c.height },
      s: { x: s.x, y: s.y, w: s.width, h: s.height },
      rendering: getComputedStyle(document.getElementById('screen')).imageRendering,
    };
  });
}

function checkFits(where, l) {
  const { c, s } = l;
  check(Math.abs(c.w * 3 - c.h * 4) <= 4, `${where}: the picture is ${c.w}x${c.h}, not 4:3`);
  check(
    Math.abs(c.w - s.w) <= 1 || Math.abs(c.h - s.h) <= 1,
    `${where}: ${c.w}x${c.h} is not the largest 4:3 in ${s.w}x${s.h}`,
  );
  check(c.w <= s.w + 1 && c.h <= s.h + 1, `${where}: ${c.w}x${c.h} does not fit in ${s.w}x${s.h}`);
  const left = c.x - s.x,
    right = s.x + s.w - c.x - c.w,
    top = c.y - s.y,
    bottom = s.y + s.h - c.y - c.h;
  check(Math.abs(left - right) <= 1 && Math.abs(top - bottom) <= 1, `${where}: the picture is not centred`);
  check(l.rendering === 'pixelated', `${where}: the picture is scaled smooth (${l.rendering})`);
}

async function messageShown(g, timeout = 10000) {
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

// The title, the game's own icon, the picture centred and sharp at the
// largest 4:3 that fits, following the window; full screen; the end of a game
// (Escape, the EXIT item) said on the page, with a new game offered.
cases.page = async (o, url) => {
  const g = await openBrowser({ viewport: { width: 1000, height: 700 } });
  try {
    const page = g.page;
    await page.goto(url);
    await menuShown(g);
    check((await page.title()) === 'Quorvane', `the title is "${await page.title()}"`);
    const icon = await g.peek(async () => {
      const link = document.querySelector('link[rel=icon]');
      const r = await fetch(link.href);
      return {
        type: r.headers.get('Content-Type'),
        bytes: btoa(String.fromCharCode(...new Uint8Array(await r.arrayBuffer()))),
      };
    });
    const own = fs.readFileSync(path.join(o.build, 'icons', 'quorvane-64.png'));
    check(Buffer.from(icon.bytes, 'base64').equals(own), "the favicon is not the game's own icon");
    for (const [w, h, shot] of [
      [1000, 700, 'page-wide'],
      [480, 800, 'page-narrow'],
      [1600, 560],
    ]) {
      await page.setViewportSize({ width: w, height: h });
      await waitUntil('the window resized', () => g.peek((w, h) => innerWidth === w && innerHeight === h, w, h));
      checkFits(`a ${w}x${h} window`, await layout(g));
      if (shot) await page.screenshot({ path: path.join(o.out, `${shot}.png`) });
    }
    const touchless = await controls(g);
    check(
      !touchless.shown && /Arrows fly/.test(touchless.hint) && !/FIRE/.test(touchless.hint),
      `desktop: touch controls shown, or the bar says "${touchless.hint}"`,
    );
    const note = await g.peek(() => document.getElementById('escape-note').textContent);
    check(
      /full screen/.test(note) && /Escape/.test(note),
      `the page does not say what Escape does in full screen: "${note}"`,
    );

    await page.click('#fullscreen');
    await waitUntil('full screen', () => g.peek(() => document.fullscreenElement?.id));
    checkFits('full screen', await layout(g));
    await g.peek(() => document.exitFullscreen());
    await waitUntil('full screen left', () => g.peek(() => !document.fullscreenElement));
    // After the click the game's keys still work: the button keeps no focus.
    await page.keyboard.press('ArrowDown');
    await waitUntil('keys to reach the game after the full-screen button', async () => (await litItem(g)) > 0, 5000);

    // The game ended by Escape: said so, and a new one offered.
    await page.keyboard.press('Escape');
    const said = await messageShown(g);
    check(/ended/.test(said), `after Escape the page says "${said}"`);
    await page.screenshot({ path: path.join(o.out, 'page-ended.png') });
    await page.click('#again');
    // Asked while the new page is still being read, the element may not be there yet.
    await waitUntil('the page again', () => g.peek(() => document.getElementById('message')?.hidden));
    await menuShown(g);
    // And by the EXIT item.
    await select(g, 2);
    await page.keyboard.press('Space');
    check(/ended/.test(await messageShown(g)), 'the EXIT item does not end the game on the page');
  } finally {
    await g.close();
  }
};

// A start that fails shows the reason on the page, never a black picture: a
// data file missing (the game's own message), the data not served, damaged
// or cut short on the way, no WebAssembly, the game's code broken.
cases.failures = async (o, url) => {
  // The data package as the site has it, changed: unpacked as the page
  // unpacks it (its directory's length, the directory, the files' bytes).
  const data = (change) => (page) =>
    page.route('**/quorvane-data.bin', async (route) => {
      const r = await route.fetch();
      route.fulfill({ response: r, body: change(await r.body()) });
    });
  const renamed = (packed) => {
    const raw = zlib.gunzipSync(packed),
      length = raw.readUInt32LE(0);
    const directory = raw
      .subarray(4, 4 + length)
      .toString()
      .replace('"data/left.bmp"', '"data/gone.bmp"');
    const head = Buffer.alloc(4);
    head.writeUInt32LE(Buffer.byteLength(directory));
    return zlib.gzipSync(Buffer.concat([head, Buffer.from(directory), raw.subarray(4 + length)]));
  };
  const spoiled = (packed) => {
    const b = Buffer.from(packed);
    for (let i = b.length >> 1; i < (b.length >> 1) + 16; i++) b[i] ^= 0x5a;
    return b;
  };
  const unread = /its data could not be loaded\. http:\/\/\S+\/quorvane-data\.bin: /;
  const tries = [
    [
      'a missing data file',
      /Couldn't load image data\/left\.bmp: Couldn't open data\/left\.bmp[\s\S]*status 3/,
      data(renamed),
    ],
    [
      'the data not served',
      new RegExp(unread.source + '404 Not Found$'),
      (page) => page.route('**/quorvane-data.bin', (route) => route.fulfill({ status: 404, body: 'gone' })),
    ],
    ['the data damaged', new RegExp(unread.source + 'it arrived damaged'), data(spoiled)],
    [
      'the data cut short',
      new RegExp(unread.source + 'it arrived damaged or cut short'),
      data((b) => b.subarray(0, b.length >> 1)),
    ],
    ['no WebAssembly', /WebAssembly/, (page) => page.addInitScript(() => delete window.WebAssembly)],
    [
      'the code broken',
      /stopped/,
      (page) =>
        page.route('**/quorvane-wasm.bin', (route) =>
          route.fulfill({ status: 200, body: zlib.gzipSync('not a module') }),
        ),
    ],
  ];
  for (const [what, expected, route] of tries) {
    const g = await openBrowser({ route });
    try {
      await g.page.goto(url);
      const said = await messageShown(g);
      log(`${what}: "${said.replace(/\n/g, ' / ')}"`);
      check(expected.test(said), `${what}: the page says "${said}"`);
      await g.page.screenshot({ path: path.join(o.out, `failed-${what.replace(/ /g, '-')}.png`) });
    } finally {
      await g.close();
    }
  }
};

// What the page says of Escape in full screen, found with real key presses
// through an X server (synthetic ones skip the browser's own handling): the
// first leaves full screen and never reaches the game; the next ends it.
cases.escape_full_screen = async (o, url) => {
  const x = await desktop();
  let g = null;
  try {
    g = await openBrowser({ headed: true, env: x.env, viewport: null });
    await g.page.goto(url);
    await menuShown(g);
    await g.page.click('#fullscreen');
    await waitUntil('full screen', () => g.peek(() => !!document.fullscreenElement));
    x.key('Escape');
    await waitUntil('full screen left', () => g.peek(() => !document.fullscreenElement));
    await framesPass(g, 30);
    check(
      await g.peek(() => document.getElementById('message').hidden),
      'the Escape that left full screen ended the game',
    );
    x.key('Escape');
    check(/ended/.test(await messageShown(g)), 'the second Escape did not end the game');
    log('in full screen, Escape leaves full screen only; the next Escape ends the game');
  } finally {
    if (g) await g.close();
    x.close();
  }
};

// ---- The high-score table in the browser's storage --------------------------

const scoresPath = '/home/web_user/.local/share/quorvane/scores';

// The files the game keeps in the site's IndexedDB, by name, as text, once
// those given are put there as the game would have stored them.
function storedFiles(g, put = {}) {
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

// Files put in the site's storage before the game starts, from another page
// of the site (the icon).
async function storeFiles(g, url, files) {
  await g.page.goto(url + 'icon-64.png');
  await storedFiles(g, files);
}

function entries(text) {
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
async function playing(g) {
  return (await pixels(g, 'r + g + b > 30', [40, 0, 1, 400]))[0] > 240;
}

async function startGame(g) {
  await select(g, 0);
  await g.page.keyboard.press('Space');
  await waitUntil('play', () => playing(g), 5000);
}

// Where the ship is and where the lowest enemy above it is, by the centres
// of what is colourful (not black, grey or a side panel) in their rows.
function sighting(g) {
  return g.peek(() => {
    const d = document.getElementById('screen').getContext('2d').getImageData(82, 0, 476, 382).data;
    const colourful = (i) => d[i] + d[i + 1] + d[i + 2] > 90 && !(d[i] === d[i + 1] && d[i] === d[i + 2]);
    const centre = (y0, y1) => {
      let x0 = 476,
        x1 = -1;
      for (let y = y0; y < y1; y += 2) {
        for (let x = 0; x < 476; x++) if (colourful(4 * (y * 476 + x))) [x0, x1] = [Math.min(x0, x), Math.max(x1, x)];
      }
      return x1 < 0 ? null : 82 + (x0 + x1) / 2;
    };
    let y = 348;
    while (y >= 0 && centre(y, y + 1) === null) y -= 2;
    return { ship: centre(352, 382), enemy: y < 0 ? null : centre(Math.max(0, y - 20), y + 1) };
  });
}

// Steers the ship under the lowest enemy, which ends the game: each one
// that falls wholly inside the ship takes a life.
async function playToGameOver(g) {
  const start = Date.now();
  let held = null;
  for (;;) {
    check(Date.now() - start < 150000, 'no game over within 150 s');
    if (!(await playing(g))) break;
    const { ship, enemy } = await sighting(g);
    const key =
      ship === null || enemy === null || Math.abs(enemy - ship) <= 6 ? null : enemy < ship ? 'ArrowLeft' : 'ArrowRight';
    if (key === held) continue;
    if (held) await g.page.keyboard.up(held);
    if (key) await g.page.keyboard.down(key);
    held = key;
  }
  if (held) await g.page.keyboard.up(held);
  await menuShown(g);
  log(`game over after ${((Date.now() - start) / 1000).toFixed(1)} s of play`);
}

// Whether the high-score screen shows its notice that nothing is saved.
async function showsNotice(g) {
  return (await pixels(g, 'r > 200 && g > 90 && g < 160 && b < 120', [150, 404, 340, 28]))[0] > 40;
}

// How wide the score on the menu is drawn, in pixels: its digits, 7 apart.
function menuScoreWidth(g) {
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

async function openTable(g) {
  await select(g, 1);
  await g.page.keyboard.press('Space');
  await waitUntil('the high-score screen', async () => !(await buttonShown(g)), 5000);
}

// A name typed into the box reaches the table, its keys never the game; a game
// played to its end leaves its score on the menu, and its entry is in storage
// by the time the menu is back; the table shows it after the browser starts
// again.
cases.scores_last = async (o, url) => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-chromium-'));
  try {
    let g = await openBrowser({ profile });
    let score = 0;
    try {
      await g.page.goto(url);
      await menuShown(g);
      check((await g.page.inputValue('#name')) === 'player', 'the name box does not start as "player"');
      const zeroWidth = await menuScoreWidth(g);
      await g.page.click('#name');
      await g.page.keyboard.press('Control+A');
      await g.page.keyboard.type("  Zoë O'Hara");
      for (const key of ['ArrowDown', 'ArrowDown', 'Space', 'ArrowUp']) await g.page.keyboard.press(key);
      await g.page.keyboard.type(' ');
      await framesPass(g);
      check((await litItem(g)) === 0 && !(await playing(g)), 'keys typed into the name box reached the game');
      await g.page.screenshot({ path: path.join(o.out, 'scores-name-box.png') });
      await g.page.keyboard.press('Escape');
      await framesPass(g);
      check(await g.peek(() => document.getElementById('message').hidden), 'Escape in the name box ended the game');
      const shown = await g.page.inputValue('#name');
      check(shown === "Zoë O'Hara", `the name box shows "${shown}", not the name as kept`);
      await g.page.keyboard.press('ArrowDown');
      await waitUntil('keys to reach the game once the name box is left', async () => (await litItem(g)) > 0, 5000);
      await startGame(g);
      await playToGameOver(g);
      const stored = entries((await storedFiles(g)).scores);
      check(
        stored.length === 1 && stored[0].name === "Zoë O'Hara" && stored[0].score > 0,
        `stored by the time the menu is back: ${JSON.stringify(stored)}`,
      );
      score = stored[0].score;
      const width = await menuScoreWidth(g);
      log(`menu score ${width} px wide after ${score}, ${zeroWidth} px for 0`);
      check(
        Math.abs(width - zeroWidth - 7 * (String(score).length - 1)) <= 2,
        `the menu's score is ${width} px wide after a game of ${score}`,
      );
    } finally {
      await g.close();
    }
    g = await openBrowser({ profile });
    try {
      await g.page.goto(url);
      await menuShown(g);
      check((await g.page.inputValue('#name')) === "Zoë O'Hara", 'the browser did not remember the name');
      const stored = entries((await storedFiles(g)).scores);
      check(
        stored.length === 1 && stored[0].score === score,
        `after the restart the table holds ${JSON.stringify(stored)}`,
      );
      await openTable(g);
      const [rows] = await pixels(g, 'r > 150 && b > 150', [84, 138, 508, 22]);
      await g.page.screenshot({ path: path.join(o.out, 'scores-after-restart.png') });
      check(rows > 100, 'the high-score screen shows no first row after the restart');
      log(`"Zoë O'Hara" ${score}: stored at the game over, there after the browser started again`);
    } finally {
      await g.close();
    }
  } finally {
    fs.rmSync(profile, { recursive: true, force: true });
  }
};

// Two tabs of one browser play and finish games side by side: both entries
// are kept, and a tab's table shows the other's when it opens.
cases.two_tabs = async (o, url) => {
  const g = await openBrowser();
  try {
    const second = await g.context.newPage();
    const tabs = [g, { page: second, peek: await g.peekOn(second), console: [] }];
    second.on('console', (m) => tabs[1].console.push(`${m.type()}: ${m.text()}`));
    for (const [i, t] of tabs.entries()) {
      await t.page.goto(url);
      await menuShown(t);
      await t.page.fill('#name', ['left', 'right'][i]);
      await t.page.press('#name', 'Enter');
    }
    await Promise.all(
      tabs.map(async (t) => {
        await startGame(t);
        await playToGameOver(t);
      }),
    );
    const stored = entries((await storedFiles(g)).scores);
    log(`stored: ${stored.map((e) => `${e.name} ${e.score}`).join(', ')}`);
    check(
      stored.some((e) => e.name === 'left') && stored.some((e) => e.name === 'right'),
      `one tab's entry was lost: ${JSON.stringify(stored)}`,
    );
    await openTable(tabs[0]);
    await tabs[0].page.screenshot({ path: path.join(o.out, 'scores-two-tabs.png') });
    const lines = await pixels(
      tabs[0],
      'r + g + b > 400 && !(r == g && g == b)',
      [300, 140, 150, 18],
      [300, 166, 150, 18],
    );
    check(
      lines.every((n) => n > 20),
      `the first tab's table does not show both entries (${lines})`,
    );
  } finally {
    await g.close();
  }
};

// Storage the browser blocks (the database cannot even be opened) or that is
// full (every write refused): the game starts and plays, its table says that
// scores are not being saved, the console has one line with the reason, and
// nothing is thrown to the page.
cases.storage_fails = async (o, url) => {
  const blocked = () => {
    IDBFactory.prototype.open = () => {
      throw new DOMException('The user denied permission to access the database.', 'SecurityError');
    };
  };
  const full = () => {
    IDBObjectStore.prototype.put = () => {
      throw new DOMException('The quota has been exceeded.', 'QuotaExceededError');
    };
  };
  // A damaged table makes the game repair it, and so write, as it starts.
  for (const [what, patch, reason] of [
    ['blocked', blocked, /SecurityError/],
    ['full', full, /QuotaExceededError/],
  ]) {
    const g = await openBrowser();
    try {
      if (what === 'full') await storeFiles(g, url, { scores: 'quorvane-scores 1\n100\t1765000000\tann\nbroken\n' });
      await g.page.addInitScript(patch);
      await g.page.goto(url);
      await menuShown(g);
      await openTable(g);
      check(await showsNotice(g), `${what}: the table does not say that scores are not being saved`);
      await g.page.screenshot({ path: path.join(o.out, `scores-not-saved-${what}.png`) });
      await g.page.keyboard.press('Space');
      await menuShown(g);
      await startGame(g);
      const said = g.console.filter((l) => /high scores/.test(l));
      check(
        said.length === 1 && /not being saved/.test(said[0]) && reason.test(said[0]),
        `${what}: the console says ${JSON.stringify(said)}`,
      );
      const thrown = g.console.filter((l) => /^pageerror/.test(l));
      check(
        thrown.length === 0 && (await g.peek(() => document.getElementById('message').hidden)),
        `${what}: ${thrown.join(' | ')}`,
      );
      log(`${what}: plays; "${said[0].replace(/^error: /, '')}"`);
    } finally {
      await g.close();
    }
  }
};

// A damaged stored table is kept aside under its own name, in the same
// storage, and the entries it held are written in its place; the console has
// the desktop's one line about it.
cases.damaged = async (o, url) => {
  const g = await openBrowser();
  try {
    const damaged = 'quorvane-scores 1\n300\t1765000000\tann\n200\t1765000100\tbo\nthis line is damaged\n';
    await storeFiles(g, url, { scores: damaged });
    await g.page.goto(url);
    await menuShown(g);
    const files = await storedFiles(g);
    const aside = Object.keys(files).filter((n) => /^scores\.damaged-\d{8}-\d{6}$/.test(n));
    check(aside.length === 1 && files[aside[0]] === damaged, `kept aside: ${JSON.stringify(Object.keys(files))}`);
    const kept = entries(files.scores);
    check(
      kept.length === 2 && kept[0].name === 'ann' && kept[1].name === 'bo',
      `written in its place: ${JSON.stringify(kept)}`,
    );
    const said = g.console.filter((l) => /high scores/.test(l));
    check(
      said.length === 1 && /kept it aside as scores\.damaged-/.test(said[0]),
      `the console says ${JSON.stringify(said)}`,
    );
    log(`"${said[0].replace(/^error: /, '')}"`);
  } finally {
    await g.close();
  }
};

// The site installable, offline after one visit (its music too), and a new
// build installed at the next visit with the network back.
cases.offline = async (o, url, server) => {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-site-'));
  const g = await openBrowser();
  try {
    await g.page.goto(url);
    await menuShown(g);
    const first = await waitUntil(
      'the service worker',
      () =>
        g
          .peek(async () => {
            const r = await navigator.serviceWorker.getRegistration();
            return r?.active && navigator.serviceWorker.controller ? (await caches.keys()).join(' ') : null;
          })
          .catch(() => null),
      20000,
    ).catch(async () => {
      // A first visit's page is taken over by the worker once it is active.
      await g.page.reload();
      return g.peek(async () => (await caches.keys()).join(' '));
    });
    const cdp = await g.context.newCDPSession(g.page);
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    check(
      installabilityErrors.length === 0,
      `Chromium does not count the site installable: ${JSON.stringify(installabilityErrors)}`,
    );
    await g.context.setOffline(true);
    await g.page.reload();
    await menuShown(g);
    await g.page.screenshot({ path: path.join(o.out, 'offline-start.png') });
    // The music too, which its audio element asks for by parts: it plays,
    // and a new game starts it again from its beginning.
    const music = () => g.peek(() => Module.musicState());
    await g.page.mouse.click(320, 240);
    const played = await waitUntil('the music with no network', async () => {
      const s = await music();
      return (s.failed || (s.playing && s.time > 1.5)) && s;
    });
    check(!played.failed, `with no network the music failed: ${played.failed}`);
    const pressed = Date.now();
    await g.page.keyboard.press('Space');
    await waitUntil(
      'the track from its start with no network',
      async () => {
        const s = await music();
        return s.playing && s.time < (Date.now() - pressed) / 1000 + 0.1;
      },
      3000,
    );
    // Asked by parts, the cache answers as a server does (Chromium plays a
    // whole file given for a part, but cannot seek in it; Safari will not
    // play it at all).
    const part = await g.peek(async () => {
      const r = await fetch('tavik-shootemup.mp3', { headers: { Range: 'bytes=1000-1999' } });
      return {
        status: r.status,
        range: r.headers.get('Content-Range'),
        bytes: Array.from(new Uint8Array(await r.arrayBuffer())),
      };
    });
    const track = fs.readFileSync(path.join(o.site, 'tavik-shootemup.mp3'));
    check(
      part.status === 206 &&
        part.range === `bytes 1000-1999/${track.length}` &&
        track.subarray(1000, 2000).equals(Buffer.from(part.bytes)),
      `with no network, bytes 1000-1999 of the track came as ${part.status} ${part.range} (${part.bytes.length} bytes)`,
    );
    log(`cached as ${first}; installable; started again with no network, and its music plays`);

    // A new build: one file changed, the worker made again by the build's own step.
    fs.cpSync(o.site, copy, { recursive: true });
    fs.appendFileSync(path.join(copy, 'page.js'), '\n// a new build\n');
    execFileSync('cmake', [
      `-DSITE=${copy}`,
      `-DTEMPLATE=${path.join(o.source, 'web', 'service-worker.js')}`,
      '-P',
      path.join(o.source, 'web', 'make_worker.cmake'),
    ]);
    const cacheOf = (dir) =>
      /const CACHE = '([^']+)'/.exec(fs.readFileSync(path.join(dir, 'service-worker.js'), 'utf8'))[1];
    check(cacheOf(copy) !== cacheOf(o.site), 'a changed site kept its cache name');
    server.root = copy;
    await g.context.setOffline(false);
    await g.page.reload();
    const now = await waitUntil(
      'the new build cached',
      () =>
        g
          .peek(async () => {
            const names = await caches.keys();
            return names.length === 1 && names[0];
          })
          .then((n) => n === cacheOf(copy) && n),
      20000,
    );
    const page = await g.peek(async (cache) => (await (await caches.open(cache)).match('page.js')).text(), now);
    check(page.includes('a new build'), 'the new cache does not hold the new build');
    log(`next visit online: ${now} replaced ${first}`);
  } finally {
    server.root = o.site;
    await g.close();
    fs.rmSync(copy, { recursive: true, force: true });
  }
};

// ---- Touch and gamepads -----------------------------------------------------

// A phone held sideways on the menu, the page's own key events logged in
// order ("down ArrowUp", ...): the keys that its touch controls and pads give.
async function openPhone(url, options = {}) {
  const g = await openBrowser({
    viewport: { width: 915, height: 412 },
    device: { isMobile: true, hasTouch: true, deviceScaleFactor: 1 },
    ...options,
  });
  g.cdp = await g.context.newCDPSession(g.page);
  await g.page.goto(url);
  await menuShown(g);
  await g.peek(() => {
    window.keyLog = [];
    for (const type of ['keydown', 'keyup'])
      document.addEventListener(type, (e) => e.isTrusted || keyLog.push(`${type.slice(3)} ${e.code}`));
  });
  return g;
}
const keyLog = (g) => g.peek(() => keyLog.join(', '));
// A case on a phone, closed whatever happens.
function onPhone(body, options) {
  return async (o, url) => {
    const g = await openPhone(url, options);
    try {
      await body(g, o);
    } finally {
      await g.close();
    }
  };
}

// Fingers on the screen through Chromium's own touch input, [id, x, y]: a
// start or a move lists every finger down, an end those lifted (none: all).
function touch(g, type, fingers) {
  return g.cdp.send('Input.dispatchTouchEvent', { type, touchPoints: fingers.map(([id, x, y]) => ({ id, x, y })) });
}
const tap = (g, at) => touch(g, 'touchStart', [[1, at.cx, at.cy]]).then(() => touch(g, 'touchEnd', []));

// The boxes of the controls, the picture and its play area (the middle 480
// of its 640 columns), and what the bar says.
function controls(g) {
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

// New shots counted as they leave the ship, wherever it is.
async function watchLaunches(g) {
  await g.peek(() => {
    const ctx = document.getElementById('screen').getContext('2d');
    window.launches = 0;
    let was = false;
    setInterval(() => {
      const d = ctx.getImageData(82, 336, 476, 14).data;
      let lit = 0;
      for (let k = 0; k < d.length; k += 4)
        if (d[k + 1] > 230 && d[k + 2] > 230 && d[k] > 150 && d[k] !== d[k + 2]) lit++;
      if (lit > 20 && !was) window.launches++;
      was = lit > 20;
    }, 3);
  });
}
const launches = (g) => g.peek(() => window.launches);
// Where the ship is: the middle of its blue-grey, which nothing else drawn
// between the panels and above the console has.
const shipX = (g) =>
  g.peek(() => {
    const d = document.getElementById('screen').getContext('2d').getImageData(82, 352, 476, 32).data;
    let n = 0,
      sum = 0;
    for (let i = 0; i < d.length; i += 4)
      if (d[i + 2] > d[i] + 25 && d[i + 2] < 200 && d[i + 1] > d[i]) [n, sum] = [n + 1, sum + ((i / 4) % 476)];
    return 82 + sum / n;
  });
async function moving(g, what, sign) {
  const x = await shipX(g);
  await waitUntil(what, async () => ((await shipX(g)) - x) * sign >= 10, 5000);
}
// The game's own 640x480 pixels, for the README's pictures (scripts/readme-pictures).
async function saveCanvas(g, file) {
  const url = await g.peek(() => document.getElementById('screen').toDataURL());
  fs.writeFileSync(file, Buffer.from(url.split(',')[1], 'base64'));
}
const startByFire = async (g) => tap(g, (await controls(g)).fire).then(() => waitUntil('play', () => playing(g), 5000));

// Touch controls on a phone or a tablet (a desktop browser has none: case
// page): beside the picture held sideways, under it upright, in view with no
// scrolling, never over the play area, at a thumb's size; the bar names
// them. A key hides them, a touch brings them back. Nothing on the page
// moved as it started.
const recordShifts = () => {
  window.shifts = [];
  window.shiftWatch = new PerformanceObserver((l) => shifts.push(...l.getEntries()));
  shiftWatch.observe({ type: 'layout-shift', buffered: true });
};
cases.touch_shown = onPhone(
  async (g, o) => {
    const shifted = await g.peek(() =>
      shifts.concat(shiftWatch.takeRecords()).map((e) => e.sources.map((s) => s.node?.id).join('+')),
    );
    check(shifted.length === 0, `the page's layout shifted as it started: ${shifted.join(', ')}`);
    for (const [name, width, height] of [
      ['sideways', 915, 412],
      ['upright', 412, 915],
      ['tablet', 1024, 768],
    ]) {
      await g.page.setViewportSize({ width, height });
      await g.peek(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))); // laid out again
      const c = await controls(g);
      await g.page.screenshot({ path: path.join(o.out, `touch-${name}.png`) });
      log(`${name}: picture ${c.picture.w}x${c.picture.h}, pad ${c.steer.w}, Fire ${c.drawn.w} (touched ${c.fire.w})`);
      check(
        c.shown && /FIRE/.test(c.hint) && !/Arrows/.test(c.hint),
        `${name}: controls shown ${c.shown}, the bar says "${c.hint}"`,
      );
      check(/sideways/.test(c.hint) === (name === 'upright'), `${name}: the hint to turn the phone is wrong`);
      check(
        !c.scrolls && Math.abs(c.picture.w * 3 - c.picture.h * 4) <= 4,
        `${name}: the page scrolls, or the picture is not 4:3`,
      );
      check(
        Math.min(c.steer.w, c.steer.h) >= 96 && Math.min(c.drawn.w, c.drawn.h) >= 48,
        `${name}: controls too small`,
      );
      for (const b of [c.steer, c.fire, c.quit]) {
        const over =
          b.x < c.play.x + c.play.w && c.play.x < b.x + b.w && b.y < c.play.y + c.play.h && c.play.y < b.y + b.h;
        check(
          b.x >= 0 && b.y >= 0 && b.x + b.w <= c.view.w && b.y + b.h <= c.view.h && !over,
          `${name}: a control out of view or over the play area`,
        );
      }
      if (name !== 'tablet')
        check(c.steer.y >= c.picture.y + c.picture.h === (name === 'upright'), `${name}: the pad is misplaced`);
    }
    await g.page.keyboard.press('ArrowDown');
    await waitUntil('the controls hidden after a key', async () => !(await controls(g)).shown, 5000);
    check(/Arrows fly/.test((await controls(g)).hint), 'after a key the bar does not name the keys');
    await tap(g, { cx: 500, cy: 300 });
    await waitUntil('the controls back after a touch', async () => (await controls(g)).shown, 5000);
  },
  { route: (page) => page.addInitScript(recordShifts) },
);

// A finger held on the pad walks the menu, one press and the game's repeat:
// down to EXIT, then slid above the centre, up to NEW GAME; lifted, it lets go.
cases.touch_menu = onPhone(async (g, o) => {
  const { steer } = await controls(g);
  await touch(g, 'touchStart', [[1, steer.cx, steer.cy + 35]]);
  await waitUntil('the held pad to walk to EXIT', async () => (await litItem(g)) === 2, 5000);
  check(await g.peek(() => document.querySelector('#steer .arrow.held') != null), 'the pad shows no arrow pressed');
  await g.page.screenshot({ path: path.join(o.out, 'touch-pad-held.png') });
  await touch(g, 'touchMove', [[1, steer.cx + 5, steer.cy - 35]]);
  await waitUntil('the pad slid up to walk to NEW GAME', async () => (await litItem(g)) === 0, 5000);
  await touch(g, 'touchEnd', []);
  const keys = await keyLog(g);
  check(keys === 'down ArrowDown, up ArrowDown, down ArrowUp, up ArrowUp', `the pad gave: ${keys}`);
});

// Fire chooses the lit item, NEW GAME, and the first touch starts the music
// where the browser holds sound back; Quit ends the game as Escape does.
cases.touch_fire = onPhone(
  async (g, o) => {
    check((await g.peek(() => Module.musicState())).waiting, 'the music does not wait for the player');
    await startByFire(g);
    await waitUntil('the music after the first touch', () => g.peek(() => Module.musicState().playing), 5000);
    await tap(g, (await controls(g)).quit);
    check(/ended/.test(await messageShown(g)), 'Quit did not end the game');
    const keys = await keyLog(g);
    check(keys === 'down Space, up Space, down Escape, up Escape', `Fire and Quit gave: ${keys}`);
  },
  { args: ['--autoplay-policy=user-gesture-required'], ignoreDefaultArgs: ['--mute-audio'] },
);

// Two fingers at once, each tracked by itself: Fire held, then the pad to
// the right; the ship flies and fires. The steering finger lifted, the ship
// stops and the other fires on.
cases.touch_fingers = onPhone(async (g, o) => {
  await saveCanvas(g, path.join(o.out, 'game-menu.png'));
  await startByFire(g);
  await watchLaunches(g);
  const { steer, fire } = await controls(g);
  const pad = [1, steer.cx + 35, steer.cy],
    button = [2, fire.cx, fire.cy];
  await touch(g, 'touchStart', [button]);
  await touch(g, 'touchStart', [button, pad]);
  await moving(g, 'the ship flying right', 1);
  await waitUntil('shots while steering', async () => (await launches(g)) >= 2, 10000);
  await g.page.screenshot({ path: path.join(o.out, 'touch-play.png') });
  await touch(g, 'touchEnd', [pad]);
  const shots = await launches(g);
  await waitUntil('a shot after the steering finger lifted', async () => (await launches(g)) > shots, 10000);
  const x = await shipX(g);
  await waitUntil('more shots', async () => (await launches(g)) > shots + 2, 10000);
  check((await shipX(g)) === x, 'the ship moved with no finger on the pad');
  await saveCanvas(g, path.join(o.out, 'game-play.png'));
  await touch(g, 'touchEnd', []);
  const keys = await keyLog(g);
  check(
    keys === 'down Space, up Space, down Space, down ArrowRight, down Space, up ArrowRight, up Space',
    `the fingers gave: ${keys}`,
  );
});

// A finger that slides off the pad steers on by where it is: right over the
// picture, then left past the pad's far edge; lifted, it lets go.
cases.touch_slide = onPhone(async (g, o) => {
  await startByFire(g);
  const { steer, picture } = await controls(g);
  await touch(g, 'touchStart', [[1, steer.cx + 30, steer.cy]]);
  await touch(g, 'touchMove', [[1, picture.x + picture.w / 2, steer.cy]]);
  await moving(g, 'the ship flying right, the finger off the pad', 1);
  await touch(g, 'touchMove', [[1, 2, steer.cy - 10]]);
  await moving(g, 'the ship flying left, the finger off the pad', -1);
  await touch(g, 'touchEnd', []);
  const keys = await keyLog(g);
  check(
    keys === 'down Space, up Space, down ArrowRight, up ArrowRight, down ArrowLeft, up ArrowLeft',
    `the slide gave: ${keys}`,
  );
});

// A gamepad (a stand-in: headless Chromium has none) connected after the
// page loaded: the touch controls step aside and the bar names its buttons;
// A starts a game, the stick past half its travel and the d-pad steer with
// A held firing on; unplugged, it lets go of all; a touch brings the controls back.
// A stand-in gamepad, as the browser gives one, plugged in by window.plugged.
function standInPad() {
  window.pad = {
    index: 0,
    connected: true,
    mapping: 'standard',
    axes: [0, 0, 0, 0],
    buttons: Array.from({ length: 17 }, () => ({ pressed: false, value: 0 })),
  };
  navigator.getGamepads = () => [window.plugged ? pad : null];
}
cases.gamepad = onPhone(
  async (g) => {
    await g.peek(() => {
      window.plugged = true;
      dispatchEvent(new Event('gamepadconnected'));
    });
    const c = await controls(g);
    check(!c.shown && /A fires/.test(c.hint), `with a pad: controls shown ${c.shown}, the bar says "${c.hint}"`);
    await g.peek(() => (pad.buttons[0] = { pressed: true, value: 1 }));
    await waitUntil('play', () => playing(g), 5000);
    await watchLaunches(g);
    await g.peek(() => (pad.axes[0] = 0.8));
    await moving(g, 'the ship flying right by the stick', 1);
    await waitUntil('shots with A held', async () => (await launches(g)) >= 2, 10000);
    await g.peek(() => (pad.axes[0] = 0.3));
    await waitUntil(
      'the stick under half its travel to let go',
      async () => /up ArrowRight/.test(await keyLog(g)),
      5000,
    );
    await g.peek(() => (pad.buttons[14] = { pressed: true, value: 1 }));
    await moving(g, 'the ship flying left by the d-pad', -1);
    await g.peek(() => {
      window.plugged = false;
      dispatchEvent(new Event('gamepaddisconnected'));
    });
    await waitUntil("the pad's keys let go", async () => /up Space/.test(await keyLog(g)), 5000);
    const keys = await keyLog(g);
    check(
      keys ===
        'down Space, down ArrowRight, down Space, up ArrowRight, down ArrowLeft, down Space, up ArrowLeft, up Space',
      `the pad gave: ${keys}`,
    );
    await tap(g, { cx: 500, cy: 300 });
    await waitUntil('the controls back after a touch', async () => (await controls(g)).shown, 5000);
  },
  { route: (page) => page.addInitScript(standInPad) },
);

// ---- Running ----------------------------------------------------------------

const needed = ['site', 'frames', 'build', 'out', 'source'];
const { values: o, positionals } = parseArgs({
  options: Object.fromEntries(needed.map((k) => [k, { type: 'string' }])),
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

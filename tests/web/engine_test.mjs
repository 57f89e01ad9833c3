// The browser build's cases that can differ between engines, each written
// once and run in the engine given (engines.mjs), in a fresh profile: the
// frames against the desktop's, keys, the music heard at a sound server of
// its own and held back by the engine's own rule, the high-score table with
// the Name box, the offline start, a failed start's message, and the page
// with no full screen (an iPhone's).
//   node engine_test.mjs --engine chromium|firefox|webkit --site DIR --frames EXE --build DIR --source DIR --out DIR [CASE...]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { check, log, waitUntil } from './browser.mjs';
import {
  checkText,
  controls,
  differences,
  frame,
  framesPass,
  H,
  hold,
  litItem,
  menuShown,
  messageShown,
  nameAndGameOver,
  openTable,
  playing,
  readRgb565,
  run,
  savePair,
  scoreKept,
  select,
  startGame,
  W,
  watchDefaults,
} from './checks.mjs';
import { open } from './engines.mjs';
import { FLOOR, soundServer } from './sound.mjs';

const cases = {};

// A case in a browser of its own, closed whatever happens.
const inBrowser =
  (body, options = () => ({})) =>
  async (o, url, server) => {
    const g = await open(o.engine, options(o));
    try {
      await body(g, o, url, server);
    } finally {
      await g.close();
    }
  };

// The menu and the empty high-score screen, pixel for pixel against the
// desktop game's after both are reduced to RGB565, the stars left out.
cases.frames = inBrowser(async (g, o, url) => {
  const ref = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-frames-'));
  try {
    execFileSync(o.frames, [ref], { cwd: o.build, env: { ...process.env, XDG_DATA_HOME: path.join(ref, 'data') } });
    await g.goto(url);
    await menuShown(g);
    await g.shot(path.join(o.out, `menu-${o.engine}.png`));
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
      savePair(path.join(o.out, `frames-${o.engine}-${name}.png`), desktop, browser, diff);
      log(`${name}: ${diff.length} of ${W * H} pixels differ, ${(same * 100).toFixed(3)}% equal (need ${need * 100}%)`);
      results.push([name, same, need]);
    }
    for (const [name, same, need] of results) check(same >= need, `${name}: only ${(same * 100).toFixed(3)}% equal`);
    checkText(readRgb565(path.join(ref, 'high_scores.rgb565')), table);
  } finally {
    fs.rmSync(ref, { recursive: true, force: true });
  }
});

// A held Down walks the menu to EXIT, keys working with no click first; a
// quick press is one step however many repeats the browser fires in it; a
// held Space fires a shot every 300 ms and no more; no arrow or Space reaches
// the page. Told by counts and order, not by pace: a busy machine may show a
// step or a shot late, never an extra one.
cases.keys = inBrowser(async (g, o, url) => {
  await g.goto(url);
  await menuShown(g);
  await watchDefaults(g);
  check((await litItem(g)) === 0, 'the menu does not start on NEW GAME');
  // Held with no repeats of the browser's own (none of the drivers sends
  // them): only the game's repeat takes the second step.
  await g.down('ArrowDown');
  await waitUntil('a held Down to walk the menu to EXIT', async () => (await litItem(g)) === 2);
  await g.up('ArrowDown');

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

  // Space held from the menu, with the browser's own repeats where the
  // driver gives them: the game starts, and each new shot shows at the ship's
  // nose, over the black above it. Shots are at least 300 ms apart on the
  // game's clock, so the time Space was down in the page bounds their number.
  await g.peek(() => {
    window.launches = [];
    window.space = [];
    for (const type of ['keydown', 'keyup']) {
      document.addEventListener(
        type,
        (e) => e.key === ' ' && !e.repeat && window.space.push([performance.now(), Module.frameCount()]),
      );
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
  await hold(g, 'Space', 1350);
  await framesPass(g);
  await g.shot(path.join(o.out, `play-${o.engine}.png`));
  const { launches, space } = await g.peek(() => {
    clearInterval(window.launchWatch);
    return { launches: window.launches, space: window.space };
  });
  const down = space[1][0] - space[0][0],
    most = Math.floor(down / 300) + 1;
  // A shot has left the box at the nose once it has climbed its own height,
  // 16 pixels, one a frame: where the game drew fewer than 18 frames in 300
  // ms (WebKit on a busy machine, slowed further by this watcher's readings
  // of its canvas), the next shot joins it there, and only the upper bound
  // can be told.
  const parted = ((space[1][1] - space[0][1]) / down) * 300 >= 18;
  log(
    `held Space ${Math.round(down)} ms, ${Math.round(((space[1][1] - space[0][1]) / down) * 1000)} frames a second: ` +
      `${launches.length} shots, ${launches
        .slice(1)
        .map((t, i) => Math.round(t - launches[i]))
        .join(', ')} ms apart`,
  );
  check(
    launches.length <= most && (launches.length >= 4 || !parted),
    `a held Space fired ${launches.length} shots in ${Math.round(down)} ms, not one every 300 ms`,
  );
  if (!parted) log('too few frames for the shots to part at the nose: their number is bounded from above only');
  const left = await g.peek(() => window.defaultsLeft);
  check(left.length === 0, `keys left to the page's default handling: ${left.join(' ')}`);
});

// ---- Sound ------------------------------------------------------------------

// Each engine's own rule holding sound back until the player acts, as the
// browser's settings give it: Chromium's flag, Firefox's preference (on a
// phone also asking for the player's action at the moment of play(), as an
// iPhone does), MiniBrowser's flags, which are the iPhone's rule.
const heldBack = (o, phone) =>
  ({
    chromium: { args: ['--autoplay-policy=user-gesture-required'] },
    firefox: { prefs: { 'media.autoplay.default': 1, ...(phone && { 'media.autoplay.blocking_policy': 1 }) } },
    webkit: { args: ['--autoplay-policy=deny', '--media-playback-requires-user-gesture=true'] },
  })[o.engine];

// Silence and the page's note on sound until the player's first input,
// which starts the music, heard at the sound server and playing on: the
// page is only looked at (no activation) before that input.
const firstInputStarts = (input, phone) => async (o, url) => {
  const sound = await soundServer();
  const g = await open(o.engine, { ...heldBack(o, phone), env: sound.env, phone });
  try {
    const loaded = Date.now();
    await g.goto(url);
    await menuShown(g);
    const before = await g.peek(() => Module.musicState());
    check(
      before.waiting && !before.playing,
      `before any input the music does not wait for it: ${JSON.stringify(before)}`,
    );
    check(
      await g.peek(() => !document.getElementById('sound-note').hidden),
      'the page does not say that sound starts at a press',
    );
    const at = Date.now();
    await input(g);
    const heard = await sound.waitHeard('the music', at, 20000);
    // What is heard is the track from its start: it has played no longer
    // than the time since the input.
    const { time } = await g.peek(() => Module.musicState());
    check(time < (Date.now() - at) / 1000 + 0.1, `the track was ${time} s in, ${Date.now() - at} ms after the input`);
    const early = sound.loudest(loaded, at);
    check(early < FLOOR, `sound before the first input (RMS ${early})`);
    await sound.waitHeard('the music playing on', heard + 1000);
    check(
      await g.peek(() => document.getElementById('sound-note').hidden),
      'the note about sound stays after the music started',
    );
    log(
      `silent until the first input; the music heard ${Math.round(heard - at)} ms after it (RMS ${sound.loudest(heard, Date.now())})`,
    );
  } finally {
    await g.close();
    sound.close();
  }
};
cases.music = firstInputStarts((g) => g.press('ArrowDown'));
// A phone's first touch, on the picture: it gives the game no key (FIRE's
// would start a game, whose own start of the music Firefox lets through
// when it comes after the touch has lifted), so the page's own start is told.
cases.touch_music = firstInputStarts(async (g) => {
  const { picture } = await controls(g);
  await g.tap(picture.cx, picture.cy);
}, true);

// ---- Storage ----------------------------------------------------------------

// The Name box and a game over's entry in storage (nameAndGameOver), there
// again after a reload, and on the high-score screen.
cases.scores = inBrowser(async (g, o, url) => {
  await g.goto(url);
  const score = await nameAndGameOver(g, path.join(o.out, `name-box-${o.engine}.png`));
  await g.reload();
  await scoreKept(g, score, path.join(o.out, `scores-${o.engine}.png`));
  log(`"Zoë O'Hara" ${score}: stored at the game over, on the table after a reload`);
});

// Offline after one visit: with the server gone the page starts again from
// the service worker's cache, and its music, asked for by parts, is heard.
cases.offline = async (o, url, server) => {
  const sound = await soundServer();
  const g = await open(o.engine, { env: sound.env });
  try {
    await g.goto(url);
    await menuShown(g);
    const cached = await waitUntil(
      'the service worker',
      () =>
        g.peek(async () => {
          const r = await navigator.serviceWorker.getRegistration();
          return r?.active && (await caches.keys()).join(' ');
        }),
      20000,
    );
    server.offline = true;
    await g.reload();
    await menuShown(g);
    check(
      await g.peek(() => !!navigator.serviceWorker.controller),
      'the page started offline without its service worker',
    );
    const at = Date.now();
    await g.press('ArrowDown');
    await sound.waitHeard('the music with no network', at, 20000);
    const s = await g.peek(() => Module.musicState());
    check(!s.failed, `with no network the music failed: ${s.failed}`);
    log(`cached as ${cached}; started again with the server gone, and its music is heard`);
  } finally {
    server.offline = false;
    await g.close();
    sound.close();
  }
};

// A start that fails shows the reason on the page, never a black picture: a
// data file missing (the game's own message), the data not served, damaged
// or cut short on the way, no WebAssembly, the game's code broken.
cases.failures = inBrowser(async (g, o, url, server) => {
  // The data package as the site has it, changed: unpacked as the page
  // unpacks it (its directory's length, the directory, the files' bytes).
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
  const data = '/quorvane-data.bin',
    unread = /its data could not be loaded\. http:\/\/\S+\/quorvane-data\.bin: /;
  const tries = [
    [
      'a missing data file',
      /Couldn't load image data\/left\.bmp: Couldn't open data\/left\.bmp[\s\S]*status 3/,
      { [data]: renamed },
    ],
    ['the data not served', new RegExp(unread.source + '404 Not Found$'), { [data]: { status: 404, body: 'gone' } }],
    ['the data damaged', new RegExp(unread.source + 'it arrived damaged'), { [data]: spoiled }],
    [
      'the data cut short',
      new RegExp(unread.source + 'it arrived damaged or cut short'),
      { [data]: (b) => b.subarray(0, b.length >> 1) },
    ],
    ['no WebAssembly', /WebAssembly/, {}, 'delete window.WebAssembly'],
    ['the code broken', /stopped/, { '/quorvane-wasm.bin': () => zlib.gzipSync('not a module') }],
  ];
  try {
    for (const [what, expected, answers, head] of tries) {
      Object.assign(server, { answers, head });
      await g.goto(url);
      const said = await messageShown(g);
      log(`${what}: "${said.replace(/\n/g, ' / ')}"`);
      check(expected.test(said), `${what}: the page says "${said}"`);
      await g.shot(path.join(o.out, `failed-${o.engine}-${what.replace(/ /g, '-')}.png`));
    }
  } finally {
    Object.assign(server, { answers: {}, head: null });
  }
});

// ---- What an iPhone lacks ---------------------------------------------------

// What an iPhone's Safari has not: full screen for a page, the orientation
// lock, vibration, Web Locks. Removed before the page's own scripts run.
function lacking() {
  delete Element.prototype.requestFullscreen;
  delete Element.prototype.webkitRequestFullscreen;
  Object.defineProperty(Document.prototype, 'fullscreenEnabled', { get: () => false });
  if (window.ScreenOrientation) delete ScreenOrientation.prototype.lock;
  delete Navigator.prototype.vibrate;
  delete Navigator.prototype.locks;
}

// Without those the page starts and plays, says nothing of full screen, and
// on a touchscreen (where the engine has one) its button tells of the home
// screen instead; a touch elsewhere puts that note away. No double tap zooms
// anywhere on the page, and the home-screen icon is the game's own.
cases.no_full_screen = inBrowser(
  async (g, o, url, server) => {
    server.head = `(${lacking})()`;
    try {
      await g.goto(url);
      await menuShown(g);
      const bar = () =>
        g.peek(() => {
          const shown = (id) => document.getElementById(id).checkVisibility();
          const gone = !Element.prototype.requestFullscreen && !document.fullscreenEnabled && !navigator.vibrate;
          const b = document.getElementById('fullscreen').getBoundingClientRect();
          return {
            gone: gone && !navigator.locks && !screen.orientation?.lock,
            button: shown('fullscreen') && { x: b.x + b.width / 2, y: b.y + b.height / 2 },
            escape: shown('escape-note'),
            home: shown('home-note') && document.getElementById('home-note').textContent.replace(/\s+/g, ' '),
          };
        });
      let b = await bar();
      check(b.gone, 'the APIs an iPhone lacks are still there');
      check(!b.escape && !b.home, `with no full screen the page speaks of Escape in it, or of the home screen unasked`);
      const touch = o.engine !== 'webkit';
      check(!!b.button === touch, `the Full screen button is ${b.button ? 'shown' : 'hidden'} (touchscreen: ${touch})`);
      if (touch) {
        await g.tap(b.button.x, b.button.y);
        b = await waitUntil('the note on the home screen', async () => (await bar()).home, 5000);
        check(/home screen/.test(b), `the button says "${b}"`);
        await g.shot(path.join(o.out, `no-full-screen-${o.engine}.png`));
        const { fire } = await controls(g);
        await g.tap(fire.cx, fire.cy);
        await waitUntil('play', () => playing(g), 5000);
        check(!(await bar()).home, 'the note on the home screen stays over the game');
      } else {
        await g.shot(path.join(o.out, `no-full-screen-${o.engine}.png`));
        await startGame(g);
      }
      await framesPass(g, 30);
      check(await g.peek(() => document.getElementById('message').hidden), 'the page stopped without what it lacks');
      // (With no sound device, as here, Firefox's track fails: the music has cases of its own.)
      const errors = (g.console || []).filter((l) => /^(error|pageerror)/.test(l) && !/music/.test(l));
      check(errors.length === 0, `the page reported: ${errors.join(' | ')}`);
      const zoomed = await g.peek(() =>
        [...document.querySelectorAll('*')]
          .filter((e) => {
            for (let a = e; a; a = a.parentElement) if (getComputedStyle(a).touchAction !== 'auto') return false;
            return true;
          })
          .map((e) => e.id || e.tagName),
      );
      check(zoomed.length === 0, `a double tap zooms on ${zoomed.join(', ')}`);
      const icon = await g.peek(async () => {
        const r = await fetch(document.querySelector('link[rel=apple-touch-icon]').href);
        return btoa(String.fromCharCode(...new Uint8Array(await r.arrayBuffer())));
      });
      const own = fs.readFileSync(path.join(o.build, 'icons', 'quorvane-192.png'));
      check(Buffer.from(icon, 'base64').equals(own), "the home-screen icon is not the game's own");
      log(touch ? `the button tells of the home screen: "${b}"` : 'no touchscreen: no button, no word of full screen');
    } finally {
      server.head = null;
    }
  },
  (o) => ({ phone: o.engine !== 'webkit' }),
);

run(cases, ['engine']);

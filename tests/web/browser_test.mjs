// The browser build of the game in Debian's Chromium, headless, each case in
// a fresh profile: its music, the page around it, its storage, offline, touch
// and gamepads (the cases that any engine may show differently are in
// engine_test.mjs). Screenshots go to --out.
//   node browser_test.mjs --site DIR --frames EXE --build DIR --source DIR --out DIR [CASE...]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { check, desktop, log, openBrowser, waitUntil } from './browser.mjs';
import {
  controls,
  entries,
  framesPass,
  litItem,
  menuShown,
  messageShown,
  nameAndGameOver,
  openTable,
  pixels,
  playing,
  playToGameOver,
  run,
  scoreKept,
  select,
  startGame,
  storedFiles,
} from './checks.mjs';

// ---- Cases ------------------------------------------------------------------

const cases = {};

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

// Files put in the site's storage before the game starts, from another page
// of the site (the icon).
async function storeFiles(g, url, files) {
  await g.page.goto(url + 'icon-64.png');
  await storedFiles(g, files);
}

// Whether the high-score screen shows its notice that nothing is saved.
async function showsNotice(g) {
  return (await pixels(g, 'r > 200 && g > 90 && g < 160 && b < 120', [150, 404, 340, 28]))[0] > 40;
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
      await g.goto(url);
      score = await nameAndGameOver(g, path.join(o.out, 'scores-name-box.png'));
    } finally {
      await g.close();
    }
    g = await openBrowser({ profile });
    try {
      await g.goto(url);
      await scoreKept(g, score, path.join(o.out, 'scores-after-restart.png'));
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
    const tabs = [g, await g.tab(second)];
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

run(cases);

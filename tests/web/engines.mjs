// One way to drive each browser engine, so that a case is written once:
// Chromium (playwright-core, as browser.mjs opens it), Firefox over WebDriver
// BiDi (puppeteer-core launching Debian's firefox-esr) and WebKitGTK's
// MiniBrowser over classic WebDriver (WebKitWebDriver), each in a fresh
// profile. What a case gets from open(engine, options):
//   goto(url), reload()      the page, loaded
//   peek(fn, ...args)        fn run in the page, its result as JSON; no user
//                            activation granted (CDP userGesture false, BiDi
//                            userActivation false; WebKit's execute grants none)
//   down(key), up(key), press(key), type(text), click(x, y), tap(x, y)
//                            real input, as the engine's own (keys as
//                            playwright names them: 'ArrowDown', 'Space', ...)
//   shot(file), console (lines; null in WebKit), close()
//   and each engine's own: Chromium's page and context (playwright), Firefox's
//   browser and page (puppeteer) and send(method, params) (BiDi, in the
//   page's context), WebKit's request(method, path, body) (WebDriver, in the session)
// options: env (added to the browser's), prefs (Firefox's), args (Chromium's
// or MiniBrowser's), phone (touch: Chromium's emulation, Firefox's touch
// events and coarse pointer), viewport {width, height}, tabs (Chromium as
// Firefox is driven, puppeteer's browser and page: a tab behind another
// hidden, back and forward from the cache; no phone).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { check, chromiumArgs, openBrowser, waitUntil } from './browser.mjs';

// Ended from outside (a time limit, Ctrl+C), a case still leaves no browser
// running: the signal ends the process through exit, where each driver's
// own ending runs.
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.once(signal, () => process.exit(128 + os.constants.signals[signal]));
}

// WebDriver's own key values for the keys playwright names.
const KEYS = {
  ArrowUp: '\uE013',
  ArrowDown: '\uE015',
  ArrowLeft: '\uE012',
  ArrowRight: '\uE014',
  Space: ' ',
  Escape: '\uE00C',
  Enter: '\uE007',
  Control: '\uE009',
};
const key = (type, name) => ({ type, value: KEYS[name] || name });
const keyboard = (...actions) => [{ type: 'key', id: 'keyboard', actions }];
const pointer = (pointerType, x, y) => [
  {
    type: 'pointer',
    id: pointerType,
    parameters: { pointerType },
    actions: [
      { type: 'pointerMove', x: Math.round(x), y: Math.round(y) },
      { type: 'pointerDown', button: 0 },
      { type: 'pointerUp', button: 0 },
    ],
  },
];
// A function with its arguments, to run in the page and give back its result as JSON.
const call = (fn, args) => `async () => JSON.stringify((await (${fn})(...${JSON.stringify(args)})) ?? null)`;

// What every engine's driver gives from its own few commands.
function driver({ peek, act, ...rest }, pointerType = 'mouse') {
  return {
    peek,
    down: (name) => act(keyboard(key('keyDown', name))),
    up: (name) => act(keyboard(key('keyUp', name))),
    // A chord ('Control+A'): its keys pressed in order, let go in reverse.
    press: (chord) => {
      const names = chord.split('+');
      return act(keyboard(...names.map((n) => key('keyDown', n)), ...names.reverse().map((n) => key('keyUp', n))));
    },
    type: (text) => act(keyboard(...[...text].flatMap((c) => [key('keyDown', c), key('keyUp', c)]))),
    click: (x, y) => act(pointer('mouse', x, y)),
    tap: (x, y) => act(pointer(pointerType, x, y)),
    console: [],
    ...rest,
  };
}

function fresh(name) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `quorvane-${name}-`));
}

async function openChromium({ env, args = [], phone, viewport }) {
  const g = await openBrowser({
    args,
    env: { ...process.env, ...env },
    ignoreDefaultArgs: ['--mute-audio'],
    viewport,
    device: phone && { isMobile: true, hasTouch: true, deviceScaleFactor: 1 },
  });
  // A finger through Chromium's own touch input (a phone's, with device.hasTouch).
  const cdp = await g.context.newCDPSession(g.page);
  const touch = (type, x, y) =>
    cdp.send('Input.dispatchTouchEvent', { type, touchPoints: type === 'touchEnd' ? [] : [{ id: 1, x, y }] });
  return { ...g, tap: (x, y) => touch('touchStart', x, y).then(() => touch('touchEnd')) };
}

// Firefox, or Chromium where a case needs it as a player has it (tabs): both
// driven by puppeteer over WebDriver BiDi. Playwright emulates the focus of
// every page it drives, which Chromium counts as a capture that keeps the page
// shown (a tab behind another never hides), and it turns the back/forward
// cache off.
const bidiLaunch = {
  firefox: ({ prefs = {}, phone }) => ({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    extraPrefsFirefox: {
      ...prefs,
      ...(phone && {
        'dom.w3c_touch_events.enabled': 1,
        'ui.primaryPointerCapabilities': 1,
        'ui.allPointerCapabilities': 1,
      }),
    },
  }),
  chromium: ({ args = [] }) => ({
    browser: 'chrome',
    executablePath: '/usr/bin/chromium',
    args: [...chromiumArgs, ...args],
    ignoreDefaultArgs: ['--mute-audio'],
  }),
};

async function openBiDi(engine, { env, viewport, ...options }) {
  const profile = fresh(engine);
  const browser = await puppeteer.launch({
    ...bidiLaunch[engine](options),
    headless: true,
    userDataDir: profile,
    protocol: 'webDriverBiDi',
    env: { ...process.env, ...env },
    defaultViewport: viewport,
  });
  // The tab Firefox starts with never has the focus, headless, and a page in
  // it is told of no focus or blur: a tab of the driver's own has it, as a
  // player's has.
  const [first] = await browser.pages();
  const page = await browser.newPage();
  await first.close();
  await page.setViewport(viewport);
  const context = page.mainFrame()._id;
  const send = (method, params) => browser.connection.send(method, { context, ...params }).then((r) => r.result);
  const g = driver(
    {
      peek: async (fn, ...args) => {
        const r = await send('script.callFunction', {
          functionDeclaration: call(fn, args),
          awaitPromise: true,
          target: { context },
          userActivation: false,
          resultOwnership: 'none',
          context: undefined,
        });
        if (r.type === 'exception') throw new Error(`in the page: ${r.exceptionDetails.text}`);
        return JSON.parse(r.result.value);
      },
      act: (actions) => send('input.performActions', { actions }),
      goto: (url) => send('browsingContext.navigate', { url, wait: 'complete' }),
      reload: () => send('browsingContext.reload', { wait: 'complete' }),
      shot: async (file) =>
        fs.writeFileSync(file, Buffer.from((await send('browsingContext.captureScreenshot', {})).data, 'base64')),
      close: async () => {
        await browser.close();
        fs.rmSync(profile, { recursive: true, force: true });
      },
      browser,
      page,
      send,
    },
    'touch',
  );
  page.on('console', (m) => g.console.push(`${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => g.console.push(`pageerror: ${e.message}`));
  return g;
}

// A port nobody listens on, for the WebDriver server.
const freePort = () =>
  new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });

const lib = '/usr/lib/x86_64-linux-gnu';
const miniBrowser = fs
  .readdirSync(lib)
  .filter((d) => /^webkit2?gtk-/.test(d))
  .map((d) => path.join(lib, d, 'MiniBrowser'))
  .find(fs.existsSync);

// MiniBrowser in an X server of its own, its data and caches in a fresh home.
async function openWebKit({ env, args = [], viewport }) {
  const home = fresh('webkit');
  const children = [];
  // A case that failed on the way leaves none running (MiniBrowser ends with its X server).
  const stop = () => {
    for (const c of children) c.kill();
  };
  process.on('exit', stop);
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  children.push(xvfb);
  let number = '';
  xvfb.stdio[3].on('data', (d) => (number += d));
  await waitUntil('Xvfb', () => number.includes('\n'), 20000);
  const port = await freePort();
  const own = {
    ...process.env,
    ...env,
    DISPLAY: `:${number.trim()}`,
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, 'config'),
    XDG_CACHE_HOME: path.join(home, 'cache'),
    XDG_DATA_HOME: path.join(home, 'data'),
    XDG_RUNTIME_DIR: home,
  };
  const webdriver = spawn('WebKitWebDriver', [`--port=${port}`], { env: own, stdio: 'ignore' });
  children.push(webdriver);
  let session = '';
  const request = async (method, what, body) => {
    const r = await fetch(`http://127.0.0.1:${port}/session${session}${what}`, {
      method,
      headers: { 'Content-Type': 'application/json' },
      body: body && JSON.stringify(body),
    });
    const { value } = await r.json();
    if (!r.ok) throw new Error(`WebDriver ${what}: ${value.error}: ${value.message}`);
    return value;
  };
  const g = driver({
    peek: async (fn, ...args) =>
      JSON.parse(await request('POST', '/execute/sync', { script: `return (${call(fn, args)})()`, args: [] })),
    act: (actions) => request('POST', '/actions', { actions }),
    goto: (url) => request('POST', '/url', { url }),
    reload: () => request('POST', '/refresh', {}),
    shot: async (file) => fs.writeFileSync(file, Buffer.from(await request('GET', '/screenshot'), 'base64')),
    close: async () => {
      await request('DELETE', '').catch(() => {});
      await Promise.all(children.map((c) => c.exitCode ?? new Promise((resolve) => c.on('exit', resolve).kill())));
      process.off('exit', stop);
      // MiniBrowser's own processes end after it, writing their caches as
      // they go: the home is removed once nothing writes there any more.
      await waitUntil(
        'WebKit to leave its files alone',
        () => {
          try {
            fs.rmSync(home, { recursive: true, force: true });
            return true;
          } catch {
            return false;
          }
        },
        30000,
      );
    },
    request,
  });
  // MiniBrowser under WebKitWebDriver writes the page's console nowhere a
  // test can read it.
  g.console = null;
  const capabilities = {
    alwaysMatch: { 'webkitgtk:browserOptions': { binary: miniBrowser, args: ['--automation', ...args] } },
  };
  // The driver answers once it listens.
  const { sessionId } = await waitUntil(
    'WebKitWebDriver',
    () =>
      request('POST', '', { capabilities }).catch((e) => {
        if (webdriver.exitCode !== null || !/fetch failed/.test(e.message)) throw e;
        return null;
      }),
    20000,
  );
  session = `/${sessionId}`;
  // The window's size, less what MiniBrowser's own frame takes, is the page's.
  await request('POST', '/window/rect', viewport);
  const inner = await g.peek(() => ({ width: innerWidth, height: innerHeight }));
  await request('POST', '/window/rect', {
    width: 2 * viewport.width - inner.width,
    height: 2 * viewport.height - inner.height,
  });
  return g;
}

export async function open(engine, options = {}) {
  const opener = {
    chromium: options.tabs ? (o) => openBiDi(engine, o) : openChromium,
    firefox: (o) => openBiDi(engine, o),
    webkit: openWebKit,
  }[engine];
  check(opener, `no engine ${engine}`);
  const viewport = options.viewport || (options.phone ? { width: 915, height: 412 } : { width: 900, height: 720 });
  return { engine, ...(await opener({ ...options, viewport })) };
}

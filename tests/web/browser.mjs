// What the browser test and the browser benchmark share: the site served as
// a web server would, and Debian's Chromium, headless, in a fresh profile.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export class Failure extends Error {}
export function check(condition, message) {
  if (!condition) throw new Failure(message);
}
const t0 = Date.now();
export function log(text) {
  console.log(`[${((Date.now() - t0) / 1000).toFixed(3).padStart(7)}] ${text}`);
}
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function waitUntil(what, predicate, timeout = 10000) {
  const end = Date.now() + timeout;
  for (;;) {
    const v = await predicate();
    if (v) return v;
    if (Date.now() > end) throw new Failure(`timed out waiting for ${what}`);
    await sleep(25);
  }
}

// ---- The site, served as a web server would ------------------------------

const types = {
  '.html': 'text/html',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.json': 'application/json',
  '.webmanifest': 'application/manifest+json',
  '.data': 'application/octet-stream',
  '.mp3': 'audio/mpeg',
};

// The folder served can be changed (server.root), as a new build replaces a site.
export function serve(root) {
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(server.root, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(server.root) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404).end('not found');
      return;
    }
    res.writeHead(200, {
      'Content-Type': types[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-cache',
    });
    fs.createReadStream(file).pipe(res);
  });
  server.root = root;
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- The browser ------------------------------------------------------------

export const chromiumArgs = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// A fresh profile per case; the page's console kept for the case's checks.
// profile: a folder to keep (a browser started again on it, as after a
// restart), removed by the caller; by default a fresh one, removed at close.
// device: playwright's isMobile, hasTouch and deviceScaleFactor, for a phone.
export async function openBrowser({
  viewport = { width: 900, height: 720 },
  args = [],
  route,
  ignoreDefaultArgs,
  headed,
  env,
  profile,
  device,
} = {}) {
  const own = !profile;
  if (own) profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: !headed,
    args: chromiumArgs.concat(args),
    viewport,
    ignoreDefaultArgs,
    env,
    ...device,
  });
  const page = context.pages()[0] || (await context.newPage());
  const consoleLines = [];
  page.on('console', (m) => consoleLines.push(`${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => consoleLines.push(`pageerror: ${e.message}`));
  if (route) await route(page);
  // Playwright's evaluate counts as the player's own action (a user gesture),
  // which would let the page play sound and pass for a player's press; this
  // looks without touching.
  const peekOn = async (p) => {
    const cdp = await context.newCDPSession(p);
    return async (fn, ...args) => {
      const expression = `(${fn})(...${JSON.stringify(args)})`;
      const r = await cdp.send('Runtime.evaluate', {
        expression,
        returnByValue: true,
        awaitPromise: true,
        userGesture: false,
      });
      if (r.exceptionDetails)
        throw new Error(`in the page: ${r.exceptionDetails.exception?.description || r.exceptionDetails.text}`);
      return r.result.value;
    };
  };
  const peek = await peekOn(page);
  const close = async () => {
    await context.close();
    if (own) fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, page, peek, peekOn, console: consoleLines, close };
}

// A private X display with openbox managing it, for a browser window that
// real key presses (xdotool, through the X server) reach as a player's do.
export async function desktop() {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-x-'));
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  const number = await new Promise((resolve, reject) => {
    let text = '';
    xvfb.stdio[3].on('data', (d) => {
      text += d;
      if (text.includes('\n')) resolve(text.trim());
    });
    xvfb.on('exit', (code) => reject(new Error(`Xvfb ended with status ${code}`)));
  });
  const env = {
    ...process.env,
    DISPLAY: `:${number}`,
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, 'config'),
    XDG_CACHE_HOME: path.join(home, 'cache'),
  };
  const wm = spawn('openbox', ['--sm-disable'], { env, stdio: 'ignore' });
  // Openbox announces itself before its event loop runs, and a window mapped
  // in between may never be managed: ready once a window of ours is in its
  // list of managed windows (a probe lost that way is replaced).
  const read = (...args) => {
    try {
      return execFileSync(args[0], args.slice(1), { env, stdio: ['ignore', 'pipe', 'ignore'] }).toString();
    } catch {
      return '';
    }
  };
  const end = Date.now() + 30000;
  for (;;) {
    const probe = spawn('xmessage', ['-name', 'quorvane-wm-probe', 'probe'], { env, stdio: 'ignore' });
    const managed = () => {
      const ours = read('xdotool', 'search', '--classname', 'quorvane-wm-probe')
        .split(/\s+/)
        .filter(Boolean)
        .map(Number);
      const listed = (read('xprop', '-root', '_NET_CLIENT_LIST').match(/0x[0-9a-f]+/g) || []).map(Number);
      return listed.some((w) => ours.includes(w));
    };
    const ready = await waitUntil('openbox to manage a window', managed, 3000).catch((e) => {
      if (Date.now() > end) throw e;
      return false;
    });
    probe.kill();
    if (ready) break;
  }
  return {
    env,
    key: (name) => execFileSync('xdotool', ['key', name], { env }),
    close: () => {
      wm.kill();
      xvfb.kill();
      fs.rmSync(home, { recursive: true, force: true });
    },
  };
}

// What the browser test and the browser benchmark share: the site served as
// a web server would, and Debian's Chromium, headless, in a fresh profile.
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

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.png': 'image/png', '.json': 'application/json', '.webmanifest': 'application/manifest+json',
  '.data': 'application/octet-stream' };

export function serve(root) {
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(root, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(root) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404).end('not found');
      return;
    }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-cache' });
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- The browser ------------------------------------------------------------

export const chromiumArgs = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// A fresh profile per case; the page's console kept for the case's checks.
export async function openBrowser({ viewport = { width: 900, height: 720 }, args = [], route } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: chromiumArgs.concat(args), viewport });
  const page = context.pages()[0] || (await context.newPage());
  const consoleLines = [];
  page.on('console', (m) => consoleLines.push(`${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => consoleLines.push(`pageerror: ${e.message}`));
  if (route) await route(page);
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, page, console: consoleLines, close };
}


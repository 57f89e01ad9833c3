// The browser build of the game in Debian's Chromium, headless, each case in
// a fresh profile: its frames against the desktop game's own, its text, keys
// and music, and the page around it. Screenshots go to --out.
//   node browser_test.mjs --site DIR --frames EXE --build DIR --out DIR [CASE...]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { check, Failure, log, openBrowser, serve, sleep, waitUntil } from './browser.mjs';

const W = 640, H = 480;

function options() {
  const o = { cases: [] };
  const argv = process.argv.slice(2);
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a.startsWith('--')) o[a.slice(2)] = argv[++i];
    else o.cases.push(a);
  }
  for (const k of ['site', 'frames', 'build', 'out']) {
    if (!o[k]) throw new Error(`--${k} is needed`);
  }
  return o;
}

// ---- Pictures -------------------------------------------------------------

function rgb565(r, g, b) {
  return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}
const starColours = new Set([0, rgb565(55, 55, 55), rgb565(150, 150, 150), rgb565(255, 255, 255)]);

// The canvas as RGB565, the way the desktop's 16-bit screen holds it.
async function frame(page) {
  const b64 = await page.evaluate(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let s = '';
    for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode.apply(null, d.subarray(i, i + 0x8000));
    return btoa(s);
  });
  const rgba = Buffer.from(b64, 'base64');
  check(rgba.length == W * H * 4, `the canvas is not 640x480 (${rgba.length / 4} pixels)`);
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
    if (a[i] != b[i] && !(starColours.has(a[i]) && starColours.has(b[i]))) at.push(i);
  }
  return at;
}

function png(file, width, height, rgbAt) {
  const raw = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const [r, g, b] = rgbAt(x, y);
      raw.set([r, g, b], y * (width * 3 + 1) + 1 + 3 * x);
    }
  }
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const td = Buffer.concat([Buffer.from(type), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(zlib.crc32 ? zlib.crc32(td) : crc32(td));
    return Buffer.concat([len, td, crc]);
  };
  const head = Buffer.alloc(13);
  head.writeUInt32BE(width, 0);
  head.writeUInt32BE(height, 4);
  head.set([8, 2, 0, 0, 0], 8);
  fs.writeFileSync(file, Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', head),
    chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]));
}

let crcTable = null;
function crc32(buf) {
  if (!crcTable) {
    crcTable = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c >>> 0;
    }
  }
  let c = 0xffffffff;
  for (const byte of buf) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

const expand = (p) => [((p >> 11) & 31) << 3, ((p >> 5) & 63) << 2, (p & 31) << 3];

// The two frames side by side with the differences in red between them.
function savePair(file, desktop, browser, diff) {
  const marked = new Set(diff);
  png(file, W * 3, H, (x, y) => {
    const i = y * W + (x % W);
    if (x < W) return expand(desktop[i]);
    if (x < 2 * W) return marked.has(i) ? [255, 0, 0] : [expand(desktop[i])[0] >> 2, 0, 0];
    return expand(browser[i]);
  });
}

// The menu is up once the game has drawn its background over the canvas.
async function menuShown(page) {
  await waitUntil('the menu', () => page.evaluate(() => {
    const d = document.getElementById('screen').getContext('2d').getImageData(335, 275, 1, 1).data;
    return d[0] + d[1] + d[2] > 0;
  }), 15000);
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
    await menuShown(g.page);
    const menu = await frame(g.page);
    await g.page.keyboard.press('ArrowDown');
    await g.page.keyboard.press('Space');
    await sleep(300);
    const table = await frame(g.page);
    const results = [];
    for (const [name, browser, need] of [['menu', menu, 0.999], ['high_scores', table, 0.99]]) {
      const desktop = readRgb565(path.join(ref, name + '.rgb565'));
      const diff = differences(desktop, browser);
      const same = 1 - diff.length / (W * H);
      savePair(path.join(o.out, `frames-${name}.png`), desktop, browser, diff);
      log(`${name}: ${diff.length} of ${W * H} pixels differ, ${(same * 100).toFixed(3)}% equal (need ${need * 100}%)`);
      results.push([name, same, need]);
    }
    for (const [name, same, need] of results) check(same >= need, `${name}: only ${(same * 100).toFixed(3)}% equal`);
  } finally {
    await g.close();
    fs.rmSync(ref, { recursive: true, force: true });
  }
};

// ---- Running ----------------------------------------------------------------

const o = options();
for (const k of ['site', 'frames', 'build', 'out']) o[k] = path.resolve(o[k]);
fs.mkdirSync(o.out, { recursive: true });
const server = await serve(o.site);
const url = `http://127.0.0.1:${server.address().port}/`;
const chosen = o.cases.length ? o.cases : Object.keys(cases);
let failed = 0;
for (const name of chosen) {
  if (!cases[name]) throw new Error(`no case ${name}; cases: ${Object.keys(cases).join(' ')}`);
  log(`case ${name}`);
  try {
    await cases[name](o, url);
    log(`case ${name}: passed`);
  } catch (e) {
    failed++;
    log(`case ${name}: FAILED: ${e instanceof Failure ? e.message : e.stack}`);
  }
}
server.close();
log(failed ? `${failed} of ${chosen.length} cases failed` : `all ${chosen.length} cases passed`);
process.exit(failed ? 1 : 0);

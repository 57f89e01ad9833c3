// The browser build's frame rate against the bare loop (clear, 5 ms wait,
// flip) built with the same flags, in the same headless Chromium: rounds of
// the bare loop, the menu and play in turn, each counted over a few seconds
// by the frames the page has flipped. Prints the figures; --json keeps them.
//   node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import url from 'node:url';

const here = path.dirname(url.fileURLToPath(import.meta.url));
const { openBrowser, serve, sleep, waitUntil } = await import(path.join(here, '../../tests/web/browser.mjs'));

const o = { rounds: 7, seconds: 3 };
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
if (!o.tree) {
  console.error('usage: node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE]');
  process.exit(2);
}
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

// Frames per second over the next few seconds, from the page's own count.
async function rate(page) {
  const [f0, t0] = await page.evaluate(() => [Module.frameCount(), performance.now()]);
  await sleep(o.seconds * 1000);
  const [f1, t1] = await page.evaluate(() => [Module.frameCount(), performance.now()]);
  return ((f1 - f0) / (t1 - t0)) * 1000;
}

async function started(page) {
  await waitUntil('the first frames', () => page.evaluate(() => typeof Module == 'object' && Module.frameCount && Module.frameCount() > 30), 20000);
}

const server = await serve(path.resolve(o.tree));
const base = `http://127.0.0.1:${server.address().port}/`;
const b = await openBrowser(o.width ? { viewport: { width: +o.width, height: +o.height } } : {});
const runs = { bare: [], menu: [], play: [] };
for (let r = 0; r < o.rounds; r++) {
  await b.page.goto(base + 'bench/');
  await started(b.page);
  runs.bare.push(await rate(b.page));
  await b.page.goto(base + 'site/');
  await started(b.page);
  runs.menu.push(await rate(b.page));
  await b.page.keyboard.press('Space');
  await sleep(200);
  runs.play.push(await rate(b.page));
  console.log(`round ${r + 1}: bare ${runs.bare[r].toFixed(1)} fps, menu ${runs.menu[r].toFixed(1)}, play ${runs.play[r].toFixed(1)}`);
}
await b.close();
server.close();

const figures = { load: os.loadavg().map((l) => +l.toFixed(2)), rounds: +o.rounds, seconds: +o.seconds, fps: {}, ratio: {} };
for (const scene of ['bare', 'menu', 'play']) figures.fps[scene] = +median(runs[scene]).toFixed(1);
for (const scene of ['menu', 'play']) {
  // Against the bare loop of the same round.
  figures.ratio[scene] = +median(runs[scene].map((f, i) => f / runs.bare[i])).toFixed(3);
}
console.log(`bare loop ${figures.fps.bare} fps; menu / bare ${figures.ratio.menu}, play / bare ${figures.ratio.play}` +
  ` (medians of ${o.rounds} rounds; load ${figures.load.join(' ')})`);
if (o.json) fs.writeFileSync(o.json, JSON.stringify({ runs, ...figures }, null, 1) + '\n');

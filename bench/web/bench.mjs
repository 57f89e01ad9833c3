// The browser build's frame rate against the bare loop (clear, 5 ms wait,
// flip) built with the same flags, on a page laid out as the game's, in the
// same headless Chromium: rounds of the menu and play, each between two
// counts of the bare loop, each counted over a few seconds by the frames the
// page has flipped; the time from navigation to the game's first frame, at a
// first visit (a fresh profile, in a browser just launched and in one already
// running) and at later ones (from the service worker's cache); the first
// frame on a phone's slow link from a server that compresses nothing, the
// bytes before it and the music after a key; Lighthouse's phone performance
// when it is installed; the bytes of the site as served and as a web server
// would send them gzip-compressed. Prints the figures; --json keeps them.
//   node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE]
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import url from 'node:url';
import { promisify } from 'node:util';
import zlib from 'node:zlib';

const here = path.dirname(url.fileURLToPath(import.meta.url));
const { chromiumArgs, openBrowser, serve, sleep, waitUntil } = await import(
  path.join(here, '../../tests/web/browser.mjs')
);

const o = { rounds: 7, seconds: 3 };
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
if (!o.tree) {
  console.error('usage: node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE]');
  process.exit(2);
}
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

// Frames per second over the next few seconds, from the page's own count,
// once a second in the scene has passed: the start of the page (its worker,
// its store) and of the track is not the loop's pace.
async function rate(page) {
  await sleep(1000);
  const [f0, t0] = await page.evaluate(() => [Module.frameCount(), performance.now()]);
  await sleep(o.seconds * 1000);
  const [f1, t1] = await page.evaluate(() => [Module.frameCount(), performance.now()]);
  return ((f1 - f0) / (t1 - t0)) * 1000;
}

async function started(page) {
  await waitUntil(
    'the first frames',
    () => page.evaluate(() => typeof Module === 'object' && Module.frameCount && Module.frameCount() > 30),
    20000,
  );
}

// The site's files, each as served and gzip-compressed (level 6, as web
// servers do by default).
function siteBytes(dir) {
  const sizes = { files: 0, served: 0, gzip: 0 };
  for (const name of fs.readdirSync(dir, { recursive: true })) {
    const file = path.join(dir, name);
    if (!fs.statSync(file).isFile()) continue;
    const bytes = fs.readFileSync(file);
    sizes.files++;
    sizes.served += bytes.length;
    sizes.gzip += zlib.gzipSync(bytes, { level: 6 }).length;
  }
  return sizes;
}

async function firstFrame(page) {
  return waitUntil(
    'the first frame',
    () => page.evaluate(() => typeof Module === 'object' && Module.firstFrame && Module.firstFrame()),
    20000,
  );
}

const server = await serve(path.resolve(o.tree));
const base = `http://127.0.0.1:${server.address().port}/`;
// A browser just launched is still starting its own pages (on two cores here
// they take a core for most of a second): a first visit is timed there, and
// again in a browser left two seconds first, as a player's would have been.
const first = { visit: [], running: [], later: [] };
for (let r = 0; r < Math.min(o.rounds, 3); r++) {
  const fresh = await openBrowser();
  await fresh.page.goto(base + 'site/');
  first.visit.push(await firstFrame(fresh.page));
  await fresh.page.waitForFunction(() => navigator.serviceWorker.controller, null, { timeout: 20000 }).catch(() => {});
  await fresh.page.goto(base + 'site/');
  first.later.push(await firstFrame(fresh.page));
  await fresh.close();
  const running = await openBrowser();
  await running.page.goto('about:blank');
  await sleep(2000);
  await running.page.goto(base + 'site/');
  first.running.push(await firstFrame(running.page));
  await running.close();
}

// A phone on a slow mobile link: DevTools' "slow 4G" (1.6 Mbit/s down, 150 ms
// round trip) in a phone-sized window, from this server, which compresses
// nothing, as some hosts do; first visits in fresh profiles, in browsers left
// running two seconds first. The bytes fetched before the first frame are
// what the page's resource timing says arrived by then, headers included.
// Sound is held back until a key, as browsers do: the time from a key pressed
// at the first frame to the music playing is the track's own download.
const slow = { first: [], bytes: [], music: [] };
for (let r = 0; r < 3; r++) {
  const g = await openBrowser({
    viewport: { width: 412, height: 823 },
    args: ['--autoplay-policy=user-gesture-required'],
    ignoreDefaultArgs: ['--mute-audio'],
  });
  try {
    await g.page.goto('about:blank');
    await sleep(2000);
    const cdp = await g.context.newCDPSession(g.page);
    await cdp.send('Network.enable');
    await cdp.send('Network.emulateNetworkConditions', {
      offline: false,
      latency: 150,
      downloadThroughput: 1.6e6 / 8,
      uploadThroughput: 750e3 / 8,
    });
    await g.page.goto(base + 'site/', { waitUntil: 'commit' });
    const shown = await waitUntil(
      'the first frame on a slow link',
      () => g.peek(() => typeof Module === 'object' && Module.firstFrame && Module.firstFrame()),
      60000,
    );
    const pressed = Date.now();
    await g.page.keyboard.press('ArrowDown');
    await waitUntil(
      'the music on a slow link',
      () => g.peek(() => Module.musicState().playing && Module.musicState().time > 0),
      60000,
    );
    slow.music.push(Date.now() - pressed);
    slow.first.push(shown);
    slow.bytes.push(
      await g.peek(
        (shown) =>
          performance
            .getEntriesByType('navigation')
            .concat(performance.getEntriesByType('resource'))
            .filter((e) => e.responseEnd <= shown)
            .reduce((sum, e) => sum + e.transferSize, 0),
        shown,
      ),
    );
  } finally {
    await g.close();
  }
}

// Lighthouse's phone preset (simulated slow 4G and a CPU four times slower),
// when scripts/bench has installed it (bench/web/package-lock.json).
const lighthouse = path.join(here, 'node_modules', '.bin', 'lighthouse');
const audits = { score: [], lcp: [], tbt: [], version: null };
if (fs.existsSync(lighthouse)) {
  for (let r = 0; r < 3; r++) {
    // Run beside this process's server, which must go on answering.
    const { stdout } = await promisify(execFile)(
      lighthouse,
      [
        base + 'site/',
        '--only-categories=performance',
        '--output=json',
        '--output-path=stdout',
        '--quiet',
        `--chrome-flags=--headless=new ${chromiumArgs.join(' ')}`,
      ],
      { env: { ...process.env, CHROME_PATH: '/usr/bin/chromium' }, maxBuffer: 64 << 20 },
    );
    const report = JSON.parse(stdout);
    audits.score.push(report.categories.performance.score);
    audits.lcp.push(report.audits['largest-contentful-paint'].numericValue);
    audits.tbt.push(report.audits['total-blocking-time'].numericValue);
    audits.version = report.lighthouseVersion;
  }
}

const b = await openBrowser();
// The browser's own name for its version, e.g. Chrome/156.0.8078.129.
const { product } = await (await b.context.newCDPSession(b.page)).send('Browser.getVersion');
const browser = { name: 'Chromium', version: product };
const runs = { bare: [], menu: [], play: [] };
const bareRound = async () => {
  await b.page.goto(base + 'bench/');
  await started(b.page);
  runs.bare.push(await rate(b.page));
};
// The bare loop before and after each round's scenes: the machine's pace
// drifts over seconds, and a scene is held against the mean of the two.
await bareRound();
for (let r = 0; r < o.rounds; r++) {
  await b.page.goto(base + 'site/');
  await started(b.page);
  runs.menu.push(await rate(b.page));
  await b.page.keyboard.press('Space');
  runs.play.push(await rate(b.page));
  await bareRound();
  console.log(
    `round ${r + 1}: bare ${runs.bare[r].toFixed(1)} fps, menu ${runs.menu[r].toFixed(1)}, play ${runs.play[r].toFixed(1)}, bare ${runs.bare[r + 1].toFixed(1)}`,
  );
}
await b.close();
server.close();

const figures = {
  browser,
  load: os.loadavg().map((l) => +l.toFixed(2)),
  rounds: +o.rounds,
  seconds: +o.seconds,
  fps: {},
  ratio: {},
  first_frame_ms: {
    visit: +median(first.visit).toFixed(0),
    running: +median(first.running).toFixed(0),
    later: +median(first.later).toFixed(0),
  },
  site: siteBytes(path.join(o.tree, 'site')),
  slow_4g: {
    first_frame_ms: +median(slow.first).toFixed(0),
    bytes_before: median(slow.bytes),
    music_after_key_ms: median(slow.music),
  },
};
if (audits.score.length) {
  figures.lighthouse = {
    score: median(audits.score),
    lcp_ms: +median(audits.lcp).toFixed(0),
    tbt_ms: +median(audits.tbt).toFixed(0),
    version: audits.version,
  };
}
for (const scene of ['bare', 'menu', 'play']) figures.fps[scene] = +median(runs[scene]).toFixed(1);
const ratios = {};
for (const scene of ['menu', 'play']) {
  ratios[scene] = runs[scene].map((f, i) => +(f / ((runs.bare[i] + runs.bare[i + 1]) / 2)).toFixed(3));
  figures.ratio[scene] = median(ratios[scene]);
}
const range = (v) => `${Math.min(...v)} to ${Math.max(...v)}`;
console.log(
  `bare loop ${figures.fps.bare} fps; menu / bare ${figures.ratio.menu} (rounds ${range(ratios.menu)}), ` +
    `play / bare ${figures.ratio.play} (rounds ${range(ratios.play)}) (medians of ${o.rounds} rounds; load ${figures.load.join(' ')})`,
);
const mb = (n) => (n / 1e6).toFixed(2);
console.log(
  `first frame ${figures.first_frame_ms.visit} ms after navigation at a first visit ` +
    `(${figures.first_frame_ms.running} ms in a browser already running), ` +
    `${figures.first_frame_ms.later} ms at later ones (medians of ${first.visit.length})`,
);
console.log(
  `site: ${figures.site.files} files, ${mb(figures.site.served)} MB as served, ${mb(figures.site.gzip)} MB gzip-compressed`,
);
console.log(
  `slow 4G, a server that compresses nothing: first frame ${figures.slow_4g.first_frame_ms} ms after navigation ` +
    `(${slow.first.map((t) => t.toFixed(0)).join(', ')}), ${(figures.slow_4g.bytes_before / 1000).toFixed(0)} KB before it, ` +
    `music ${figures.slow_4g.music_after_key_ms} ms after a key (medians of ${slow.first.length} first visits)`,
);
if (figures.lighthouse) {
  console.log(
    `Lighthouse, phone: performance ${figures.lighthouse.score} (${audits.score.join(', ')}), largest paint ` +
      `${figures.lighthouse.lcp_ms} ms, blocking ${figures.lighthouse.tbt_ms} ms (medians of ${audits.score.length})`,
  );
} else {
  console.log('Lighthouse: not installed (scripts/bench installs it in bench/web/)');
}
if (o.json) fs.writeFileSync(o.json, JSON.stringify({ runs, ratios, first, slow, audits, ...figures }, null, 1) + '\n');

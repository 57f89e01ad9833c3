// The browser build's frame rate against the bare loop (clear, 5 ms wait,
// flip) built with the same flags, on a page laid out as the game's, in each
// engine a player holds: Chromium, Chromium with its CPU slowed four times (a
// phone's, as Lighthouse has it), Firefox and WebKitGTK, each driven as the
// browser tests drive it (tests/web/engines.mjs), the frame count read
// without granting the page a user activation: rounds of the menu and play,
// each between two counts of the bare loop, each counted over a few seconds
// by the frames the page has flipped; with --against, another build's the
// same way in the same rounds, turn about. In Chromium besides: the time
// from navigation to the game's first frame, at a first visit (a fresh
// profile, in a browser just launched and in one already running) and at
// later ones (from the service worker's cache); the first frame on a phone's
// slow link from a server that compresses nothing, the bytes before it and
// the music after a key; Lighthouse's phone performance when it is
// installed; the bytes of the site as served and as a web server would send
// them gzip-compressed. Prints the figures; --json keeps them.
//   node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE]
//     [--engines chromium,chromium-4x,firefox,webkit] [--against BUILD_WEB] [--start no]
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
const { open } = await import(path.join(here, '../../tests/web/engines.mjs'));

const o = { rounds: 7, seconds: 3, engines: 'chromium,chromium-4x,firefox,webkit', start: 'yes' };
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
if (!o.tree) {
  console.error(
    'usage: node bench.mjs --tree BUILD_WEB [--rounds N] [--seconds S] [--json FILE] ' +
      '[--engines chromium,chromium-4x,firefox,webkit] [--against BUILD_WEB] [--start no]',
  );
  process.exit(2);
}
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

// Frames per second over the next few seconds, from the page's own count,
// once a second in the scene has passed: the start of the page (its worker,
// its store) and of the track is not the loop's pace.
async function rate(g) {
  await sleep(1000);
  const [f0, t0] = await g.peek(() => [Module.frameCount(), performance.now()]);
  await sleep(o.seconds * 1000);
  const [f1, t1] = await g.peek(() => [Module.frameCount(), performance.now()]);
  return ((f1 - f0) / (t1 - t0)) * 1000;
}

async function started(g) {
  await waitUntil(
    'the first frames',
    () => g.peek(() => typeof Module === 'object' && Module.frameCount && Module.frameCount() > 30),
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
// (--start no: none of the start's figures, only the loop's.)
const starts = o.start === 'no' ? 0 : 3;
const first = { visit: [], running: [], later: [] };
for (let r = 0; r < Math.min(o.rounds, starts); r++) {
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
for (let r = 0; r < starts; r++) {
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
if (starts && fs.existsSync(lighthouse)) {
  for (let r = 0; r < starts; r++) {
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

// The loop in each engine, as the browser tests drive it: a real key, and
// the page read without granting it a user activation. Chromium's CPU is
// slowed by its own emulation (CDP), four times, as Lighthouse's phone.
const loopEngines = {
  chromium: { column: 'Chromium', engine: 'chromium' },
  'chromium-4x': { column: 'Chromium, CPU 4x slower', engine: 'chromium', throttle: 4 },
  firefox: { column: 'Firefox', engine: 'firefox' },
  webkit: { column: 'WebKitGTK', engine: 'webkit' },
};
async function browserOf(g) {
  if (g.engine === 'chromium') {
    // The browser's own name for its version, e.g. Chrome/156.0.8078.129.
    const { product } = await (await g.context.newCDPSession(g.page)).send('Browser.getVersion');
    return { name: 'Chromium', version: product };
  }
  if (g.engine === 'firefox') return { name: 'Firefox', version: await g.browser.version() };
  // MiniBrowser names no version of its own: the library's package does.
  const { stdout } = await promisify(execFile)('dpkg-query', ['-W', 'libwebkit2gtk-4.1-0']);
  return { name: 'WebKitGTK', version: `WebKitGTK ${stdout.trim().split('\t')[1]}` };
}
const builds = [{ tree: o.tree, base }];
if (o.against) {
  const other = await serve(path.resolve(o.against));
  builds.push({ tree: o.against, base: `http://127.0.0.1:${other.address().port}/`, server: other });
}
// Rounds of each build's menu and play, each between two counts of its own
// bare loop (the machine's pace drifts over seconds, and a scene is held
// against the mean of the two), the builds taking turns.
async function loop(name) {
  const { column, engine, throttle } = loopEngines[name];
  const g = await open(engine);
  try {
    if (throttle) {
      await (await g.context.newCDPSession(g.page)).send('Emulation.setCPUThrottlingRate', { rate: throttle });
    }
    const runs = builds.map(() => ({ bare: [], menu: [], play: [] }));
    const bare = async (b, i) => {
      await g.goto(b.base + 'bench/');
      await started(g);
      runs[i].bare.push(await rate(g));
    };
    for (const [i, b] of builds.entries()) await bare(b, i);
    for (let r = 0; r < o.rounds; r++) {
      for (const [i, b] of builds.entries()) {
        await g.goto(b.base + 'site/');
        await started(g);
        runs[i].menu.push(await rate(g));
        await g.press('Space');
        runs[i].play.push(await rate(g));
        await bare(b, i);
        const f = runs[i];
        console.log(
          `${column}${builds.length > 1 ? ` (${b.tree})` : ''}, round ${r + 1}: bare ${f.bare[r].toFixed(1)} fps, ` +
            `menu ${f.menu[r].toFixed(1)}, play ${f.play[r].toFixed(1)}, bare ${f.bare[r + 1].toFixed(1)}`,
        );
      }
    }
    const browser = await browserOf(g);
    const [own, ...others] = runs.map((f, i) => ({ tree: builds[i].tree, load: os.loadavg()[0], ...loopFigures(f) }));
    return { column, browser, ...own, ...(others.length && { against: others[0] }) };
  } catch (e) {
    return { column, error: `${column}: ${e.message}` };
  } finally {
    await g.close();
  }
}
function loopFigures(runs) {
  const fps = {},
    ratio = {},
    ratios = {};
  for (const scene of ['bare', 'menu', 'play']) fps[scene] = +median(runs[scene]).toFixed(1);
  for (const scene of ['menu', 'play']) {
    ratios[scene] = runs[scene].map((f, i) => +(f / ((runs.bare[i] + runs.bare[i + 1]) / 2)).toFixed(3));
    ratio[scene] = median(ratios[scene]);
  }
  return { runs, fps, ratio, ratios };
}
const engines = [];
for (const name of o.engines.split(',')) {
  if (!loopEngines[name]) throw new Error(`no engine ${name} (${Object.keys(loopEngines).join(', ')})`);
  engines.push(await loop(name));
}
server.close();
for (const b of builds) b.server?.close();

const figures = {
  load: os.loadavg().map((l) => +l.toFixed(2)),
  rounds: +o.rounds,
  seconds: +o.seconds,
};
if (starts) {
  Object.assign(figures, {
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
  });
}
if (audits.score.length) {
  figures.lighthouse = {
    score: median(audits.score),
    lcp_ms: +median(audits.lcp).toFixed(0),
    tbt_ms: +median(audits.tbt).toFixed(0),
    version: audits.version,
  };
}
// The start's figures are Chromium's: its column holds them.
const { load, rounds, seconds, ...start } = figures;
const chromium = engines.find((e) => e.column === loopEngines.chromium.column);
if (chromium) Object.assign(chromium, start);
else if (starts) engines.unshift({ column: loopEngines.chromium.column, ...start });

const range = (v) => `${Math.min(...v)} to ${Math.max(...v)}`;
const said = (f) =>
  `bare loop ${f.fps.bare} fps; menu / bare ${f.ratio.menu} (rounds ${range(f.ratios.menu)}), ` +
  `play / bare ${f.ratio.play} (rounds ${range(f.ratios.play)})`;
for (const e of engines) {
  if (e.error) console.log(e.error);
  else if (e.fps) {
    console.log(
      `${e.column}, ${e.browser.version}: ${said(e)} (medians of ${o.rounds} rounds; load ${e.load.toFixed(2)})`,
    );
    if (e.against) console.log(`  against ${e.against.tree}: ${said(e.against)}`);
  }
}
const mb = (n) => (n / 1e6).toFixed(2);
if (starts) {
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
}
if (o.json) fs.writeFileSync(o.json, JSON.stringify({ engines, first, slow, audits, ...figures }, null, 1) + '\n');

// A game out of sight, in the engine given (engines.mjs, Chromium as a
// player has it), with a sound server of its own: another tab in front for
// a while, then back; the page left for another and come back to.
//   node away_test.mjs --engine chromium|firefox --site DIR
import { parseArgs } from 'node:util';
import { check, log, serve, waitUntil } from './browser.mjs';
import { open } from './engines.mjs';
import { FLOOR, soundServer } from './sound.mjs';

// The frames shown, the lives the console shows (its red boxes), and where the music is.
const seen = (g) =>
  g.peek(() => {
    const ctx = document.getElementById('screen').getContext('2d');
    const red = (x) => {
      const [r, g, b] = ctx.getImageData(x, 422, 1, 1).data;
      return r > 200 && g < 60 && b < 60;
    };
    const frames = window.Module?.frameCount?.() ?? 0;
    const lives = [275, 299, 327, 350].filter(red).length;
    return { frames, lives, music: window.Module?.musicState?.().time, hidden: document.visibilityState === 'hidden' };
  });

// A game just begun: an enemy needs 350 ticks to reach the ship, so the
// lives stay 4 unless the game ran on while hidden.
async function away(engine, url) {
  const sound = await soundServer();
  const g = await open(engine, { env: sound.env, tabs: true });
  try {
    await g.goto(url);
    await waitUntil('the menu', async () => (await seen(g)).frames > 0, 20000);
    await g.press('Space');
    await waitUntil('play', async () => (await seen(g)).lives === 4, 10000);
    await sound.waitHeard('the music');
    const other = await g.browser.newPage();
    await waitUntil("the game's tab hidden", async () => (await seen(g)).hidden, 10000);
    const hidden = await seen(g);
    const from = Date.now();
    // The other tab in front while it draws 120 frames of its own.
    await other.evaluate(
      () =>
        new Promise((done) => {
          let n = 0;
          const next = () => (++n === 120 ? done() : requestAnimationFrame(next));
          requestAnimationFrame(next);
        }),
    );
    const to = Date.now();
    const still = await seen(g);
    await g.page.bringToFront();
    const heard = await sound.waitHeard('the music once back', to);
    const back = await seen(g);
    const loudest = sound.loudest(from + 500, to);
    const [drawn, played] = [still.frames - hidden.frames, back.music - hidden.music];
    log(
      `${engine}: ${drawn} frames in ${to - from} ms hidden, loudest ${loudest} there; heard ${heard - to} ms after, ` +
        `${played.toFixed(2)} s on in the track; lives ${hidden.lives}, then ${back.lives}`,
    );
    check(drawn === 0, `the game drew ${drawn} frames while hidden`);
    check(loudest < FLOOR, 'the music was heard while the tab was hidden');
    // Between the two readings it played only once back, for less than half the time it was hidden.
    check(
      played >= 0 && played < (to - from) / 2000,
      `the track went ${played.toFixed(2)} s on, hidden for ${to - from} ms`,
    );
    check(back.lives === hidden.lives, `${hidden.lives} lives before, ${back.lives} after`);

    // Left and come back to: the engine keeps the page, held still meanwhile.
    await g.peek(() => {
      addEventListener('pagehide', () => (window.left = Module.frameCount()));
      addEventListener(
        'pageshow',
        (e) => (window.shown = { persisted: e.persisted, frames: Module.frameCount(), left }),
      );
    });
    await g.goto(url + 'icon-64.png');
    await g.send('browsingContext.traverseHistory', { delta: -1 });
    const shown = await waitUntil(
      'the page back',
      () => g.peek(() => window.shown || (document.readyState === 'complete' && 'loaded again')).catch(() => null),
      20000,
    );
    log(`back: ${JSON.stringify(shown)}`);
    check(shown.persisted, `back and forward: the page was ${typeof shown === 'string' ? shown : 'not kept'}`);
    check(shown.frames === shown.left, `${shown.frames - shown.left} frames drawn while the page was left`);
    await sound.waitHeard('the music after back', Date.now());
  } finally {
    await g.close();
    sound.close();
  }
}

const { values: o } = parseArgs({ options: { engine: { type: 'string' }, site: { type: 'string' } } });
check(o.engine && o.site, '--engine and --site are needed');
const server = await serve(o.site);
try {
  await away(o.engine, `http://127.0.0.1:${server.address().port}/`);
  log(`away (${o.engine}): passed`);
} catch (e) {
  log(`away (${o.engine}): FAILED: ${e.message}`);
  process.exitCode = 1;
} finally {
  server.close();
}

// A PulseAudio of the test's own, for a browser's sound heard as a player
// hears it: a private socket that takes anonymous clients, no system
// configuration, one null sink at 44100 Hz stereo whose monitor is recorded,
// and how loud that recording is between two moments. A browser finds the
// server through `env` (Firefox through libpulse, Chromium through its own
// PulseAudio output, WebKitGTK through GStreamer's pulsesink).
//   const sound = await soundServer();  ...open a browser with sound.env...
//   await sound.waitHeard('the music');  sound.loudest(t0, t1) < FLOOR
//   sound.close();
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { check, waitUntil } from './browser.mjs';

const RATE = 44100,
  FRAME = 4; // bytes per frame: 16-bit samples, two channels
const WINDOW = RATE / 20; // loudness is measured over 50 ms
// The desktop tests' floor, in sample units: the track's quietest 50 ms is
// far louder, silence is 0.
export const FLOOR = 328;

export async function soundServer() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvane-pulse-'));
  const socket = path.join(dir, 'native');
  fs.writeFileSync(path.join(dir, 'client.conf'), 'autospawn = no\n');
  const env = {
    PULSE_SERVER: `unix:${socket}`,
    PULSE_RUNTIME_PATH: dir,
    PULSE_CLIENTCONFIG: path.join(dir, 'client.conf'),
    PULSE_COOKIE: path.join(dir, 'cookie'),
  };
  const own = { ...process.env, ...env, HOME: dir, XDG_CONFIG_HOME: path.join(dir, 'config'), XDG_RUNTIME_DIR: dir };
  const processes = [];
  const stop = () => {
    for (const p of processes) p.kill();
  };
  process.on('exit', stop); // a case that failed on the way leaves none running
  const run = (command, args, stdio = 'ignore') => {
    const p = spawn(command, args, { env: own, stdio: ['ignore', stdio, 'ignore'] });
    processes.push(p);
    return p;
  };
  const daemon = run('pulseaudio', [
    '-n',
    '--daemonize=no',
    '--exit-idle-time=-1',
    '--use-pid-file=no',
    '--disallow-exit',
    `--load=module-native-protocol-unix auth-anonymous=1 socket=${socket}`,
    `--load=module-null-sink sink_name=quorvane rate=${RATE} format=s16le channels=2`,
  ]);
  const streams = () => {
    check(daemon.exitCode === null, `pulseaudio ended with status ${daemon.exitCode}`);
    try {
      return execFileSync('pactl', ['list', 'short', 'sink-inputs'], { env: own, stdio: ['ignore', 'pipe', 'ignore'] })
        .toString()
        .split('\n')
        .filter(Boolean).length;
    } catch {
      return null; // not answering yet
    }
  };
  await waitUntil('the sound server to answer', () => streams() !== null, 30000);
  // A silent stream keeps the null sink running, as a desktop's sink runs
  // while anything plays: from cold its monitor gives nothing for up to 1.5 s
  // after a stream starts, and the recording's clock would slip.
  run('pacat', [
    '--playback',
    '--raw',
    '--format=s16le',
    `--rate=${RATE}`,
    '--channels=2',
    '--latency-msec=20',
    '/dev/zero',
  ]);
  await waitUntil('the silent stream', () => streams() > 0, 20000);

  // The monitor's frames in order; frame i was played at `start` + i / RATE
  // (ms since the epoch), `start` taken from the chunk that came soonest.
  let data = Buffer.alloc(RATE * FRAME * 30),
    bytes = 0,
    start = Infinity;
  const parec = run(
    'parec',
    ['-d', 'quorvane.monitor', '--raw', '--format=s16le', `--rate=${RATE}`, '--channels=2', '--latency-msec=20'],
    'pipe',
  );
  parec.stdout.on('data', (d) => {
    if (bytes + d.length > data.length)
      data = Buffer.concat([data.subarray(0, bytes), Buffer.alloc(data.length + d.length)]);
    d.copy(data, bytes);
    bytes += d.length;
    start = Math.min(start, Date.now() - (bytes / FRAME / RATE) * 1000);
  });
  await waitUntil('the monitor recorded', () => bytes > 0, 20000);

  // The highest RMS of a 50 ms window (stepping by half of one) between two
  // moments (Date.now()), of what has been recorded by now.
  const loudest = (from = 0, to = Date.now()) => {
    const frames = Math.floor(bytes / FRAME);
    const first = Math.max(0, Math.floor(((from - start) / 1000) * RATE));
    const last = Math.min(frames, Math.floor(((to - start) / 1000) * RATE));
    let most = 0;
    for (let f = first; f + WINDOW <= last; f += WINDOW / 2) {
      let sum = 0;
      for (let i = f * 2; i < (f + WINDOW) * 2; i++) sum += data.readInt16LE(i * 2) ** 2;
      most = Math.max(most, Math.sqrt(sum / (WINDOW * 2)));
    }
    return Math.round(most);
  };
  return {
    env,
    loudest,
    // Resolves with the moment the sound was first heard after `from`.
    waitHeard: async (what, from = Date.now(), timeout = 15000) => {
      let seen = from;
      return waitUntil(
        `${what} heard at the sound server`,
        () => {
          check(parec.exitCode === null, `parec ended with status ${parec.exitCode}`);
          const now = Date.now() - 100; // what has surely arrived
          if (loudest(seen - 60, now) > FLOOR) return seen;
          seen = Math.max(seen, now - 60);
          return false;
        },
        timeout,
      );
    },
    close: () => {
      stop();
      process.off('exit', stop);
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

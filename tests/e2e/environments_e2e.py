#!/usr/bin/env python3
"""End-to-end tests of Quorvane where players run it: under a window manager
on large screens, under a Wayland compositor through Xwayland, and through a
real sound server.

    environments_e2e.py --game PATH --workdir BUILD_DIR --out OUT_DIR CASE [--size WxH]

CASE is one of:
  screen       openbox on an Xvfb screen of --size: the picture, where it sits
               and how large, and the keys, without a click;
  wayland      weston (headless) with Xwayland: menu, a game, Escape;
  pulse        a PulseAudio daemon of the test's own with a null sink: the
               music on the sink's monitor, its start and its loop;
  pulse_lost   that daemon killed in the middle of a game;
  pulse_none   no daemon at all.
Screenshots, logs and recordings go to OUT_DIR/CASE/.  The runtime the game
must load (compat or classic) comes from QUORVANE_E2E_RUNTIME when set.
"""

import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from harness import (BYTES_PER_FRAME, RATE, SCREEN_H, SCREEN_W, Failure, Keyboard, Openbox, Screen,
                     Xvfb, case_arguments, check, first_nonzero, first_sound, input_focus, log,
                     mismatches, mp3_duration, rms, run_case, shows, stop_process, wait_until,
                     window_geometry, _stop_with_parent)
import quorvane_e2e as e2e
from quorvane_e2e import (CONSOLE_AT, MENU_ITEM_X, MENU_ITEM_Y, RMS_FLOOR, SHIP_START,
                          find_opening, menu_selection, read_file, wait_selection)


class Session(e2e.Session):
    """A display (an X server, maybe with a window manager, or a Wayland
    compositor's Xwayland), the keyboard and screenshots, and the games
    started on it, which the cases of quorvane_e2e.py can use.  The case
    starts the display itself and hands it over with use_display()."""

    def __init__(self, args, name):
        super().__init__(args, name)
        self.env = None

    def __enter__(self):
        contextlib.ExitStack.__enter__(self)
        return self

    def use_display(self, env, screen):
        self.env = env
        self.keys = Keyboard(env)
        self.screen = screen

    def start_game(self, workdir=None, **env):
        game, game.window = self.launch(self.env, workdir or self.args.workdir, env, 30)
        return game


def expect_exit(game, what, limit=10.0):
    sent = time.monotonic()
    status = game.wait_exit(limit)
    check(status is not None, f"the game still runs {limit:.0f} s after {what}")
    check(status == 0, f"the game ended with status {status} after {what}")
    log(f"{what}: status 0 after {time.monotonic() - sent:.2f} s")


# --------------------------------------------------------------------------
# Large screens under a window manager
#
# The compat runtime scales the 640x480 picture to the screen without
# changing the monitor's mode, keeping its shape; the classic runtime cannot
# change the mode of this X server and shows the picture unscaled in the
# middle.  Either way the rest of the screen is black.
#
# The picture is scaled back down to 640x480 (box averaging, ImageMagick's
# -scale) and compared with the images the game draws.  A scaler that
# interpolates, followed by averaging, gives each pixel a mix of the source
# pixels around it: it can never lie outside the range of the 3x3
# neighbourhood of its source pixel, give or take a level of rounding.  So a
# pixel passes when it lies in that range with two levels to spare; a picture
# shifted, cropped or stretched by more than a pixel or two of the source
# fails on every edge of the title, the buttons and the planet.

MARGIN = 2
PASS_SHARE = 0.99


class Reference:
    """An expected 640x480 picture with, for every pixel, the range of its 3x3
    neighbourhood per channel (in 5-6-5 levels), and the pixels to compare:
    those whose whole neighbourhood is known (opaque)."""

    def __init__(self, image, known=None):
        w, h = image.w, image.h
        self.w, self.h = w, h
        known = known or (lambda x, y: image.opaque(x, y))
        self.lo, self.hi = [], []
        for plane in (image.r, image.g, image.b):
            rows = [plane[y * w:(y + 1) * w] for y in range(h)]
            hmin = [bytes(map(min, r[:1] + r[:-1], r, r[1:] + r[-1:])) for r in rows]
            hmax = [bytes(map(max, r[:1] + r[:-1], r, r[1:] + r[-1:])) for r in rows]
            lo = [bytes(map(min, hmin[max(y - 1, 0)], hmin[y], hmin[min(y + 1, h - 1)]))
                  for y in range(h)]
            hi = [bytes(map(max, hmax[max(y - 1, 0)], hmax[y], hmax[min(y + 1, h - 1)]))
                  for y in range(h)]
            self.lo.append(b"".join(lo))
            self.hi.append(b"".join(hi))
        self.points = [y * w + x for y in range(1, h - 1) for x in range(1, w - 1)
                       if all(known(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))]

    def share(self, shot, ox=0, oy=0):
        """The share of compared pixels that lie in their range, the reference
        placed at (ox, oy) on the 640x480 shot."""
        good = 0
        planes = (shot.r, shot.g, shot.b)
        for i in self.points:
            y, x = divmod(i, self.w)
            if not (0 <= x + ox < shot.w and 0 <= y + oy < shot.h):
                continue
            j = (y + oy) * shot.w + x + ox
            if all(lo[i] - MARGIN <= p[j] <= hi[i] + MARGIN
                   for lo, hi, p in zip(self.lo, self.hi, planes)):
                good += 1
        return good / max(1, len(self.points))


def picture_rect(runtime, size):
    """Where the game's picture must be on a screen of this size."""
    w, h = size
    if runtime == "classic":
        return (w - SCREEN_W) // 2, (h - SCREEN_H) // 2, SCREEN_W, SCREEN_H
    scale = min(w / SCREEN_W, h / SCREEN_H)
    pw, ph = round(SCREEN_W * scale), round(SCREEN_H * scale)
    return (w - pw) // 2, (h - ph) // 2, pw, ph


class LargeScreen(Screen):
    """A screenshot of the whole large screen, kept, and the picture cut out
    of it and scaled back to 640x480."""

    def __init__(self, env, out_dir, size):
        super().__init__(env, out_dir, size=size)
        self.rect = None
        self.full = None

    def grab(self):
        ppm = self.grab_ppm()
        self.full = self.parse(ppm, self.size)
        x, y, w, h = self.rect
        r = subprocess.run(["convert", "ppm:-", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                            "-scale", f"{SCREEN_W}x{SCREEN_H}!", "ppm:-"], input=ppm,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        check(r.returncode == 0, f"convert failed: {r.stderr.decode(errors='replace')}")
        return self.parse(r.stdout, (SCREEN_W, SCREEN_H))


def lit_pixels_outside(full, rect):
    """Pixels of the whole screen outside the picture's rectangle that are not
    black: (count, first few)."""
    x0, y0, w, h = rect
    found = []
    count = 0
    for y in range(full.h):
        i = y * full.w
        spans = [(0, full.w)] if not y0 <= y < y0 + h else [(0, x0), (x0 + w, full.w)]
        for a, b in spans:
            if a >= b:
                continue
            r, g, bl = full.r[i + a:i + b], full.g[i + a:i + b], full.b[i + a:i + b]
            if r.count(0) == b - a and g.count(0) == b - a and bl.count(0) == b - a:
                continue
            for x in range(a, b):
                if r[x - a] or g[x - a] or bl[x - a]:
                    count += 1
                    if len(found) < 5:
                        found.append((x, y))
    return count, found


def case_screen(args, assets):
    size = args.size
    name = f"screen_{size[0]}x{size[1]}"
    with Session(args, name) as s:
        x = s.enter_context(Xvfb(os.path.join(s.out, "xvfb.log"), size=size))
        s.enter_context(Openbox(x.env(), os.path.join(s.out, "wm.log")))
        screen = LargeScreen(x.env(), s.out, size)
        s.use_display(x.env(), screen)
        game = s.start_game()
        rect = picture_rect(game.runtime, size)
        screen.rect = rect
        log(f"{game.runtime} runtime on {size[0]}x{size[1]}: the picture belongs at "
            f"({rect[0]},{rect[1]}), {rect[2]}x{rect[3]}")
        geometry = window_geometry(x.env(), game.window)
        log(f"the game's window: ({geometry[0]},{geometry[1]}) {geometry[2]}x{geometry[3]}")
        if game.runtime == "compat":
            # Full screen without a mode change: the window is the screen.
            check(geometry == (0, 0, *size), f"the game's window is at {geometry[:2]}, "
                                             f"{geometry[2]}x{geometry[3]}, not the whole screen")
        wait_until(lambda: input_focus(x.env()) == game.window, 10.0,
                   what="the game's window to have the keyboard focus")

        # The menu's background, everywhere it is opaque, and the items.
        items = [(MENU_ITEM_X, y) for y in MENU_ITEM_Y]
        background = Reference(assets.background)
        lit = [Reference(img) for img in assets.lit]
        normal = [Reference(img) for img in assets.normal]

        def selection(shot):
            """The lit item when all three items show, each clearly either lit
            or normal, else None; with the shares seen."""
            seen = []
            chosen = []
            for i, (ix, iy) in enumerate(items):
                a, b = lit[i].share(shot, ix, iy), normal[i].share(shot, ix, iy)
                seen.append((round(a, 3), round(b, 3)))
                if a >= PASS_SHARE and a > b:
                    chosen.append(i)
                elif not (b >= PASS_SHARE and b > a):
                    return None, seen
            return (chosen[0] if len(chosen) == 1 else None), seen

        def menu_with(index):
            last = {}

            def lit_item():
                shot = s.grab(game)
                last["shot"], (found, last["seen"]) = shot, selection(shot)
                return shot if found == index else None

            try:
                return wait_until(lit_item, 20.0, interval=0.05,
                                  what=f"the menu with {e2e.MENU_NAMES[index]} lit")
            except Failure as failure:
                if "shot" in last:
                    s.save(last["shot"], f"failed_scaled_{e2e.MENU_NAMES[index]}")
                raise Failure(f"{failure}; (lit, normal) shares of the items: "
                              f"{last.get('seen')}") from None

        shot = menu_with(0)
        s.save(screen.full, "menu_full")
        s.save(shot, "menu_scaled")
        share = background.share(shot)
        log(f"menu: {share:.4f} of {len(background.points)} background pixels in range")
        check(share >= PASS_SHARE, f"only {share:.3f} of the menu background's pixels match bg.bmp "
                                   f"(scaled back to 640x480 from {rect[2]}x{rect[3]})")
        # The same picture three pixels to the side must not pass: the check
        # does see where the picture is.
        off = background.share(shot, 3, 0)
        log(f"menu, compared 3 pixels to the right: {off:.4f} in range")
        check(off < PASS_SHARE - 0.05, f"the comparison cannot tell a shifted picture: {off:.3f}")
        count, where = lit_pixels_outside(screen.full, rect)
        check(count == 0, f"{count} lit pixels outside the picture, e.g. {where}")
        if game.runtime == "classic":
            # Unscaled: the cut-out is the game's own picture, pixel for pixel.
            check(menu_selection(shot, assets) == 0, "the centred picture is not the exact menu "
                                                     f"({e2e.describe_menu(shot, assets)})")
            bad = mismatches(shot, assets.background, 0, 0,
                             skip=lambda px, py: any(ix <= px < ix + 160 and iy <= py < iy + 40
                                                     for ix, iy in items))
            check(not bad, f"{len(bad)} pixels of bg.bmp are not shown unscaled, e.g. {bad[:5]}")

        # Keys, without a click: Down lights high score, Up new game again.
        s.keys.tap("Down")
        s.save(menu_with(1), "menu_hiscore_scaled")
        s.save(screen.full, "menu_hiscore_full")
        s.keys.tap("Up")
        menu_with(0)

        # Space starts a game: the console shows where it belongs, the ship
        # in its place.
        cx, cy = CONSOLE_AT
        sx, sy = SHIP_START
        ship_w, ship_h = assets.ship.w, assets.ship.h

        def console_known(x, y):
            # The ship, the lives boxes and the score are drawn over it.
            px, py = cx + x, cy + y
            return (assets.console.opaque(x, y) and
                    not (sx <= px < sx + ship_w and sy <= py < sy + ship_h) and
                    not e2e.in_lives_box(px, py) and
                    not (e2e.PLAY_SCORE_AT[0] <= px < e2e.PLAY_SCORE_AT[0] + 80 and
                         e2e.PLAY_SCORE_AT[1] <= py < e2e.PLAY_SCORE_AT[1] + 24))

        console = Reference(assets.console, console_known)
        ship = Reference(assets.ship)
        s.keys.tap("space")
        shares = []

        def playing():
            shot = s.grab(game)
            c = console.share(shot, cx, cy)
            p = ship.share(shot, sx, sy)
            shares.append((round(c, 3), round(p, 3)))
            return (shot, c, p) if c >= PASS_SHARE and p >= PASS_SHARE else None

        try:
            shot, c, p = wait_until(playing, 20.0, interval=0.05,
                                    what="the console and the ship of a new game")
        except Failure as failure:
            raise Failure(f"{failure}; (console, ship) shares seen: {shares[-5:]}") from None
        log(f"play: console {c:.3f}, ship {p:.3f} of their pixels in range")
        s.save(screen.full, "play_full")
        s.save(shot, "play_scaled")
        count, where = lit_pixels_outside(screen.full, rect)
        check(count == 0, f"in play, {count} lit pixels outside the picture, e.g. {where}")

        s.keys.down("Escape")
        expect_exit(game, "Escape in play")
        s.keys.up("Escape")


# --------------------------------------------------------------------------
# Wayland: weston's headless backend, the game through Xwayland


class Weston:
    """weston with its headless backend and Xwayland, in a private runtime
    folder.  weston gives Xwayland the lowest free display number (it takes no
    choice); the number is read from its log."""

    def __init__(self, out_dir):
        self.out_dir = out_dir
        self.proc = None

    def __enter__(self):
        self.runtime_dir = tempfile.mkdtemp(prefix="quorvane-wl-")
        os.chmod(self.runtime_dir, 0o700)
        self.log_path = os.path.join(self.out_dir, "weston.log")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime_dir, HOME=self.runtime_dir,
                   XDG_CONFIG_HOME=os.path.join(self.runtime_dir, "config"))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.socket = "quorvane-wayland"
        with open(os.path.join(self.out_dir, "weston.stderr.txt"), "wb") as err:
            self.proc = subprocess.Popen(
                ["weston", "--backend=headless-backend.so", f"--width={SCREEN_W}",
                 f"--height={SCREEN_H}", "--xwayland", f"--socket={self.socket}",
                 "--idle-time=0", f"--log={self.log_path}"],
                env=env, stdin=subprocess.DEVNULL, stdout=err, stderr=subprocess.STDOUT,
                preexec_fn=_stop_with_parent)
        try:
            def listening():
                check(self.proc.poll() is None, f"weston ended with status {self.proc.returncode}")
                m = re.search(r"xserver listening on display (:\d+)", read_file(self.log_path)
                              .decode(errors="replace"))
                return m.group(1) if m else None
            self.display = wait_until(listening, 30.0, interval=0.05,
                                      what="weston's Xwayland display")
        except BaseException:
            self.stop()
            raise
        log(f"weston {self.proc.pid}: Wayland socket {self.socket}, Xwayland on {self.display}")
        return self

    def env(self):
        env = dict(os.environ)
        env.update(DISPLAY=self.display, WAYLAND_DISPLAY=self.socket,
                   XDG_RUNTIME_DIR=self.runtime_dir)
        return env

    def stop(self):
        stop_process(self.proc, 10)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    def __exit__(self, *exc):
        self.stop()
        return False


def case_wayland(args, assets):
    with Session(args, "wayland") as s:
        weston = s.enter_context(Weston(s.out))
        env = weston.env()
        # Xwayland's root window holds no picture: screenshots are of the
        # game's own window.
        s.use_display(env, Screen(env, s.out))
        game = s.start_game(WAYLAND_DISPLAY=weston.socket, XDG_RUNTIME_DIR=weston.runtime_dir)
        geometry = window_geometry(env, game.window)
        check(geometry[2:] == (SCREEN_W, SCREEN_H),
              f"the game's window on Xwayland is {geometry[2]}x{geometry[3]}")
        s.screen.window = game.window
        s.save(wait_selection(s, game, assets, 0, timeout=20), "menu")
        s.keys.tap("Down")
        s.save(wait_selection(s, game, assets, 1), "menu_hiscore_lit")
        s.keys.tap("Up")
        wait_selection(s, game, assets, 0)
        s.keys.tap("space")

        def ship_home():
            shot = s.grab(game)
            return shot if shows(shot, assets.ship, *SHIP_START) and \
                menu_selection(shot, assets) is None else None

        s.save(wait_until(ship_home, 20.0, interval=0.02, what="the ship after Space"), "play")
        s.keys.down("Escape")
        expect_exit(game, "Escape in play under Wayland")
        s.keys.up("Escape")


# --------------------------------------------------------------------------
# A real sound server


class PulseServer:
    """A PulseAudio daemon of the test's own: private runtime, home and
    configuration, a unix socket that takes anonymous clients, one null sink at
    the game's own format (so its monitor gives back the samples as mixed),
    no autospawn for any client.  Runs as whoever runs the test: as root
    PulseAudio warns and works."""

    def __init__(self, out_dir):
        self.out_dir = out_dir
        self.proc = None
        self.dir = tempfile.mkdtemp(prefix="quorvane-pulse-")
        os.chmod(self.dir, 0o700)
        self.socket = os.path.join(self.dir, "native")
        self.client_conf = os.path.join(self.dir, "client.conf")
        with open(self.client_conf, "w") as f:
            f.write("autospawn = no\n")

    def env(self, base=None):
        env = dict(base or os.environ)
        env.update(XDG_RUNTIME_DIR=self.dir, PULSE_SERVER=f"unix:{self.socket}",
                   PULSE_CLIENTCONFIG=self.client_conf,
                   PULSE_COOKIE=os.path.join(self.dir, "cookie"))
        return env

    def tool_env(self):
        return self.env(dict(os.environ, HOME=self.dir,
                             XDG_CONFIG_HOME=os.path.join(self.dir, "config")))

    def start(self):
        log_path = os.path.join(self.out_dir, "pulseaudio.log")
        with open(log_path, "ab") as log_file:
            self.proc = subprocess.Popen(
                ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                 "--use-pid-file=no", "--disallow-exit", "--log-target=stderr",
                 f"--load=module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
                 f"--load=module-null-sink sink_name=quorvane rate={RATE} format=s16le "
                 "channels=2"],
                env=self.tool_env(), stdin=subprocess.DEVNULL, stdout=log_file,
                stderr=subprocess.STDOUT, preexec_fn=_stop_with_parent)

        def answers():
            check(self.proc.poll() is None,
                  f"pulseaudio ended with status {self.proc.returncode} (see {log_path})")
            return self.pactl("info", check_ok=False) is not None

        wait_until(answers, 30.0, interval=0.1, what="the PulseAudio daemon to answer")
        log(f"pulseaudio {self.proc.pid} serves {self.socket}")
        # A silent stream keeps the null sink running, as a desktop's sink runs
        # while anything plays.  From cold the null sink gives its monitor
        # nothing until 0.6 to 1.5 s after the first stream starts, with any
        # client (paplay too): that would be timed against the game.  Silence
        # adds nothing to the game's samples, which stay exact.
        self.silence = subprocess.Popen(
            ["pacat", "--playback", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=2",
             "--latency-msec=20", "/dev/zero"], env=self.tool_env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_stop_with_parent)
        wait_until(lambda: self.streams(), 20.0, interval=0.05, what="the silent stream to play")
        self.idle_streams = len(self.streams())
        return self

    def pactl(self, *args, check_ok=True):
        r = subprocess.run(["pactl", *args], env=self.tool_env(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=20)
        if r.returncode != 0:
            check(not check_ok, f"pactl {' '.join(args)}: {r.stderr.decode(errors='replace')}")
            return None
        return r.stdout.decode(errors="replace")

    def streams(self):
        return [line for line in (self.pactl("list", "short", "sink-inputs") or "").splitlines()
                if line.strip()]

    def game_stream(self):
        """True once a stream besides the silent one plays on the sink."""
        return len(self.streams()) > self.idle_streams

    def kill(self):
        self.proc.kill()
        self.proc.wait()

    def stop(self):
        for proc in (getattr(self, "silence", None), self.proc):
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
        return False


class Recorder:
    """parec on the null sink's monitor, raw S16LE stereo at 44100 Hz."""

    def __init__(self, server, path):
        self.server = server
        self.path = path
        self.proc = None

    def __enter__(self):
        with open(self.path, "wb") as out:
            self.proc = subprocess.Popen(
                ["parec", "-d", "quorvane.monitor", "--format=s16le", f"--rate={RATE}",
                 "--channels=2", "--raw", "--latency-msec=20"],
                env=self.server.tool_env(), stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.DEVNULL, preexec_fn=_stop_with_parent)

        def recording():
            check(self.proc.poll() is None, f"parec ended with status {self.proc.returncode}")
            return len(self.raw()) > 0

        wait_until(recording, 20.0, interval=0.05, what="parec to record the monitor")
        return self

    def raw(self):
        data = read_file(self.path)
        return data[:len(data) - len(data) % BYTES_PER_FRAME]

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        return False


def x_session(s):
    x = s.enter_context(Xvfb(os.path.join(s.out, "xvfb.log")))
    s.use_display(x.env(), Screen(x.env(), s.out))
    return x


def cut_track(workdir, seconds, dest):
    """A copy of the data set in dest whose music is the first `seconds` of
    the track: its MPEG frames up to there, whole."""
    data = os.path.join(dest, "data")
    os.makedirs(data)
    for name in os.listdir(os.path.join(workdir, "data")):
        if name != "tavik-shootemup.mp3":
            os.symlink(os.path.join(workdir, "data", name), os.path.join(data, name))
    with open(os.path.join(workdir, "data", "tavik-shootemup.mp3"), "rb") as f:
        mp3 = f.read()
    # Frame boundaries from the headers the harness reads for the length.
    _, rate, frames = mp3_duration(os.path.join(workdir, "data", "tavik-shootemup.mp3"))
    keep = int(seconds * rate / 1152)
    # The generator writes bare MPEG-1 layer III frames from the first byte
    # on (no tag): walk the chain of frames, each at the previous one's start
    # plus its length.
    chain = []
    pos = 0
    bitrates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    while pos + 4 <= len(mp3) and len(chain) <= keep:
        h = int.from_bytes(mp3[pos:pos + 4], "big")
        check((h >> 21) & 0x7FF == 0x7FF and (h >> 19) & 3 == 3 and (h >> 17) & 3 == 1,
              "the track is not MPEG-1 layer III throughout")
        length = 144 * bitrates[(h >> 12) & 15] * 1000 // rate + ((h >> 9) & 1)
        chain.append(pos)
        pos += length
    check(len(chain) > keep, f"the track is shorter than {seconds} s")
    with open(os.path.join(data, "tavik-shootemup.mp3"), "wb") as f:
        f.write(mp3[:chain[keep]])
    length, _, n = mp3_duration(os.path.join(data, "tavik-shootemup.mp3"))
    log(f"cut track: {n} of {frames} frames, {length:.3f} s")
    return length


def underruns(raw, begin, end):
    """Frames of digital silence from frame begin to end in runs of 2 ms or
    more.  The track has none: on a sound server they are the server's
    padding of a stream that ran dry on a busy machine, after which the
    stream goes on where it was."""
    least = RATE // 500
    count = 0
    for m in re.finditer(rb"(?:\0\0\0\0){%d,}" % least, raw[begin * BYTES_PER_FRAME:end * BYTES_PER_FRAME]):
        count += (m.end() - m.start()) // BYTES_PER_FRAME
    return count


def find_restart(raw, start, length):
    """How many frames of the track's own sound (underruns left out) after
    it began at frame start the track begins again, within half a second of
    its length: told by the first of ten 20 ms pieces of its opening found
    that much later, sample for sample (an underrun may cut any one of
    them), or None."""
    piece = RATE // 50
    for k in range(10):
        at = start + e2e.OPENING_SKIP + k * piece
        if underruns(raw, at, at + piece):
            continue
        pattern = raw[at * BYTES_PER_FRAME:(at + piece) * BYTES_PER_FRAME]
        found = e2e.find_frames(raw, pattern, at + 1)
        while found is not None:
            # The piece came again this much of the track's own sound later.
            since = found - at - underruns(raw, at, found)
            if since > (length + 0.5) * RATE:
                break
            if since >= (length - 0.5) * RATE:
                return since
            found = e2e.find_frames(raw, pattern, found + 1)
    return None


def case_pulse(args, assets):
    window = RATE // 20
    with Session(args, "pulse") as s:
        x_session(s)
        pulse = s.enter_context(PulseServer(s.out)).start()

        # 1. The real track: the game finds the server by itself and its
        # music is heard on the sink's monitor within the disk-driver test's
        # bounds.
        rec = s.enter_context(Recorder(pulse, os.path.join(s.out, "monitor_start.raw")))
        game = s.start_game(SDL_AUDIODRIVER=None, **pulse.env({}))
        wait_until(pulse.game_stream, 10.0, what="the game's stream on the sound server")
        log(f"the game's stream: {pulse.streams()}")

        def audible():
            game.expect_running()
            raw = rec.raw()
            at = first_sound(raw, RMS_FLOOR, window)
            return (raw, at) if at is not None else None

        raw, at = wait_until(audible, 10.0, interval=0.01, what="audible music on the monitor")
        heard = time.monotonic()
        # The game's first sample that is not silence; the music must be
        # audible within a second of it, as in the disk driver's output.
        begun = first_nonzero(raw)
        into = max(0, at - begun) / RATE
        log(f"music audible {heard - game.window_seen:.2f} s after the window appeared "
            f"(RMS {rms(raw, at, window):.0f}), {into:.3f} s after the game's first sound")
        check(heard - game.window_seen < e2e.HEARD_WITHIN,
              f"the music was heard {heard - game.window_seen:.2f} s after the window appeared")
        check(into < 1.0, f"the first audible music is {into:.2f} s into the game's sound")
        e2e.wait_selection(s, game, assets, 0, timeout=10)
        game.stop()

        # 2. A copy of the data with the track cut short: it must start again
        # from its beginning, sample for sample, at its end.
        work = tempfile.mkdtemp(prefix="quorvane-cut-")
        s.callback(shutil.rmtree, work, True)
        length = cut_track(args.workdir, 5.0, work)
        rec = s.enter_context(Recorder(pulse, os.path.join(s.out, "monitor_loop.raw")))
        game = s.start_game(workdir=work, SDL_AUDIODRIVER=None, **pulse.env({}))
        need = int((length + 2.5) * RATE)
        music = {}

        def enough():
            game.expect_running()
            raw = rec.raw()
            if "start" not in music:
                start = first_nonzero(raw)
                if start is None:
                    return False
                music["start"] = start
            return len(raw) // BYTES_PER_FRAME >= music["start"] + need

        wait_until(enough, 60.0, interval=0.1, what=f"{length + 2.5:.1f} s of music on the monitor")
        raw = rec.raw()
        start = music["start"]
        looped = [rms(raw, start + int((length + t) * RATE), RATE // 2) for t in (0.5, 1.0, 1.5)]
        log(f"RMS of 0.5 s windows past the cut track's end ({length:.2f} s) +0.5/+1.0/+1.5 s: "
            f"{[round(v) for v in looped]}")
        check(all(v > RMS_FLOOR for v in looped),
              f"silence after the track's end: RMS {[round(v) for v in looped]}")
        found = find_restart(raw, start, length)
        check(found is not None, f"the track does not start again, sample for sample, about {length:.2f} s "
                                 "of its sound after it began")
        log(f"the track starts again {found / RATE:.3f} s of its sound after it began (its length "
            f"{length:.3f} s; {underruns(raw, start, len(raw) // BYTES_PER_FRAME) / RATE:.3f} s of "
            "underruns recorded)")
        os.remove(rec.path)


def thread_cpu(pid):
    """CPU seconds used so far by each thread of a process: {tid: (name, s)}."""
    ticks = os.sysconf("SC_CLK_TCK")
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        with contextlib.suppress(OSError):
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                text = f.read()
            name = text[text.index("(") + 1:text.rindex(")")]
            fields = text[text.rindex(")") + 2:].split()
            out[tid] = (name, (int(fields[11]) + int(fields[12])) / ticks)
    return out


def cpu_shares(pid, seconds):
    """Each thread's CPU time over `seconds` of wall time, as a share of it."""
    a = thread_cpu(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    b = thread_cpu(pid)
    wall = time.monotonic() - t0
    return {tid: (name, (used - a.get(tid, (name, 0.0))[1]) / wall)
            for tid, (name, used) in b.items()}


def keeps_drawing(s, game, seconds):
    """Screenshots over `seconds` that all differ from the one before."""
    shots = [s.grab(game)]
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        time.sleep(0.5)
        shot = s.grab(game)
        check(shot.rgb8 != shots[-1].rgb8, "the screen stopped changing: the game no longer draws")
        shots.append(shot)
    return shots


def case_pulse_lost(args, assets):
    with Session(args, "pulse_lost") as s:
        x_session(s)
        pulse = s.enter_context(PulseServer(s.out)).start()
        rec = s.enter_context(Recorder(pulse, os.path.join(s.out, "monitor.raw")))
        game = s.start_game(SDL_AUDIODRIVER=None, **pulse.env({}))
        wait_until(pulse.game_stream, 10.0, what="the game's stream on the sound server")
        e2e.wait_selection(s, game, assets, 0, timeout=15)
        wait_until(lambda: first_sound(rec.raw(), RMS_FLOOR, RATE // 20) is not None, 10.0,
                   what="audible music on the monitor")
        s.keys.tap("space")
        wait_until(lambda: shows(s.grab(game), assets.ship, *SHIP_START), 10.0,
                   what="the ship of a new game")
        before = cpu_shares(game.proc.pid, 3.0)
        log("threads' CPU share before: " +
            ", ".join(f"{n} {v:.2f}" for n, v in before.values()))

        pulse.kill()
        log("the sound server was killed (SIGKILL)")
        shots = keeps_drawing(s, game, 4.0)
        s.save(shots[0], "after_kill_first")
        s.save(shots[-1], "after_kill_last")
        after = cpu_shares(game.proc.pid, 3.0)
        log("threads' CPU share after: " + ", ".join(f"{n} {v:.2f}" for n, v in after.values()))
        main = str(game.proc.pid)
        for tid, (name, share) in after.items():
            if tid == main:
                # The loop draws as before: no more than it took with sound.
                was = before.get(tid, (name, 0.0))[1]
                check(share < max(2 * was, 0.3), f"the main thread took {share:.2f} of a core "
                                                 f"after the server went, {was:.2f} before")
            else:
                check(share < 0.5, f"thread {name} ({tid}) spins: {share:.2f} of a core after "
                                   "the sound server went")
        keeps_drawing(s, game, 1.0)
        s.keys.down("Escape")
        expect_exit(game, "Escape after the sound server went")
        s.keys.up("Escape")
        log(f"stderr: {game.stderr().strip()!r}")


def case_pulse_none(args, assets):
    with Session(args, "pulse_none") as s:
        x_session(s)
        pulse = s.enter_context(PulseServer(s.out))     # never started: no daemon
        # No card either, wherever the test runs: ALSA with an empty
        # configuration knows no device.
        empty = os.path.join(pulse.dir, "alsa.conf")
        open(empty, "w").close()
        game = s.start_game(SDL_AUDIODRIVER=None, ALSA_CONFIG_PATH=empty, **pulse.env({}))
        s.save(e2e.wait_selection(s, game, assets, 0, timeout=15), "menu")
        said = game.stderr()
        check(re.search(r"^Warning: (Audio could not be setup|unable to initialize audio)", said,
                        re.M), f"no warning about the sound: {said.strip()!r}")
        log(f"stderr: {said.strip()!r}")
        s.keys.tap("space")
        shot = wait_until(lambda: (lambda f: f if shows(f, assets.ship, *SHIP_START) else None)(
            s.grab(game)), 10.0, what="the ship of a new game")
        s.save(shot, "play")
        keeps_drawing(s, game, 2.0)
        s.keys.down("Escape")
        expect_exit(game, "Escape in a silent game")
        s.keys.up("Escape")


CASES = {
    "screen": case_screen,
    "wayland": case_wayland,
    "pulse": case_pulse,
    "pulse_lost": case_pulse_lost,
    "pulse_none": case_pulse_none,
}

TOOLS = {
    "screen": (("Xvfb", "xvfb"), ("openbox", "openbox"), ("xprop", "x11-utils"),
               ("convert", "imagemagick")),
    "wayland": (("weston", "weston"), ("Xwayland", "xwayland")),
    "pulse": (("pulseaudio", "pulseaudio"), ("pactl", "pulseaudio-utils"),
              ("parec", "pulseaudio-utils")),
}
TOOLS["pulse_lost"] = TOOLS["pulse_none"] = TOOLS["pulse"]


def main():
    args = case_arguments(__doc__, CASES, lambda parser: parser.add_argument(
        "--size", default="1920x1080", help="the screen for the screen case"))
    args.size = tuple(int(v) for v in args.size.split("x"))
    return run_case(CASES[args.case], args, e2e.X_TOOLS + TOOLS.get(args.case, ()),
                    lambda: e2e.load_assets(args.workdir))


if __name__ == "__main__":
    sys.exit(main())

"""Plumbing for the end-to-end tests: a private Xvfb server, the game process,
key presses through xdotool, screenshots through ImageMagick's `import`, BMP and
PNG files, and raw audio.  Python standard library only.

Every colour comparison is done in the screen's own 5-6-5 terms: the game draws
on a 16 bits per pixel surface, so an image file is reduced the way the library
reduces it (the low bits dropped) and a screenshot is reduced back from the 8 or
16 bits per channel that `import` hands out.
"""

import argparse
import array
import atexit
import ctypes
import math
import os
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

# The game's src/, where the numbers it plays by are kept.
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")


class Constants(dict):
    """Numbers read from the game's sources; a name not among them stops the test."""

    def __init__(self, files):
        super().__init__()
        self.files = files

    def __missing__(self, name):
        raise SystemExit(f"{name} is not among the numbers of src/{', src/'.join(self.files)}")


def read_constants(*files):
    """Every `int name = number;` and `int name[] = {numbers};`, constexpr or
    not, of these files of src/: the game's own values, so that a test follows
    the game when one changes."""
    found = Constants(files)
    for name in files:
        with open(os.path.join(SOURCE, name), encoding="utf-8") as f:
            text = f.read()
        for key, value in re.findall(r"^\s*(?:constexpr\s+)?int\s+(\w+)\s*=\s*(-?\d+);", text, re.M):
            found[key] = int(value)
        for key, values in re.findall(r"^\s*(?:constexpr\s+)?int\s+(\w+)\[\d*\]\s*=\s*\{([-\d,\s]+)\};",
                                      text, re.M):
            found[key] = tuple(int(v) for v in values.split(","))
    return found


_SCREEN = read_constants("game.h")
SCREEN_W = _SCREEN["screen_width"]
SCREEN_H = _SCREEN["screen_height"]


class Failure(Exception):
    """A check that did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print(f"[{time.monotonic() - _T0:7.3f}] {message}", flush=True)


_T0 = time.monotonic()


def _terminate_on_exit(signum, frame):
    raise SystemExit(f"stopped by signal {signum}")


def install_signal_handlers():
    """A test stopped from outside (ctest's timeout, Ctrl-C) still runs its
    clean-up blocks, so no Xvfb or game is left behind."""
    signal.signal(signal.SIGTERM, _terminate_on_exit)
    signal.signal(signal.SIGINT, _terminate_on_exit)
    signal.signal(signal.SIGHUP, _terminate_on_exit)


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _stop_with_parent():
    # Should this script be killed outright (SIGKILL, a test timeout), the
    # kernel stops the child too.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def _kill_with_parent():
    # The game is killed outright: its X server goes at the same moment, and a
    # game that loses its server mid-frame may never finish on its own.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def fresh_folder(path):
    """The folder at path, made or emptied: a case's outputs, none left from before."""
    os.makedirs(path, exist_ok=True)
    for old in os.listdir(path):
        inside = os.path.join(path, old)
        shutil.rmtree(inside) if os.path.isdir(inside) else os.remove(inside)
    return path


def stop_process(proc, grace):
    """Asks a process started here to end, then insists after grace seconds."""
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def case_arguments(doc, cases, extra=None):
    """The command line of a suite's script: where the game, its build and the
    outputs are, the options extra() adds, and the case to run."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--game", required=True, help="the quorvane executable")
    parser.add_argument("--workdir", required=True, help="the build directory (holds data/)")
    parser.add_argument("--out", required=True, help="where screenshots and logs go")
    if extra is not None:
        extra(parser)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    for name in ("game", "workdir", "out"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def run_case(case, args, tools, setup):
    """Runs one case of a suite from its main(): the case gets args and what
    setup() returns; tools are the (program, Debian package) pairs it needs.
    The exit status: 0 when every check held."""
    install_signal_handlers()
    os.makedirs(args.out, exist_ok=True)
    started = time.monotonic()
    try:
        missing = sorted({package for tool, package in tools if not shutil.which(tool)})
        check(not missing, f"missing tools: install the Debian packages {' '.join(missing)}")
        case(args, setup())
    except Failure as failure:
        log(f"FAILED: {failure}")
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    log(f"{args.case} passed in {time.monotonic() - started:.1f} s")
    return 0


def wait_until(predicate, timeout, interval=0.02, what="condition"):
    """Polls predicate() until it returns something truthy; returns that value.
    Raises Failure when the deadline passes."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


# --------------------------------------------------------------------------
# Processes


class Xvfb:
    """An X server of our own.  The display number is drawn at random from a
    high range, away from the :0 and :99 that other tools take by default (a
    client of theirs must never reach our game), and Xvfb's lock file decides:
    a number in use makes the server exit and the next number is tried.  The
    server reports readiness by writing its number to a pipe (-displayfd)."""

    def __init__(self, log_path, size=(SCREEN_W, SCREEN_H)):
        self.log_path = log_path
        self.size = size
        self.proc = None
        self.display = None

    def __enter__(self):
        numbers = random.Random().sample(range(200, 2000), 40)
        for number in numbers:
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(
                    f"/tmp/.X11-unix/X{number}"):
                continue
            if self._start(number):
                log(f"Xvfb {self.proc.pid} serves display {self.display}")
                return self
        raise Failure(f"no Xvfb could be started (see {self.log_path})")

    def _start(self, number):
        read_end, write_end = os.pipe()
        log_file = open(self.log_path, "ab")
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0",
                 f"{self.size[0]}x{self.size[1]}x16", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log_file,
                stderr=subprocess.STDOUT, preexec_fn=_stop_with_parent)
        finally:
            os.close(write_end)
            log_file.close()
        try:
            text = b""
            deadline = time.monotonic() + 15
            while not text.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"Xvfb did not report ready within 15 s (see {self.log_path})")
                ready, _, _ = select.select([read_end], [], [], min(left, 0.5))
                if ready:
                    chunk = os.read(read_end, 64)
                    if not chunk:
                        break         # it exited: the number is taken
                    text += chunk
                elif self.proc.poll() is not None:
                    break
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
        if not text.endswith(b"\n"):
            self.stop()
            return False
        self.display = ":" + text.decode().strip()
        return True

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def stop(self):
        stop_process(self.proc, 5)

    def __exit__(self, *exc):
        self.stop()
        return False


def root_property(env, name):
    """A property of the root window as xprop prints it, or "" when unset."""
    r = subprocess.run(["xprop", "-root", name], env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=10)
    text = r.stdout.decode(errors="replace")
    return "" if r.returncode != 0 or "not found" in text or "no such atom" in text else text


class Openbox:
    """Debian's openbox as the window manager of a display, as on a player's
    desktop.  Ready once it has announced itself on the root window and
    mapped a window of ours."""

    def __init__(self, env, log_path):
        self.env = env
        self.log_path = log_path
        self.proc = None

    def __enter__(self):
        # Its own configuration folders, so no one's settings change the test.
        self.home = tempfile.mkdtemp(prefix="quorvane-wm-")
        env = dict(self.env, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                   XDG_CACHE_HOME=os.path.join(self.home, "cache"))
        with open(self.log_path, "ab") as log_file:
            self.proc = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                         stdin=subprocess.DEVNULL, stdout=log_file,
                                         stderr=subprocess.STDOUT, preexec_fn=_stop_with_parent)
        try:
            def announced():
                check(self.proc.poll() is None,
                      f"openbox ended with status {self.proc.returncode} (see {self.log_path})")
                return "window id" in root_property(self.env, "_NET_SUPPORTING_WM_CHECK")
            wait_until(announced, 30.0, interval=0.05, what="openbox to manage the display")
            self.manage_a_probe()
        except BaseException:
            self.stop()
            raise
        log(f"openbox {self.proc.pid} manages the display")
        return self

    def manage_a_probe(self):
        """Openbox announces itself before its event loop runs, and a window
        mapped in between may never be managed: SDL2 then waits for its window
        to be mapped forever (the root window also keeps the announcement of
        an openbox that ran before).  Ready once a window of our own is in its
        list of the windows it manages; a probe lost that way is replaced."""
        deadline = time.monotonic() + 30.0
        while True:
            probe = subprocess.Popen(["xmessage", "-name", "quorvane-wm-probe", "probe"], env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, preexec_fn=_stop_with_parent)
            try:
                def managed():
                    check(self.proc.poll() is None, f"openbox ended with status {self.proc.returncode}")
                    found = subprocess.run(["xdotool", "search", "--classname", "quorvane-wm-probe"],
                                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                    listed = re.findall(r"0x[0-9a-f]+", root_property(self.env, "_NET_CLIENT_LIST"))
                    return any(int(w, 16) in map(int, found.stdout.split()) for w in listed)
                try:
                    wait_until(managed, 3.0, interval=0.02, what="openbox to manage a window")
                    return
                except Failure:
                    if time.monotonic() > deadline:
                        raise
                    log("openbox did not manage the probe window: another one")
            finally:
                stop_process(probe, 5)

    def stop(self):
        stop_process(self.proc, 5)
        shutil.rmtree(self.home, ignore_errors=True)

    def __exit__(self, *exc):
        self.stop()
        return False


_home = None


def private_home():
    """A home folder of its own for every game this process starts: the game
    keeps its player data under XDG_DATA_HOME, and the libraries under it
    write caches and settings (the GL shader cache, the sound server's
    cookie): a test must never touch a real home."""
    global _home
    if _home is None:
        _home = tempfile.mkdtemp(prefix="quorvane-home-")
        atexit.register(shutil.rmtree, _home, True)
    return {"HOME": _home, "XDG_DATA_HOME": os.path.join(_home, "data"),
            "XDG_CONFIG_HOME": os.path.join(_home, "config"),
            "XDG_CACHE_HOME": os.path.join(_home, "cache")}


def game_environment(base, **extra):
    """The environment the game runs in: no sound card needed unless asked,
    a private home (player data included)."""
    env = dict(base)
    for name in ("SDL_VIDEODRIVER", "WAYLAND_DISPLAY", "SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE",
                 "SDL_DISKAUDIODELAY"):
        env.pop(name, None)
    env["SDL_AUDIODRIVER"] = "dummy"
    env.update(private_home())
    for name, value in extra.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


class Game:
    """The real quorvane executable (or another program, with args), run from
    the build directory so that its data/ resolves; standard output and error
    go to files under the output directory. With tied=False it is not killed
    by the kernel when this process dies, and so starts without Python's slow
    fork path (tens of milliseconds on a busy machine): for a start-up timing,
    whose program must then see to that itself."""

    def __init__(self, exe, workdir, env, out_dir, name, args=(), tied=True):
        self.exe = exe
        self.args = list(args)
        self.tied = tied
        self.workdir = workdir
        self.env = env
        self.stdout_path = os.path.join(out_dir, f"{name}.stdout.txt")
        self.stderr_path = os.path.join(out_dir, f"{name}.stderr.txt")
        self.proc = None
        self.started = None

    def __enter__(self):
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.started = time.monotonic()
            self.proc = subprocess.Popen([self.exe, *self.args], cwd=self.workdir, env=self.env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                         preexec_fn=_kill_with_parent if self.tied else None)
        log(f"game {self.proc.pid} started")
        return self

    def running(self):
        return self.proc.poll() is None

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def expect_running(self):
        if not self.running():
            raise Failure(f"the game ended early with status {self.proc.returncode}; "
                          f"stderr: {self.stderr().strip()!r}")

    def wait_exit(self, timeout):
        """Status, or None when the game is still running at the deadline."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        stop_process(self.proc, 3)

    def __exit__(self, *exc):
        self.stop()
        return False


def sdl_runtime(pid):
    """Which SDL 1.2 runtime a running process has loaded: ("compat", path) for
    sdl12-compat (the 1.2 API over SDL2), ("classic", path) for SDL 1.2.15."""
    with open(f"/proc/{pid}/maps") as f:
        paths = {line.split()[-1] for line in f if "libSDL-1.2.so" in line}
    check(len(paths) == 1, f"process {pid} has loaded {sorted(paths) or 'no'} SDL 1.2 library")
    path = paths.pop()
    with open(path, "rb") as f:
        compat = b"SDL12COMPAT" in f.read()
    return ("compat" if compat else "classic"), path


def expect_runtime(game):
    """The runtime the game loaded must be the one the test was registered
    for (QUORVANE_E2E_RUNTIME), or a classic-runtime test could pass on the
    compat one unnoticed."""
    runtime, path = sdl_runtime(game.proc.pid)
    log(f"SDL 1.2 runtime: {runtime} ({path})")
    wanted = os.environ.get("QUORVANE_E2E_RUNTIME")
    check(wanted in (None, "", runtime),
          f"the game runs on the {runtime} runtime ({path}), not the {wanted} one")
    return runtime


# --------------------------------------------------------------------------
# Keyboard


class Keyboard:
    """XTEST key events through xdotool, to the window that has the focus (the
    game's full-screen window: there is no window manager, the focus follows
    the pointer, and the window covers the whole screen)."""

    def __init__(self, env):
        self.env = env

    def _run(self, *args):
        r = subprocess.run(["xdotool", *args], env=self.env, timeout=10,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
        check(r.returncode == 0,
              f"xdotool {' '.join(args)} failed: {r.stderr.decode(errors='replace').strip()}")

    def tap(self, key):
        # Press and release in one go, with no pause between: the game repeats
        # a key held for 10 ms.
        self._run("keydown", "--delay", "0", key, "keyup", "--delay", "0", key)

    def down(self, key):
        self._run("keydown", "--delay", "0", key)

    def up(self, key):
        self._run("keyup", "--delay", "0", key)

    def up_all(self, keys):
        args = []
        for key in keys:
            args += ["keyup", "--delay", "0", key]
        self._run(*args)


def find_window(env, title, timeout):
    def search():
        r = subprocess.run(["xdotool", "search", "--name", f"^{title}$"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        ids = r.stdout.split()
        return ids[0].decode() if ids else None
    return wait_until(search, timeout, interval=0.05, what=f"a window named {title!r}")


def input_focus(env):
    """The window that has the keyboard focus, as xdotool names windows; None
    when the focus is the root or follows the pointer."""
    r = subprocess.run(["xdotool", "getwindowfocus", "-f"], env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=10)
    text = r.stdout.decode().strip()
    return text if r.returncode == 0 and text not in ("", "0", "1") else None


def window_geometry(env, window):
    r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                       stdout=subprocess.PIPE, check=True, timeout=10)
    values = dict(line.split("=", 1) for line in r.stdout.decode().split())
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


# --------------------------------------------------------------------------
# Images in 5-6-5 terms


def _nearest_table(maxval, bits):
    """Maps the high byte of a channel sample (0..maxval) to the nearest level
    of a `bits`-bit channel."""
    top = (1 << bits) - 1
    table = bytearray(256)
    step = 256 if maxval > 255 else 1
    for hi in range(256):
        value = hi * step + (step // 2 if step > 1 else 0)
        table[hi] = min(top, int(value * top / maxval + 0.5))
    return bytes(table)


class Image:
    """Pixels as three planes of 5-6-5 levels (red 0..31, green 0..63, blue
    0..31), one byte each; `key` marks transparent pixels when present."""

    def __init__(self, width, height, red, green, blue, key=None, rgb8=None):
        self.w = width
        self.h = height
        self.r = red
        self.g = green
        self.b = blue
        self.key = key
        self.rgb8 = rgb8

    def at(self, x, y):
        i = y * self.w + x
        return (self.r[i], self.g[i], self.b[i])

    def opaque(self, x, y):
        return self.key is None or not self.key[y * self.w + x]

    def row(self, y, x0, x1):
        i = y * self.w
        return (self.r[i + x0:i + x1], self.g[i + x0:i + x1], self.b[i + x0:i + x1])

    def opaque_pixels(self):
        """(x, y, colour) of every non-transparent pixel."""
        out = []
        for y in range(self.h):
            for x in range(self.w):
                if self.opaque(x, y):
                    out.append((x, y, self.at(x, y)))
        return out


def rgb565(red, green, blue):
    """An 8-bit colour as the library stores it on a 16-bit screen."""
    return (red >> 3, green >> 2, blue >> 3)


_DROP3 = bytes(v >> 3 for v in range(256))
_DROP2 = bytes(v >> 2 for v in range(256))


def _equals(level):
    return bytes(1 if v == level else 0 for v in range(256))


def load_bmp(path, key_colour=None):
    """Reads an uncompressed (or bit-field) Windows BMP of 1, 4, 8, 16, 24 or 32
    bits per pixel.  Pixels equal to key_colour after reduction to 5-6-5 are
    marked transparent, as the library's colour key does on the screen."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:2] == b"BM", f"{path} is not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size = struct.unpack_from("<I", data, 14)[0]
    if header_size == 12:
        width, height, _, bpp = struct.unpack_from("<HHHH", data, 18)
        compression = 0
        palette_entry = 3
        colours_used = 0
    else:
        width, height, _, bpp, compression = struct.unpack_from("<iiHHI", data, 18)
        colours_used = struct.unpack_from("<I", data, 46)[0]
        palette_entry = 4
    top_down = height < 0
    height = abs(height)
    check(compression in (0, 3), f"{path}: compression {compression} is not supported here")
    masks = None
    if compression == 3:
        masks = struct.unpack_from("<III", data, 54)
    elif bpp == 16:
        masks = (0x7C00, 0x03E0, 0x001F)
    elif bpp == 32:
        masks = (0xFF0000, 0x00FF00, 0x0000FF)
    palette = []
    if bpp <= 8:
        count = colours_used or (1 << bpp)
        start = 14 + header_size
        for i in range(count):
            b, g, r = data[start + i * palette_entry:start + i * palette_entry + 3]
            palette.append((r, g, b))
    stride = ((width * bpp + 31) // 32) * 4

    def channel(value, mask):
        shift = (mask & -mask).bit_length() - 1
        top = mask >> shift
        return ((value & mask) >> shift) * 255 // top if top else 0

    rgb = bytearray(width * height * 3)
    for y in range(height):
        src_row = y if top_down else height - 1 - y
        base = offset + src_row * stride
        o = y * width * 3
        if bpp == 24 or (bpp == 32 and masks == (0xFF0000, 0x00FF00, 0x0000FF)):
            step = bpp // 8
            line = data[base:base + width * step]
            rgb[o:o + width * 3:3] = line[2::step]
            rgb[o + 1:o + width * 3:3] = line[1::step]
            rgb[o + 2:o + width * 3:3] = line[0::step]
            continue
        for x in range(width):
            if bpp in (16, 32):
                value = (struct.unpack_from("<H", data, base + 2 * x)[0] if bpp == 16
                         else struct.unpack_from("<I", data, base + 4 * x)[0])
                r, g, b = (channel(value, m) for m in masks)
            else:
                bit = x * bpp
                byte = data[base + bit // 8]
                index = (byte >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
                r, g, b = palette[index]
            rgb[o + 3 * x:o + 3 * x + 3] = bytes((r, g, b))
    rgb = bytes(rgb)
    red = rgb[0::3].translate(_DROP3)
    green = rgb[1::3].translate(_DROP2)
    blue = rgb[2::3].translate(_DROP3)
    key = None
    if key_colour is not None:
        kr, kg, kb = rgb565(*key_colour)
        n = width * height
        hit = (int.from_bytes(red.translate(_equals(kr)), "big") &
               int.from_bytes(green.translate(_equals(kg)), "big") &
               int.from_bytes(blue.translate(_equals(kb)), "big"))
        key = hit.to_bytes(n, "big")
    return Image(width, height, red, green, blue, key, rgb)


class Screen:
    """Takes screenshots of the root window of one X display (or of one
    window, where the root holds no picture, as under Xwayland)."""

    def __init__(self, env, out_dir, size=(SCREEN_W, SCREEN_H), window="root"):
        self.env = env
        self.out_dir = out_dir
        self.size = size
        self.window = window
        self.count = 0
        self._tables = {}

    def grab(self):
        return self.parse(self.grab_ppm(), self.size)

    def grab_ppm(self):
        r = subprocess.run(["import", "-window", self.window, "ppm:-"], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        check(r.returncode == 0, f"import failed: {r.stderr.decode(errors='replace')}")
        self.count += 1
        return r.stdout

    def parse(self, ppm, size):
        return self._parse_ppm(ppm, size)

    def _parse_ppm(self, data, size):
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        pos += 1
        check(fields[0] == b"P6", "import did not produce a binary PPM")
        width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
        check((width, height) == tuple(size), f"the screen is {width}x{height}")
        pixels = data[pos:]
        if maxval > 255:
            # Big-endian 16-bit samples: the high bytes alone tell the levels apart.
            r8, g8, b8 = pixels[0::6], pixels[2::6], pixels[4::6]
        else:
            r8, g8, b8 = pixels[0::3], pixels[1::3], pixels[2::3]
        if maxval not in self._tables:
            self._tables[maxval] = (_nearest_table(maxval, 5), _nearest_table(maxval, 6))
        t5, t6 = self._tables[maxval]
        rgb8 = bytearray(width * height * 3)
        rgb8[0::3] = r8
        rgb8[1::3] = g8
        rgb8[2::3] = b8
        return Image(width, height, r8.translate(t5), g8.translate(t6), b8.translate(t5),
                     rgb8=bytes(rgb8))

    def save(self, shot, name):
        path = os.path.join(self.out_dir, name + ".png")
        write_png(path, shot.w, shot.h, shot.rgb8)
        return path


def write_png(path, width, height, rgb):
    raw = b"".join(b"\x00" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def mismatches(shot, image, x, y, skip=None):
    """Pixels of `image` placed at (x, y) that the screenshot does not show:
    a list of (image_x, image_y).  Transparent pixels are not compared, nor those
    for which skip(screen_x, screen_y) is true.  Parts off the screen are left
    out."""
    bad = []
    x0, x1 = max(0, -x), min(image.w, shot.w - x)
    y0, y1 = max(0, -y), min(image.h, shot.h - y)
    for iy in range(y0, y1):
        if image.key is None and skip is None:
            if shot.row(y + iy, x + x0, x + x1) == image.row(iy, x0, x1):
                continue
        for ix in range(x0, x1):
            if not image.opaque(ix, iy):
                continue
            if skip is not None and skip(x + ix, y + iy):
                continue
            if shot.at(x + ix, y + iy) != image.at(ix, iy):
                bad.append((ix, iy))
    return bad


def shows(shot, image, x, y, skip=None):
    return not mismatches(shot, image, x, y, skip)


# --------------------------------------------------------------------------
# Sound

BYTES_PER_FRAME = 4   # 16-bit samples, two channels
RATE = 44100


def rms(raw, start_frame, frames):
    """Root mean square of both channels of S16LE stereo audio, in sample units."""
    chunk = raw[start_frame * BYTES_PER_FRAME:(start_frame + frames) * BYTES_PER_FRAME]
    samples = array.array("h")
    samples.frombytes(chunk[:len(chunk) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    if not samples:
        return 0.0
    return math.sqrt(sum(v * v for v in samples) / len(samples))


def first_sound(raw, floor, window_frames):
    """First frame of the first window (stepping by half a window) whose RMS is
    above floor, or None."""
    total = len(raw) // BYTES_PER_FRAME
    frame = 0
    while frame + window_frames <= total:
        if rms(raw, frame, window_frames) > floor:
            return frame
        frame += window_frames // 2
    return None


def first_nonzero(raw, start_frame=0):
    """First frame at or after start_frame with a sample that is not zero, or None."""
    tail = raw[start_frame * BYTES_PER_FRAME:]
    rest = len(tail.lstrip(b"\0"))
    if rest == 0:
        return None
    return (len(raw) - rest) // BYTES_PER_FRAME


def mp3_duration(path):
    """Length of an MP3 file in seconds, from its frame headers: the frame count
    times the samples per frame, as a decoder plays it."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 0
    if data[:3] == b"ID3":
        size = ((data[6] & 0x7F) << 21) | ((data[7] & 0x7F) << 14) | ((data[8] & 0x7F) << 7) | (
            data[9] & 0x7F)
        pos = 10 + size + (10 if data[5] & 0x10 else 0)
    bitrates = {   # kbit/s by (MPEG-1 or 2, layer)
        (1, 1): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
        (1, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
        (1, 3): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
        (2, 1): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
        (2, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
    }
    bitrates[(2, 3)] = bitrates[(2, 2)]
    rates = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}
    samples = 0
    sample_rate = None
    frames = 0
    while pos + 4 <= len(data):
        h = struct.unpack_from(">I", data, pos)[0]
        if (h >> 21) & 0x7FF != 0x7FF:
            pos += 1
            continue
        version = (h >> 19) & 3
        layer = 4 - ((h >> 17) & 3)
        bitrate_index = (h >> 12) & 15
        rate_index = (h >> 10) & 3
        padding = (h >> 9) & 1
        if version == 1 or layer == 4 or bitrate_index in (0, 15) or rate_index == 3:
            pos += 1
            continue
        family = 1 if version == 3 else 2
        bitrate = bitrates[(family, layer)][bitrate_index] * 1000
        rate = rates[version][rate_index]
        if layer == 1:
            length = (12 * bitrate // rate + padding) * 4
            per_frame = 384
        else:
            per_frame = 1152 if (layer == 2 or family == 1) else 576
            length = per_frame // 8 * bitrate // rate + padding
        pos += length
        samples += per_frame
        sample_rate = rate
        frames += 1
    check(frames > 0 and sample_rate, f"{path} holds no MPEG audio frames")
    return samples / sample_rate, sample_rate, frames

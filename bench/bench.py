#!/usr/bin/env python3
"""Quorvane's frame-loop benchmark, on both SDL 1.2 runtimes side by side:
each screen's frame rate against the bare loop (clear, wait, flip), heap
allocations per frame and per score image, the real game's first frame with
its steps (also under openbox) and peak memory; with --web, the browser
version beside them in Chromium (also with its CPU slowed four times),
Firefox and WebKitGTK (bench/web/bench.mjs), a column each. See
bench/README.md.
"""

import argparse
import contextlib
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402
from harness import (Failure, Game, Openbox, Xvfb, check, game_environment,  # noqa: E402
                     wait_until)

TARGET_RATIO = 0.97
TARGET_FIRST_FRAME_MS = 150
TARGET_WEB_FIRST_FRAME_MS = 1000  # from navigation, at a first visit
TARGET_SITE_BYTES = 3_000_000
TARGET_SLOW_4G_FIRST_FRAME_MS = 2500  # the web's "good" largest paint
TARGET_LIGHTHOUSE_SCORE = 0.9
STEPS = {  # in order, each named after the stamp that ends it (first_flip.c's, but the first)
    "exec": "fork and exec", "main": "loading the libraries",
    "sdl_init": "SDL_Init", "video_mode": "SDL_SetVideoMode",
    "loaded": "font, audio, images, music", "flip_called": "first frame drawn, 5 ms wait",
    "flipped": "first SDL_Flip"}
# The Debian packages whose versions the figures depend on, named in the report when installed.
PACKAGES = ["libsdl1.2-compat-shim", "libsdl2-2.0-0", "libsdl-mixer1.2", "libsdl-ttf2.0-0", "libgl1-mesa-dri",
            "xvfb", "openbox", "emscripten", "chromium", "firefox-esr", "libwebkit2gtk-4.1-0"]
median = statistics.median


def options():
    p = argparse.ArgumentParser(prog="scripts/bench", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", default=f"{ROOT}/build", help="build directory (default: %(default)s)")
    p.add_argument("--classic", metavar="LIBDIR", help="classic SDL 1.2 (scripts/classic-runtime)")
    p.add_argument("--runtimes", default="compat,classic", help="compat, classic or both (default)")
    p.add_argument("--drivers", default="headless,xvfb", help="headless, xvfb or both (default)")
    p.add_argument("--rounds", type=int, default=11, help="rounds of one block per scene (default 11)")
    p.add_argument("--frames", type=int, default=60, help="frames per block (default 60)")
    p.add_argument("--startup-runs", type=int, default=7, help="timed start-ups per setting (default 7)")
    p.add_argument("--web", metavar="BUILD_WEB", help="also the browser version built there (scripts/web)")
    p.add_argument("--json", help="where the figures go (default: BUILD/bench.json)")
    p.add_argument("--markdown", help="where their table goes (default: BUILD/bench.md)")
    p.add_argument("--report", metavar="JSON", help="print the table of figures written before, measuring nothing")
    o = p.parse_args()
    if o.report:
        return o
    o.runtimes, o.drivers = o.runtimes.split(","), o.drivers.split(",")
    if not set(o.runtimes) <= {"compat", "classic"} or not set(o.drivers) <= {"headless", "xvfb"}:
        p.error("--runtimes takes compat and classic, --drivers headless and xvfb")
    if "classic" in o.runtimes and not o.classic:
        p.error("the classic runtime needs --classic LIBDIR (see scripts/classic-runtime)")
    o.build = os.path.abspath(o.build)
    o.game = os.path.join(o.build, "quorvane")
    o.child = os.path.join(o.build, "bench", "quorvane_bench")
    o.shim = os.path.join(o.build, "bench", "libquorvane_first_flip.so")
    o.json = o.json or os.path.join(o.build, "bench.json")
    o.markdown = o.markdown or os.path.join(o.build, "bench.md")
    o.out = os.path.join(o.build, "bench-out")  # the children's raw figures and logs
    for path in (o.game, o.child, o.shim, os.path.join(o.build, "data")):
        if not os.path.exists(path):
            p.error(f"{path} is missing: build first (cmake --build {o.build})")
    return o


def environment(o, runtime, driver, display, data_home):
    """Every start gets the temporary data folder; classic SDL comes first on the library path."""
    extra = {"XDG_DATA_HOME": data_home}
    if driver == "headless":
        extra.update(SDL_VIDEODRIVER="dummy", DISPLAY=None)
    else:
        extra["DISPLAY"] = display
    if runtime == "classic":
        extra["LD_LIBRARY_PATH"] = ":".join(filter(None, [o.classic, os.environ.get("LD_LIBRARY_PATH")]))
    return game_environment(os.environ, **extra)


def measure_frames(o, runtime, env, name):
    """The measuring child's raw figures, summed up: medians over rounds, counts per frame."""
    path = os.path.join(o.out, name + ".json")
    timeout = 60 + (o.rounds + 1) * o.frames * 3 * 0.05
    with Game(o.child, o.build, env, o.out, name,
              args=["--json", path, "--rounds", str(o.rounds), "--frames", str(o.frames)]) as child:
        status = child.wait_exit(timeout)
        check(status == 0, f"the measuring child ended with status {status}: {child.stderr().strip()}")
    with open(path) as f:
        raw = json.load(f)
    check(raw["runtime"]["sdl12_compat"] == (runtime == "compat"),
          f"asked for the {runtime} runtime, got {raw['runtime'].get('library')}")

    def per_frame(blocks, key):
        return sum(b[key] for b in blocks) / sum(b["frames"] for b in blocks)

    scenes, bare = {}, None  # the first scene is the bare loop
    times = ("work_wall", "work_cpu", "wait", "flip", "poll")
    for scene in raw["scenes"]:
        blocks = scene["blocks"]
        for b in blocks:  # from sums over the block, times in ns, to a rate and means per frame in us
            b.update({t + "_us": b[t] / 1e3 / b["frames"] for t in times},
                     fps=b["frames"] / b["elapsed"] * 1e9)
        s = {key: median(b[key] for b in blocks) for key in ["fps"] + [t + "_us" for t in times]}
        s.update(frame_ms_median=median(scene["frame_ms"]),
                 allocs_per_frame=per_frame(blocks, "allocations"),
                 allocs_per_frame_all_threads=per_frame(blocks, "allocations_all_threads"),
                 busy=all(b["busy"] for b in blocks) if scene["busy_checked"] else None,
                 fps_rounds=[b["fps"] for b in blocks])
        if bare:
            # Against the bare loop of the same round.
            ratios = [b["fps"] / b0 for b, b0 in zip(blocks, bare["fps_rounds"])]
            s.update(fps_ratio=median(ratios), fps_ratio_rounds=ratios,
                     frame_ms_ratio=bare["frame_ms_median"] / s["frame_ms_median"],
                     allocs_beyond_bare=s["allocs_per_frame"] - bare["allocs_per_frame"],
                     allocs_beyond_bare_all_threads=s["allocs_per_frame_all_threads"]
                     - bare["allocs_per_frame_all_threads"])
        scenes[scene["name"]] = s
        bare = bare or s
    image, n = raw["score_image"], raw["score_image"]["images"]
    return {"runtime": raw["runtime"], "frame_wait_ms": raw["frame_wait_ms"], "scenes": scenes,
            "peak_rss_kib": raw["peak_rss_kib"],
            "score_image": {"images": n, "allocs_per_image": image["allocations"] / n,
                            "allocs_per_image_all_threads": image["allocations_all_threads"] / n,
                            "us_median": median(image["us"])}}


def measure_startup(o, env, name):
    """The real game, started as a player starts it, with the shim preloaded;
    the first run only warms the file caches. The last one stays half a second
    in the menu before its peak memory is read."""
    steps_path = os.path.join(o.out, name + ".steps")
    env = dict(env, LD_PRELOAD=":".join(filter(None, [o.shim, env.get("LD_PRELOAD")])),
               QUORVANE_BENCH_STEPS=steps_path)
    runs, peak, early_flips = [], None, set()
    for run in range(o.startup_runs + 1):
        if os.path.exists(steps_path):
            os.remove(steps_path)
        with Game(o.game, o.build, env, o.out, name, tied=False) as game:  # the shim ties it
            stamps = {"exec": round(time.monotonic() * 1e9)}  # Popen returns once the exec is done
            def shown():
                check(game.running(), f"the game ended with status {game.proc.returncode} before its "
                                      f"first frame: {game.stderr().strip()}")
                return os.path.exists(steps_path)
            wait_until(shown, 20, interval=0.005, what="the game's first frame")
            if run == o.startup_runs:
                time.sleep(0.5)
                with open(f"/proc/{game.proc.pid}/status") as f:
                    peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
            game.stop()
            check(game.proc.returncode == 0, f"the game ended with {game.proc.returncode} on SIGTERM")
        with open(steps_path) as f:
            stamps.update((k, int(v)) for k, v in (line.split() for line in f))
        early_flips.add(stamps.pop("early_flips"))
        # From the moment just before the start, each step to the stamp that ends it. The game's own
        # stamps must all be there, in order; when this process noticed the exec is only near enough.
        times = [round(game.started * 1e9)] + [stamps[s] for s in STEPS]
        check(all(times) and times[2:] == sorted(times[2:]) and times[2] > times[0],
              f"steps missing or out of order: {stamps}")
        steps = [(b - a) / 1e6 for a, b in zip(times, times[1:])]
        if run > 0:
            runs.append(steps)
    totals = [sum(steps) for steps in runs]
    return {"first_frame_ms": median(totals), "first_frame_ms_runs": totals,
            "first_frame_ms_fastest": min(totals), "first_frame_ms_slowest": max(totals),
            "steps_ms": {s: median(r[i] for r in runs) for i, s in enumerate(STEPS)},
            "steps_ms_runs": runs,
            "early_flips": sorted(early_flips), "game_peak_rss_kib": peak}


def measure_web(o):
    """The browser's figures, one column per browser bench/web/bench.mjs measured: its JSON holds
    "engines", a list of such figures, or is itself the figures of one (Chromium)."""
    out = os.path.join(o.out, "web.json")
    # As many rounds as the desktop's: the browser's frame rate varies more from round to round.
    subprocess.run(["node", os.path.join(ROOT, "bench", "web", "bench.mjs"), "--tree", o.web, "--json", out,
                    "--rounds", str(o.rounds)],
                   check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        web = json.load(f)
    columns = {}
    for engine in web.get("engines") or [web]:
        browser = engine.get("browser", {})
        columns[engine.get("column") or browser.get("name", "Chromium")] = web_column(engine)
    return columns


def web_column(e):
    """One browser's figures in the frame table's shape; what it did not measure is left out."""
    c = {"runtime": {"sdl": "emscripten"}, "browser": e.get("browser", {})}
    if "error" in e:
        c["error"] = e["error"]
    if "fps" in e:
        c["scenes"] = {"bare": {"fps": e["fps"]["bare"]}}
        for s, ratio in e.get("ratio", {}).items():
            c["scenes"][s] = {"fps_ratio": ratio, "fps_ratio_rounds": e["ratios"][s]}
    for key in ("first_frame_ms", "lighthouse"):
        if key in e:
            c[key] = e[key]
    if "slow_4g" in e:
        c["slow_4g"] = {**e["slow_4g"], "kb_before": e["slow_4g"]["bytes_before"] / 1000}
    if "site" in e:
        site = e["site"]
        c["site"] = {"files": site["files"], "served_mb": site["served"] / 1e6, "gzip_mb": site["gzip"] / 1e6}
    return c


def attempt(results, keys, what, measure):
    """Runs one measurement; a failure is recorded and the rest go on."""
    print(f"measuring {' '.join(keys)}: {what}...", flush=True)
    try:
        value = measure()
    except Failure as e:
        value = {"error": str(e)}
        print(f"  failed: {e}", flush=True)
    results.setdefault(keys[0], {})[keys[1]] = value


def cell(value, decimals, target):
    if value is None or isinstance(value, str):
        return value or "-"
    if isinstance(value, (bool, list)):
        return ("yes" if value else "NO") if isinstance(value, bool) else ", ".join(map(str, value))
    text = f"{value:,.{decimals}f}"
    return text if target is None else text + (" ok" if target(value) else " SHORT")


def table(out, title, columns, rows):
    """A Markdown table. columns: (heading, figures); rows: (label, key path[, decimals[, target]])."""
    out += [f"\n#### {title}\n", "| | " + " | ".join(c[0] for c in columns) + " |",
            "|---|" + "---:|" * len(columns)]
    for label, path, decimals, target in (r + (1, None)[len(r) - 2:] for r in rows):
        texts = []
        for _, figures in columns:
            failed = "error" in figures
            try:
                for key in path:
                    figures = figures[key]
                texts.append(cell(figures, decimals, target))
            except KeyError:
                texts.append("failed" if failed else "-")
        out.append(f"| {label} | " + " | ".join(texts) + " |")


def debian_versions(packages):
    """The installed versions of the Debian packages the figures came from, those installed."""
    found = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev}${Package} ${Version}\\n", *packages],
                           capture_output=True, text=True).stdout.split("\n")
    return [line[3:] for line in found if line.startswith("ii ")]


def report(bench):
    """The figures as Markdown: a heading with the date, the machine and its load, the versions
    measured, then one table per part."""
    frames = [(r, d, f) for r, by in bench["frames"].items() for d, f in by.items()]
    runtimes = list(bench["frames"])
    web = bench.get("web", {})
    load = bench["load_average"]
    loads = lambda v: ", ".join(f"{x:.2f}" for x in v)
    out = [f"### Benchmark run of {bench['date']}", "",
           f"{bench['cores']} cores ({bench['cpu']}); load average (1, 5, 15 min) {loads(load['start'])} "
           f"at the start and {loads(load['end'])} at the end, where 0 is an idle machine and "
           f"{bench['cores']} keeps every core busy; took {bench['minutes']:.1f} min. "
           f"{bench['rounds']} rounds of {bench['frames_per_block']} frames per scene, the scenes' turns "
           f"interleaved; start-ups: medians of {bench['startup_runs']} runs.", ""]
    versions = []
    for r in runtimes:
        rt = next((f["runtime"] for rr, _, f in frames if rr == r and "runtime" in f), {})
        if rt:
            versions.append(f"{r}: SDL {rt['sdl']}" + (f" over SDL2 {rt['sdl2']}" if "sdl2" in rt else ""))
    for name, c in web.items():
        b = c.get("browser", {})
        versions.append(f"{name}: {b.get('version', 'version unknown')}")
        if "version" in c.get("lighthouse", {}):
            versions.append(f"Lighthouse {c['lighthouse']['version']}")
    out.append("Versions: " + "; ".join(versions) + ". Debian packages: " + ", ".join(bench["packages"]) + ".")
    ratio, nothing = (lambda v: v >= TARGET_RATIO), (lambda v: v <= 0)
    rows = [("SDL 1.2 API: linked version", ("runtime", "sdl")),
            ("SDL2 under sdl12-compat", ("runtime", "sdl2")),
            ("video driver", ("runtime", "video_driver")),
            ("SDL2 renderer", ("runtime", "renderer")),
            ("wait per frame, ms", ("frame_wait_ms",), 0)]
    for s in next((list(f["scenes"]) for _, _, f in frames if "scenes" in f), []):
        p = ("scenes", s)
        rows += [("bare loop fps", p + ("fps",))] if s == "bare" else [
            (f"{s} / bare fps, median of rounds (>= {TARGET_RATIO})", p + ("fps_ratio",), 3, ratio),
            (f"{s}: bare / {s} median frame (>= {TARGET_RATIO})", p + ("frame_ms_ratio",), 3, ratio)]
        rows += [(f"{s}: median frame, ms", p + ("frame_ms_median",), 2),
                 (f"{s}: in SDL_Flip, us", p + ("flip_us",), 0),
                 (f"{s}: work before the wait, us cpu", p + ("work_cpu_us",))]
        rows += [("bare: heap allocations per frame", p + ("allocs_per_frame",), 2)] if s == "bare" else [
            (f"{s}: of which event polling, us wall", p + ("poll_us",)),
            (f"{s}: heap allocations per frame beyond bare (0)", p + ("allocs_beyond_bare",), 2, nothing),
            (f"{s}: the same, all threads", p + ("allocs_beyond_bare_all_threads",), 2),
            (f"{s}: kept busy every frame", p + ("busy",))]
    rows += [("score image (render + 1st draw): allocations", ("score_image", "allocs_per_image")),
             ("score image: us, median", ("score_image", "us_median")),
             ("peak resident memory, benchmark child, KiB", ("peak_rss_kib",), 0)]
    columns = [(f"{r}, {d.replace('xvfb', 'Xvfb')}", f) for r, d, f in frames]
    table(out, "Frame loop", columns + list(web.items()), rows)

    rows = [(f"first frame after start, ms (<= {TARGET_FIRST_FRAME_MS})", ("first_frame_ms",), 1,
             lambda v: v <= TARGET_FIRST_FRAME_MS),
            ("fastest run", ("first_frame_ms_fastest",)),
            ("slowest run", ("first_frame_ms_slowest",))]
    rows += [(f"step: {label}", ("steps_ms", k)) for k, label in STEPS.items()]
    rows += [("flips inside SDL_SetVideoMode, not counted", ("early_flips",)),
             ("peak resident memory, game in menu, KiB", ("game_peak_rss_kib",), 0)]
    settings = [(f"{r}, {d.replace('xvfb', 'Xvfb')}", s) for r, by in bench["startup"].items()
                for d, s in by.items()]
    table(out, "Start-up (medians of runs; the steps add up to each run's total)", settings, rows)
    if web:
        mb = lambda v: v / 1e6
        rows = [(f"first frame after navigation, ms (<= {TARGET_WEB_FIRST_FRAME_MS})", ("first_frame_ms", "visit"), 0,
                 lambda v: v <= TARGET_WEB_FIRST_FRAME_MS),
                ("the same in a browser already running", ("first_frame_ms", "running"), 0),
                ("the same at later visits, from the cache", ("first_frame_ms", "later"), 0),
                (f"slow 4G from a plain server: first frame, ms (<= {TARGET_SLOW_4G_FIRST_FRAME_MS})",
                 ("slow_4g", "first_frame_ms"), 0, lambda v: v <= TARGET_SLOW_4G_FIRST_FRAME_MS),
                ("slow 4G: KB fetched before it", ("slow_4g", "kb_before"), 0),
                ("slow 4G: music after a key, ms", ("slow_4g", "music_after_key_ms"), 0),
                (f"Lighthouse phone performance (>= {TARGET_LIGHTHOUSE_SCORE})", ("lighthouse", "score"), 2,
                 lambda v: v >= TARGET_LIGHTHOUSE_SCORE),
                ("Lighthouse: largest paint, ms", ("lighthouse", "lcp_ms"), 0),
                ("Lighthouse: total blocking time, ms", ("lighthouse", "tbt_ms"), 0),
                ("files of the site", ("site", "files"), 0),
                (f"site: MB as served (< {mb(TARGET_SITE_BYTES):.0f})", ("site", "served_mb"), 2,
                 lambda v: v < mb(TARGET_SITE_BYTES)),
                ("site: MB gzip-compressed", ("site", "gzip_mb"), 2)]
        table(out, "The browser version", list(web.items()), rows)
    errors = [f"{name}: {c['error']}" for name, c in web.items() if "error" in c]
    errors += [f"{section} {r} {d}: {v['error']}" for section in ("frames", "startup")
               for r, by in bench[section].items() for d, v in by.items() if "error" in v]
    if errors:
        out += ["", "Failed:", ""] + [f"- {e}" for e in errors]
    return "\n".join(out) + "\n"


def main():
    o = options()
    if o.report:
        with open(o.report) as f:
            print(report(json.load(f)), end="")
        return 0
    harness.log = lambda message: None  # the harness's word on every process started
    harness.install_signal_handlers()
    os.makedirs(o.out, exist_ok=True)
    started = time.time()
    with open("/proc/cpuinfo") as f:
        cpu = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "unknown CPU")
    bench = {"date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(started)), "cpu": cpu,
             "load_average": {"start": os.getloadavg()}, "cores": os.cpu_count(), "rounds": o.rounds,
             "frames_per_block": o.frames, "startup_runs": o.startup_runs,
             "packages": debian_versions(PACKAGES), "frames": {}, "startup": {}}
    x_server = Xvfb(os.path.join(o.out, "xvfb.log")) if "xvfb" in o.drivers else contextlib.nullcontext()
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as data_home, x_server as xvfb:
        for runtime in o.runtimes:
            for driver in o.drivers:
                env = environment(o, runtime, driver, xvfb and xvfb.display, data_home)
                name = f"{runtime}-{driver}"
                attempt(bench["frames"], (runtime, driver), "frame loop",
                        lambda: measure_frames(o, runtime, env, name))
                attempt(bench["startup"], (runtime, driver), "start-up",
                        lambda: measure_startup(o, env, name))
        if "xvfb" in o.drivers:
            with Openbox(xvfb.env(), os.path.join(o.out, "openbox.log")):
                for runtime in o.runtimes:
                    env = environment(o, runtime, "xvfb", xvfb.display, data_home)
                    attempt(bench["startup"], (runtime, "xvfb+openbox"), "start-up",
                            lambda: measure_startup(o, env, f"{runtime}-xvfb-openbox"))
    if o.web:
        print("measuring the browser version...", flush=True)
        try:
            bench["web"] = measure_web(o)
        except (subprocess.CalledProcessError, OSError, KeyError) as e:
            bench["web"] = {"browser": {"error": str(e)}}
            print(f"  failed: {e}", flush=True)
    bench["load_average"]["end"] = os.getloadavg()
    bench["minutes"] = (time.time() - started) / 60
    with open(o.json, "w") as f:
        json.dump(bench, f, indent=1)
    markdown = report(bench)
    with open(o.markdown, "w") as f:
        f.write(markdown)
    print("\n" + markdown)
    print(f"figures written to {o.json}, this table to {o.markdown}")
    parts = [v for section in ("frames", "startup") for by in bench[section].values() for v in by.values()]
    failed = any("error" in v for v in parts + list(bench.get("web", {}).values()))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

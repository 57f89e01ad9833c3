#!/usr/bin/env python3
"""The high-score storage in real processes: failures of the file system,
damaged and huge files, processes killed in the middle of a save (through a
preloaded shim, not a hook in the game's code), and twenty copies saving at
once.

Usage: scores_process_test.py DRIVER SHIM
"""
import hashlib
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

DRIVER, SHIM = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
HEADER = "quorvane-scores 1"
IS_ROOT = os.geteuid() == 0
NOBODY = 65534

passed = 0
failed = 0
work = tempfile.mkdtemp(prefix="quorvane-scores-")
os.chmod(work, 0o755)  # so that an unprivileged user can reach the folders below


def check(condition, message):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + message, flush=True)
    return condition


def fresh(name):
    """A folder of its own for each case, used as XDG_DATA_HOME."""
    path = os.path.join(work, name)
    os.makedirs(path)
    return path


def environment(data_home, shim=None, home=None):
    env = {k: v for k, v in os.environ.items() if k not in ("HOME", "XDG_DATA_HOME", "LD_PRELOAD")}
    if data_home is not None:
        env["XDG_DATA_HOME"] = data_home
    if home is not None:
        env["HOME"] = home
    if shim is not None:
        env["LD_PRELOAD"] = SHIM
        env["QUORVANE_SHIM"] = shim
        # A sanitizer build wants its runtime first; the shim comes before it.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    return env


def as_player():
    """The command prefix that runs a process without root's right to ignore
    file modes: as nobody when we are root, as ourselves otherwise."""
    if IS_ROOT:
        return ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
    return []


def give_to_player(path):
    if IS_ROOT:
        for root, dirs, files in os.walk(path):
            os.chown(root, NOBODY, NOBODY)
            for f in files:
                os.chown(os.path.join(root, f), NOBODY, NOBODY)


def driver(args, env, prefix=(), timeout=60):
    proc = subprocess.run(list(prefix) + [DRIVER] + args, env=env, capture_output=True, text=True,
                          errors="replace", timeout=timeout)
    # In a sanitizer build, a report fails the case whatever the driver said.
    check("Sanitizer" not in proc.stderr and "runtime error:" not in proc.stderr,
          "sanitizer report from %s: %s" % (args, proc.stderr))
    return proc


class Result:
    """What the driver said: status line, index, table lines."""

    def __init__(self, proc):
        self.code = proc.returncode
        lines = proc.stdout.splitlines()
        self.status = lines[0] if lines else ""
        self.index = None
        rest = lines[1:]
        if rest and rest[0].startswith("index "):
            self.index = int(rest[0][6:])
            rest = rest[1:]
        self.table = [tuple_of(line) for line in rest]
        self.stderr = proc.stderr

    def __repr__(self):
        return "code %s, %r, index %s, %r, stderr %r" % (self.code, self.status, self.index, self.table, self.stderr)


def tuple_of(line):
    score, when, name = line.split("\t")
    return (int(score), int(when), name)


def save(data_home, score, when, name, shim=None, prefix=(), home=None):
    return Result(driver(["save", str(score), str(when), name], environment(data_home, shim, home), prefix))


def load(data_home, shim=None, prefix=()):
    return Result(driver(["load"], environment(data_home, shim), prefix))


def table_path(data_home):
    return os.path.join(data_home, "quorvane", "scores")


def write_table(data_home, entries, extra=""):
    os.makedirs(os.path.dirname(table_path(data_home)), exist_ok=True)
    with open(table_path(data_home), "w") as f:
        f.write(HEADER + "\n" + "".join("%d\t%d\t%s\n" % e for e in entries) + extra)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def file_entries(data_home):
    """The table file read here, independently of the code under test; None
    when it is not a clean file of the format."""
    text = read_file(table_path(data_home)).decode("utf-8")
    lines = text.split("\n")
    if lines[0] != HEADER or lines[-1] != "":
        return None
    return [tuple_of(line) for line in lines[1:-1]]


def ranked(entries):
    """The top ten: higher score first, then the earlier time; entries in the
    order given otherwise (sorted() keeps it), the older first."""
    return sorted(entries, key=lambda e: (-e[0], e[1]))[:10]


def listing(data_home):
    return sorted(os.listdir(os.path.dirname(table_path(data_home))))


OLD = [(900, 1700000100, "ann"), (500, 1700000200, "bo lee"), (40, 1700000300, "cy")]


def case_no_place():
    print("no HOME and no XDG_DATA_HOME: every call fails with the reason", flush=True)
    for env_home in (None, "relative/home"):
        env = environment(None, home=env_home)
        for args in (["save", "100", "1700000000", "ann"], ["load"]):
            r = Result(driver(args, env))
            check(r.code == 1 and r.status.startswith("failed: no place for the high-score table"),
                  "%s without a place (HOME=%s): %r" % (args[0], env_home, r))
        path = driver(["path"], env)
        check(path.returncode == 1 and path.stdout == "no place\n", "path without a place: %r" % path.stdout)
    # A relative XDG_DATA_HOME is ignored in favour of HOME.
    home = fresh("relative-xdg-home")
    env = environment("relative/data", home=home)
    path = driver(["path"], env)
    check(path.stdout == home + "/.local/share/quorvane/scores\n", "relative XDG_DATA_HOME: %r" % path.stdout)


def case_path_is_directory():
    print("the table's path is a directory", flush=True)
    data = fresh("is-directory")
    os.makedirs(table_path(data))
    r = save(data, 100, 1700000000, "ann")
    check(r.code == 1 and r.status.startswith("failed: reading " + table_path(data) + ": Is a directory"),
          "save onto a directory: %r" % r)
    r = load(data)
    check(r.code == 1 and "Is a directory" in r.status, "load of a directory: %r" % r)
    check(listing(data) == ["scores", "scores.lock"], "left behind: %r" % listing(data))


def case_lock_cannot_be_made():
    print("the lock file cannot be made", flush=True)
    data = fresh("lock-directory")
    write_table(data, OLD)
    before = read_file(table_path(data))
    os.makedirs(table_path(data) + ".lock")
    r = save(data, 100, 1700000000, "ann")
    check(r.code == 1 and r.status.startswith("failed: creating the lock file " + table_path(data) + ".lock: "),
          "save without a lock file: %r" % r)
    check(read_file(table_path(data)) == before, "table changed without the lock")
    check(listing(data) == ["scores", "scores.lock"], "left behind: %r" % listing(data))


def case_read_only():
    print("read-only folders and an unreadable table (as an unprivileged user)", flush=True)
    # The table's folder is read-only, the lock file already there: the
    # temporary file cannot be made.
    data = fresh("read-only")
    write_table(data, OLD)
    open(table_path(data) + ".lock", "w").close()
    os.chmod(table_path(data) + ".lock", 0o600)
    give_to_player(data)
    folder = os.path.dirname(table_path(data))
    os.chmod(folder, 0o500)
    before = read_file(table_path(data))
    r = save(data, 100, 1700000000, "ann", prefix=as_player())
    check(r.code == 1 and r.status == "failed: creating %s.tmp: Permission denied" % table_path(data),
          "save into a read-only folder: %r" % r)
    check(read_file(table_path(data)) == before, "table changed in a read-only folder")
    r = load(data, prefix=as_player())
    check(r.code == 0 and r.status == "ok" and r.table == OLD, "load from a read-only folder: %r" % r)
    os.chmod(folder, 0o700)
    check(listing(data) == ["scores", "scores.lock"], "left behind: %r" % listing(data))

    # Read-only and no lock file yet.
    data = fresh("read-only-no-lock")
    write_table(data, OLD)
    give_to_player(data)
    os.chmod(os.path.dirname(table_path(data)), 0o500)
    r = save(data, 100, 1700000000, "ann", prefix=as_player())
    check(r.code == 1 and r.status == "failed: creating the lock file %s.lock: Permission denied" % table_path(data),
          "lock file in a read-only folder: %r" % r)

    # The table's folder does not exist and its parent is read-only.
    data = fresh("read-only-parent")
    give_to_player(data)
    os.chmod(data, 0o500)
    r = save(data, 100, 1700000000, "ann", prefix=as_player())
    check(r.code == 1 and r.status == "failed: creating the directory %s/quorvane: Permission denied" % data,
          "folder under a read-only parent: %r" % r)
    r = load(data, prefix=as_player())
    check(r.code == 0 and r.table == [], "load with no folder: %r" % r)

    # The table itself cannot be read.
    data = fresh("unreadable")
    write_table(data, OLD)
    give_to_player(data)
    os.chmod(table_path(data), 0)
    for what, r in (("save", save(data, 100, 1700000000, "ann", prefix=as_player())),
                    ("load", load(data, prefix=as_player()))):
        check(r.code == 1 and r.status == "failed: opening %s: Permission denied" % table_path(data),
              "%s of an unreadable table: %r" % (what, r))


def in_namespace(script, data, out=None):
    """Runs a shell script in a mount namespace of its own (a user namespace
    when we are not root); None when this machine allows neither."""
    command = ["unshare", "-m"] if IS_ROOT else ["unshare", "-r", "-m"]
    probe = subprocess.run(command + ["true"], capture_output=True)
    if probe.returncode != 0:
        return None
    env = environment(data)
    env["DRIVER"] = DRIVER
    if out is not None:
        env["OUT"] = out
    return subprocess.run(command + ["sh", "-c", script], env=env, capture_output=True, text=True, timeout=60)


def case_read_only_file_system():
    print("a read-only file system", flush=True)
    data = fresh("read-only-fs")
    write_table(data, OLD)
    open(table_path(data) + ".lock", "w").close()
    script = ('mount --bind "$XDG_DATA_HOME" "$XDG_DATA_HOME" && mount -o remount,bind,ro "$XDG_DATA_HOME" && '
              '"$DRIVER" save 100 1700000000 ann; "$DRIVER" load')
    proc = in_namespace(script, data)
    if proc is None:
        print("  skipped: no mount namespace here")
        return
    lines = proc.stdout.splitlines()
    check(len(lines) > 0 and lines[0] == "failed: creating the lock file %s.lock: Read-only file system"
          % table_path(data), "save on a read-only file system: %r %r" % (proc.stdout, proc.stderr))
    check("ok" in lines and lines[-3:] == ["%d\t%d\t%s" % e for e in OLD],
          "load on a read-only file system: %r" % proc.stdout)


def case_full_disk():
    print("a full disk", flush=True)
    # Real: a small file system filled up, then a save.
    data = fresh("full-tmpfs")
    out = os.path.join(work, "full-tmpfs-out")
    os.makedirs(out)
    script = ('mount -t tmpfs -o size=64k,mode=0755 tmpfs "$XDG_DATA_HOME" && '
              '"$DRIVER" save 500 1700000200 "bo lee" > "$OUT/first" && '
              '{ dd if=/dev/zero of="$XDG_DATA_HOME/fill" bs=1k count=1000 2>/dev/null; '
              '"$DRIVER" save 900 1700000100 ann > "$OUT/second"; '
              'cp "$XDG_DATA_HOME/quorvane/scores" "$OUT/scores"; ls -a "$XDG_DATA_HOME/quorvane" > "$OUT/ls"; }')
    proc = in_namespace(script, data, out)
    if proc is None:
        print("  real full disk skipped: no mount namespace here")
    else:
        second = open(os.path.join(out, "second")).read() if os.path.exists(os.path.join(out, "second")) else ""
        check(second.startswith("failed: writing %s.tmp: No space left on device" % table_path(data)),
              "save on a full disk: %r %r" % (second, proc.stderr))
        check(read_file(os.path.join(out, "scores")).decode() == HEADER + "\n500\t1700000200\tbo lee\n",
              "table after a save on a full disk")
        names = open(os.path.join(out, "ls")).read().split()
        check(sorted(names) == [".", "..", "scores", "scores.lock"], "left on a full disk: %r" % names)

    # Through the shim: ENOSPC from write and from fsync.
    for fault, step in (("enospc-write", "writing"), ("enospc-sync", "syncing")):
        data = fresh(fault)
        write_table(data, OLD)
        before = read_file(table_path(data))
        r = save(data, 100, 1700000000, "ann", shim=fault)
        check(r.code == 1 and r.status == "failed: %s %s.tmp: No space left on device" % (step, table_path(data)),
              "save with %s: %r" % (fault, r))
        check(read_file(table_path(data)) == before, "table changed by a failed save (%s)" % fault)
        check(listing(data) == ["scores", "scores.lock"], "left after %s: %r" % (fault, listing(data)))


def sha(path):
    return hashlib.sha256(read_file(path)).hexdigest()


def damaged_copies(data):
    return [n for n in listing(data) if n.startswith("scores.damaged-")]


def case_huge_file():
    print("a 10 MB table file", flush=True)
    for what in ("load", "save"):
        data = fresh("huge-" + what)
        junk = ("x" * 99 + "\n") * (10 * 1024 * 1024 // 100)
        write_table(data, OLD, junk)
        digest = sha(table_path(data))
        started = time.monotonic()
        if what == "load":
            r = load(data, shim="count-reads")
        else:
            r = save(data, 100, 1700000000, "dee", shim="count-reads")
        took = time.monotonic() - started
        expected = OLD if what == "load" else ranked(OLD + [(100, 1700000000, "dee")])
        check(r.code == 0 and r.table == expected, "%s of a 10 MB file: %r" % (what, r))
        copies = damaged_copies(data)
        check(len(copies) == 1 and sha(os.path.join(os.path.dirname(table_path(data)), copies[0])) == digest,
              "10 MB file not kept aside whole (%s): %r" % (what, copies))
        check(file_entries(data) == expected, "repaired table after a 10 MB file (%s)" % what)
        # Read once before the lock and once under it (load), or once (save).
        limit = (2 if what == "load" else 1) * (64 * 1024 + 1)
        counted = [line for line in r.stderr.splitlines() if line.startswith("shim: read ")]
        read_bytes = int(counted[0].split()[2]) if counted else -1
        check(0 < read_bytes <= limit, "bytes read of a 10 MB file (%s): %d, at most %d" % (what, read_bytes, limit))
        print("  %s: %d bytes read, %.2f s" % (what, read_bytes, took))


def case_damaged_file():
    print("a damaged file: kept aside byte for byte, its valid entries kept", flush=True)
    data = fresh("damaged")
    body = ("quorvane-scores 9\n900\t1700000100\tann\nnot a line\n-5\t1700000000\tneg\n"
            "99999999999\t1\tbig\n500\t1700000200\tbo lee\n\x00\xff\xfe junk\n40\t1700000300\tcy\n"
            "7\t1\tcut")
    os.makedirs(os.path.dirname(table_path(data)))
    with open(table_path(data), "wb") as f:
        f.write(body.encode("latin-1"))
    digest = sha(table_path(data))
    r = load(data)
    check(r.code == 0 and r.status.startswith("ok: 6 problems in %s: kept it aside as scores.damaged-"
                                              % table_path(data)) and r.table == OLD, "load of a damaged file: %r" % r)
    copies = damaged_copies(data)
    check(len(copies) == 1 and sha(os.path.join(os.path.dirname(table_path(data)), copies[0])) == digest,
          "damaged file not kept whole: %r" % copies)
    check(file_entries(data) == OLD, "repaired file: %r" % read_file(table_path(data)))
    check(stat.S_IMODE(os.stat(table_path(data)).st_mode) == 0o600, "repaired file's mode")
    r = load(data)
    check(r.code == 0 and r.status == "ok" and r.table == OLD, "second load: %r" % r)
    check(damaged_copies(data) == copies, "a second copy kept aside: %r" % damaged_copies(data))

    # A save that finds the file damaged keeps it aside too.
    data = fresh("damaged-save")
    write_table(data, OLD, "oops\n")
    digest = sha(table_path(data))
    r = save(data, 600, 1700000400, "dee")
    expected = ranked(OLD + [(600, 1700000400, "dee")])
    check(r.code == 0 and r.index == 1 and r.table == expected, "save over a damaged file: %r" % r)
    copies = damaged_copies(data)
    check(len(copies) == 1 and sha(os.path.join(os.path.dirname(table_path(data)), copies[0])) == digest,
          "save did not keep the damaged file: %r" % copies)
    check(file_entries(data) == expected, "table after a save over a damaged file")


def case_killed():
    print("a save killed at each step leaves the old table or the new one", flush=True)
    new_entry = (700, 1700000400, "killed")
    later = (800, 1700000500, "later")
    for fault, renamed in (("kill-before-file-sync", False), ("kill-before-rename", False),
                           ("kill-after-rename", True)):
        data = fresh(fault)
        write_table(data, OLD)
        folder = os.path.dirname(table_path(data))
        others = {"notes.txt": b"mine\n", "scores.damaged-20200101-000000": b"old damage\n"}
        for name, content in others.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        r = save(data, *new_entry, shim=fault)
        check(r.code == -signal.SIGKILL, "%s: the save was not killed: %r" % (fault, r))
        after_kill = ranked(OLD + [new_entry]) if renamed else OLD
        check(file_entries(data) == after_kill, "%s: table after the kill: %r" % (fault, read_file(table_path(data))))
        r = load(data)
        check(r.code == 0 and r.status == "ok" and r.table == after_kill, "%s: load after the kill: %r" % (fault, r))
        r = save(data, *later)
        final = ranked(after_kill + [later])
        check(r.code == 0 and r.status == "ok" and r.table == final, "%s: next save: %r" % (fault, r))
        check(file_entries(data) == final, "%s: table after the next save" % fault)
        expected_names = sorted(["scores", "scores.lock"] + list(others))
        check(listing(data) == expected_names, "%s: files after the next save: %r" % (fault, listing(data)))
        for name, content in others.items():
            check(read_file(os.path.join(folder, name)) == content, "%s: %s changed" % (fault, name))


def case_twenty_at_once():
    print("twenty copies saving at the same moment", flush=True)
    # On a memory file system when there is one: the test is of the lock and
    # the merge, and twenty pairs of fsyncs on a busy disk could outlast the
    # lock's wait, which is a failure the game reports, not a fault.
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else work
    data = tempfile.mkdtemp(prefix="quorvane-twenty-", dir=base)
    try:
        rng = random.Random(20261209)
        write_table(data, OLD)
        times = rng.sample(range(1700000000, 1700100000), 20)
        entries = [(rng.choice([40, 100, 250, 500, 900, 1200]), times[i], "player %02d" % i) for i in range(20)]
        go = os.path.join(data, "go")
        # Each save takes 10 ms longer under the lock, so that saves that did
        # not wait for each other would overlap and lose entries.
        env = environment(data, shim="slow-rename")
        procs = [subprocess.Popen([DRIVER, "save", str(s), str(t), n, go], env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True) for s, t, n in entries]
        ready = all(p.stdout.readline() == "ready\n" for p in procs)
        check(ready, "not every saver got ready")
        open(go, "w").close()
        results = []
        for p in procs:
            out, err = p.communicate(timeout=60)
            results.append((p.returncode, out, err))
        for code, out, err in results:
            check(code == 0 and out.startswith("ok\nindex "), "a saver failed: %r %r" % (out, err))
        expected = ranked(OLD + entries)
        check(file_entries(data) == expected, "twenty savers: %r, expected %r" % (file_entries(data), expected))
        os.remove(go)
        check(listing(data) == ["scores", "scores.lock"], "left by twenty savers: %r" % listing(data))
    finally:
        shutil.rmtree(data, ignore_errors=True)


def case_player_name():
    print("the player's name: password database, then $USER, then \"player\"", flush=True)
    if not IS_ROOT:
        print("  skipped: needs root to run as a user without a password entry")
        return
    unknown = ["setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", "env"]
    env = environment(work)
    env["USER"] = "ann\tlee  \x7f"
    name = subprocess.run(unknown + [DRIVER, "name"], env=env, capture_output=True, text=True)
    check(name.stdout == "annlee\n", "name from $USER: %r" % name.stdout)
    del env["USER"]
    name = subprocess.run(unknown + [DRIVER, "name"], env=env, capture_output=True, text=True)
    check(name.stdout == "player\n", "name without $USER: %r" % name.stdout)
    env["USER"] = "someone"
    name = subprocess.run(as_player() + [DRIVER, "name"], env=env, capture_output=True, text=True)
    check(name.stdout == "nobody\n", "name from the password database: %r" % name.stdout)


try:
    for case in (case_no_place, case_path_is_directory, case_lock_cannot_be_made, case_read_only,
                 case_read_only_file_system, case_full_disk, case_huge_file, case_damaged_file, case_killed,
                 case_twenty_at_once, case_player_name):
        try:
            case()
        except Exception as error:  # a case that breaks is a failure, and the others still run
            check(False, "%s raised %r" % (case.__name__, error))
finally:
    subprocess.run(["chmod", "-R", "u+rwx", work])
    shutil.rmtree(work, ignore_errors=True)

print("scores process checks: %d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)

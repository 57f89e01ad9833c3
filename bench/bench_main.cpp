// Quorvane's frame-rate, allocation, start-up and memory benchmark.
//
// The game advances one tick per drawn frame, so any time a frame spends beyond
// its fixed wait slows the game itself. This program measures how close the
// game comes to the bare loop (clear, wait, flip) on the same library and
// driver, headless and in a real X window, and how much it allocates, how fast
// it starts and how much memory it holds.
//
// Run it from the build directory (data/ must be there); scripts/bench does.
//   quorvane_bench [--rounds N] [--frames N] [--warm-frames N] [--startup-runs N]
//                  [--drivers headless,xvfb] [--json PATH] [--trace-allocs] [--realtime]
//   quorvane_bench --soak SECONDS [--driver headless|xvfb] [--sample-every S] [--json PATH]
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common.h"
#include "first_flip.h"
#include "game_driver.h"

extern char** environ;

namespace {

using bench::mono_ns;

struct Options {
    int rounds = 11;
    int frames = 60;
    int warm_frames = 60;
    int startup_runs = 7;
    int startup_warm_runs = 1;
    std::vector<std::string> drivers{"headless", "xvfb"};
    std::string json;
    double soak_seconds = 0;
    double sample_every = 0;
    bool realtime = false;
    std::string game = QUORVANE_GAME;
    std::string shim = QUORVANE_FIRST_FLIP_SHIM;
};

[[noreturn]] void usage(const char* problem, int status = 2)
{
    fprintf(stderr,
            "quorvane_bench: %s\n"
            "usage: quorvane_bench [--rounds N] [--frames N] [--warm-frames N] [--startup-runs N]\n"
            "                      [--drivers headless,xvfb] [--json PATH] [--trace-allocs] [--realtime]\n"
            "       quorvane_bench --soak SECONDS [--driver headless|xvfb] [--sample-every S] [--json PATH]\n"
            "       quorvane_bench --check-allocations   (the ctest check: steady-state frames allocate\n"
            "                                            no more than the bare loop)\n"
            "Run from the build directory: the game's data/ must be in the current directory.\n",
            problem);
    exit(status);
}

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(by, start);
        out.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

// ---- child processes ----

struct Child {
    pid_t pid = -1;
    int read_fd = -1;  // the read end of a pipe whose write end is fd 3 in the child
};

std::vector<std::string> current_environment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    return env;
}

void set_env(std::vector<std::string>& env, const std::string& name, const std::string& value)
{
    const std::string prefix = name + "=";
    env.erase(std::remove_if(env.begin(), env.end(),
                             [&](const std::string& e) { return e.compare(0, prefix.size(), prefix) == 0; }),
              env.end());
    env.push_back(prefix + value);
}

std::string get_env(const std::vector<std::string>& env, const std::string& name)
{
    const std::string prefix = name + "=";
    for (const std::string& e : env) {
        if (e.compare(0, prefix.size(), prefix) == 0) return e.substr(prefix.size());
    }
    return "";
}

// Starts argv[0] (searched on PATH) with env. The child dies with this process,
// so an interrupted run leaves no Xvfb or game behind. output: a file for its
// standard output and error, or empty to share ours.
Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& output)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        perror("quorvane_bench: pipe");
        exit(1);
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) {
        perror("quorvane_bench: fork");
        exit(1);
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (fds[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else {
            dup2(fds[1], 3);
        }
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        if (!output.empty()) {
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
        }
        execvpe(args[0], args.data(), envp.data());
        fprintf(stderr, "quorvane_bench: cannot run %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(fds[1]);
    return Child{pid, fds[0]};
}

// Reads until EOF or the deadline; false on timeout.
bool read_until_eof(int fd, std::string& into, int timeout_ms)
{
    const int64_t deadline = mono_ns() + static_cast<int64_t>(timeout_ms) * 1000000;
    char buffer[4096];
    for (;;) {
        const int64_t left = (deadline - mono_ns()) / 1000000;
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        into.append(buffer, static_cast<size_t>(n));
    }
}

// Asks the child to end, then insists. Returns its wait status.
int stop_child(pid_t pid, int grace_ms)
{
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    kill(pid, SIGTERM);
    const int64_t deadline = mono_ns() + static_cast<int64_t>(grace_ms) * 1000000;
    while (mono_ns() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

std::string describe_status(int status)
{
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

std::string read_file(const std::string& path)
{
    std::string text;
    FILE* f = fopen(path.c_str(), "re");
    if (f == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
}

// An empty file for a child's messages, shown only when it fails.
std::string temporary_file()
{
    char name[] = "/tmp/quorvane-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return name;
}

// ---- Xvfb ----

struct Xvfb {
    pid_t pid = -1;
    std::string display;
    std::string error;
};

// A private server on the first free display; -displayfd tells which one.
Xvfb start_xvfb(const std::string& log)
{
    Xvfb x;
    Child c = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x16", "-nolisten", "tcp"},
                    current_environment(), log);
    std::string text;
    const int64_t deadline = mono_ns() + 15000000000LL;
    char buffer[64];
    while (text.find('\n') == std::string::npos && mono_ns() < deadline) {
        pollfd p{c.read_fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = read(c.read_fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(c.read_fd);
    if (text.find('\n') == std::string::npos) {
        const int status = stop_child(c.pid, 2000);
        x.error = "Xvfb did not start (" + describe_status(status) + "): " + read_file(log);
        return x;
    }
    x.pid = c.pid;
    x.display = ":" + text.substr(0, text.find('\n'));
    return x;
}

// ---- the measurements ----

using Report = std::vector<std::pair<std::string, std::string>>;

Report parse_report(const std::string& text)
{
    Report r;
    for (const std::string& line : split(text, '\n')) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        r.emplace_back(line.substr(0, space), line.substr(space + 1));
    }
    return r;
}

std::string find(const Report& r, const std::string& key)
{
    for (const auto& [k, v] : r) {
        if (k == key) return v;
    }
    return "";
}

double number(const Report& r, const std::string& key)
{
    const std::string v = find(r, key);
    return v.empty() ? -1 : strtod(v.c_str(), nullptr);
}

std::vector<std::string> driver_environment(const std::string& driver, const Xvfb& xvfb)
{
    std::vector<std::string> env = current_environment();
    if (driver == "headless") {
        set_env(env, "SDL_VIDEODRIVER", "dummy");
    } else {
        set_env(env, "SDL_VIDEODRIVER", "x11");
        set_env(env, "DISPLAY", xvfb.display);
    }
    // The figures must not depend on whether this machine has a sound card.
    if (get_env(env, "SDL_AUDIODRIVER").empty()) set_env(env, "SDL_AUDIODRIVER", "dummy");
    return env;
}

std::string self_path()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "/proc/self/exe";
    path[n] = '\0';
    return path;
}

bool run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeout_ms,
               Report& out, std::string& error)
{
    Child c = spawn(argv, env, "");
    std::string text;
    const bool finished = read_until_eof(c.read_fd, text, timeout_ms);
    close(c.read_fd);
    const int status = finished ? stop_child(c.pid, 10000) : stop_child(c.pid, 1000);
    out = parse_report(text);
    if (!finished) {
        error = "timed out";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = describe_status(status);
        return false;
    }
    return true;
}

// The steps of start-up, from the shim's timestamps; the first is from the
// moment before the fork.
const char* const startup_phases[step_count] = {
    "exec and loading the libraries", "SDL_Init",      "SDL_SetVideoMode", "font, audio, images, music",
    "first frame drawn, 5 ms wait",   "first SDL_Flip"};
const char* const startup_phase_keys[step_count] = {"libraries", "sdl_init",   "video_mode",
                                                    "loading",   "first_draw", "first_flip"};

struct Startup {
    std::vector<double> ms;  // process start to the return of the first flip
    std::array<std::vector<double>, step_count> phase_ms;
    std::vector<double> game_hwm_kib;
    std::string error;
};

// The real game, started as a player would start it, with a preloaded shim that
// reports when its first SDL_Flip has returned and the steps on the way. The
// first runs warm the file caches and are not counted.
Startup measure_startup(const Options& o, const std::vector<std::string>& base_env, const std::string& log)
{
    Startup s;
    if (truncate(log.c_str(), 0) != 0) {
        // Only a log for error messages: an old one is harmless.
    }
    std::vector<std::string> env = base_env;
    const std::string preload = get_env(env, "LD_PRELOAD");
    set_env(env, "LD_PRELOAD", preload.empty() ? o.shim : o.shim + ":" + preload);
    set_env(env, "QUORVANE_BENCH_FLIP_FD", "3");
    for (int run = 0; run < o.startup_warm_runs + o.startup_runs; ++run) {
        const int64_t t0 = mono_ns();
        Child c = spawn({o.game}, env, log);
        std::array<int64_t, step_count> times{};
        size_t got = 0;
        const int64_t deadline = t0 + 10000000000LL;
        while (got < sizeof times && mono_ns() < deadline) {
            pollfd p{c.read_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n =
                read(c.read_fd, reinterpret_cast<char*>(times.data()) + got, sizeof times - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(c.read_fd);
        if (got != sizeof times) {
            const int status = stop_child(c.pid, 2000);
            s.error = "the game showed no frame (" + describe_status(status) + "): " + read_file(log);
            return s;
        }
        // The last run goes on for half a second, so its peak includes steady frames of the menu.
        const bool last = run + 1 == o.startup_warm_runs + o.startup_runs;
        long hwm = -1;
        if (last) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            hwm = bench::status_kib(c.pid, "VmHWM");
        }
        const int status = stop_child(c.pid, 5000);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            s.error = "the game ended with " + describe_status(status) + " on SIGTERM: " + read_file(log);
            return s;
        }
        if (run >= o.startup_warm_runs) {
            s.ms.push_back((times[step_flipped] - t0) / 1e6);
            int64_t before = t0;
            for (int i = 0; i < step_count; ++i) {
                s.phase_ms[i].push_back((times[i] - before) / 1e6);
                before = times[i];
            }
            if (hwm >= 0) s.game_hwm_kib.push_back(static_cast<double>(hwm));
        }
    }
    return s;
}

double median(std::vector<double> v)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ---- output ----

bool is_number(const std::string& v)
{
    if (v.empty()) return false;
    char* end = nullptr;
    strtod(v.c_str(), &end);
    return end != nullptr && *end == '\0';
}

std::string json_string(const std::string& v)
{
    std::string out = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json_value(const std::string& v)
{
    if (is_number(v)) return v;
    if (v.find(',') != std::string::npos) {
        bool numbers = true;
        for (const std::string& part : split(v, ',')) numbers = numbers && is_number(part);
        if (numbers) return "[" + v + "]";
    }
    return json_string(v);
}

bool write_json(const std::string& path, const Report& r)
{
    FILE* f = fopen(path.c_str(), "we");
    if (f == nullptr) {
        fprintf(stderr, "quorvane_bench: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    fprintf(f, "{\n");
    for (size_t i = 0; i < r.size(); ++i) {
        fprintf(f, "  %s: %s%s\n", json_string(r[i].first).c_str(), json_value(r[i].second).c_str(),
                i + 1 < r.size() ? "," : "");
    }
    fprintf(f, "}\n");
    fclose(f);
    return true;
}

std::string absolute(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string out = real;
    free(real);
    return out;
}

std::string fixed(double v, int decimals)
{
    if (v < 0) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void add(Report& r, const std::string& key, double v)
{
    char text[64];
    snprintf(text, sizeof text, "%.6g", v);
    r.emplace_back(key, text);
}

struct DriverRun {
    std::string label;  // headless or xvfb
    Report measured;
    Startup startup;
    std::string error;
};

void print_row(const char* name, const std::vector<DriverRun>& runs,
               const std::function<std::string(const DriverRun&)>& cell)
{
    printf("  %-44s", name);
    for (const DriverRun& d : runs) printf(" %22s", d.error.empty() ? cell(d).c_str() : "failed");
    printf("\n");
}

std::string verdict(bool ok) { return ok ? " ok" : " SHORT"; }

int run_benchmark(const Options& o)
{
    const double load_start = bench::load_average();
    const std::string xvfb_log = temporary_file();
    const std::string log = temporary_file();

    Xvfb xvfb;
    const bool want_x = std::find(o.drivers.begin(), o.drivers.end(), "xvfb") != o.drivers.end();
    if (want_x) xvfb = start_xvfb(xvfb_log);

    std::vector<DriverRun> runs;
    for (const std::string& driver : o.drivers) {
        DriverRun d;
        d.label = driver;
        if (driver == "xvfb" && xvfb.pid < 0) {
            d.error = xvfb.error;
            runs.push_back(d);
            continue;
        }
        const std::vector<std::string> env = driver_environment(driver, xvfb);
        printf("measuring %s: %d rounds of %d frames each of bare loop, menu and play...\n", driver.c_str(),
               o.rounds, o.frames);
        fflush(stdout);
        const int timeout_ms = 120000 + o.rounds * o.frames * 3 * 50;
        if (!run_child({self_path(), "--child-measure", std::to_string(o.rounds), std::to_string(o.frames),
                        std::to_string(o.warm_frames)},
                       env, timeout_ms, d.measured, d.error)) {
            d.error = "measurement failed: " + d.error;
        }
        if (d.error.empty()) {
            printf("measuring %s: start-up of the real game, %d runs after %d warm-up runs...\n",
                   driver.c_str(), o.startup_runs, o.startup_warm_runs);
            fflush(stdout);
            d.startup = measure_startup(o, env, log);
        }
        runs.push_back(d);
    }
    if (xvfb.pid > 0) stop_child(xvfb.pid, 5000);
    unlink(log.c_str());
    unlink(xvfb_log.c_str());
    const double load_end = bench::load_average();

    // ---- the table ----
    const Report* first = nullptr;
    for (const DriverRun& d : runs) {
        if (d.error.empty()) {
            first = &d.measured;
            break;
        }
    }
    printf("\nQuorvane benchmark: load average %.2f at start, %.2f at end, %ld cores\n", load_start, load_end,
           sysconf(_SC_NPROCESSORS_ONLN));
    if (first != nullptr) {
        printf("SDL %s (1.2 API) over SDL2 %s; audio driver %s\n", find(*first, "sdl_linked_version").c_str(),
               find(*first, "sdl2_version").c_str(), find(*first, "audio_driver").c_str());
    }
    printf("medians of %d interleaved rounds of %d frames; wait %d ms per frame; %s scheduling\n\n", o.rounds,
           o.frames, 5, o.realtime ? "real-time (SCHED_FIFO 10)" : "normal");
    printf("  %-44s", "");
    for (const DriverRun& d : runs) {
        const std::string head = d.label == "headless" ? "headless (dummy)" : "Xvfb 640x480x16";
        printf(" %22s", head.c_str());
    }
    printf("\n");
    auto val = [](const std::string& key, int decimals) {
        return [key, decimals](const DriverRun& d) { return fixed(number(d.measured, key), decimals); };
    };
    print_row("SDL2 video driver / renderer", runs, [](const DriverRun& d) {
        return find(d.measured, "video_driver") + " / " + find(d.measured, "sdl2_renderer");
    });
    print_row("bare loop fps", runs, val("bare_fps", 1));
    print_row("menu fps", runs, val("menu_fps", 1));
    print_row("play fps", runs, val("play_fps", 1));
    print_row("menu / bare fps, median of rounds", runs, val("menu_fps_ratio", 3));
    print_row("play / bare fps, median of rounds (>= 0.97)", runs, [](const DriverRun& d) {
        const double r = number(d.measured, "play_fps_ratio");
        return fixed(r, 3) + verdict(r >= 0.97);
    });
    print_row("median frame, ms: bare / menu / play", runs, [](const DriverRun& d) {
        return fixed(number(d.measured, "bare_frame_ms_median"), 2) + " / " +
               fixed(number(d.measured, "menu_frame_ms_median"), 2) + " / " +
               fixed(number(d.measured, "play_frame_ms_median"), 2);
    });
    print_row("bare / play median frame (>= 0.97)", runs, [](const DriverRun& d) {
        const double r = number(d.measured, "play_frame_ms_median_ratio");
        return fixed(r, 3) + verdict(r >= 0.97);
    });
    for (const char* scene : {"bare", "menu", "play"}) {
        const std::string name = std::string("in SDL_Delay / SDL_Flip, us: ") + scene;
        print_row(name.c_str(), runs, [scene](const DriverRun& d) {
            const std::string p = scene;
            return fixed(number(d.measured, p + "_wait_wall_us"), 0) + " / " +
                   fixed(number(d.measured, p + "_flip_wall_us"), 0);
        });
    }
    print_row("work before the wait, us cpu (wall): bare", runs, [](const DriverRun& d) {
        return fixed(number(d.measured, "bare_work_cpu_us"), 1) + " (" +
               fixed(number(d.measured, "bare_work_wall_us"), 1) + ")";
    });
    print_row("  menu", runs, [](const DriverRun& d) {
        return fixed(number(d.measured, "menu_work_cpu_us"), 1) + " (" +
               fixed(number(d.measured, "menu_work_wall_us"), 1) + ")";
    });
    print_row("  play", runs, [](const DriverRun& d) {
        return fixed(number(d.measured, "play_work_cpu_us"), 1) + " (" +
               fixed(number(d.measured, "play_work_wall_us"), 1) + ")";
    });
    print_row("  menu, of which event polling (wall)", runs, val("menu_event_poll_wall_us", 1));
    print_row("  play, of which event polling (wall)", runs, val("play_event_poll_wall_us", 1));
    print_row("  play, of which the score image (wall)", runs, val("play_score_image_wall_us", 1));
    print_row("  slowest play frame, us wall", runs, val("play_work_wall_max_us", 0));
    print_row("play blits per frame", runs, val("play_blits_per_frame", 1));
    print_row("play scene busy every frame (10 enemies, 50 shots)", runs,
              [](const DriverRun& d) { return number(d.measured, "play_scene_busy") == 1 ? "yes" : "NO"; });
    print_row("heap allocations per frame, main thread: bare", runs, val("bare_allocs_per_frame", 2));
    print_row("  menu", runs, val("menu_allocs_per_frame", 2));
    print_row("  play, besides score images", runs, val("play_allocs_per_frame", 2));
    print_row("  play beyond bare (target 0)", runs, [](const DriverRun& d) {
        const double extra =
            number(d.measured, "play_allocs_per_frame") - number(d.measured, "bare_allocs_per_frame");
        return fixed(std::max(0.0, extra), 2) + verdict(extra <= 0);
    });
    print_row("  score images per frame", runs, val("play_score_images_per_frame", 2));
    print_row("  allocations per score image (render, 1st blit)", runs,
              val("play_allocs_per_score_image", 1));
    print_row("heap allocations per frame, all threads: bare", runs,
              val("bare_allocs_per_frame_all_threads", 2));
    print_row("  menu", runs, val("menu_allocs_per_frame_all_threads", 2));
    print_row("  play, besides score images", runs, val("play_allocs_per_frame_all_threads", 2));
    print_row("page faults per frame, main thread: bare", runs, val("bare_minor_faults_per_frame", 1));
    print_row("  menu", runs, val("menu_minor_faults_per_frame", 1));
    print_row("  play", runs, val("play_minor_faults_per_frame", 1));
    print_row("first frame after process start, ms (<= 150)", runs, [](const DriverRun& d) {
        const double m = median(d.startup.ms);
        if (!d.startup.error.empty()) return std::string("failed");
        return fixed(m, 1) + verdict(m <= 150);
    });
    print_row("  fastest - slowest run, ms", runs, [](const DriverRun& d) {
        if (d.startup.ms.empty()) return std::string("-");
        return fixed(*std::min_element(d.startup.ms.begin(), d.startup.ms.end()), 1) + " - " +
               fixed(*std::max_element(d.startup.ms.begin(), d.startup.ms.end()), 1);
    });
    for (int i = 0; i < step_count; ++i) {
        const std::string name = std::string("  ") + startup_phases[i];
        print_row(name.c_str(), runs,
                  [i](const DriverRun& d) { return fixed(median(d.startup.phase_ms[i]), 1); });
    }
    print_row("peak resident memory, real game in menu, KiB", runs, [](const DriverRun& d) {
        if (d.startup.game_hwm_kib.empty()) return std::string("-");
        return fixed(*std::max_element(d.startup.game_hwm_kib.begin(), d.startup.game_hwm_kib.end()), 0);
    });
    print_row("peak resident memory, benchmark (play), KiB", runs, val("peak_rss_kib", 0));
    for (const DriverRun& d : runs) {
        if (!d.error.empty()) printf("\n%s: %s\n", d.label.c_str(), d.error.c_str());
        if (!d.startup.error.empty()) printf("\n%s start-up: %s\n", d.label.c_str(), d.startup.error.c_str());
    }

    // ---- the file ----
    Report json;
    if (first != nullptr) {
        for (const char* k : {"sdl_linked_version", "sdl2_version", "sdl2_revision", "audio_driver"}) {
            const std::string v = find(*first, k);
            if (!v.empty()) json.emplace_back(k, v);
        }
    }
    add(json, "load_average_start", load_start);
    add(json, "load_average_end", load_end);
    add(json, "cores", static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN)));
    add(json, "rounds", o.rounds);
    add(json, "frames_per_block", o.frames);
    add(json, "frame_wait_ms", 5);
    add(json, "realtime_scheduling", o.realtime ? 1 : 0);
    for (const DriverRun& d : runs) {
        const std::string p = d.label + "_";
        if (!d.error.empty()) {
            json.emplace_back(p + "error", d.error);
            continue;
        }
        for (const auto& [k, v] : d.measured) {
            if (k == "sdl_linked_version" || k == "sdl2_version" || k == "sdl2_revision" ||
                k == "audio_driver")
                continue;
            json.emplace_back(p + k, v);
        }
        add(json, p + "play_allocs_per_frame_beyond_bare",
            number(d.measured, "play_allocs_per_frame") - number(d.measured, "bare_allocs_per_frame"));
        if (!d.startup.error.empty()) {
            json.emplace_back(p + "startup_error", d.startup.error);
        } else {
            add(json, p + "first_frame_ms", median(d.startup.ms));
            add(json, p + "first_frame_ms_min", *std::min_element(d.startup.ms.begin(), d.startup.ms.end()));
            add(json, p + "first_frame_ms_max", *std::max_element(d.startup.ms.begin(), d.startup.ms.end()));
            add(json, p + "first_frame_runs", static_cast<double>(d.startup.ms.size()));
            for (int i = 0; i < step_count; ++i) {
                add(json, p + "startup_" + startup_phase_keys[i] + "_ms", median(d.startup.phase_ms[i]));
            }
            add(json, p + "game_peak_rss_kib",
                *std::max_element(d.startup.game_hwm_kib.begin(), d.startup.game_hwm_kib.end()));
        }
    }
    const std::string path = o.json.empty() ? "bench.json" : o.json;
    if (write_json(path, json)) printf("\nfigures written to %s\n", absolute(path).c_str());

    bool failed = false;
    for (const DriverRun& d : runs) failed = failed || !d.error.empty() || !d.startup.error.empty();
    return failed ? 1 : 0;
}

int run_soak(const Options& o, const std::string& driver)
{
    const std::string log = temporary_file();
    Xvfb xvfb;
    if (driver == "xvfb") {
        xvfb = start_xvfb(log);
        if (xvfb.pid < 0) {
            fprintf(stderr, "quorvane_bench: %s\n", xvfb.error.c_str());
            unlink(log.c_str());
            return 1;
        }
    }
    unlink(log.c_str());
    const double every = o.sample_every > 0 ? o.sample_every : std::max(1.0, o.soak_seconds / 20);
    printf(
        "soak: %s, %.0f s of busy play (8 s) and menu (2 s) cycles, a sample every %.0f s; load average "
        "%.2f\n",
        driver.c_str(), o.soak_seconds, every, bench::load_average());
    printf("%8s %9s %10s %10s %12s %12s %9s\n", "time s", "frames", "RSS KiB", "peak KiB", "live blocks",
           "live KiB", "score");
    fflush(stdout);

    Child c = spawn({self_path(), "--child-soak", std::to_string(o.soak_seconds), std::to_string(every)},
                    driver_environment(driver, xvfb), "");
    Report samples, info;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(c.read_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const Report line = parse_report(pending.substr(0, nl + 1));
            pending.erase(0, nl + 1);
            if (line.empty()) continue;
            if (line[0].first.compare(0, 6, "sample") == 0) {
                samples.push_back(line[0]);
                const std::vector<std::string> f = split(line[0].second, ' ');
                if (f.size() == 7) {
                    printf("%8s %9s %10s %10s %12s %12s %9s\n", f[0].c_str(), f[1].c_str(), f[2].c_str(),
                           f[3].c_str(), f[4].c_str(), f[5].c_str(), f[6].c_str());
                    fflush(stdout);
                }
            } else {
                info.push_back(line[0]);
            }
        }
    }
    close(c.read_fd);
    int status = 0;
    waitpid(c.pid, &status, 0);
    if (xvfb.pid > 0) stop_child(xvfb.pid, 5000);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || samples.size() < 2) {
        fprintf(stderr, "quorvane_bench: the soak ended early (%s)\n", describe_status(status).c_str());
        return 1;
    }

    // Growth is judged from the second sample on: the first is taken before the
    // first frames have touched every image and buffer.
    std::vector<std::vector<double>> columns(7);
    for (const auto& [k, v] : samples) {
        const std::vector<std::string> f = split(v, ' ');
        for (size_t i = 0; i < columns.size() && i < f.size(); ++i)
            columns[i].push_back(strtod(f[i].c_str(), nullptr));
    }
    const size_t base = 1, last = columns[0].size() - 1;
    const double rss_growth = columns[2][last] - columns[2][base];
    const double blocks_growth = columns[4][last] - columns[4][base];
    const double live_growth = columns[5][last] - columns[5][base];
    printf(
        "\nfrom %.0f s to %.0f s: resident memory %+.0f KiB, live heap blocks %+.0f, live heap %+.1f KiB; "
        "peak %.0f KiB\n",
        columns[0][base], columns[0][last], rss_growth, blocks_growth, live_growth, columns[3][last]);
    printf("average %.1f fps over the run\n", columns[1][last] / std::max(1e-9, columns[0][last]));

    Report json = info;
    json.emplace_back("soak_driver", driver);
    add(json, "soak_seconds", o.soak_seconds);
    add(json, "soak_sample_every_s", every);
    const char* names[] = {"time_s",           "frames",        "rss_kib", "peak_rss_kib",
                           "live_heap_blocks", "live_heap_kib", "score"};
    for (size_t i = 0; i < columns.size(); ++i) {
        std::string list;
        for (double v : columns[i]) {
            char text[32];
            snprintf(text, sizeof text, "%s%.6g", list.empty() ? "" : ",", v);
            list += text;
        }
        json.emplace_back(std::string("soak_") + names[i], list);
    }
    add(json, "soak_rss_growth_kib", rss_growth);
    add(json, "soak_live_heap_blocks_growth", blocks_growth);
    add(json, "soak_live_heap_growth_kib", live_growth);
    add(json, "soak_peak_rss_kib", columns[3][last]);
    const std::string path = o.json.empty() ? "bench-soak.json" : o.json;
    if (write_json(path, json)) printf("samples written to %s\n", absolute(path).c_str());
    return 0;
}

int to_int(const char* text, const char* what)
{
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v <= 0 || v > 1000000) usage((std::string("bad ") + what).c_str());
    return static_cast<int>(v);
}

double to_seconds(const char* text, const char* what)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0)) usage((std::string("bad ") + what).c_str());
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    // The measuring children: the game runs inside them, fd 3 carries the figures.
    if (argc == 5 && strcmp(argv[1], "--child-measure") == 0) {
        return bench::run_measure_child(3, atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    }
    if (argc == 4 && strcmp(argv[1], "--child-soak") == 0) {
        return bench::run_soak_child(3, strtod(argv[2], nullptr), strtod(argv[3], nullptr));
    }

    // A test, run by ctest from the build directory: counts, not times.
    if (argc == 2 && strcmp(argv[1], "--check-allocations") == 0) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (getenv("SDL_AUDIODRIVER") == nullptr) setenv("SDL_AUDIODRIVER", "dummy", 1);
        return bench::run_allocation_check(60);
    }

    Options o;
    std::string soak_driver = "xvfb";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) usage((a + " needs a value").c_str());
            return argv[++i];
        };
        if (a == "--rounds") {
            o.rounds = to_int(next(), "--rounds");
        } else if (a == "--frames") {
            o.frames = to_int(next(), "--frames");
        } else if (a == "--warm-frames") {
            o.warm_frames = to_int(next(), "--warm-frames");
        } else if (a == "--startup-runs") {
            o.startup_runs = to_int(next(), "--startup-runs");
        } else if (a == "--drivers") {
            o.drivers = split(next(), ',');
            for (const std::string& d : o.drivers) {
                if (d != "headless" && d != "xvfb") usage("--drivers takes headless, xvfb or both");
            }
        } else if (a == "--json") {
            o.json = next();
        } else if (a == "--soak") {
            o.soak_seconds = to_seconds(next(), "--soak");
        } else if (a == "--driver") {
            soak_driver = next();
            if (soak_driver != "headless" && soak_driver != "xvfb") usage("--driver takes headless or xvfb");
        } else if (a == "--sample-every") {
            o.sample_every = to_seconds(next(), "--sample-every");
        } else if (a == "--trace-allocs") {
            // Read by the measuring child: stacks of the allocations in a few frames of each scene.
            setenv("QUORVANE_BENCH_TRACE_ALLOCS", "1", 1);
        } else if (a == "--realtime") {
            o.realtime = true;
        } else if (a == "--game") {
            o.game = next();
        } else if (a == "-h" || a == "--help") {
            usage("frame rate, allocations, start-up time and memory of the game", 0);
        } else {
            usage(("unknown option " + a).c_str());
        }
    }
    if (access("data/arial.ttf", R_OK) != 0 || access("data/bg.bmp", R_OK) != 0) {
        fprintf(
            stderr,
            "quorvane_bench: no game data in %s/data: run it from the build directory after a full build\n",
            get_current_dir_name());
        return 2;
    }
    // A child killed by a signal must not take this process with it.
    signal(SIGPIPE, SIG_IGN);
    // On a machine busy with other work, other processes delay the frames more
    // than the game's own work does: a real-time priority, inherited by the game,
    // Xvfb and every child, keeps them out of the figures. The frames sleep most
    // of the time, and the kernel keeps real-time tasks below 95% of a CPU.
    if (o.realtime) {
        sched_param p{};
        p.sched_priority = 10;
        if (sched_setscheduler(0, SCHED_FIFO, &p) != 0) {
            fprintf(stderr, "quorvane_bench: no real-time priority (%s): measuring without it\n",
                    strerror(errno));
            o.realtime = false;
        }
    }
    return o.soak_seconds > 0 ? run_soak(o, soak_driver) : run_benchmark(o);
}

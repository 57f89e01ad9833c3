// The benchmark's measuring child: the real game in this process, so that its
// heap allocations can be counted and its frames' parts timed, against the bare
// loop; raw figures as JSON for bench.py. Run from the build directory (data/).
// --check-allocations is a test: counts, never times.
#include <dlfcn.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "game.h"
#include "alloc_count.h"
#include "app/shell.h"
#include "key_event.h"
#include "layout.h"
#include "platform/device.h"
#include "platform/draw.h"
#include "screens/frame.h"
#include "screens/high_scores.h"
#include "world/score.h"

using nlohmann::json;

namespace {

int64_t clock_ns(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t wall_ns()
{
    return clock_ns(CLOCK_MONOTONIC);
}

// What the wrappers below saw in the current frame (the game draws on one
// thread). The thread CPU clock is a system call, so it is read twice a
// frame only: at the frame's start and where its wait begins.
struct FrameParts {
    int64_t wait_start_wall, wait_start_cpu;
    int64_t wait, flip, poll;  // ns in SDL_Delay, SDL_Flip, SDL_PollEvent
} part;

}  // namespace

// The executable is linked with --wrap for these C functions: every call the
// game and the bare loop make passes through here first.
extern "C" {
int __real_SDL_Flip(SDL_Surface* screen);
void __real_SDL_Delay(Uint32 ms);
int __real_SDL_PollEvent(SDL_Event* event);

int __wrap_SDL_Flip(SDL_Surface* screen)
{
    const int64_t t0 = wall_ns();
    const int result = __real_SDL_Flip(screen);
    part.flip += wall_ns() - t0;
    return result;
}

void __wrap_SDL_Delay(Uint32 ms)
{
    if (part.wait_start_wall == 0) {
        part.wait_start_wall = wall_ns();
        part.wait_start_cpu = clock_ns(CLOCK_THREAD_CPUTIME_ID);
    }
    const int64_t t0 = wall_ns();
    __real_SDL_Delay(ms);
    part.wait += wall_ns() - t0;
}

int __wrap_SDL_PollEvent(SDL_Event* event)
{
    const int64_t t0 = wall_ns();
    const int result = __real_SDL_PollEvent(event);
    part.poll += wall_ns() - t0;
    return result;
}

}  // extern "C"

namespace {

// The ceiling: what any frame must do.
void bare_pass()
{
    clear_surface(game.screen, 0, 0, 0);
    SDL_Delay(static_cast<Uint32>(frame_wait_ms));
    SDL_Flip(game.screen);
}

// Ten enemies in two staggered rows and fifty shots in flight below them,
// clear of every enemy and of the ship: each frame moves and draws them all
// and tests every shot against every enemy, and nothing is hit, so the score
// image stays (its cost is measured apart). Plain stores into the record.
void seed_busy_play()
{
    for (int i = 0; i < enemy_count; ++i) {
        game.enemies[i] =
            Enemy{.x = 82 + i * 44, .y = 30 + (i % 2) * 70, .alive = 1, .kind = i % enemy_kinds + 1};
    }
    for (int j = 0; j < shot_count; ++j) {
        game.shots[j] = Shot{.active = 1, .x = 90 + (j % 10) * 45, .y = 200 + (j / 10) * 28, .dy = -1};
    }
}

// After the frame: every enemy still alive on screen, every shot still in
// flight.
bool play_is_busy()
{
    for (const Enemy& e : game.enemies) {
        if (e.alive == 0 || e.y < 0 || e.y + enemy_contact_height > screen_height) return false;
    }
    for (const Shot& s : game.shots) {
        if (s.active == 0) return false;
    }
    return true;
}

uint32_t pixel_at(const SDL_Surface* surface, int x, int y)
{
    const auto* row = static_cast<const uint8_t*>(surface->pixels) + y * surface->pitch;
    switch (surface->format->BytesPerPixel) {
    case 2: return reinterpret_cast<const uint16_t*>(row)[x];
    case 4: return reinterpret_cast<const uint32_t*>(row)[x];
    default: return row[x * 3] | row[x * 3 + 1] << 8 | row[x * 3 + 2] << 16;
    }
}

// Whether the screen shows every pixel of the image but its key colour at (x, y).
bool shown(SDL_Surface* image, int x, int y)
{
    const bool keyed = (image->flags & SDL_SRCCOLORKEY) != 0;
    for (int iy = 0; iy < image->h; ++iy) {
        for (int ix = 0; ix < image->w; ++ix) {
            const uint32_t p = pixel_at(image, ix, iy);
            if (keyed && p == image->format->colorkey) continue;
            if (pixel_at(game.screen, x + ix, y + iy) != p) return false;
        }
    }
    return true;
}

// After the block's last frame, read from the screen rather than the record:
// the play scene drew every enemy and shot it holds (none overlaps another).
// Too dear for every frame, whose pace is being measured.
bool play_drew_all()
{
    bool all = lock_pixels(game.screen);
    if (!all) return false;
    for (SDL_Surface* image : game.sprites) all = all && lock_pixels(image);
    for (const Enemy& e : game.enemies) all = all && shown(game.sprites[e.kind], e.x, e.y);
    for (const Shot& s : game.shots) all = all && shown(game.sprites[0], s.x, s.y);
    for (SDL_Surface* image : game.sprites) unlock_pixels(image);
    unlock_pixels(game.screen);
    return all;
}

// A full table, three rows of this session lit, and the not-saved notice: the
// most the screen draws. Opened before the block, with its first frame, whose
// first copy of each new image registers it with the screen: costs of opening.
void open_full_table()
{
    close_high_scores();
    game.scores_saved = 0;
    game.high_scores.count = game.session_scores.count = 0;
    for (int i = 0; i < score_table_size; ++i) {
        ScoreEntry& e = game.high_scores.entries[game.high_scores.count++];
        e = ScoreEntry{.score = 5000 - i * 370, .time = 1765000000 + i * 86400, .name = {"Ada Lovelace"}};
        if (i % 3 == 0) game.session_scores.entries[game.session_scores.count++] = e;
    }
    open_high_scores();
    loop_pass();
}

// A scene: set before each block, seeded before each frame, and, if it must
// stay busy to mean anything, checked after each frame.
struct Scene {
    const char* name;
    void (*set)() = nullptr;
    void (*seed)() = nullptr;
    bool (*busy)() = nullptr;
    bool (*drew)() = nullptr;  // checked once, after the block
    void (*pass)() = loop_pass;
};

// The bare loop first; each of the game's screens is compared with it.
const Scene scenes[] = {
    {.name = "bare", .pass = bare_pass},
    {.name = "menu", .set = [] { game.state = MENU; }},
    {.name = "play",
     .set = [] { game.state = PLAY; },
     .seed = seed_busy_play,
     .busy = play_is_busy,
     .drew = play_drew_all},
    {.name = "high_scores", .set = open_full_table},
};
constexpr int scene_count = sizeof scenes / sizeof scenes[0];

// Sums over a block of frames, in ns where a time.
struct Block {
    int frames = 0;
    int64_t elapsed = 0;                  // from the first frame's start to the last one's end
    int64_t work_wall = 0, work_cpu = 0;  // before the wait: events, tick, drawing
    int64_t wait = 0, flip = 0, poll = 0;
    uint64_t allocations = 0, allocations_all_threads = 0;
    bool busy = true;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Block, frames, elapsed, work_wall, work_cpu, wait, flip, poll, allocations,
                                   allocations_all_threads, busy)

// frame_ms, when given, gets each frame's duration; it must have room
// reserved, or the measurement itself would allocate.
Block run_block(const Scene& scene, int frames, std::vector<double>* frame_ms)
{
    Block b{.frames = frames};
    if (scene.set != nullptr) scene.set();
    const alloc_totals thread0 = alloc_totals_thread(), all0 = alloc_totals_all();
    const int64_t start = wall_ns();
    for (int f = 0; f < frames; ++f) {
        if (scene.seed != nullptr) scene.seed();
        part = FrameParts{};
        const int64_t w0 = wall_ns(), c0 = clock_ns(CLOCK_THREAD_CPUTIME_ID);
        scene.pass();
        const int64_t w1 = wall_ns();
        b.work_wall += part.wait_start_wall - w0;
        b.work_cpu += part.wait_start_cpu - c0;
        b.wait += part.wait;
        b.flip += part.flip;
        b.poll += part.poll;
        if (scene.busy != nullptr && !scene.busy()) b.busy = false;
        if (frame_ms != nullptr) frame_ms->push_back((w1 - w0) / 1e6);
    }
    b.elapsed = wall_ns() - start;
    if (scene.drew != nullptr && !scene.drew()) b.busy = false;
    b.allocations = alloc_totals_thread().allocations - thread0.allocations;
    b.allocations_all_threads = alloc_totals_all().allocations - all0.allocations;
    if (game.quit != 0) {
        fprintf(stderr, "quorvane_bench: the game asked to quit during the %s scene\n", scene.name);
        exit(1);
    }
    return b;
}

// The score image is made only when the score changes, so its cost is
// measured apart, as the game pays it: render_score(), then the first draw of
// the new image (SDL2 underneath registers a surface at its first blit).
json measure_score_images(int count)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(count));
    uint64_t allocations = 0, all_threads = 0;
    const int32_t kept = game.score;
    // Every digit drawn once first: a game has its glyphs cached after its first few hits.
    game.score = 1234567890;
    render_score();
    for (int i = 0; i < count; ++i) {
        game.score = kept + 10 * (i + 1);
        const alloc_totals thread0 = alloc_totals_thread(), all0 = alloc_totals_all();
        const int64_t t0 = wall_ns();
        render_score();
        draw_score();
        us.push_back((wall_ns() - t0) / 1e3);
        allocations += alloc_totals_thread().allocations - thread0.allocations;
        all_threads += alloc_totals_all().allocations - all0.allocations;
    }
    game.score = kept;
    render_score();
    return {{"images", count},
            {"allocations", allocations},
            {"allocations_all_threads", all_threads},
            {"us", us}};
}

// Which SDL 1.2 this really is. Only sdl12-compat has SDL12COMPAT_GetWindow;
// the classic library can share the process with an SDL2 that others loaded
// (libmikmod and libfluidsynth under the mixer link it), which says nothing.
std::string dotted(const SDL_version& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

json runtime()
{
    json r = {{"sdl", dotted(*SDL_Linked_Version())}};
    Dl_info where{};
    if (dladdr(dlsym(RTLD_DEFAULT, "SDL_Linked_Version"), &where) != 0 && where.dli_fname != nullptr) {
        r["library"] = std::filesystem::canonical(where.dli_fname).string();
    }
    char name[64] = "";
    r["video_driver"] = SDL_VideoDriverName(name, sizeof name) != nullptr ? name : "none";
    r["audio_driver"] = SDL_AudioDriverName(name, sizeof name) != nullptr ? name : "none";
    auto get_window = reinterpret_cast<void* (*)()>(dlsym(RTLD_DEFAULT, "SDL12COMPAT_GetWindow"));
    r["sdl12_compat"] = get_window != nullptr;
    void* sdl2 = get_window != nullptr ? dlopen("libSDL2-2.0.so.0", RTLD_NOLOAD | RTLD_LAZY) : nullptr;
    if (sdl2 == nullptr) return r;
    auto get_version = reinterpret_cast<void (*)(SDL_version*)>(dlsym(sdl2, "SDL_GetVersion"));
    auto get_renderer = reinterpret_cast<void* (*)(void*)>(dlsym(sdl2, "SDL_GetRenderer"));
    // SDL_GetRendererInfo fills an SDL_RendererInfo: the name first, then 80 bytes of figures.
    auto get_info = reinterpret_cast<int (*)(void*, void*)>(dlsym(sdl2, "SDL_GetRendererInfo"));
    if (get_version != nullptr) {
        SDL_version v2{};
        get_version(&v2);
        r["sdl2"] = dotted(v2);
    }
    void* renderer = get_renderer != nullptr ? get_renderer(get_window()) : nullptr;
    struct {
        const char* name;
        char figures[80];
    } info{};
    r["renderer"] = renderer == nullptr                                      ? "none (window surface)"
                    : get_info(renderer, &info) == 0 && info.name != nullptr ? info.name
                                                                             : "unknown";
    dlclose(sdl2);
    return r;
}

json measure(int rounds, int frames, int warm_frames, int score_images)
{
    for (const Scene& s : scenes) run_block(s, warm_frames, nullptr);
    std::vector<std::vector<Block>> blocks(scene_count);
    std::vector<std::vector<double>> frame_ms(scene_count);
    for (auto& v : frame_ms) v.reserve(static_cast<size_t>(rounds * frames));
    for (int r = 0; r < rounds; ++r) {
        // The order turns from round to round, so no scene always follows another.
        for (int k = 0; k < scene_count; ++k) {
            const int s = (k + r) % scene_count;
            blocks[s].push_back(run_block(scenes[s], frames, &frame_ms[s]));
        }
    }
    json out = {{"runtime", runtime()}, {"frame_wait_ms", frame_wait_ms}};
    for (int s = 0; s < scene_count; ++s) {
        // Each scene's blocks in the order of the rounds; "busy" means something where it was checked.
        out["scenes"].push_back({{"name", scenes[s].name},
                                 {"busy_checked", scenes[s].busy != nullptr},
                                 {"blocks", blocks[s]},
                                 {"frame_ms", frame_ms[s]}});
    }
    out["score_image"] = measure_score_images(score_images);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out["peak_rss_kib"] = usage.ru_maxrss;
    return out;
}

// Steady-state frames of each screen, headless, allocate no more on the game's
// thread than the bare loop's; the play scene must be busy every frame.
int check_allocations(int frames)
{
    for (const Scene& s : scenes) run_block(s, frames, nullptr);
    const Block bare = run_block(scenes[0], frames, nullptr);
    printf("heap allocations on the game's thread in %d frames: bare loop %llu\n", frames,
           static_cast<unsigned long long>(bare.allocations));
    int failures = 0;
    for (int s = 1; s < scene_count; ++s) {
        const Block b = run_block(scenes[s], frames, nullptr);
        printf("%s: %llu\n", scenes[s].name, static_cast<unsigned long long>(b.allocations));
        const bool more = b.allocations > bare.allocations;
        if (more) printf("FAIL: %s allocates more than the bare loop\n", scenes[s].name);
        if (!b.busy) printf("FAIL: %s was not busy every frame\n", scenes[s].name);
        failures += more + !b.busy;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::map<std::string, int> counts = {
        {"--rounds", 11}, {"--frames", 60}, {"--warm-frames", 60}, {"--score-images", 200}};
    bool check = false;
    std::string json_path;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--check-allocations") {
            check = true;
        } else if (a == "--json" && i + 1 < argc) {
            json_path = argv[++i];
        } else if (counts.count(a) != 0 && i + 1 < argc && atoi(argv[i + 1]) > 0) {
            counts[a] = atoi(argv[++i]);
        } else {
            fprintf(stderr,
                    "usage: quorvane_bench --json PATH [--rounds N] [--frames N] [--warm-frames N]"
                    " [--score-images N]\n       quorvane_bench --check-allocations\n");
            return 2;
        }
    }
    if (!check && json_path.empty()) return fprintf(stderr, "quorvane_bench: --json PATH is needed\n"), 2;
    // The game's data folder is one of its own, never a real home's.
    char data_home[] = "/tmp/quorvane-bench-XXXXXX";
    if (mkdtemp(data_home) == nullptr || setenv("XDG_DATA_HOME", data_home, 1) != 0) {
        perror("quorvane_bench: a temporary XDG_DATA_HOME");
        return 1;
    }
    start_up();
    // Space on "New game", as a player presses it: the real way into play.
    SDL_Event press = key_event(SDL_KEYDOWN, SDLK_SPACE), release = key_event(SDL_KEYUP, SDLK_SPACE);
    SDL_PushEvent(&press);
    SDL_PushEvent(&release);
    loop_pass();
    int status = 0;
    if (game.state != PLAY) {
        fprintf(stderr, "quorvane_bench: Space on the menu started no game\n");
        status = 1;
    } else if (check) {
        status = check_allocations(counts["--frames"]);
    } else {
        const json out = measure(counts["--rounds"], counts["--frames"], counts["--warm-frames"],
                                 counts["--score-images"]);
        std::ofstream(json_path) << out.dump() << "\n";
    }
    shut_down();
    std::filesystem::remove_all(data_home);
    return status;
}

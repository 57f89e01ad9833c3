#include "game_driver.h"

#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "game.h"
#include "app/shell.h"
#include "platform/device.h"
#include "common.h"
#include "platform/draw.h"
#include "screens/frame.h"

// The executable is linked with --wrap for these, so every call the game (and
// the bare loop below) makes goes through the timing wrappers first.
extern "C" {
int __real_SDL_Flip(SDL_Surface* screen);
void __real_SDL_Delay(Uint32 ms);
int __real_SDL_PollEvent(SDL_Event* event);
int __real_SDL_UpperBlit(SDL_Surface* src, SDL_Rect* src_rect, SDL_Surface* dst, SDL_Rect* dst_rect);
void __real__Z12render_scorev();  // render_score()
}

namespace {

// Main thread only: the game polls, draws, waits and flips on one thread.
// Wall times come from the vDSO clock, which costs tens of nanoseconds; the
// thread CPU clock is a system call costing microseconds here, so it is read
// only twice a frame, the same in the game and the bare loop.
struct FrameMarks {
    int64_t wait_start_wall = 0;  // first SDL_Delay of the frame entered
    int64_t wait_start_cpu = 0;
    int64_t wait_wall = 0;  // spent in SDL_Delay
    int64_t flip_wall = 0;  // spent in SDL_Flip
    int64_t poll_wall = 0;  // spent in SDL_PollEvent
} marks;

struct ScoreImages {
    int64_t wall = 0;
    uint64_t count = 0;
    uint64_t allocations_thread = 0;
    uint64_t allocations_all = 0;
    bool fresh = false;  // made since its last blit
} score_images;
uint64_t blit_count = 0;

}  // namespace

extern "C" {

int __wrap_SDL_Flip(SDL_Surface* screen)
{
    const int64_t w0 = bench::mono_ns();
    const int result = __real_SDL_Flip(screen);
    marks.flip_wall += bench::mono_ns() - w0;
    return result;
}

void __wrap_SDL_Delay(Uint32 ms)
{
    const int64_t w0 = bench::mono_ns();
    if (marks.wait_start_wall == 0) {
        marks.wait_start_wall = w0;
        marks.wait_start_cpu = bench::thread_cpu_ns();
    }
    const int64_t w1 = bench::mono_ns();
    __real_SDL_Delay(ms);
    marks.wait_wall += bench::mono_ns() - w1;
}

int __wrap_SDL_PollEvent(SDL_Event* event)
{
    const int64_t w0 = bench::mono_ns();
    const int result = __real_SDL_PollEvent(event);
    marks.poll_wall += bench::mono_ns() - w0;
    return result;
}

// SDL2 registers a source surface with its destination the first time it is
// blitted there, allocating a list node: for a new score image that happens in
// the frame after the score changed, and belongs to that image's cost.
int __wrap_SDL_UpperBlit(SDL_Surface* src, SDL_Rect* src_rect, SDL_Surface* dst, SDL_Rect* dst_rect)
{
    ++blit_count;
    if (!score_images.fresh || src != game.score_image)
        return __real_SDL_UpperBlit(src, src_rect, dst, dst_rect);
    score_images.fresh = false;
    const alloc_totals t0 = alloc_totals_thread();
    const alloc_totals a0 = alloc_totals_all();
    const int result = __real_SDL_UpperBlit(src, src_rect, dst, dst_rect);
    score_images.allocations_thread += alloc_totals_thread().allocations - t0.allocations;
    score_images.allocations_all += alloc_totals_all().allocations - a0.allocations;
    return result;
}

// The score image is remade after every change of the score: its allocations
// are the one kind a frame is allowed, so they are counted apart.
void __wrap__Z12render_scorev()
{
    const alloc_totals t0 = alloc_totals_thread();
    const alloc_totals a0 = alloc_totals_all();
    const int64_t w0 = bench::mono_ns();
    __real__Z12render_scorev();
    score_images.wall += bench::mono_ns() - w0;
    score_images.allocations_thread += alloc_totals_thread().allocations - t0.allocations;
    score_images.allocations_all += alloc_totals_all().allocations - a0.allocations;
    score_images.count += 1;
    score_images.fresh = true;
}

}  // extern "C"

namespace bench {
namespace {

enum Scene { BARE = 0, MENU_SCENE = 1, PLAY_SCENE = 2 };
constexpr int scene_count = 3;
const char* const scene_names[scene_count] = {"bare", "menu", "play"};

SDL_Event key(Uint8 type, SDLKey sym)
{
    SDL_Event e{};
    e.type = type;
    e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    return e;
}

// Space on "New game", as a player would press it: the real path into play.
void start_new_game()
{
    game.menu_selection = 0;
    game.state = MENU;
    handle_event(key(SDL_KEYDOWN, SDLK_SPACE));
    handle_event(key(SDL_KEYUP, SDLK_SPACE));
}

// Ten enemies in two staggered rows, all alive and on screen; forty-nine shots
// in flight below them, clear of every enemy and of the ship; the fiftieth lies
// inside one enemy (a different one each frame), so hit_enemies scores once
// per frame. Plain stores into the record: nothing is allocated.
void seed_busy_scene(long frame)
{
    for (int i = 0; i < enemy_count; ++i) {
        Enemy& e = game.enemies[i];
        e.x = 82 + i * 44;
        e.y = 30 + (i % 2) * 70;
        e.alive = 1;
        e.kind = i % enemy_kinds + 1;
    }
    for (int j = 0; j < shot_count - 1; ++j) {
        Shot& s = game.shots[j];
        s.active = 1;
        s.dy = -1;
        s.x = 90 + (j % 10) * 45;
        s.y = 200 + (j / 10) * 28;
    }
    // After this frame's tick the shot is one row up and the enemy one down:
    // still wholly inside its 45x40 box.
    const Enemy& target = game.enemies[frame % enemy_count];
    Shot& hit = game.shots[shot_count - 1];
    hit.active = 1;
    hit.dy = -1;
    hit.x = target.x + 15;
    hit.y = target.y + 10;
    game.lives = 4;
}

// What run_loop does for one pass.
void game_pass()
{
    poll_events();
    game.now_tick = static_cast<int32_t>(SDL_GetTicks());
    draw_frame();
}

// The ceiling: clear, wait, flip.
void bare_pass()
{
    clear_surface(game.screen, 0, 0, 0);
    SDL_Delay(static_cast<Uint32>(frame_wait_ms));
    SDL_Flip(game.screen);
}

struct Block {
    double fps = 0;
    double work_wall_us = 0;  // mean per frame before the wait: polling, drawing, the tick
    double work_cpu_us = 0;
    double work_wall_max_us = 0;
    double poll_wall_us = 0;   // mean per frame in SDL_PollEvent, part of the work
    double wait_wall_us = 0;   // mean per frame in SDL_Delay
    double flip_wall_us = 0;   // mean per frame in SDL_Flip
    double score_wall_us = 0;  // mean per frame in render_score, part of the work
    uint64_t frames = 0;
    uint64_t allocations_thread = 0;  // besides the score images'
    uint64_t allocations_all = 0;
    uint64_t score_allocations_thread = 0;
    uint64_t score_allocations_all = 0;
    uint64_t score_images = 0;
    uint64_t blits = 0;
    uint64_t minor_faults = 0;  // pages the kernel had to map in on first touch
    bool busy = true;           // every play frame had ten enemies on screen and fifty shots in flight
};

// Read once per block, so it adds no system call to any frame.
uint64_t minor_faults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<uint64_t>(usage.ru_minflt);
}

bool scene_is_busy()
{
    int enemies = 0, shots = 0;
    for (const Enemy& e : game.enemies) {
        if (e.alive != 0 && e.y >= 0 && e.y + 45 <= screen_height) ++enemies;
    }
    for (const Shot& s : game.shots) {
        if (s.active != 0 && s.y >= 0) ++shots;
    }
    return enemies == enemy_count && shots == shot_count;
}

// frame_ms, when given, receives each frame's whole duration; it must have
// room reserved, so that the measurement itself allocates nothing.
Block run_block(Scene scene, int frames, std::vector<double>* frame_ms = nullptr)
{
    Block b;
    if (scene == MENU_SCENE) game.state = MENU;
    if (scene == PLAY_SCENE) game.state = PLAY;
    const alloc_totals t0 = alloc_totals_thread();
    const alloc_totals a0 = alloc_totals_all();
    const ScoreImages s0 = score_images;
    const uint64_t blits0 = blit_count;
    const uint64_t faults0 = minor_faults();
    int64_t work_wall = 0, work_cpu = 0, work_max = 0, wait_wall = 0, flip_wall = 0, poll_wall = 0;
    const int64_t start = mono_ns();
    for (int f = 0; f < frames; ++f) {
        if (scene == PLAY_SCENE) {
            seed_busy_scene(f);
            if (!scene_is_busy()) b.busy = false;
        }
        marks = FrameMarks{};
        const int64_t w0 = mono_ns();
        const int64_t c0 = thread_cpu_ns();
        if (scene == BARE) {
            bare_pass();
        } else {
            game_pass();
        }
        const int64_t w1 = mono_ns();
        const int64_t work = marks.wait_start_wall - w0;
        work_wall += work;
        work_cpu += marks.wait_start_cpu - c0;
        work_max = std::max(work_max, work);
        poll_wall += marks.poll_wall;
        wait_wall += marks.wait_wall;
        flip_wall += marks.flip_wall;
        if (frame_ms != nullptr) frame_ms->push_back((w1 - w0) / 1e6);
    }
    const int64_t elapsed = mono_ns() - start;
    b.minor_faults = minor_faults() - faults0;
    const alloc_totals t1 = alloc_totals_thread();
    const alloc_totals a1 = alloc_totals_all();
    b.frames = static_cast<uint64_t>(frames);
    b.fps = frames * 1e9 / static_cast<double>(elapsed);
    b.work_wall_us = work_wall / 1e3 / frames;
    b.work_cpu_us = work_cpu / 1e3 / frames;
    b.work_wall_max_us = work_max / 1e3;
    b.poll_wall_us = poll_wall / 1e3 / frames;
    b.wait_wall_us = wait_wall / 1e3 / frames;
    b.flip_wall_us = flip_wall / 1e3 / frames;
    b.score_images = score_images.count - s0.count;
    b.score_wall_us = (score_images.wall - s0.wall) / 1e3 / frames;
    b.score_allocations_thread = score_images.allocations_thread - s0.allocations_thread;
    b.score_allocations_all = score_images.allocations_all - s0.allocations_all;
    b.allocations_thread = (t1.allocations - t0.allocations) - b.score_allocations_thread;
    b.allocations_all = (a1.allocations - a0.allocations) - b.score_allocations_all;
    b.blits = blit_count - blits0;
    if (game.quit != 0) {
        fprintf(stderr, "quorvane_bench: the game asked to quit during the measurement\n");
        exit(1);
    }
    return b;
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string joined(const std::vector<double>& v)
{
    std::string out;
    char text[32];
    for (double x : v) {
        snprintf(text, sizeof text, "%s%.4g", out.empty() ? "" : ",", x);
        out += text;
    }
    return out;
}

struct SdlVersion2 {
    Uint8 major, minor, patch;
};
struct RendererInfo2 {
    const char* name;
    Uint32 flags;
    Uint32 num_texture_formats;
    Uint32 texture_formats[16];
    int max_texture_width;
    int max_texture_height;
};

// The runtime underneath: the 1.2 API's own version, and, when that is
// sdl12-compat, the SDL2 it loaded and the renderer it presents frames with.
void report_runtime(int fd)
{
    const SDL_version* v = SDL_Linked_Version();
    report(fd, "sdl_linked_version",
           std::to_string(v->major) + "." + std::to_string(v->minor) + "." + std::to_string(v->patch));
    char driver[64] = "";
    report(fd, "video_driver", SDL_VideoDriverName(driver, sizeof driver) != nullptr ? driver : "unknown");
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    report(fd, "screen_bits_per_pixel", game.screen->format->BitsPerPixel);
    report(fd, "screen_hardware_surface", (game.screen->flags & SDL_HWSURFACE) != 0 ? 1.0 : 0.0);
    report(fd, "video_memory_kib", info != nullptr ? info->video_mem : 0);
    char audio[64] = "";
    report(fd, "audio_driver", SDL_AudioDriverName(audio, sizeof audio) != nullptr ? audio : "none");

    void* sdl2 = dlopen("libSDL2-2.0.so.0", RTLD_NOLOAD | RTLD_LAZY);
    if (sdl2 == nullptr) {
        report(fd, "sdl2_version", "none");
        return;
    }
    using GetVersion = void (*)(SdlVersion2*);
    using GetRevision = const char* (*)();
    using GetRenderer = void* (*)(void*);
    using GetRendererInfo = int (*)(void*, RendererInfo2*);
    using GetWindow = void* (*)();
    if (auto get_version = reinterpret_cast<GetVersion>(dlsym(sdl2, "SDL_GetVersion"))) {
        SdlVersion2 v2{};
        get_version(&v2);
        report(fd, "sdl2_version",
               std::to_string(v2.major) + "." + std::to_string(v2.minor) + "." + std::to_string(v2.patch));
    }
    if (auto get_revision = reinterpret_cast<GetRevision>(dlsym(sdl2, "SDL_GetRevision"))) {
        const char* r = get_revision();
        if (r != nullptr && r[0] != '\0') report(fd, "sdl2_revision", r);
    }
    std::string renderer = "unknown";
    auto get_window = reinterpret_cast<GetWindow>(dlsym(RTLD_DEFAULT, "SDL12COMPAT_GetWindow"));
    auto get_renderer = reinterpret_cast<GetRenderer>(dlsym(sdl2, "SDL_GetRenderer"));
    auto get_info = reinterpret_cast<GetRendererInfo>(dlsym(sdl2, "SDL_GetRendererInfo"));
    if (get_window != nullptr && get_renderer != nullptr && get_info != nullptr) {
        void* window = get_window();
        void* r = window != nullptr ? get_renderer(window) : nullptr;
        RendererInfo2 ri{};
        if (r == nullptr) {
            renderer = "none (window surface)";
        } else if (get_info(r, &ri) == 0 && ri.name != nullptr) {
            renderer = ri.name;
        }
    }
    report(fd, "sdl2_renderer", renderer);
    dlclose(sdl2);
}

void start_game()
{
    start_up();
    // A busy scene from the first measured frame; the screens switch by state below.
    start_new_game();
}

}  // namespace

int run_measure_child(int fd, int rounds, int frames, int warm_frames)
{
    start_game();
    report_runtime(fd);

    // Warm-up: caches, the glyph cache, the X server's first frames.
    for (int s = 0; s < scene_count; ++s) run_block(static_cast<Scene>(s), warm_frames);

    if (getenv("QUORVANE_BENCH_TRACE_ALLOCS") != nullptr) {
        for (int s = 0; s < scene_count; ++s) {
            fprintf(stderr, "==== allocations in three frames of %s\n", scene_names[s]);
            alloc_trace_thread(1);
            run_block(static_cast<Scene>(s), 3);
            alloc_trace_thread(0);
        }
    }

    std::array<std::vector<Block>, scene_count> blocks;
    std::array<std::vector<double>, scene_count> ratios;  // per round, against that round's bare loop
    // Every frame's duration: their median shrugs off the frames another
    // process on a busy machine delayed.
    std::array<std::vector<double>, scene_count> frame_ms;
    for (auto& v : frame_ms) v.reserve(static_cast<size_t>(rounds) * static_cast<size_t>(frames));
    for (int r = 0; r < rounds; ++r) {
        // Rotate the order so no scene always runs right after another.
        std::array<Block, scene_count> round;
        for (int k = 0; k < scene_count; ++k) {
            const int s = (k + r) % scene_count;
            round[s] = run_block(static_cast<Scene>(s), frames, &frame_ms[s]);
            blocks[s].push_back(round[s]);
        }
        for (int s = 0; s < scene_count; ++s) ratios[s].push_back(round[s].fps / round[BARE].fps);
    }

    for (int s = 0; s < scene_count; ++s) {
        const std::string p = scene_names[s];
        std::vector<double> fps, wall, cpu, wmax, poll, wait, flip, score_wall;
        uint64_t n = 0, at = 0, aa = 0, sat = 0, saa = 0, images = 0, blits = 0, faults = 0;
        bool busy = true;
        for (const Block& b : blocks[s]) {
            fps.push_back(b.fps);
            wall.push_back(b.work_wall_us);
            cpu.push_back(b.work_cpu_us);
            wmax.push_back(b.work_wall_max_us);
            poll.push_back(b.poll_wall_us);
            wait.push_back(b.wait_wall_us);
            flip.push_back(b.flip_wall_us);
            score_wall.push_back(b.score_wall_us);
            n += b.frames;
            at += b.allocations_thread;
            aa += b.allocations_all;
            sat += b.score_allocations_thread;
            saa += b.score_allocations_all;
            images += b.score_images;
            blits += b.blits;
            faults += b.minor_faults;
            busy = busy && b.busy;
        }
        const double frames_total = static_cast<double>(n);
        report(fd, p + "_fps", median(fps));
        report(fd, p + "_fps_rounds", joined(fps));
        const double median_ms = median(frame_ms[s]);
        report(fd, p + "_frame_ms_median", median_ms);
        report(fd, p + "_work_cpu_us", median(cpu));
        report(fd, p + "_work_wall_us", median(wall));
        report(fd, p + "_work_wall_max_us", *std::max_element(wmax.begin(), wmax.end()));
        report(fd, p + "_wait_wall_us", median(wait));
        report(fd, p + "_flip_wall_us", median(flip));
        report(fd, p + "_allocs_per_frame", at / frames_total);
        report(fd, p + "_allocs_per_frame_all_threads", aa / frames_total);
        report(fd, p + "_frames_measured", frames_total);
        report(fd, p + "_minor_faults_per_frame", faults / frames_total);
        if (s == BARE) continue;
        // Only the game's screens from here on: against the bare loop, and what the bare loop lacks.
        report(fd, p + "_fps_ratio", median(ratios[s]));
        report(fd, p + "_fps_ratio_rounds", joined(ratios[s]));
        report(fd, p + "_frame_ms_median_ratio", median(frame_ms[BARE]) / median_ms);
        report(fd, p + "_event_poll_wall_us", median(poll));
        report(fd, p + "_score_image_wall_us", median(score_wall));
        report(fd, p + "_score_images_per_frame", images / frames_total);
        report(fd, p + "_allocs_per_score_image", images > 0 ? sat / static_cast<double>(images) : 0.0);
        report(fd, p + "_score_allocs_per_frame_all_threads", saa / frames_total);
        report(fd, p + "_blits_per_frame", blits / frames_total);
        if (s == PLAY_SCENE) report(fd, "play_scene_busy", busy ? 1.0 : 0.0);
    }
    report(fd, "peak_rss_kib", static_cast<double>(status_kib(0, "VmHWM")));
    report(fd, "score_at_end", game.score);
    shut_down();
    return 0;
}

int run_allocation_check(int frames)
{
    start_game();
    for (int s = 0; s < scene_count; ++s) run_block(static_cast<Scene>(s), frames);
    const Block bare = run_block(BARE, frames);
    const Block menu = run_block(MENU_SCENE, frames);
    const Block play = run_block(PLAY_SCENE, frames);
    printf(
        "heap allocations on the main thread in %d frames: bare loop %llu, menu %llu, play %llu"
        " besides %llu score images (%llu allocations)\n",
        frames, static_cast<unsigned long long>(bare.allocations_thread),
        static_cast<unsigned long long>(menu.allocations_thread),
        static_cast<unsigned long long>(play.allocations_thread),
        static_cast<unsigned long long>(play.score_images),
        static_cast<unsigned long long>(play.score_allocations_thread));
    int failures = 0;
    if (menu.allocations_thread > bare.allocations_thread) {
        printf("FAIL: the menu allocates more than the bare loop\n");
        ++failures;
    }
    if (play.allocations_thread > bare.allocations_thread) {
        printf("FAIL: play allocates more than the bare loop, besides its score images\n");
        ++failures;
    }
    // Without these the check would pass on a scene that does nothing.
    if (!play.busy || play.score_images != static_cast<uint64_t>(frames) ||
        play.blits < static_cast<uint64_t>(frames) * (enemy_count + shot_count)) {
        printf("FAIL: the play scene was not busy (score images %llu, blits %llu)\n",
               static_cast<unsigned long long>(play.score_images),
               static_cast<unsigned long long>(play.blits));
        ++failures;
    }
    shut_down();
    return failures == 0 ? 0 : 1;
}

int run_soak_child(int fd, double seconds, double sample_every)
{
    start_game();
    report_runtime(fd);
    // Each cycle: eight seconds of busy play, two in the menu, then a new game
    // through the key press, which also restarts the music.
    constexpr int64_t play_ns = 8000000000LL, menu_ns = 2000000000LL;
    const int64_t start = mono_ns();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    int64_t next_sample = start;
    int64_t cycle_start = start;
    long frame = 0, sample = 0;
    for (;;) {
        const int64_t now = mono_ns();
        if (now >= next_sample || now >= end) {
            const alloc_totals a = alloc_totals_all();
            char line[256];
            snprintf(line, sizeof line, "%.1f %ld %ld %ld %lld %.1f %d", (now - start) / 1e9, frame,
                     status_kib(0, "VmRSS"), status_kib(0, "VmHWM"),
                     static_cast<long long>(a.allocations - a.frees), a.live_bytes / 1024.0,
                     static_cast<int>(game.score));
            report(fd, "sample" + std::to_string(sample++), line);
            next_sample += static_cast<int64_t>(sample_every * 1e9);
            if (now >= end) break;
        }
        const int64_t in_cycle = now - cycle_start;
        if (in_cycle >= play_ns + menu_ns) {
            start_new_game();
            cycle_start = now;
        } else if (in_cycle >= play_ns) {
            game.state = MENU;
        } else {
            game.state = PLAY;
            seed_busy_scene(frame);
        }
        game_pass();
        ++frame;
        if (game.quit != 0) {
            fprintf(stderr, "quorvane_bench: the game asked to quit during the soak\n");
            return 1;
        }
    }
    shut_down();
    return 0;
}

}  // namespace bench

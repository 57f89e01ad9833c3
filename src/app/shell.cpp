#include "app/shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "game.h"
#include "app/input.h"
#include "platform/assets.h"
#include "screens/frame.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/shots.h"
#include "world/stars.h"

int init_text()
{
    if (TTF_Init() == -1) {
        fprintf(stderr, "Error: unable to initialize TTF_SDL, %s\n", SDL_GetError());
        return 0;
    }
    atexit(TTF_Quit);
    return 1;
}

// A machine without working sound must still play: when the audio driver
// cannot start and takes the whole start with it, try again without audio.
static void start_library()
{
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0 &&
        SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        exit(sdl_failure_status);
    }
}

// With no display reachable, SDL2 underneath the 1.2 API falls back to its
// invisible "offscreen" driver and the game would run unseen. Only a driver
// somebody asked for by name may show nothing.
static bool invisible_by_accident()
{
    char name[32] = "";
    if (SDL_VideoDriverName(name, sizeof name) == nullptr) return false;
    if (strcmp(name, "offscreen") != 0) return false;
    const char* asked = getenv("SDL_VIDEODRIVER");
    return asked == nullptr || asked[0] == '\0';
}

static void set_video_mode()
{
    game.screen = SDL_SetVideoMode(screen_width, screen_height, screen_bpp, SDL_FULLSCREEN);
    if (game.screen != nullptr && invisible_by_accident()) {
        game.screen = nullptr;
        SDL_SetError("no display could be opened (set SDL_VIDEODRIVER=dummy to run without one)");
    }
    if (game.screen == nullptr) {
        fprintf(stderr, "Couldn't set video mode: %s\n", SDL_GetError());
        stop_start_up(video_failure_status);
    }
}

// A cut-off font file can still open: its glyphs past the cut come out as
// empty shapes, and the score would be drawn as nothing, without a word. The
// score needs the ten digits; a font without their shapes is damaged.
static bool draws_digits(TTF_Font* font)
{
    for (Uint16 digit = '0'; digit <= '9'; ++digit) {
        int min_x = 0, max_x = 0, min_y = 0, max_y = 0, advance = 0;
        if (TTF_GlyphMetrics(font, digit, &min_x, &max_x, &min_y, &max_y, &advance) != 0 || max_x <= min_x ||
            max_y <= min_y) {
            SDL_SetError("the file is damaged: the digit %c has no shape", static_cast<char>(digit));
            return false;
        }
    }
    return true;
}

// The score's font; without it the game cannot start.
static void open_font()
{
    static constexpr char font_path[] = "data/arial.ttf";
    game.font = TTF_OpenFont(font_path, 12);
    if (game.font != nullptr && !draws_digits(game.font)) {
        TTF_CloseFont(game.font);
        game.font = nullptr;
    }
    if (game.font == nullptr) {
        // The library names the file only when it cannot open it; a damaged
        // one must be named too, or the player cannot tell what is wrong.
        const char* reason = SDL_GetError();
        if (strstr(reason, font_path) != nullptr) {
            printf("TTF_OpenFont error: %s", reason);
        } else {
            printf("TTF_OpenFont error: %s: %s", font_path, reason);
        }
        stop_start_up(font_failure_status);
    }
}

// A failed start-up releases the library itself before it exits.
void stop_start_up(int status)
{
    SDL_Quit();
    exit(status);
}

// SDL_Quit is not left to run at exit: when the X server goes away, Xlib ends
// the process with exit(1), and SDL_Quit would then wait forever on the dead
// connection. Each exit of this program's own releases the library first;
// at any exit, the mixer's audio thread is stopped before the process ends.
void start_up()
{
    start_library();
    set_video_mode();
    SDL_WM_SetCaption("Quorvane", nullptr);
    SDL_EnableKeyRepeat(10, 10);
    SDL_ShowCursor(0);
    srand(static_cast<unsigned>(time(nullptr)));
    init_text();
    init_audio();
    atexit(Mix_CloseAudio);
    open_font();
    game.text_colour = SDL_Color{55, 55, 255, 0};
    load_assets();
    init_stars();
    clear_shots();
    spawn_enemies();
    render_score();
    game.state = MENU;
    game.frame_counter = 0;
    game.last_tick = 0;
    game.quit = 0;
    game.last_fire = 0;
    Mix_PlayMusic(game.music, -1);
}

// Drains the queue without waiting: the loop never blocks on input.
void poll_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) handle_event(event);
}

// quit is tested only at the top, so the pass that sets it still draws its frame.
void run_loop()
{
    while (game.quit == 0) {
        poll_events();
        game.now_tick = static_cast<int32_t>(SDL_GetTicks());
        draw_frame();
    }
}

void shut_down()
{
    TTF_Quit();
    Mix_CloseAudio();
    SDL_Quit();
}

#include "platform/device.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "game.h"

// A machine without working sound must still play: when the audio driver
// cannot start and takes the whole start with it, try again without audio.
void start_library()
{
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0 &&
        SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        exit(LIBRARY_FAILED);
    }
}

// With no display reachable, the runtime falls back to a driver nobody can
// play on: SDL2 underneath the 1.2 API to its invisible "offscreen" one, the
// classic runtime to drawing in coloured letters into the terminal. Only a
// driver somebody asked for by name may do that.
static bool unplayable_by_accident()
{
    char name[32] = "";
    if (SDL_VideoDriverName(name, sizeof name) == nullptr) return false;
    if (strcmp(name, "offscreen") != 0 && strcmp(name, "caca") != 0 && strcmp(name, "aalib") != 0)
        return false;
    const char* asked = getenv("SDL_VIDEODRIVER");
    return asked == nullptr || asked[0] == '\0';
}

void set_video_mode()
{
    // The classic runtime has chosen its driver when the library started, SDL2
    // underneath the compat one only once the mode is set: ask before and after.
    bool unplayable = unplayable_by_accident();
    if (!unplayable) {
        game.screen = SDL_SetVideoMode(screen_width, screen_height, screen_bpp, SDL_FULLSCREEN);
        unplayable = game.screen != nullptr && unplayable_by_accident();
    }
    if (unplayable) {
        game.screen = nullptr;
        SDL_SetError("no display could be opened (set SDL_VIDEODRIVER=dummy to run without one)");
    }
    if (game.screen == nullptr) {
        fprintf(stderr, "Couldn't set video mode: %s\n", SDL_GetError());
        stop_start_up(VIDEO_FAILED);
    }
}

int init_text()
{
    if (TTF_Init() == -1) {
        fprintf(stderr, "Error: unable to initialize TTF_SDL, %s\n", SDL_GetError());
        return 0;
    }
    atexit(TTF_Quit);
    return 1;
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

static constexpr int font_points = 12;
static constexpr int title_font_points = 30;
static constexpr int table_font_points = 18;

void open_fonts(const char* path)
{
    game.font = TTF_OpenFont(path, font_points);
    if (game.font != nullptr && !draws_digits(game.font)) {
        TTF_CloseFont(game.font);
        game.font = nullptr;
    }
    // Nothing more is opened: it would overwrite the library's reason.
    if (game.font == nullptr) return;
    // Should these fail, the table is drawn at the score's size: smaller, but there.
    game.title_font = TTF_OpenFont(path, title_font_points);
    if (game.title_font != nullptr) TTF_SetFontStyle(game.title_font, TTF_STYLE_BOLD);
    game.table_font = TTF_OpenFont(path, table_font_points);
}

// Without the score's font the game cannot start.
void open_font()
{
    open_fonts(font_path);
    if (game.font == nullptr) {
        // The library names the file only when it cannot open it; a damaged
        // one must be named too, or the player cannot tell what is wrong.
        // Unlike every other message, this one goes to standard output and has
        // no line end: that is the game's interface, as its manual page says,
        // and scripts that start the game look for it there.
        const char* reason = SDL_GetError();
        if (strstr(reason, font_path) != nullptr) {
            printf("TTF_OpenFont error: %s", reason);
        } else {
            printf("TTF_OpenFont error: %s: %s", font_path, reason);
        }
        stop_start_up(FONT_FAILED);
    }
}

void set_text_colour()
{
    game.text_colour = SDL_Color{55, 55, 255, 0};
}

int init_audio()
{
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "Warning: unable to initialize audio: %s\n", SDL_GetError());
        return 0;
    }
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 1024) < 0) {
        // The classic runtime can fail here without a word of its own.
        const char* reason = SDL_GetError();
        fprintf(stderr, "Warning: Audio could not be setup for 44100 Hz 16-bit stereo.\nReason: %s\n",
                reason[0] != '\0' ? reason : "no audio device could be opened");
        return 0;
    }
    return 1;
}

// A failed start-up releases the library itself before it exits. SDL_Quit is
// not left to run at exit: when the X server goes away, Xlib ends the process
// with exit(1), and SDL_Quit would then wait forever on the dead connection.
void stop_start_up(StartFailure status)
{
    SDL_Quit();
    exit(status);
}

void shut_down()
{
    TTF_Quit();
    Mix_CloseAudio();
    SDL_Quit();
#ifdef __EMSCRIPTEN__
    // In a browser, main's return after its waits ends nothing: the page
    // learns that the game is over only from exit.
    exit(0);
#endif
}

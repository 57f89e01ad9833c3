// The library and the devices underneath the game: starting the library, the
// video mode, the text engine, its font and colour, the audio device, the exits
// of a start that cannot go on, and the shutdown.
#pragma once

// Exit statuses of a start-up that cannot go on.
enum StartFailure : int {
    LIBRARY_FAILED = 1,  // the library would not start
    VIDEO_FAILED = 2,    // no video mode
    IMAGE_FAILED = 3,    // an image missing or unreadable
    FONT_FAILED = 255,   // the font missing or damaged (exit(-1) where statuses are 8-bit)
};

void start_library();
void set_video_mode();
int init_text();

// The game's font file. The name is fixed, but the game may not ship Arial:
// the data set puts Liberation Sans there (Debian's fonts-liberation, copied by
// tools/), a free font with Arial's measures, so every text takes the same room.
constexpr char font_path[] = "data/arial.ttf";
// The font from `path` at its three sizes: the score's in game.font (null when
// the file cannot be opened or is damaged, SDL_GetError saying why, and then
// nothing more is opened), the high-score screen's title (bold) and table.
void open_fonts(const char* path);
// open_fonts from font_path; without the score's font, the start ends.
void open_font();
// The colour of the score's text.
void set_text_colour();
int init_audio();
[[noreturn]] void stop_start_up(StartFailure status);
void shut_down();

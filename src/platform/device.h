// The library and the devices underneath the game: starting the library, the
// video mode, the text engine and its font, the audio device, the exits of a
// start that cannot go on, and the shutdown.
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
void open_font();
int init_audio();
[[noreturn]] void stop_start_up(StartFailure status);
void shut_down();

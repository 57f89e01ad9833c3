// Start-up, the main loop and shutdown.
#pragma once

int init_text();
void start_up();
void poll_events();
void run_loop();
void shut_down();
[[noreturn]] void stop_start_up(int status);

// Exit statuses of a failed start-up.
constexpr int sdl_failure_status = 1;
constexpr int video_failure_status = 2;
constexpr int font_failure_status = -1;

// Start-up, the main loop and one pass of it.
#pragma once

#include "SDL.h"

void start_up();
void handle_event(const SDL_Event& event);
void poll_events();
void loop_pass();
void run_loop();

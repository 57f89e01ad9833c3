// One frame of the current screen, and the keys sent to it.
#pragma once

#include "SDL.h"

bool tick_due();
void draw_frame();
void dispatch_event(const SDL_Event& event);

// The fixed wait before each flip: the game's only pacing. Tests that run
// many frames shorten it, or at 0 leave it out.
extern int frame_wait_ms;

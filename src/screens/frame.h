// One frame of the current screen: draw, at most one simulation tick, wait, show.
#pragma once

void draw_frame();
void menu_tick();
void play_tick();
bool tick_due();

// The fixed wait before each flip: the game's only pacing. Tests that run
// many frames shorten it.
extern int frame_wait_ms;

// A game in progress: the ship between two scrolling side panels, the enemies,
// the shots, the console with the lives and the score.
#pragma once

#include "SDL.h"

void play_tick();
void draw_play();
void play_key_down(SDLKey key);
void play_key_up(SDLKey key);

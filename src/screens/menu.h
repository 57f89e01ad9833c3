// The menu: three items over the starfield, the last game's score above them.
#pragma once

#include "SDL.h"

enum MenuItem : int { NEW_GAME = 0, HIGH_SCORE = 1, EXIT = 2 };

void draw_menu_score();
void menu_tick();
void draw_menu();
void menu_key_down(SDLKey key);
void activate_menu_item();

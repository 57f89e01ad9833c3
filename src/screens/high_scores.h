// The high-score screen: the table over the falling stars, best first, this
// session's entries lit.
#pragma once

#include "SDL.h"

void open_high_scores();
void close_high_scores();
void draw_high_scores();
void high_scores_key_down(SDLKey key);

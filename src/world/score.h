// The score text, the lives boxes and the end of a game.
#pragma once

#include <cstdint>

void add_score(int32_t points);
void render_score();
void draw_score();
void draw_lives();
void check_game_over();

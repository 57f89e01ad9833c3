// The falling starfield behind everything, on every screen.
#pragma once

void init_stars();
void move_stars();
void draw_stars();

// The player's ship, flown inside a fixed box; enemies that fly into it cost a life.
#pragma once

int rect_inside(int ax, int ay, int aw, int ah, int bx, int by, int bw, int bh);
void reset_player();
void step_player();

constexpr int ship_width = 76;
constexpr int ship_height = 50;
constexpr int ship_min_x = 80;
constexpr int ship_max_x = 480;
constexpr int ship_min_y = 150;
constexpr int ship_max_y = 350;

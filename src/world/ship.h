// The player's ship, flown inside a fixed box; enemies that fly into it cost a life.
#pragma once

int rect_inside(int ax, int ay, int aw, int ah, int bx, int by, int bw, int bh);
void reset_player();
void step_player();

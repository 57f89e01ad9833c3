// The player's pool of fifty shots.
#pragma once

void clear_shots();
void fire_shot();
void move_shots();
void draw_shots();
void hit_enemies();

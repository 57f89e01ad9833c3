// The player's pool of fifty shots.
#pragma once

void clear_shots();
void fire_shot();
void move_shots();
void draw_shots();
void hit_enemies();
void fire_rule();

// Shortest gap between two shots, in milliseconds of clock readings.
constexpr int fire_interval_ms = 300;

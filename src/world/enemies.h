// Ten enemy slots, always occupied: enemies fall, and are replaced at the top
// once destroyed or past the bottom.
#pragma once

struct Enemy;

void spawn_enemy(Enemy& enemy);
void spawn_enemies();
void move_enemies();
void draw_enemies();

#include "world/enemies.h"

#include <cstdlib>

#include "game.h"
#include "layout.h"
#include "platform/draw.h"

// Three draws, in this order: column, height above the top, kind.
void spawn_enemy(Enemy& enemy)
{
    enemy.x = rand() % (enemy_max_x - enemy_min_x + 1) + enemy_min_x;
    enemy.y = -(rand() % enemy_spawn_depth);
    enemy.alive = 1;
    enemy.kind = rand() % enemy_kinds + 1;
}

void spawn_enemies()
{
    for (Enemy& e : game.enemies) spawn_enemy(e);
}

void move_enemies()
{
    for (Enemy& e : game.enemies) {
        e.y += 1;
        if (e.alive == 0 || e.y > screen_height) spawn_enemy(e);
    }
}

void draw_enemies()
{
    for (const Enemy& e : game.enemies) {
        if (e.alive != 0) blit_at(game.sprites[e.kind], e.x, e.y);
    }
}

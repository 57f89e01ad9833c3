#include "world/shots.h"

#include "game.h"
#include "platform/draw.h"
#include "world/score.h"
#include "world/ship.h"

void clear_shots()
{
    for (Shot& s : game.shots) s = Shot{};
}

// The lowest free slot takes the shot; with all fifty in flight nothing happens.
void fire_shot()
{
    for (Shot& s : game.shots) {
        if (s.active == 0) {
            s.x = game.player_x + 33;
            s.y = game.player_y - 15;
            s.dy = -1;
            s.active = 1;
            return;
        }
    }
}

// A shot at row 0 is still in flight; it is freed when it reaches -1.
void move_shots()
{
    for (Shot& s : game.shots) {
        if (s.active == 0) continue;
        s.y += s.dy;
        if (s.y < 0) s.active = 0;
    }
}

void draw_shots()
{
    for (const Shot& s : game.shots) {
        if (s.active != 0) blit_at(game.sprites[0], s.x, s.y);
    }
}

// Every active shot lying wholly inside an enemy's 45x40 box in this pass is
// used up and scores, even after the first one has destroyed it.
void hit_enemies()
{
    for (Enemy& e : game.enemies) {
        if (e.alive == 0) continue;
        for (Shot& s : game.shots) {
            if (s.active == 0) continue;
            if (rect_inside(s.x, s.y, 10, 16, e.x, e.y, 45, 40)) {
                s.active = 0;
                e.alive = 0;
                add_score(10 * e.kind);
                render_score();
            }
        }
    }
}

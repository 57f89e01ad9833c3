#include "world/shots.h"

#include "game.h"
#include "layout.h"
#include "platform/draw.h"
#include "world/score.h"
#include "world/ship.h"

// now_tick is the clock read before the previous frame, so the gap is between
// clock readings; the 32-bit difference stays right across the clock's wrap.
// The clock never runs back, so a negative difference is a gap of 2^31 ms or
// more (weeks on the menu without a shot): long enough to fire.
void fire_rule()
{
    const int32_t gap = clock_diff(game.now_tick, game.last_fire);
    if (gap > fire_interval_ms || gap < 0) {
        fire_shot();
        game.last_fire = game.now_tick;
    }
}

void clear_shots()
{
    for (Shot& s : game.shots) s = Shot{};
}

// The lowest free slot takes the shot; with all fifty in flight nothing happens.
void fire_shot()
{
    for (Shot& s : game.shots) {
        if (s.active == 0) {
            s.x = game.player_x + shot_offset_x;
            s.y = game.player_y + shot_offset_y;
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

// Every active shot lying wholly inside an enemy's (shorter) hit box in this
// pass is used up and scores, even after the first one has destroyed it.
void hit_enemies()
{
    for (Enemy& e : game.enemies) {
        if (e.alive == 0) continue;
        for (Shot& s : game.shots) {
            if (s.active == 0) continue;
            if (rect_inside(s.x, s.y, shot_width, shot_height, e.x, e.y, enemy_hit_width, enemy_hit_height)) {
                s.active = 0;
                e.alive = 0;
                add_score(10 * e.kind);
                render_score();
            }
        }
    }
}

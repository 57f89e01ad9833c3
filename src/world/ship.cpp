#include "world/ship.h"

#include "game.h"
#include "layout.h"
#include "world/score.h"

// 1 when box A lies wholly inside box B, touching edges included. Every
// collision in the game is this containment test; there is no overlap test.
int rect_inside(int ax, int ay, int aw, int ah, int bx, int by, int bw, int bh)
{
    return ax >= bx && ay >= by && ax + aw <= bx + bw && ay + ah <= by + bh ? 1 : 0;
}

// The movement deltas are left alone: an arrow still held carries into the new game.
void reset_player()
{
    game.player_x = ship_start_x;
    game.player_y = ship_start_y;
    game.score = 0;
    game.lives = 4;
}

void step_player()
{
    game.player_x += game.player_dx;
    game.player_y += game.player_dy;

    // Contact is judged after the move and before the clamp, against every slot
    // whether alive or not.
    for (Enemy& e : game.enemies) {
        if (rect_inside(e.x, e.y, enemy_contact_width, enemy_contact_height, game.player_x, game.player_y,
                        ship_width, ship_height)) {
            game.lives -= 1;
            e.alive = 0;
            add_score(10 * e.kind);
            render_score();
        }
    }

    if (game.player_y < ship_min_y) game.player_y = ship_min_y;
    if (game.player_y > ship_max_y) game.player_y = ship_max_y;
    if (game.player_x < ship_min_x) game.player_x = ship_min_x;
    if (game.player_x > ship_max_x) game.player_x = ship_max_x;
}

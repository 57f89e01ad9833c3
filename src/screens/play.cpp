#include "screens/play.h"

#include "game.h"
#include "layout.h"
#include "platform/draw.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/ship.h"
#include "world/shots.h"
#include "world/stars.h"

void play_tick()
{
    game.frame_counter += 1;
    move_stars();
    step_player();
    move_shots();
    move_enemies();
    check_game_over();
    game.last_tick = game.now_tick;
}

// A panel scrolls down one row per tick: the whole image n rows down, and its
// last n rows on top, so it wraps without a seam.
static void draw_panel(SDL_Surface* panel, int x, int n)
{
    blit_at(panel, x, n);
    blit_region(panel, 0, panel->h - n, panel->w, n, x, 0);
}

// Enemies go over the ship, the shots, the console and the panels; the lives
// and the score over everything.
void draw_play()
{
    if (game.frame_counter >= game.left_panel->h) game.frame_counter = 0;
    const int n = game.frame_counter;
    draw_panel(game.left_panel, left_panel_x, n);
    draw_panel(game.right_panel, right_panel_x, n);
    blit_at(game.console_image, console_x, console_y);
    blit_at(game.player_image, game.player_x, game.player_y);
    draw_shots();
    draw_enemies();
    draw_lives();
    draw_score();
}

void play_key_down(SDLKey key)
{
    switch (key) {
    case SDLK_SPACE: fire_rule(); break;
    case SDLK_UP: game.player_dy = -1; break;
    case SDLK_DOWN: game.player_dy = 1; break;
    case SDLK_RIGHT: game.player_dx = 1; break;
    case SDLK_LEFT: game.player_dx = -1; break;
    default: break;
    }
}

// Only in play: in the menu the deltas wait, as they were, for the next game.
void play_key_up(SDLKey key)
{
    switch (key) {
    case SDLK_UP:
    case SDLK_DOWN: game.player_dy = 0; break;
    case SDLK_LEFT:
    case SDLK_RIGHT: game.player_dx = 0; break;
    default: break;
    }
}

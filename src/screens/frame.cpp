#include "screens/frame.h"

#include "game.h"
#include "platform/draw.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/ship.h"
#include "world/shots.h"
#include "world/stars.h"

// A tick runs when the clock has moved since the last one. The difference is
// taken on the wrapping 32-bit clock, so ticks go on past 2^31 ms.
bool tick_due()
{
    return clock_diff(game.now_tick, game.last_tick) > 0;
}

// The menu leaves the hidden ship alone: its deltas wait for the next game.
// Its count only places the panels when a game starts, and any count at their
// height or past it places them alike: stop there, or months on the menu
// would overflow it.
void menu_tick()
{
    if (game.frame_counter < game.left_panel->h) game.frame_counter += 1;
    move_stars();
    game.last_tick = game.now_tick;
}

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

int frame_wait_ms = 5;

static constexpr int menu_item_y[menu_item_count] = {260, 300, 340};

static void draw_menu()
{
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    blit_at(game.score_image, 283, 212);
    if (tick_due()) menu_tick();
    blit_at(game.menu_background, 0, 0);
    for (int i = 0; i < menu_item_count; ++i) {
        SDL_Surface* item = i == game.menu_selection ? game.button_lit[i] : game.button_normal[i];
        blit_at(item, 275, menu_item_y[i]);
    }
}

// A panel scrolls down one row per tick: the whole image n rows down, and its
// last n rows on top, so it wraps without a seam.
static void draw_panel(SDL_Surface* panel, int x, int n)
{
    blit_at(panel, x, n);
    blit_region(panel, 0, panel->h - n, panel->w, n, x, 0);
}

static void draw_play()
{
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    if (tick_due()) play_tick();
    if (game.frame_counter >= game.left_panel->h) game.frame_counter = 0;
    const int n = game.frame_counter;
    draw_panel(game.left_panel, 0, n);
    draw_panel(game.right_panel, 558, n);
    blit_at(game.console_image, 175, 385);
    blit_at(game.player_image, game.player_x, game.player_y);
    draw_shots();
    draw_enemies();
    draw_lives();
    draw_score();
    // Last, so a destroyed enemy and its shot still show in the frame they meet.
    hit_enemies();
}

void draw_frame()
{
    // The state may change inside the tick; the frame is finished as it began.
    if (game.state == MENU) {
        draw_menu();
    } else {
        draw_play();
    }
    SDL_Delay(frame_wait_ms);
    SDL_Flip(game.screen);
}

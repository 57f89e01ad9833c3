#include "screens/menu.h"

#include "game.h"
#include "layout.h"
#include "platform/draw.h"
#include "screens/high_scores.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/ship.h"
#include "world/shots.h"
#include "world/stars.h"

// Behind the background: the score shows only through its see-through parts.
void draw_menu_score()
{
    blit_at(game.score_image, menu_score_x, menu_score_y);
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

void draw_menu()
{
    blit_at(game.menu_background, 0, 0);
    for (int i = 0; i < menu_item_count; ++i) {
        SDL_Surface* item = i == game.menu_selection ? game.button_lit[i] : game.button_normal[i];
        blit_at(item, menu_item_x, menu_item_y[i]);
    }
}

void menu_key_down(SDLKey key)
{
    switch (key) {
    case SDLK_SPACE:
        // The high-score screen opens on a fresh press only: a held Space
        // would flick between it and the menu at the key's repeat rate.
        if (game.menu_selection == HIGH_SCORE && game.space_held != 0) break;
        activate_menu_item();
        // The press that starts a game is also tested as a shot.
        if (game.state == PLAY) fire_rule();
        break;
    case SDLK_UP:
        if (game.menu_selection > 0) game.menu_selection -= 1;
        break;
    case SDLK_DOWN:
        if (game.menu_selection < menu_item_count - 1) game.menu_selection += 1;
        break;
    default: break;
    }
}

// Stars, panel offset, movement deltas and last_fire carry over into a new game.
static void new_game()
{
    reset_player();
    clear_shots();
    spawn_enemies();
    render_score();
    Mix_HaltMusic();
    game.state = PLAY;
    Mix_PlayMusic(game.music, -1);
}

void activate_menu_item()
{
    switch (game.menu_selection) {
    case NEW_GAME: new_game(); break;
    case HIGH_SCORE: open_high_scores(); break;
    case EXIT: game.quit = 1; break;
    default: break;
    }
}

#include "screens/menu.h"

#include "game.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/ship.h"
#include "world/shots.h"

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
    case NEW_GAME:
        new_game();
        break;
    case HIGH_SCORE:
        // No score table is kept: nothing to show.
        break;
    case EXIT:
        game.quit = 1;
        break;
    default:
        break;
    }
}

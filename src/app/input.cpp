#include "app/input.h"

#include "game.h"
#include "screens/menu.h"
#include "world/shots.h"

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

static void key_down_menu(SDLKey key)
{
    switch (key) {
    case SDLK_SPACE: activate_menu_item(); break;
    case SDLK_UP:
        if (game.menu_selection > 0) game.menu_selection -= 1;
        break;
    case SDLK_DOWN:
        if (game.menu_selection < menu_item_count - 1) game.menu_selection += 1;
        break;
    default: break;
    }
}

static void key_down_play(SDLKey key)
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

// In the menu, releases change nothing: the deltas wait for the next game.
static void key_up_play(SDLKey key)
{
    switch (key) {
    case SDLK_UP:
    case SDLK_DOWN: game.player_dy = 0; break;
    case SDLK_LEFT:
    case SDLK_RIGHT: game.player_dx = 0; break;
    default: break;
    }
}

void dispatch_event(const SDL_Event& event)
{
    const SDLKey key = event.key.keysym.sym;
    if (event.type == SDL_KEYDOWN) {
        if (game.state == MENU) {
            key_down_menu(key);
            // The press that starts a game is also tested as a shot.
            if (key == SDLK_SPACE && game.state == PLAY) fire_rule();
        } else {
            key_down_play(key);
        }
    } else if (event.type == SDL_KEYUP) {
        if (game.state == PLAY) key_up_play(key);
    }
}

// Window close and Escape (pressed or released) end the game from any screen.
void handle_event(const SDL_Event& event)
{
    const bool escape = (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) &&
                        event.key.keysym.sym == SDLK_ESCAPE;
    if (event.type == SDL_QUIT || escape) {
        game.quit = 1;
    } else {
        dispatch_event(event);
    }
}

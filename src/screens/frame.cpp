#include "screens/frame.h"

#include "game.h"
#include "platform/draw.h"
#include "screens/high_scores.h"
#include "screens/menu.h"
#include "screens/play.h"
#include "world/score_table.h"
#include "world/shots.h"
#include "world/stars.h"

int frame_wait_ms = 5;

// A tick runs when the clock has moved since the last one. The difference is
// taken on the wrapping 32-bit clock, so ticks go on past 2^31 ms.
bool tick_due()
{
    return clock_diff(game.now_tick, game.last_tick) > 0;
}

// What lies behind everything the tick moves: the stars, and on the menu the
// score, which shows through the background.
static void draw_back(ScreenState shown)
{
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    if (shown == MENU) draw_menu_score();
}

static void run_tick(ScreenState shown)
{
    switch (shown) {
    case MENU:
    case HIGH_SCORES: menu_tick(); break;  // the table stands over the menu's falling stars
    case PLAY: play_tick(); break;
    }
}

static void draw_front(ScreenState shown)
{
    switch (shown) {
    case MENU: draw_menu(); break;
    case PLAY: draw_play(); break;
    case HIGH_SCORES: draw_high_scores(); break;
    }
}

// The tick runs partway through the drawing, so the stars move a frame behind
// everything else; shots hit last, so a destroyed enemy and its shot still show
// in the frame they meet. A game that ended in this frame has its final score
// only after those hits, and is recorded at once.
void draw_frame()
{
    // The tick may end a game: the frame is finished as it began.
    const ScreenState shown = game.state;
    draw_back(shown);
    if (tick_due()) run_tick(shown);
    draw_front(shown);
    if (shown == PLAY) hit_enemies();
    if (shown == PLAY && game.state != PLAY) record_final_score();
    if (frame_wait_ms > 0) SDL_Delay(frame_wait_ms);
    SDL_Flip(game.screen);
}

// Only key presses and releases matter, each to the screen shown.
void dispatch_event(const SDL_Event& event)
{
    const SDLKey key = event.key.keysym.sym;
    if (event.type == SDL_KEYDOWN) {
        switch (game.state) {
        case MENU: menu_key_down(key); break;
        case PLAY: play_key_down(key); break;
        case HIGH_SCORES: high_scores_key_down(key); break;
        }
        if (key == SDLK_SPACE) game.space_held = 1;
    } else if (event.type == SDL_KEYUP) {
        if (game.state == PLAY) play_key_up(key);
        if (key == SDLK_SPACE) game.space_held = 0;
    }
}

#include "world/score.h"

#include <cstdio>
#include <limits>

#include "game.h"
#include "layout.h"
#include "platform/draw.h"

// A very long game stops at the largest score rather than overflowing.
void add_score(int32_t points)
{
    constexpr int32_t most = std::numeric_limits<int32_t>::max();
    game.score = game.score > most - points ? most : game.score + points;
}

// Runs only when the score changes (and at start-up and each new game), never per frame.
void render_score()
{
    snprintf(game.score_text.data(), game.score_text.size(), "%d", static_cast<int>(game.score));
    SDL_FreeSurface(game.score_image);
    game.score_image = nullptr;
    // Without a font (a failed render) no score shows until the next change.
    // Not through render_text: the score changes in play, where its new image
    // is the one allocation allowed, and converting it to the screen's format
    // would be a second. The font engine's small 8-bit image is copied by the
    // library's keyed copy as it is; digits need no more than this Latin-1 call.
    if (game.font != nullptr) {
        game.score_image = TTF_RenderText_Solid(game.font, game.score_text.data(), game.text_colour);
    }
}

void draw_score()
{
    blit_at(game.score_image, play_score_x, play_score_y);
}

void draw_lives()
{
    if (game.lives <= 0 || game.lives > 4) return;
    const Uint32 red = SDL_MapRGB(game.screen->format, 255, 16, 16);
    for (const LivesBox& box : lives_boxes) {
        if (game.lives >= box.shown_from) fill_box(box.x, lives_box_y, box.width, lives_box_height, red);
    }
}

void check_game_over()
{
    if (game.lives <= 0) game.state = MENU;
}

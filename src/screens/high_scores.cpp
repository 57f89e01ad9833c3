#include "screens/high_scores.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "game.h"
#include "layout.h"
#include "platform/draw.h"
#include "world/score_table.h"

static constexpr SDL_Color title_colour{255, 196, 84, 0};
static constexpr SDL_Color heading_colour{104, 150, 200, 0};
static constexpr SDL_Color row_colour{206, 218, 236, 0};
static constexpr SDL_Color lit_colour{255, 222, 110, 0};  // an entry of this session
static constexpr SDL_Color notice_colour{255, 124, 84, 0};
static constexpr SDL_Color hint_colour{128, 140, 164, 0};

enum Column : int { RANK = 0, SCORE = 1, NAME = 2, DATE = 3 };

// The local date a game ended, or dashes for a time the calendar cannot place.
static void format_date(int64_t seconds, char* text, size_t size)
{
    const time_t t = static_cast<time_t>(seconds);
    tm local{};
    if (localtime_r(&t, &local) == nullptr || strftime(text, size, "%Y-%m-%d", &local) == 0) {
        snprintf(text, size, "----------");
    }
}

static TTF_Font* sized(TTF_Font* font)
{
    return font != nullptr ? font : game.font;
}

// A name too wide for its column loses characters from its end, and an
// ellipsis shows that it did.
static SDL_Surface* render_name(TTF_Font* font, const char* name, SDL_Color colour)
{
    char text[sizeof(ScoreEntry::name) + 4];
    snprintf(text, sizeof text, "%s", name);
    size_t length = strlen(text);
    int width = 0;
    while (length > 0 && TTF_SizeUTF8(font, text, &width, nullptr) == 0 && width > table_name_width) {
        // Back to the start of the last character, then the ellipsis in its place.
        do --length;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80);
        memcpy(text + length, "\u2026", sizeof "\u2026");
    }
    return render_text(font, text, colour);
}

// Everything the screen shows is rendered here, once, never per frame.
void open_high_scores()
{
    reload_score_table();
    TTF_Font* title = sized(game.title_font);
    TTF_Font* text = sized(game.table_font);
    game.title_image = render_text(title, "HIGH SCORES", title_colour);
    game.hint_image = render_text(text, "Space: back to the menu", hint_colour);
    if (game.scores_saved == 0)
        game.notice_image = render_text(text, "Scores are not being saved", notice_colour);
    if (game.high_scores.count == 0) {
        game.empty_image = render_text(text, "No scores yet", row_colour);
    } else {
        const char* headings[4] = {"RANK", "SCORE", "NAME", "DATE"};
        for (int c = 0; c < 4; ++c) game.heading_images[c] = render_text(text, headings[c], heading_colour);
    }
    for (int i = 0; i < game.high_scores.count; ++i) {
        const ScoreEntry& entry = game.high_scores.entries[i];
        const SDL_Color colour = made_this_session(entry) ? lit_colour : row_colour;
        char rank[16], score[16], date[32];
        snprintf(rank, sizeof rank, "%d.", i + 1);
        snprintf(score, sizeof score, "%d", static_cast<int>(entry.score));
        format_date(entry.time, date, sizeof date);
        std::array<SDL_Surface*, 4>& row = game.row_images[i];
        row[RANK] = render_text(text, rank, colour);
        row[SCORE] = render_text(text, score, colour);
        row[NAME] = render_name(text, entry.name.data(), colour);
        row[DATE] = render_text(text, date, colour);
    }
    game.state = HIGH_SCORES;
}

static void free_image(SDL_Surface*& image)
{
    SDL_FreeSurface(image);
    image = nullptr;
}

// The menu comes back with the high-score item still lit.
void close_high_scores()
{
    free_image(game.title_image);
    free_image(game.empty_image);
    free_image(game.notice_image);
    free_image(game.hint_image);
    for (SDL_Surface*& image : game.heading_images) free_image(image);
    for (auto& row : game.row_images) {
        for (SDL_Surface*& image : row) free_image(image);
    }
    game.state = MENU;
}

static void blit_centred(SDL_Surface* image, int y)
{
    if (image != nullptr) blit_at(image, (screen_width - image->w) / 2, y);
}

static void blit_right(SDL_Surface* image, int right, int y)
{
    if (image != nullptr) blit_at(image, right - image->w, y);
}

static void draw_row(const std::array<SDL_Surface*, 4>& row, int y)
{
    blit_right(row[RANK], table_rank_right, y);
    blit_right(row[SCORE], table_score_right, y);
    if (SDL_Surface* name = row[NAME]) {
        blit_region(name, 0, 0, std::min(name->w, table_name_width), name->h, table_name_x, y);
    }
    blit_at(row[DATE], table_date_x, y);
}

void draw_high_scores()
{
    blit_centred(game.title_image, table_title_y);
    blit_centred(game.empty_image, table_first_row_y);
    draw_row(game.heading_images, table_heading_y);
    const Uint32 bar = SDL_MapRGB(game.screen->format, 22, 44, 92);
    for (int i = 0; i < game.high_scores.count; ++i) {
        const int y = table_first_row_y + i * table_row_step;
        if (made_this_session(game.high_scores.entries[i])) {
            fill_box(table_bar_x, y - 2, table_bar_width, table_row_step - 2, bar);
        }
        draw_row(game.row_images[i], y);
    }
    blit_centred(game.notice_image, table_notice_y);
    blit_centred(game.hint_image, table_hint_y);
}

// Only a fresh press of Space goes back: a held one would open the screen
// again from the menu at the key's repeat rate.
void high_scores_key_down(SDLKey key)
{
    if (key == SDLK_SPACE && game.space_held == 0) close_high_scores();
}

// The one record that holds all of the game's state, and the types it is made of.
#pragma once

#include <array>
#include <cstdint>

#include "SDL.h"
#include "SDL_mixer.h"
#include "SDL_ttf.h"

constexpr int screen_width = 640;
constexpr int screen_height = 480;
constexpr int screen_bpp = 16;

constexpr int star_count = 200;
constexpr int enemy_count = 10;
constexpr int shot_count = 50;
constexpr int menu_item_count = 3;
constexpr int enemy_kinds = 5;

enum ScreenState : int { MENU = 0, PLAY = 1, HIGH_SCORES = 2 };

struct Star {
    int32_t x;
    int32_t y;
    int32_t speed;
};

struct Enemy {
    int32_t x;
    int32_t y;
    int32_t alive;
    int32_t kind;
};

struct Shot {
    int32_t active;
    int32_t x;
    int32_t y;
    int32_t dy;
};

// The high-score table: the best games, best first.
constexpr int score_table_size = 10;
constexpr int score_name_max = 16;  // characters of a player's name

struct ScoreEntry {
    int32_t score;
    int64_t time;  // when the game ended, in seconds since the epoch (UTC)
    // UTF-8, printable characters only, zero-terminated: room for 16 characters of 4 bytes.
    std::array<char, score_name_max * 4 + 1> name;
};

struct ScoreTable {
    std::array<ScoreEntry, score_table_size> entries;
    int32_t count;
};

struct Game {
    SDL_Surface* screen;
    TTF_Font* font;
    SDL_Color text_colour;
    Mix_Music* music;

    SDL_Surface* left_panel;
    SDL_Surface* right_panel;
    SDL_Surface* console_image;
    SDL_Surface* menu_background;
    SDL_Surface* player_image;
    std::array<SDL_Surface*, menu_item_count> button_normal;
    std::array<SDL_Surface*, menu_item_count> button_lit;
    // [0] is the player's shot, [1]..[5] the enemy kinds, so a kind indexes it directly.
    std::array<SDL_Surface*, enemy_kinds + 1> sprites;
    SDL_Surface* enemy_shot_image;
    std::array<SDL_Surface*, 4> explosion_frames;

    std::array<char, 12> score_text;
    SDL_Surface* score_image;

    int32_t quit;
    ScreenState state;
    int32_t menu_selection;
    int32_t frame_counter;
    int32_t now_tick;
    int32_t last_tick;
    int32_t last_fire;

    std::array<Star, star_count> stars;
    std::array<Enemy, enemy_count> enemies;
    std::array<Shot, shot_count> shots;

    int32_t player_x;
    int32_t player_y;
    int32_t player_dx;
    int32_t player_dy;
    int32_t score;
    int32_t lives;

    // 1 from a press of Space to its release: a held key repeats, and the
    // high-score screen opens and closes on a fresh press only.
    int32_t space_held;

    // The high-score table, as last read or written; on disk at scores_path
    // while scores_saved is 1, in memory only for the rest of the session once
    // reading or writing it failed.
    ScoreTable high_scores;
    ScoreTable session_scores;  // the entries this session's games made, to light them up
    std::array<char, 4096> scores_path;
    int32_t scores_saved;
    std::array<char, score_name_max * 4 + 1> player_name;

    // The high-score screen's text: its fonts opened at start-up, its images
    // made when it opens and freed when it closes.
    TTF_Font* title_font;
    TTF_Font* table_font;
    SDL_Surface* title_image;
    SDL_Surface* empty_image;   // "No scores yet"
    SDL_Surface* notice_image;  // that scores are not being saved
    SDL_Surface* hint_image;
    // By column: rank, score, name, date; the headings, then a row per entry.
    std::array<SDL_Surface*, 4> heading_images;
    std::array<std::array<SDL_Surface*, 4>, score_table_size> row_images;
};

// Zero-filled at start: static storage, nothing allocated.
extern Game game;

// Milliseconds from `earlier` to `later` on the 32-bit library clock, right across
// its wrap: the subtraction is done unsigned, so it cannot overflow.
constexpr int32_t clock_diff(int32_t later, int32_t earlier)
{
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// The score text, the lives boxes and the end of a game.
#pragma once

#include <cstdint>

void add_score(int32_t points);
void render_score();
void draw_score();
void draw_lives();
void check_game_over();

// Where the lives boxes sit on the console, left to right; they empty from the left.
struct LivesBox {
    int x;
    int width;
    int shown_from;  // drawn while lives is at least this and at most 4
};
constexpr int lives_box_y = 417;
constexpr int lives_box_height = 11;
constexpr LivesBox lives_boxes[4] = {{270, 11, 4}, {294, 11, 3}, {322, 11, 2}, {345, 12, 1}};

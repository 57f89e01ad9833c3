// Everything the generator draws. Each function returns a float canvas; the
// caller snaps it to 16-bit-safe colours and writes the files.
#pragma once

#include <iterator>
#include <string>

#include "core.h"
#include "layout.h"

struct _TTF_Font;
typedef struct _TTF_Font TTF_Font;

// Sizes the game takes as they come: it places these images but never names
// their size. The ships, shots and where the game draws over the console
// come from layout.h.
constexpr int panel_height = 480;
constexpr int left_panel_width = 80;
constexpr int right_panel_width = 82;
constexpr int console_width = 290;
constexpr int console_height = 95;
constexpr int button_width = 156;
constexpr int button_height = 34;
constexpr int enemy_shot_width = 6;
constexpr int enemy_shot_height = 12;
constexpr int explosion_size = 45;

// Where the game draws over the console, relative to its top-left corner:
// the lives boxes from the first one's left edge to just past the last
// one's right edge and from their top row to their bottom row, and the
// top-left corner of the score.
constexpr LivesBox last_lives_box = lives_boxes[std::size(lives_boxes) - 1];
constexpr int lives_left = lives_boxes[0].x - console_x;
constexpr int lives_right = last_lives_box.x + last_lives_box.width - console_x;
constexpr int lives_top = lives_box_y - console_y;
constexpr int lives_bottom = lives_box_y + lives_box_height - 1 - console_y;
constexpr int score_left = play_score_x - console_x;
constexpr int score_top = play_score_y - console_y;

Img player_ship();         // ship_width x ship_height, nose up
Img enemy_ship(int n);     // enemy_contact_width x enemy_contact_height, n = 1..5, nose down
Img player_shot();         // shot_width x shot_height
Img enemy_shot();          // enemy_shot_width x enemy_shot_height
Img explosion(int frame);  // explosion_size square, frame = 1, 3, 5, 7

Img side_panel(bool left);     // scrolling hull, tiles vertically
Img console(TTF_Font* small);  // cockpit dashboard, keyed
Img menu_background();         // 640x480 title screen, keyed

// A plaque with its label, lit or not: button_width x button_height.
Img menu_button(TTF_Font* font, const std::string& label, bool lit);
// A size x size desktop icon: the ship on a round badge.
Img app_icon(int size);

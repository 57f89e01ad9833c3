// Where everything stands on the 640x480 screen and how large the game takes
// each thing to be. Plain numbers only: the game, its tests and the data
// generator (which draws the art to fit them) all read them from here.
#pragma once

// The ship's box at the start of a game, its size and the box it flies in.
constexpr int ship_start_x = 280;
constexpr int ship_start_y = 350;
constexpr int ship_width = 76;
constexpr int ship_height = 50;
constexpr int ship_min_x = 80;
constexpr int ship_max_x = 480;
constexpr int ship_min_y = 150;
constexpr int ship_max_y = 350;

// An enemy counts against the ship by a 45x45 box, against a shot by a
// shorter 45x40 one; both from its top-left corner.
constexpr int enemy_contact_width = 45;
constexpr int enemy_contact_height = 45;
constexpr int enemy_hit_width = 45;
constexpr int enemy_hit_height = 40;
// New enemies come in at columns 82..521, their top edge 0..479 rows above the screen.
constexpr int enemy_min_x = 82;
constexpr int enemy_max_x = 521;
constexpr int enemy_spawn_depth = 480;

// A shot's box, and where it leaves the ship relative to the ship's corner.
constexpr int shot_width = 10;
constexpr int shot_height = 16;
constexpr int shot_offset_x = 33;
constexpr int shot_offset_y = -15;

// Stars start up to 479 rows above the top and come back up to 639 rows above it.
constexpr int star_start_depth = 480;
constexpr int star_recycle_depth = 640;

// The menu: the score above the items, the items in a column.
constexpr int menu_score_x = 283;
constexpr int menu_score_y = 212;
constexpr int menu_item_x = 275;
constexpr int menu_item_y[3] = {260, 300, 340};

// The high-score screen: a title, column headings and ten rows; numbers are
// placed by their right edge, text by its left; a notice and a hint below.
constexpr int table_title_y = 44;
constexpr int table_heading_y = 112;
constexpr int table_first_row_y = 140;
constexpr int table_row_step = 26;
constexpr int table_rank_right = 130;
constexpr int table_score_right = 270;
constexpr int table_name_x = 300;
constexpr int table_name_width = 170;  // a longer name is shortened to fit
constexpr int table_date_x = 490;
constexpr int table_bar_x = 84;  // the bar behind a row of this session
constexpr int table_bar_width = 508;
constexpr int table_notice_y = 408;
constexpr int table_hint_y = 444;

// The play screen: side panels, console, score.
constexpr int left_panel_x = 0;
constexpr int right_panel_x = 558;
constexpr int console_x = 175;
constexpr int console_y = 385;
constexpr int play_score_x = 275;
constexpr int play_score_y = 445;

// The lives boxes on the console, left to right; they empty from the left, so
// the last life left is the rightmost box. The gaps differ and the last box is
// wider: they sit over the console's painted slots.
struct LivesBox {
    int x;
    int width;
    int shown_from;  // drawn while lives is at least this (and at most 4)
};
constexpr int lives_box_y = 417;
constexpr int lives_box_height = 11;
constexpr LivesBox lives_boxes[4] = {
    {.x = 270, .width = 11, .shown_from = 4},
    {.x = 294, .width = 11, .shown_from = 3},
    {.x = 322, .width = 11, .shown_from = 2},
    {.x = 345, .width = 12, .shown_from = 1},
};

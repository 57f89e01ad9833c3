// Pictures for people: the contact sheet and mock-ups of the two screens.
#pragma once

#include <string>
#include <vector>

#include "output.h"

struct _TTF_Font;
typedef struct _TTF_Font TTF_Font;

struct Asset {
    std::string file;
    Pix pix;
    bool keyed;
};

const Asset* find_asset(const std::vector<Asset>& all, const std::string& file);

// Every image at 2x over a checkerboard (the key shows as the checkerboard).
Pix contact_sheet(const std::vector<Asset>& all, TTF_Font* font);

// The menu and a moment of play, composed the way the game draws them.
Pix mock_menu(const std::vector<Asset>& all, TTF_Font* score_font);
Pix mock_play(const std::vector<Asset>& all, TTF_Font* score_font);

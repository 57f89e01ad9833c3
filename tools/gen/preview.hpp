// Pictures for people: the contact sheet and mock-ups of the two screens.
#pragma once

#include <string>
#include <vector>

#include "output.hpp"

struct _TTF_Font;
typedef struct _TTF_Font TTF_Font;

namespace qv {

struct Asset {
    std::string file;
    Pix pix;
    bool keyed;
};

const Asset* findAsset(const std::vector<Asset>& all, const std::string& file);

// Every image at 2x over a checkerboard (the key shows as the checkerboard).
Pix contactSheet(const std::vector<Asset>& all, TTF_Font* font);

// The menu and a moment of play, composed the way the game draws them.
Pix mockMenu(const std::vector<Asset>& all, TTF_Font* scoreFont);
Pix mockPlay(const std::vector<Asset>& all, TTF_Font* scoreFont);

}  // namespace qv

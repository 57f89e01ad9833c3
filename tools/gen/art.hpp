// Everything the generator draws. Each function returns a float canvas; the
// caller snaps it to 16-bit-safe colours and writes the files.
#pragma once

#include <string>

#include "core.hpp"

struct _TTF_Font;
typedef struct _TTF_Font TTF_Font;

namespace qv {

// Sizes the game relies on.
constexpr int kPanelHeight = 480;
constexpr int kLeftPanelW = 80, kRightPanelW = 82;
constexpr int kConsoleW = 290, kConsoleH = 95;
constexpr int kButtonW = 156, kButtonH = 34;

// Where the game draws over the console, relative to its top-left corner.
constexpr int kLivesX0 = 95, kLivesX1 = 182, kLivesY0 = 32, kLivesY1 = 42;
constexpr int kScoreX = 100, kScoreY = 60;

Img playerShip();                   // 76x50, nose up
Img enemyShip(int n);               // 45x45, n = 1..5, nose down
Img playerShot();                   // 10x16
Img enemyShot();                    // 6x12
Img explosion(int frame);           // 45x45, frame = 1, 3, 5, 7

Img sidePanel(bool left);           // scrolling hull, tiles vertically
Img console(TTF_Font* small);       // cockpit dashboard, keyed
Img menuBackground();               // 640x480 title screen, keyed
Img menuButton(TTF_Font* font, const std::string& label, bool lit);
Img appIcon(int size);              // size x size desktop icon: the ship on a round badge

}  // namespace qv

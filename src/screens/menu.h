// What the three menu items do.
#pragma once

void activate_menu_item();

enum MenuItem : int { NEW_GAME = 0, HIGH_SCORE = 1, EXIT = 2 };

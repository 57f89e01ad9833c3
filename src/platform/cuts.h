// An image read once into a form that copies fast into the screen: a "cut".
// For platform/draw.cpp, which falls back to the library's copy for any image
// without one. Each platform has its own (platform/desktop/cuts.cpp,
// platform/web/cuts.cpp).
#pragma once

#include "SDL.h"

// Gives a freshly converted image its cut, when the platform has one for it.
void cut_image(SDL_Surface* image);

// Copies the image's source rectangle to the screen at (x, y), clipped as the
// library clips; false, having drawn nothing, when the image has no cut the
// screen can take.
bool blit_cut(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y);

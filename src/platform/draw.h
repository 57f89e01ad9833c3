// The drawing operations every screen uses. All draw onto game.screen except
// put_pixel and clear_surface, which take the surface.
#pragma once

#include <cstdint>

#include "SDL.h"
#include "SDL_ttf.h"

// Direct pixel writes (put_pixel) go between these; false when the surface
// cannot be locked.
bool lock_pixels(SDL_Surface* surface);
void unlock_pixels(SDL_Surface* surface);
void put_pixel(SDL_Surface* surface, int x, int y, int red, int green, int blue);
void fill_box(int x, int y, int width, int height, uint32_t colour);
void clear_surface(SDL_Surface* surface, int red, int green, int blue);
void blit_at(SDL_Surface* image, int x, int y);
void blit_region(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y);
// The image in the display format, the original freed (null when the
// conversion fails), and given its cut (platform/cuts.h): on a desktop,
// blit_at and blit_region then copy it straight into the screen, a keyed image
// from its runs of pixels that are not the key colour, pixel for pixel as the
// library's copy would.
SDL_Surface* to_display_format(SDL_Surface* image);
SDL_Surface* render_text(TTF_Font* font, const char* text, SDL_Color colour);

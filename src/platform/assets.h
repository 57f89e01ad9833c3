// Loading the images and the music.
#pragma once

#include "SDL.h"

SDL_Surface* load_image(const char* path);
SDL_Surface* load_image_keyed(const char* path, int red, int green, int blue);
void load_assets();

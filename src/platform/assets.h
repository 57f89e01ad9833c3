// Loading the images and the music, and opening the audio device.
#pragma once

#include "SDL.h"

SDL_Surface* load_image(const char* path);
SDL_Surface* load_image_keyed(const char* path, int red, int green, int blue);
int init_audio();
void load_assets();

// Exit status when an image cannot be loaded: the game cannot be shown without it.
constexpr int image_failure_status = 3;

#include "platform/assets.h"

#include <cstdio>

#include "game.h"
#include "platform/device.h"
#include "platform/draw.h"

// Loads a BMP and converts it to the display format; null when any step fails.
static SDL_Surface* load_converted(const char* path, bool keyed, int red, int green, int blue)
{
    SDL_RWops* file = SDL_RWFromFile(path, "rb");
    // Keep the reason the file could not be opened as the error text.
    if (file == nullptr) return nullptr;
    SDL_Surface* loaded = SDL_LoadBMP_RW(file, 1);
    if (loaded == nullptr) return nullptr;
    if (keyed) {
        SDL_SetColorKey(loaded, SDL_SRCCOLORKEY,
                        SDL_MapRGB(loaded->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                                   static_cast<Uint8>(blue)));
    }
    // The display format conversion keeps the key.
    return to_display_format(loaded);
}

SDL_Surface* load_image(const char* path)
{
    return load_converted(path, false, 0, 0, 0);
}

SDL_Surface* load_image_keyed(const char* path, int red, int green, int blue)
{
    return load_converted(path, true, red, green, blue);
}

// Without its images the game cannot be shown: stop before the first frame.
static SDL_Surface* require(SDL_Surface* image, const char* path)
{
    if (image == nullptr) {
        fprintf(stderr, "Couldn't load image %s: %s\n", path, SDL_GetError());
        stop_start_up(IMAGE_FAILED);
    }
    return image;
}

static SDL_Surface* plain(const char* path)
{
    return require(load_image(path), path);
}

static SDL_Surface* keyed(const char* path)
{
    return require(load_image_keyed(path, 255, 0, 255), path);
}

void load_assets()
{
    game.left_panel = plain("data/left.bmp");
    game.right_panel = plain("data/right.bmp");
    game.console_image = keyed("data/konsol.bmp");
    game.menu_background = keyed("data/bg.bmp");
    game.player_image = keyed("data/player.bmp");
    game.button_normal[0] = plain("data/newgame1.bmp");
    game.button_normal[1] = plain("data/hiscore1.bmp");
    game.button_normal[2] = plain("data/exit1.bmp");
    game.button_lit[0] = plain("data/newgame2.bmp");
    game.button_lit[1] = plain("data/hiscore2.bmp");
    game.button_lit[2] = plain("data/exit2.bmp");
    game.sprites[1] = keyed("data/dusman01.bmp");
    game.sprites[2] = keyed("data/dusman02.bmp");
    game.sprites[3] = keyed("data/dusman03.bmp");
    game.sprites[4] = keyed("data/dusman04.bmp");
    game.sprites[5] = keyed("data/dusman05.bmp");
    game.sprites[0] = keyed("data/missile.bmp");
    game.enemy_shot_image = keyed("data/enemy_missile.bmp");
    game.explosion_frames[0] = keyed("data/patlama01.bmp");
    game.explosion_frames[1] = keyed("data/patlama03.bmp");
    game.explosion_frames[2] = keyed("data/patlama05.bmp");
    game.explosion_frames[3] = keyed("data/patlama07.bmp");
    // A missing or unplayable track leaves the game silent, nothing more.
    game.music = Mix_LoadMUS("data/tavik-shootemup.mp3");
}

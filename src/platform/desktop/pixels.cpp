// Pixel writes on a desktop: straight into the surface's memory.
#include "platform/draw.h"

bool lock_pixels(SDL_Surface* surface)
{
    return !SDL_MUSTLOCK(surface) || SDL_LockSurface(surface) == 0;
}

void unlock_pixels(SDL_Surface* surface)
{
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
}

// No bounds checks here: callers pass coordinates inside the surface.
void put_pixel(SDL_Surface* surface, int x, int y, int red, int green, int blue)
{
    const Uint32 value = SDL_MapRGB(surface->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                                    static_cast<Uint8>(blue));
    const int pitch = surface->pitch;
    auto* bytes = static_cast<Uint8*>(surface->pixels);
    switch (surface->format->BytesPerPixel) {
    case 1: bytes[y * pitch + x] = static_cast<Uint8>(value); break;
    case 2: static_cast<Uint16*>(surface->pixels)[y * pitch / 2 + x] = static_cast<Uint16>(value); break;
    case 3: {
        Uint8* p = bytes + y * pitch + 3 * x;
        p[0] = static_cast<Uint8>(value);
        p[1] = static_cast<Uint8>(value >> 8);
        p[2] = static_cast<Uint8>(value >> 16);
        break;
    }
    case 4: static_cast<Uint32*>(surface->pixels)[y * pitch / 4 + x] = value; break;
    default: break;
    }
}

// Pixel writes in a browser. Its surfaces are canvases: their pixel memory is a
// copy, taken and put back whole by a lock. The pixels written between lock and
// unlock are gathered instead, and filled in place in one call at the unlock.
#include <array>
#include <cstdint>

#include "platform/draw.h"

// Fills `count` pixels of (x, y, mapped colour) into the canvas (web/library_screen.js).
extern "C" void quorvane_fill_pixels(SDL_Surface* surface, const uint32_t* pixels, int count);

static struct {
    SDL_Surface* surface;
    std::array<uint32_t, 3 * 1024> pixels;  // x, y, mapped colour
    int count;
} batch;

static void flush_pixels()
{
    if (batch.count > 0) quorvane_fill_pixels(batch.surface, batch.pixels.data(), batch.count);
    batch.count = 0;
}

bool lock_pixels(SDL_Surface* surface)
{
    flush_pixels();
    batch.surface = surface;
    return true;
}

void unlock_pixels(SDL_Surface* surface)
{
    if (surface == batch.surface) flush_pixels();
    batch.surface = nullptr;
}

void put_pixel(SDL_Surface* surface, int x, int y, int red, int green, int blue)
{
    // Mapped as the browser's SDL_MapRGB maps it, without a call out to it per pixel.
    const Uint32 value = static_cast<Uint32>(red & 0xFF) | static_cast<Uint32>(green & 0xFF) << 8 |
                         static_cast<Uint32>(blue & 0xFF) << 16 | 0xFF000000u;
    if (surface != batch.surface || batch.count == static_cast<int>(batch.pixels.size() / 3)) flush_pixels();
    uint32_t* p = batch.pixels.data() + 3 * batch.count++;
    p[0] = static_cast<uint32_t>(x);
    p[1] = static_cast<uint32_t>(y);
    p[2] = value;
    if (surface != batch.surface) flush_pixels();  // unlocked: written at once
}

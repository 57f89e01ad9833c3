#include "platform/draw.h"

#include <array>

#include "game.h"

#ifdef __EMSCRIPTEN__
// A browser's surfaces are canvases: their pixel memory is a copy, taken and
// put back whole by a lock. There the pixels written between lock and unlock
// are gathered instead, and filled in place in one call at the unlock.
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
    const Uint32 value = SDL_MapRGB(surface->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                                    static_cast<Uint8>(blue));
    if (surface != batch.surface || batch.count == static_cast<int>(batch.pixels.size() / 3)) flush_pixels();
    uint32_t* p = batch.pixels.data() + 3 * batch.count++;
    p[0] = static_cast<uint32_t>(x);
    p[1] = static_cast<uint32_t>(y);
    p[2] = value;
    if (surface != batch.surface) flush_pixels();  // unlocked: written at once
}
#else
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
#endif

void fill_box(int x, int y, int width, int height, uint32_t colour)
{
    SDL_Rect r{static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(width),
               static_cast<Uint16>(height)};
    SDL_FillRect(game.screen, &r, colour);
}

void clear_surface(SDL_Surface* surface, int red, int green, int blue)
{
    SDL_FillRect(surface, nullptr,
                 SDL_MapRGB(surface->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                            static_cast<Uint8>(blue)));
}

// A missing image (a score that failed to render) draws nothing.
void blit_at(SDL_Surface* image, int x, int y)
{
    if (image == nullptr) return;
    SDL_Rect dest{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(image, nullptr, game.screen, &dest);
}

void blit_region(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y)
{
    SDL_Rect src{static_cast<Sint16>(src_x), static_cast<Sint16>(src_y), static_cast<Uint16>(width),
                 static_cast<Uint16>(height)};
    SDL_Rect dest{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(image, &src, game.screen, &dest);
}

// UTF-8 text in one colour, see-through around the letters, converted to the
// screen's format so that drawing it every frame costs a plain keyed copy.
// Null when the text cannot be rendered.
SDL_Surface* render_text(TTF_Font* font, const char* text, SDL_Color colour)
{
    if (font == nullptr || text[0] == '\0') return nullptr;
    SDL_Surface* rendered = TTF_RenderUTF8_Solid(font, text, colour);
    if (rendered == nullptr) return nullptr;
    SDL_Surface* converted = SDL_DisplayFormat(rendered);
    SDL_FreeSurface(rendered);
    return converted;
}

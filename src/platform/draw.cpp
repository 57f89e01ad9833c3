// The drawing shared by every platform. The pixel writes and the fast copies
// differ by platform: platform/desktop/ and platform/web/ (pixels.cpp, cuts.cpp).
#include "platform/draw.h"

#include "game.h"
#include "platform/cuts.h"

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

SDL_Surface* to_display_format(SDL_Surface* image)
{
    SDL_Surface* converted = SDL_DisplayFormat(image);
    SDL_FreeSurface(image);
    if (converted != nullptr) cut_image(converted);
    return converted;
}

// A missing image (a score that failed to render) draws nothing.
void blit_at(SDL_Surface* image, int x, int y)
{
    if (image == nullptr || blit_cut(image, 0, 0, image->w, image->h, x, y)) return;
    SDL_Rect dest{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(image, nullptr, game.screen, &dest);
}

void blit_region(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y)
{
    if (blit_cut(image, src_x, src_y, width, height, x, y)) return;
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
    return to_display_format(rendered);
}

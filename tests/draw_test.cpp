#include <cstring>
#include <vector>

#include "platform/draw.h"
#include "support.h"

namespace {

struct Format {
    int bits;
    Uint32 rmask, gmask, bmask;
};

// Writes one pixel into a zeroed surface and returns every byte of it afterwards.
std::vector<Uint8> after_put(const Format& f, int x, int y, int r, int g, int b, SDL_Surface** out = nullptr)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 7, 5, f.bits, f.rmask, f.gmask, f.bmask, 0);
    std::memset(s->pixels, 0, s->pitch * s->h);
    put_pixel(s, x, y, r, g, b);
    auto* bytes = static_cast<Uint8*>(s->pixels);
    std::vector<Uint8> all(bytes, bytes + s->pitch * s->h);
    if (out) {
        *out = s;
    } else {
        SDL_FreeSurface(s);
    }
    return all;
}

}  // namespace

using DrawTest = GameTest;

TEST_F(DrawTest, PutPixelStoresByBytesPerPixel)
{
    // 16 bits: exactly the two bytes of (3, 2) change, in native order.
    SDL_Surface* s = nullptr;
    auto bytes = after_put({16, 0xF800, 0x07E0, 0x001F}, 3, 2, 255, 0, 255, &s);
    const int at = 2 * s->pitch + 3 * 2;
    Uint16 stored;
    std::memcpy(&stored, &bytes[at], 2);
    EXPECT_EQ(stored, 0xF81F);
    int changed = 0;
    for (Uint8 b : bytes) changed += b != 0;
    EXPECT_EQ(changed, 2);
    SDL_FreeSurface(s);

    // 24 bits: three bytes, least significant first.
    bytes = after_put({24, 0xFF0000, 0x00FF00, 0x0000FF}, 1, 1, 0x12, 0x34, 0x56, &s);
    const int at3 = 1 * s->pitch + 3;
    EXPECT_EQ(bytes[at3], 0x56);
    EXPECT_EQ(bytes[at3 + 1], 0x34);
    EXPECT_EQ(bytes[at3 + 2], 0x12);
    changed = 0;
    for (Uint8 b : bytes) changed += b != 0;
    EXPECT_EQ(changed, 3);
    SDL_FreeSurface(s);

    // 32 bits: the whole value as one element.
    bytes = after_put({32, 0xFF0000, 0x00FF00, 0x0000FF}, 6, 4, 1, 2, 3, &s);
    Uint32 word;
    std::memcpy(&word, &bytes[4 * s->pitch + 6 * 4], 4);
    EXPECT_EQ(word, 0x010203u);
    SDL_FreeSurface(s);

    // 8 bits: the low byte of the mapped value at y * pitch + x.
    bytes = after_put({8, 0, 0, 0}, 5, 3, 255, 255, 255, &s);
    const Uint8 expected = static_cast<Uint8>(SDL_MapRGB(s->format, 255, 255, 255));
    EXPECT_EQ(bytes[3 * s->pitch + 5], expected);
    SDL_FreeSurface(s);
}

TEST_F(DrawTest, BlitsClipAtTheScreenEdge)
{
    clear_surface(game.screen, 0, 0, 0);
    SDL_Surface* img = solid_image(45, 45, 255, 255, 255);
    const uint32_t white = rgb(255, 255, 255);
    blit_at(img, 100, -30);  // an enemy still partly above the top edge
    EXPECT_EQ(pixel(100, 0), white);
    EXPECT_EQ(pixel(144, 14), white);
    EXPECT_NE(pixel(144, 15), white);
    EXPECT_NE(pixel(145, 0), white);
    SDL_FreeSurface(img);
}

TEST_F(DrawTest, ARegionOfHeightZeroDrawsNothing)
{
    clear_surface(game.screen, 0, 0, 0);
    SDL_Surface* img = solid_image(45, 45, 255, 255, 255);
    blit_region(img, 0, 10, 45, 0, 300, 300);
    EXPECT_NE(pixel(300, 300), rgb(255, 255, 255));
    SDL_FreeSurface(img);
}

TEST_F(DrawTest, ARegionCoversExactlyItsRectangle)
{
    clear_surface(game.screen, 0, 0, 0);
    SDL_Surface* img = solid_image(45, 45, 255, 255, 255);
    const uint32_t white = rgb(255, 255, 255);
    blit_region(img, 5, 5, 3, 2, 400, 400);
    EXPECT_EQ(pixel(402, 401), white);
    EXPECT_NE(pixel(403, 401), white);
    EXPECT_NE(pixel(402, 402), white);
    SDL_FreeSurface(img);
}

TEST_F(DrawTest, AFilledBoxCoversExactlyItsRectangle)
{
    clear_surface(game.screen, 0, 0, 0);
    fill_box(10, 20, 3, 4, rgb(0, 255, 0));
    EXPECT_EQ(pixel(12, 23), rgb(0, 255, 0));
    EXPECT_NE(pixel(13, 23), rgb(0, 255, 0));
    EXPECT_NE(pixel(12, 24), rgb(0, 255, 0));
}

// A score that failed to render is a missing image: drawing it does nothing.
TEST_F(DrawTest, AMissingImageDrawsNothing)
{
    clear_surface(game.screen, 0, 0, 0);
    blit_at(nullptr, 0, 0);
    EXPECT_EQ(pixel(0, 0), rgb(0, 0, 0));
}

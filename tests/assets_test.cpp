#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/assets.h"
#include "platform/device.h"
#include "platform/draw.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

// A 24-bit BMP: magenta at (0,0), a colour that becomes the same 16-bit pixel
// at (1,0), and plain green everywhere else.
void write_bmp(const std::string& path, int w, int h)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 255, 0));
    SDL_Rect a{0, 0, 1, 1}, b{1, 0, 1, 1};
    SDL_FillRect(s, &a, SDL_MapRGB(s->format, 255, 0, 255));
    SDL_FillRect(s, &b, SDL_MapRGB(s->format, 250, 2, 250));
    ASSERT_EQ(SDL_SaveBMP(s, path.c_str()), 0);
    SDL_FreeSurface(s);
}

const std::array<const char*, 22> image_files = {
    "left",     "right",         "konsol",    "bg",        "player",    "newgame1", "hiscore1", "exit1",
    "newgame2", "hiscore2",      "exit2",     "dusman01",  "dusman02",  "dusman03", "dusman04", "dusman05",
    "missile",  "enemy_missile", "patlama01", "patlama03", "patlama05", "patlama07"};

class AssetsTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        free_images();  // the loader fills the slots itself
        old_dir = fs::current_path();
        dir = fs::temp_directory_path() / ("quorvane-assets-" + std::to_string(getpid()));
        fs::create_directories(dir / "data");
        fs::current_path(dir);
    }
    void TearDown() override
    {
        fs::current_path(old_dir);
        fs::remove_all(dir);
        GameTest::TearDown();
    }
    // Every image of the table, each with its own width so its slot can be told.
    void write_all()
    {
        for (size_t i = 0; i < image_files.size(); ++i) {
            write_bmp("data/" + std::string(image_files[i]) + ".bmp", 10 + static_cast<int>(i), 4);
        }
    }
    fs::path old_dir, dir;
};

}  // namespace

TEST_F(AssetsTest, KeyColourIsTransparentOnlyInKeyedImages)
{
    write_bmp("data/test.bmp", 4, 2);
    SDL_Surface* plain = load_image("data/test.bmp");
    SDL_Surface* keyed = load_image_keyed("data/test.bmp", 255, 0, 255);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(keyed, nullptr);
    EXPECT_EQ(plain->format->BitsPerPixel, 16);  // converted to the display format

    clear_surface(game.screen, 0, 0, 0);
    blit_at(plain, 0, 0);
    blit_at(keyed, 0, 10);
    EXPECT_EQ(pixel(0, 0), rgb(255, 0, 255));
    EXPECT_EQ(pixel(1, 0), rgb(255, 0, 255));
    EXPECT_EQ(pixel(2, 0), rgb(0, 255, 0));
    EXPECT_EQ(pixel(0, 10), rgb(0, 0, 0));
    EXPECT_EQ(pixel(1, 10), rgb(0, 0, 0));  // the same 16-bit pixel as the key
    EXPECT_EQ(pixel(2, 10), rgb(0, 255, 0));
    SDL_FreeSurface(plain);
    SDL_FreeSurface(keyed);

    EXPECT_EQ(load_image("data/missing.bmp"), nullptr);
}

// However a keyed image is drawn underneath, each pixel must come out as one
// keyed copy of the whole image gives it: clipped at every edge of the screen,
// and for any part of the image.
TEST_F(AssetsTest, AKeyedImageDrawsAsOneKeyedCopyOfItWouldClippedOrInPart)
{
    // Solid rows, a see-through block, and rows where the key comes and goes.
    SDL_Surface* art = SDL_CreateRGBSurface(SDL_SWSURFACE, 90, 60, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    for (int y = 0; y < art->h; ++y) {
        for (int x = 0; x < art->w; ++x) {
            const bool key = (y >= 20 && y < 30 && x >= 10 && x < 70) ||
                             (y >= 40 && (x * 7 + y * 3) % 5 == 0);
            SDL_Rect r{static_cast<Sint16>(x), static_cast<Sint16>(y), 1, 1};
            SDL_FillRect(
                art, &r,
                key ? SDL_MapRGB(art->format, 255, 0, 255) : SDL_MapRGB(art->format, x * 2, y * 4, 90));
        }
    }
    ASSERT_EQ(SDL_SaveBMP(art, "data/art.bmp"), 0);
    SDL_FreeSurface(art);
    // An image freed before it, whose drawing data is dropped at the next load,
    // leaves this one's in another place.
    write_bmp("data/test.bmp", 30, 20);
    SDL_Surface* freed = load_image_keyed("data/test.bmp", 255, 0, 255);
    SDL_Surface* image = load_image_keyed("data/art.bmp", 255, 0, 255);
    ASSERT_NE(image, nullptr);
    SDL_FreeSurface(freed);
    SDL_FreeSurface(load_image_keyed("data/test.bmp", 255, 0, 255));

    const size_t bytes = static_cast<size_t>(game.screen->pitch) * game.screen->h;
    const auto* screen = static_cast<const Uint8*>(game.screen->pixels);
    auto backdrop = [] {
        clear_surface(game.screen, 0, 0, 0);
        for (int i = 0; i < 16; ++i) fill_box(i * 40, 0, 20, screen_height, rgb(20 + i * 10, 200, 60));
    };
    struct Case {
        int src_x, src_y, width, height, x, y;  // width 0: the whole image by blit_at
    };
    const Case cases[] = {{0, 0, 0, 0, 100, 100},  {0, 0, 0, 0, -7, -25},     {0, 0, 0, 0, 600, 445},
                          {0, 0, 0, 0, -50, 430},  {5, 15, 60, 30, 200, 50},  {0, 35, 90, 25, -20, -4},
                          {80, 0, 40, 70, 620, 0}, {-5, -5, 20, 20, 300, 300}};
    for (const Case& c : cases) {
        backdrop();
        if (c.width == 0) {
            SDL_Rect dest{static_cast<Sint16>(c.x), static_cast<Sint16>(c.y), 0, 0};
            SDL_UpperBlit(image, nullptr, game.screen, &dest);
        } else {
            SDL_Rect src{static_cast<Sint16>(c.src_x), static_cast<Sint16>(c.src_y),
                         static_cast<Uint16>(c.width), static_cast<Uint16>(c.height)};
            SDL_Rect dest{static_cast<Sint16>(c.x), static_cast<Sint16>(c.y), 0, 0};
            SDL_UpperBlit(image, &src, game.screen, &dest);
        }
        const std::vector<Uint8> one_copy(screen, screen + bytes);
        backdrop();
        if (c.width == 0) {
            blit_at(image, c.x, c.y);
        } else {
            blit_region(image, c.src_x, c.src_y, c.width, c.height, c.x, c.y);
        }
        EXPECT_TRUE(std::equal(one_copy.begin(), one_copy.end(), screen))
            << "drawn at " << c.x << "," << c.y << " from " << c.src_x << "," << c.src_y << " " << c.width
            << "x" << c.height;
    }
    SDL_FreeSurface(image);
}

TEST_F(AssetsTest, LoadsEveryImageIntoItsSlot)
{
    write_all();
    load_assets();
    const std::array<SDL_Surface*, 22> slots = {
        game.left_panel,          game.right_panel,        game.console_image,       game.menu_background,
        game.player_image,        game.button_normal[0],   game.button_normal[1],    game.button_normal[2],
        game.button_lit[0],       game.button_lit[1],      game.button_lit[2],       game.sprites[1],
        game.sprites[2],          game.sprites[3],         game.sprites[4],          game.sprites[5],
        game.sprites[0],          game.enemy_shot_image,   game.explosion_frames[0], game.explosion_frames[1],
        game.explosion_frames[2], game.explosion_frames[3]};
    for (size_t i = 0; i < slots.size(); ++i) {
        ASSERT_NE(slots[i], nullptr) << image_files[i];
        EXPECT_EQ(slots[i]->w, 10 + static_cast<int>(i)) << image_files[i];
        const bool keyed = (slots[i]->flags & SDL_SRCCOLORKEY) != 0;
        const bool want_key = i == 2 || i == 3 || i == 4 || i >= 11;
        EXPECT_EQ(keyed, want_key) << image_files[i];
    }
}

TEST_F(AssetsTest, AMissingTrackLeavesTheGameSilentNotStopped)
{
    write_all();
    load_assets();
    EXPECT_EQ(game.music, nullptr);
    EXPECT_NE(game.explosion_frames[3], nullptr);  // every image before the track's turn was loaded
}

TEST_F(AssetsTest, AMissingImageStopsStartUpNamingTheFile)
{
    write_all();
    fs::remove("data/dusman03.bmp");
    EXPECT_EXIT(load_assets(), ::testing::ExitedWithCode(IMAGE_FAILED),
                "Couldn't load image data/dusman03.bmp: ");
    std::FILE* f = std::fopen("data/left.bmp", "wb");  // empty: unreadable as a BMP
    std::fclose(f);
    EXPECT_EXIT(load_assets(), ::testing::ExitedWithCode(IMAGE_FAILED),
                "Couldn't load image data/left.bmp: .+");
}

#include "support.h"

#include <cstdlib>

#include "app/shell.h"
#include "platform/device.h"

namespace {
SDL_Surface* screen = nullptr;

void start_library_once()
{
    if (screen != nullptr) return;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0) << SDL_GetError();
    screen = SDL_SetVideoMode(screen_width, screen_height, screen_bpp, 0);
    ASSERT_NE(screen, nullptr) << SDL_GetError();
}
}  // namespace

SDL_Surface* solid_image(int w, int h, int r, int g, int b)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 16, screen->format->Rmask,
                                          screen->format->Gmask, screen->format->Bmask, 0);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, r, g, b));
    return s;
}

void start_text()
{
    if (TTF_WasInit() == 0) {
        ASSERT_EQ(TTF_Init(), 0) << SDL_GetError();
    }
    open_fonts(QUORVANE_TEST_FONT);
    ASSERT_NE(game.font, nullptr) << QUORVANE_TEST_FONT << ": " << SDL_GetError();
    ASSERT_NE(game.table_font, nullptr) << QUORVANE_TEST_FONT << ": " << SDL_GetError();
    set_text_colour();
}

void close_fonts()
{
    for (TTF_Font** f : {&game.font, &game.title_font, &game.table_font}) {
        if (*f != nullptr) TTF_CloseFont(*f);
        *f = nullptr;
    }
}

void GameTest::SetUp()
{
    start_library_once();
    game = Game{};
    game.screen = screen;
    srand(1234);
    // Distinct colours so a test can tell which image landed where.
    game.left_panel = solid_image(80, 512, 0, 0, 200);
    game.right_panel = solid_image(82, 512, 0, 200, 0);
    game.console_image = solid_image(290, 95, 100, 100, 100);
    game.menu_background = solid_image(640, 480, 255, 0, 255);
    SDL_SetColorKey(game.menu_background, SDL_SRCCOLORKEY, SDL_MapRGB(screen->format, 255, 0, 255));
    game.player_image = solid_image(76, 50, 200, 200, 0);
    for (int i = 0; i < menu_item_count; ++i) {
        game.button_normal[i] = solid_image(120, 30, 40, 40, 40);
        game.button_lit[i] = solid_image(120, 30, 240, 240, 240);
    }
    game.sprites[0] = solid_image(10, 16, 0, 255, 255);
    for (int k = 1; k <= enemy_kinds; ++k) game.sprites[k] = solid_image(45, 45, 200, 0, 40 * k);
}

void free_images()
{
    SDL_Surface** single[] = {&game.left_panel,      &game.right_panel,  &game.console_image,
                              &game.menu_background, &game.player_image, &game.score_image,
                              &game.enemy_shot_image};
    for (SDL_Surface** s : single) {
        SDL_FreeSurface(*s);
        *s = nullptr;
    }
    auto free_all = [](auto& table) {
        for (SDL_Surface*& s : table) {
            SDL_FreeSurface(s);
            s = nullptr;
        }
    };
    free_all(game.button_normal);
    free_all(game.button_lit);
    free_all(game.sprites);
    free_all(game.explosion_frames);
}

void GameTest::TearDown()
{
    free_images();
    game = Game{};
}

uint32_t GameTest::pixel(int x, int y)
{
    return static_cast<const Uint16*>(screen->pixels)[y * screen->pitch / 2 + x];
}

uint32_t GameTest::rgb(int r, int g, int b)
{
    return SDL_MapRGB(screen->format, r, g, b);
}

void GameTest::press(SDLKey key)
{
    handle_event(key_event(SDL_KEYDOWN, key));
}

void GameTest::release(SDLKey key)
{
    handle_event(key_event(SDL_KEYUP, key));
}

void GameTest::tap(SDLKey key)
{
    press(key);
    release(key);
}

Enemy enemy_at(int x, int y, int kind)
{
    return Enemy{.x = x, .y = y, .alive = 1, .kind = kind};
}

Enemy wreck_at(int x, int y, int kind)
{
    return Enemy{.x = x, .y = y, .alive = 0, .kind = kind};
}

Shot shot_at(int x, int y)
{
    return Shot{.active = 1, .x = x, .y = y, .dy = -1};
}

Star star_at(int x, int y, int speed)
{
    return Star{.x = x, .y = y, .speed = speed};
}

#include "screens/frame.h"
#include "support.h"
#include "world/enemies.h"
#include "world/ship.h"

namespace {

class FrameTest : public GameTest {
protected:
    static void start_play()
    {
        game.state = PLAY;
        reset_player();
        spawn_enemies();
    }
};

}  // namespace

TEST_F(FrameTest, TicksOnlyWhenTheClockMovesEvenAcrossItsWrap)
{
    game.state = MENU;
    const int32_t ticks[][2] = {{0, 1}, {INT32_MAX, INT32_MIN}, {-1, 0}, {-5, 3}};
    for (const auto& t : ticks) {
        game.frame_counter = 0;
        game.last_tick = t[0];
        game.now_tick = t[0];
        draw_frame();
        EXPECT_EQ(game.frame_counter, 0) << t[0];  // clock still: nothing moves
        game.now_tick = t[1];
        draw_frame();
        EXPECT_EQ(game.frame_counter, 1) << t[0];
        EXPECT_EQ(game.last_tick, t[1]);
    }
}

TEST_F(FrameTest, MenuShowsOnlyTheSelectedItemLit)
{
    game.state = MENU;
    game.menu_selection = 2;
    game.now_tick = 10;
    draw_frame();
    const uint32_t lit = rgb(240, 240, 240), normal = rgb(40, 40, 40);
    EXPECT_EQ(pixel(275, 260), normal);
    EXPECT_EQ(pixel(275, 300), normal);
    EXPECT_EQ(pixel(275, 340), lit);
    EXPECT_EQ(pixel(394, 369), lit);  // the item's far corner
}

TEST_F(FrameTest, MenuTickMovesTheStarsButLeavesTheShipAlone)
{
    game.state = MENU;
    game.player_dx = -1;
    game.player_x = 300;
    for (Star& s : game.stars) s = star_at(3, 10, 2);
    game.now_tick = 10;
    draw_frame();
    EXPECT_EQ(game.player_x, 300);
    EXPECT_EQ(game.frame_counter, 1);
    EXPECT_EQ(game.stars[0].y, 12);
}

TEST_F(FrameTest, PanelsCoverEveryRowAtEveryOffsetWithoutASeam)
{
    // Each row of the stand-in panels gets its own colour, so the drawn row tells
    // which panel row landed there.
    const int h = game.left_panel->h;
    for (int row = 0; row < h; ++row) {
        SDL_Rect r{0, static_cast<Sint16>(row), 80, 1};
        SDL_FillRect(game.left_panel, &r, SDL_MapRGB(game.left_panel->format, row & 0xFF, row >> 8, 77));
    }
    start_play();
    for (int n : {0, 1, h - 1}) {
        game.frame_counter = n - 1;  // the tick brings it to n
        game.last_tick = 0;
        game.now_tick = 1;
        draw_frame();
        ASSERT_EQ(game.frame_counter, n);
        for (int y = 0; y < screen_height; ++y) {
            const int row = ((y - n) % h + h) % h;
            ASSERT_EQ(pixel(0, y), rgb(row & 0xFF, row >> 8, 77)) << "offset " << n << " row " << y;
            ASSERT_EQ(pixel(600, y), rgb(0, 200, 0)) << "offset " << n << " row " << y;
        }
    }
}

TEST_F(FrameTest, PanelOffsetWrapsAtTheLeftPanelsHeight)
{
    start_play();
    game.frame_counter = 5000;  // after a long stay in the menu
    game.now_tick = 1;
    draw_frame();
    EXPECT_EQ(game.frame_counter, 0);
    game.frame_counter = game.left_panel->h - 1;
    game.now_tick = 2;
    draw_frame();
    EXPECT_EQ(game.frame_counter, 0);
}

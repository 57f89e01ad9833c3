#include <cstdlib>

#include "platform/draw.h"
#include "support.h"
#include "world/stars.h"

using StarsTest = GameTest;

TEST_F(StarsTest, InitDrawsColumnHeightSpeedInThatOrder)
{
    srand(99);
    init_stars();
    srand(99);
    for (const Star& s : game.stars) {
        const int x = rand() % 640;
        const int y = -(rand() % 480);
        const int speed = rand() % 3 + 1;
        ASSERT_EQ(s.x, x);
        ASSERT_EQ(s.y, y);
        ASSERT_EQ(s.speed, speed);
    }
}

TEST_F(StarsTest, StarsFallByTheirSpeedAndRecycleAboveTheScreen)
{
    init_stars();
    game.stars[0] = {10, 476, 3};  // reaches 479: still on screen
    game.stars[1] = {11, 477, 3};  // passes 479: back above the top
    game.stars[2] = {12, -5, 2};
    srand(7);
    // Only star 1 draws from the generator this tick.
    for (int i = 3; i < star_count; ++i) game.stars[i] = {i, -1000, 1};
    move_stars();
    EXPECT_EQ(game.stars[0].y, 479);
    srand(7);
    EXPECT_EQ(game.stars[1].y, -(rand() % 640));
    EXPECT_EQ(game.stars[1].x, 11);
    EXPECT_EQ(game.stars[1].speed, 3);
    EXPECT_EQ(game.stars[2].y, -3);
}

TEST_F(StarsTest, SpeedsShowAsThreeGreysAndHiddenStarsAreNotDrawn)
{
    for (Star& s : game.stars) s = {0, -1, 1};
    game.stars[0] = {5, 0, 1};
    game.stars[1] = {6, 479, 2};
    game.stars[2] = {639, 200, 3};
    game.stars[3] = {7, 7, 4};  // not a speed the game makes: not drawn
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    EXPECT_EQ(pixel(5, 0), rgb(55, 55, 55));
    EXPECT_EQ(pixel(6, 479), rgb(150, 150, 150));
    EXPECT_EQ(pixel(639, 200), rgb(255, 255, 255));
    EXPECT_EQ(pixel(7, 7), rgb(0, 0, 0));
    EXPECT_EQ(pixel(0, 0), rgb(0, 0, 0));
}

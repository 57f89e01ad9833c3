#include <cstdlib>

#include "platform/draw.h"
#include "support.h"
#include "world/stars.h"

using StarsTest = GameTest;

// Pins the order of the random draws: column, height, speed, for each star in turn.
TEST_F(StarsTest, InitDrawsColumnHeightAndSpeedInThatOrder)
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

TEST_F(StarsTest, StarsFallByTheirSpeed)
{
    for (Star& s : game.stars) s = star_at(0, -1000, 1);
    game.stars[0] = star_at(10, 476, 3);  // reaches 479: still on screen
    game.stars[2] = star_at(12, -5, 2);
    move_stars();
    EXPECT_EQ(game.stars[0].y, 479);
    EXPECT_EQ(game.stars[2].y, -3);
    EXPECT_EQ(game.stars[3].y, -999);
}

// Pins the random draw of a star that passes the bottom: one draw, from 640 heights.
TEST_F(StarsTest, AStarPastTheBottomComesBackAboveTheTopFromOneDraw)
{
    for (Star& s : game.stars) s = star_at(0, -1000, 1);
    game.stars[1] = star_at(11, 477, 3);  // passes 479: back above the top
    srand(7);
    move_stars();
    srand(7);
    EXPECT_EQ(game.stars[1].y, -(rand() % 640));
    EXPECT_EQ(game.stars[1].x, 11);
    EXPECT_EQ(game.stars[1].speed, 3);
}

TEST_F(StarsTest, SpeedsShowAsThreeGreys)
{
    for (Star& s : game.stars) s = star_at(0, -1, 1);
    game.stars[0] = star_at(5, 0, 1);
    game.stars[1] = star_at(6, 479, 2);
    game.stars[2] = star_at(639, 200, 3);
    game.stars[3] = star_at(7, 7, 4);  // not a speed the game makes: not drawn
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    EXPECT_EQ(pixel(5, 0), rgb(55, 55, 55));
    EXPECT_EQ(pixel(6, 479), rgb(150, 150, 150));
    EXPECT_EQ(pixel(639, 200), rgb(255, 255, 255));
    EXPECT_EQ(pixel(7, 7), rgb(0, 0, 0));
}

TEST_F(StarsTest, StarsAboveTheTopAreNotDrawn)
{
    for (Star& s : game.stars) s = star_at(0, -1, 3);
    clear_surface(game.screen, 0, 0, 0);
    draw_stars();
    EXPECT_EQ(pixel(0, 0), rgb(0, 0, 0));
}

#include <climits>
#include <cstdlib>

#include "app/input.h"
#include "screens/frame.h"
#include "platform/draw.h"
#include "support.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/ship.h"
#include "world/shots.h"

namespace {

class WorldTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        game.state = PLAY;
        reset_player();
        // Park every enemy far from the ship and any shot unless a test places it.
        for (Enemy& e : game.enemies) e = {82, -470, 1, 1};
    }
    // One frame with a clock that has moved: exactly one tick.
    static void frame()
    {
        game.now_tick += 1;
        draw_frame();
    }
};

}  // namespace

TEST_F(WorldTest, ContainmentCountsTouchingEdgesAndNothingLess)
{
    EXPECT_EQ(rect_inside(0, 0, 10, 10, 0, 0, 10, 10), 1);
    EXPECT_EQ(rect_inside(5, 5, 10, 10, 0, 0, 15, 15), 1);
    EXPECT_EQ(rect_inside(6, 5, 10, 10, 0, 0, 15, 15), 0);
    EXPECT_EQ(rect_inside(-1, 0, 10, 10, 0, 0, 20, 20), 0);
    EXPECT_EQ(rect_inside(0, 0, 20, 20, 5, 5, 5, 5), 0);
}

TEST_F(WorldTest, SpawnAndFall)
{
    srand(5);
    spawn_enemies();
    srand(5);
    for (const Enemy& e : game.enemies) {
        const int x = rand() % 440 + 82;
        const int y = -(rand() % 480);
        const int kind = rand() % 5 + 1;
        EXPECT_EQ(e.x, x);
        EXPECT_EQ(e.y, y);
        EXPECT_EQ(e.kind, kind);
        EXPECT_EQ(e.alive, 1);
    }
    for (Enemy& e : game.enemies) e = {100, -300, 1, 2};
    game.enemies[0] = {300, 479, 1, 3};
    game.enemies[1] = {301, 5, 0, 3};  // destroyed: replaced at the next move
    move_enemies();
    EXPECT_EQ(game.enemies[0].y, 480);  // still there, below the screen
    EXPECT_EQ(game.enemies[0].x, 300);
    EXPECT_LE(game.enemies[1].y, 0);
    EXPECT_EQ(game.enemies[1].alive, 1);
    EXPECT_EQ(game.enemies[2].y, -299);
    move_enemies();
    EXPECT_LE(game.enemies[0].y, 0);  // 481: spawned again
}

TEST_F(WorldTest, ContactIsJudgedAfterTheMoveAndBeforeTheClamp)
{
    // At the top of its box, moving up: the unclamped ship (y 149) holds an
    // enemy at y 149; the clamped one (y 150) would not.
    game.player_x = 200;
    game.player_y = 150;
    game.player_dy = -1;
    game.enemies[3] = {210, 149, 1, 4};
    step_player();
    EXPECT_EQ(game.lives, 3);
    EXPECT_EQ(game.score, 40);
    EXPECT_EQ(game.enemies[3].alive, 0);
    EXPECT_EQ(game.player_y, 150);
    EXPECT_STREQ(game.score_text.data(), "40");

    // A large overlap that is not containment costs nothing.
    game.enemies[3] = {200 + 32, 150, 1, 4};
    game.player_dy = 0;
    step_player();
    EXPECT_EQ(game.lives, 3);
}

TEST_F(WorldTest, ShipStaysInItsBox)
{
    game.player_dx = -1;
    for (int i = 0; i < 199; ++i) step_player();
    EXPECT_EQ(game.player_x, 81);
    step_player();
    step_player();
    EXPECT_EQ(game.player_x, 80);
    game.player_dx = 1;
    game.player_dy = 1;
    for (int i = 0; i < 500; ++i) step_player();
    EXPECT_EQ(game.player_x, 480);
    EXPECT_EQ(game.player_y, 350);
}

TEST_F(WorldTest, TwoContactsInOneTickCostTwoLivesAndCanEndTheGame)
{
    game.lives = 2;
    game.enemies[0] = {280, 350, 1, 1};  // both wholly inside the ship's box
    game.enemies[7] = {311, 355, 1, 5};
    frame();
    EXPECT_EQ(game.lives, 0);
    EXPECT_EQ(game.score, 60);
    EXPECT_EQ(game.state, MENU);
    // Destroyed in the same tick, so already replaced by move_enemies.
    EXPECT_EQ(game.enemies[0].alive, 1);
    EXPECT_LE(game.enemies[0].y, 0);
}

TEST_F(WorldTest, EveryShotInsideAnEnemyInOnePassScores)
{
    game.enemies[2] = {200, 100, 1, 3};
    game.shots[0] = {1, 200, 100, -1};
    game.shots[9] = {1, 235, 124, -1};   // bottom-right corner of the 45x40 box
    game.shots[10] = {1, 236, 110, -1};  // one pixel too far right: passes
    hit_enemies();
    EXPECT_EQ(game.score, 60);
    EXPECT_EQ(game.shots[0].active, 0);
    EXPECT_EQ(game.shots[9].active, 0);
    EXPECT_EQ(game.shots[10].active, 1);
    EXPECT_EQ(game.enemies[2].alive, 0);
    hit_enemies();  // a destroyed enemy is not tested again
    EXPECT_EQ(game.score, 60);
}

TEST_F(WorldTest, APartlyOverlappingShotPassesAndHitsOnceWhollyInside)
{
    game.player_x = 400;  // keep the ship out of the way
    game.enemies[0] = {200, 100, 1, 2};
    game.shots[0] = {1, 210, 126, -1};  // 126 + 16 > 140: partly below the box
    hit_enemies();
    EXPECT_EQ(game.shots[0].active, 1);
    frame();  // enemy at 101, shot at 125: wholly inside now
    EXPECT_EQ(game.shots[0].active, 0);
    EXPECT_EQ(game.score, 20);

    game.enemies[1] = {200, 100, 1, 2};
    game.shots[1] = {1, 210, 130, -1};
    hit_enemies();
    EXPECT_EQ(game.shots[1].active, 1);  // overlapping, not inside
    frame();
    EXPECT_EQ(game.shots[1].active, 1);  // 101 vs 129: still sticking out
    frame();
    frame();                             // 103 vs 127: 127 + 16 = 143 = 103 + 40
    EXPECT_EQ(game.shots[1].active, 0);
    EXPECT_EQ(game.score, 40);
}

TEST_F(WorldTest, ShotsLeaveTheTopAtMinusOneAndFiftyInFlightBlockFiring)
{
    game.player_y = 150;
    fire_shot();
    EXPECT_EQ(game.shots[0].y, 135);
    for (int i = 0; i < 135; ++i) move_shots();
    EXPECT_EQ(game.shots[0].active, 1);  // at row 0, still in flight
    move_shots();
    EXPECT_EQ(game.shots[0].active, 0);

    for (int i = 0; i < shot_count; ++i) fire_shot();
    const Shot last = game.shots[49];
    game.shots[49].y = 3;
    fire_shot();  // pool full: nothing changes
    EXPECT_EQ(game.shots[49].y, 3);
    EXPECT_EQ(game.shots[49].x, last.x);
    game.shots[17].active = 0;
    game.player_x = 111;
    fire_shot();  // the lowest free slot takes it
    EXPECT_EQ(game.shots[17].active, 1);
    EXPECT_EQ(game.shots[17].x, 144);
}

TEST_F(WorldTest, TheFrameThatEndsTheGameStillScoresItsHits)
{
    game.lives = 1;
    game.enemies[0] = {280, 350, 1, 1};  // contact this tick: the last life
    game.enemies[5] = {150, 200, 1, 5};
    game.shots[3] = {1, 160, 211, -1};   // inside enemy 5 after this tick's moves
    frame();
    EXPECT_EQ(game.state, MENU);
    EXPECT_EQ(game.score, 10 + 50);
    EXPECT_STREQ(game.score_text.data(), "60");
    EXPECT_EQ(game.shots[3].active, 0);
    // The menu from the next frame shows that score, and nothing moves in the world.
    const Enemy before = game.enemies[5];
    frame();
    EXPECT_EQ(game.enemies[5].y, before.y);
    EXPECT_EQ(game.score, 60);
}

TEST_F(WorldTest, LivesBoxesHaveTheirExactPixels)
{
    const uint32_t red = rgb(255, 16, 16);
    for (int lives : {5, 4, 3, 2, 1, 0, -1}) {
        clear_surface(game.screen, 0, 0, 0);
        game.lives = lives;
        draw_lives();
        for (int i = 0; i < 4; ++i) {
            const LivesBox& b = lives_boxes[i];
            const bool shown = lives >= 1 && lives <= 4 && lives >= b.shown_from;
            SCOPED_TRACE(testing::Message() << "lives " << lives << " box " << i);
            EXPECT_EQ(pixel(b.x, 417) == red, shown);
            EXPECT_EQ(pixel(b.x + b.width - 1, 427) == red, shown);
        }
        int count = 0;
        for (int y = 400; y < 440; ++y)
            for (int x = 250; x < 380; ++x) count += pixel(x, y) == red;
        const int expected[] = {0, 12 * 11, 23 * 11, 34 * 11, 45 * 11};
        EXPECT_EQ(count, lives >= 0 && lives <= 4 ? expected[lives] : 0) << lives;
    }
    // The positions themselves, so a swapped box cannot pass.
    EXPECT_EQ(lives_boxes[0].x, 270);
    EXPECT_EQ(lives_boxes[1].x, 294);
    EXPECT_EQ(lives_boxes[2].x, 322);
    EXPECT_EQ(lives_boxes[3].x, 345);
    EXPECT_EQ(lives_boxes[3].width, 12);
}

TEST_F(WorldTest, ScoreStopsAtItsLargestValue)
{
    game.score = INT32_MAX - 30;
    add_score(20);
    EXPECT_EQ(game.score, INT32_MAX - 10);
    add_score(50);
    EXPECT_EQ(game.score, INT32_MAX);
    render_score();
    EXPECT_STREQ(game.score_text.data(), "2147483647");
}

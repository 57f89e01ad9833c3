#include <climits>
#include <cstdlib>

#include "platform/draw.h"
#include "screens/frame.h"
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
        for (Enemy& e : game.enemies) e = enemy_at(82, -470, 1);
    }
    // One frame with a clock that has moved: exactly one tick.
    static void frame()
    {
        game.now_tick += 1;
        draw_frame();
    }
};

}  // namespace

TEST_F(WorldTest, ContainmentIncludesTouchingEdges)
{
    EXPECT_EQ(rect_inside(0, 0, 10, 10, 0, 0, 10, 10), 1);
    EXPECT_EQ(rect_inside(5, 5, 10, 10, 0, 0, 15, 15), 1);
    EXPECT_EQ(rect_inside(6, 5, 10, 10, 0, 0, 15, 15), 0);
    EXPECT_EQ(rect_inside(-1, 0, 10, 10, 0, 0, 20, 20), 0);
    EXPECT_EQ(rect_inside(0, 0, 20, 20, 5, 5, 5, 5), 0);
}

// Pins the order of the random draws: column, height, kind, for each slot in turn.
TEST_F(WorldTest, SpawnDrawsColumnHeightAndKindInThatOrder)
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
}

TEST_F(WorldTest, AnEnemyComesBackAtTheTopOnlyOncePastTheBottom)
{
    game.enemies[0] = enemy_at(300, 479, 3);
    game.enemies[2] = enemy_at(100, -300, 2);
    move_enemies();
    EXPECT_EQ(game.enemies[0].y, 480);  // still there, below the screen
    EXPECT_EQ(game.enemies[0].x, 300);
    EXPECT_EQ(game.enemies[2].y, -299);  // one row per tick
    move_enemies();
    EXPECT_LE(game.enemies[0].y, 0);  // 481: spawned again
    EXPECT_EQ(game.enemies[0].alive, 1);
}

TEST_F(WorldTest, ADestroyedEnemyComesBackAtTheNextMove)
{
    game.enemies[1] = wreck_at(301, 5, 3);
    move_enemies();
    EXPECT_LE(game.enemies[1].y, 0);
    EXPECT_EQ(game.enemies[1].alive, 1);
}

TEST_F(WorldTest, ContactIsJudgedAfterTheMoveAndBeforeTheClamp)
{
    // At the top of its box, moving up: the unclamped ship (y 149) holds an
    // enemy at y 149; the clamped one (y 150) would not.
    game.player_x = 200;
    game.player_y = 150;
    game.player_dy = -1;
    game.enemies[3] = enemy_at(210, 149, 4);
    step_player();
    EXPECT_EQ(game.lives, 3);
    EXPECT_EQ(game.score, 40);
    EXPECT_EQ(game.enemies[3].alive, 0);
    EXPECT_EQ(game.player_y, 150);
    EXPECT_STREQ(game.score_text.data(), "40");
}

TEST_F(WorldTest, AnOverlapThatIsNotContainmentCostsNothing)
{
    game.player_x = 200;
    game.player_y = 150;
    game.enemies[3] = enemy_at(200 + 32, 150, 4);  // 44 of its 45 columns over the ship
    step_player();
    EXPECT_EQ(game.lives, 4);
    EXPECT_EQ(game.enemies[3].alive, 1);
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

TEST_F(WorldTest, TwoContactsInOneTickCountTwice)
{
    game.enemies[0] = enemy_at(280, 350, 1);  // both wholly inside the ship's box
    game.enemies[7] = enemy_at(311, 355, 5);
    frame();
    EXPECT_EQ(game.lives, 2);
    EXPECT_EQ(game.score, 60);
    EXPECT_EQ(game.state, PLAY);
    // Destroyed in the same tick, so already replaced by move_enemies.
    EXPECT_EQ(game.enemies[0].alive, 1);
    EXPECT_LE(game.enemies[0].y, 0);
}

TEST_F(WorldTest, LosingTheLastLivesEndsTheGameAtThatTick)
{
    game.lives = 2;
    game.enemies[0] = enemy_at(280, 350, 1);
    game.enemies[7] = enemy_at(311, 355, 5);
    frame();
    EXPECT_EQ(game.lives, 0);
    EXPECT_EQ(game.state, MENU);
}

TEST_F(WorldTest, EveryShotInsideAnEnemyInOnePassScores)
{
    game.enemies[2] = enemy_at(200, 100, 3);
    game.shots[0] = shot_at(200, 100);
    game.shots[9] = shot_at(235, 124);   // bottom-right corner of the 45x40 box
    game.shots[10] = shot_at(236, 110);  // one pixel too far right: passes
    hit_enemies();
    EXPECT_EQ(game.score, 60);
    EXPECT_EQ(game.shots[0].active, 0);
    EXPECT_EQ(game.shots[9].active, 0);
    EXPECT_EQ(game.shots[10].active, 1);
    EXPECT_EQ(game.enemies[2].alive, 0);
    hit_enemies();  // a destroyed enemy is not tested again
    EXPECT_EQ(game.score, 60);
}

TEST_F(WorldTest, AShotHitsOnlyOnceWhollyInsideTheEnemy)
{
    game.player_x = 400;  // keep the ship out of the way
    game.enemies[0] = enemy_at(200, 100, 2);
    game.shots[0] = shot_at(210, 126);  // 126 + 16 > 140: partly below the box
    hit_enemies();
    EXPECT_EQ(game.shots[0].active, 1);
    frame();  // enemy at 101, shot at 125: wholly inside now
    EXPECT_EQ(game.shots[0].active, 0);
    EXPECT_EQ(game.score, 20);

    game.enemies[1] = enemy_at(200, 100, 2);
    game.shots[1] = shot_at(210, 130);
    hit_enemies();
    EXPECT_EQ(game.shots[1].active, 1);  // overlapping, not inside
    frame();
    EXPECT_EQ(game.shots[1].active, 1);  // 101 vs 129: still sticking out
    frame();
    frame();  // 103 vs 127: 127 + 16 = 143 = 103 + 40
    EXPECT_EQ(game.shots[1].active, 0);
    EXPECT_EQ(game.score, 40);
}

TEST_F(WorldTest, ShotsLeaveTheTopAtMinusOne)
{
    game.player_y = 150;
    fire_shot();
    EXPECT_EQ(game.shots[0].y, 135);
    for (int i = 0; i < 135; ++i) move_shots();
    EXPECT_EQ(game.shots[0].active, 1);  // at row 0, still in flight
    move_shots();
    EXPECT_EQ(game.shots[0].active, 0);
}

TEST_F(WorldTest, FiftyShotsInFlightBlockFiringUntilASlotFrees)
{
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
    game.enemies[0] = enemy_at(280, 350, 1);  // contact this tick: the last life
    game.enemies[5] = enemy_at(150, 200, 5);
    game.shots[3] = shot_at(160, 211);  // inside enemy 5 after this tick's moves
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

// Where the boxes must be, written out here rather than taken from the game's
// own table, so a box moved or swapped there shows up.
TEST_F(WorldTest, LivesBoxesHaveTheirExactPixels)
{
    struct Box {
        int x, width, shown_from;
    };
    const Box boxes[4] = {{.x = 270, .width = 11, .shown_from = 4},
                          {.x = 294, .width = 11, .shown_from = 3},
                          {.x = 322, .width = 11, .shown_from = 2},
                          {.x = 345, .width = 12, .shown_from = 1}};
    const uint32_t red = rgb(255, 16, 16);
    for (int lives : {5, 4, 3, 2, 1, 0, -1}) {
        clear_surface(game.screen, 0, 0, 0);
        game.lives = lives;
        draw_lives();
        int expected = 0;
        for (const Box& b : boxes) {
            const bool shown = lives >= b.shown_from && lives <= 4;
            SCOPED_TRACE(testing::Message() << "lives " << lives << " box at x " << b.x);
            for (int y = 417; y < 428; ++y) {
                for (int x = b.x; x < b.x + b.width; ++x)
                    ASSERT_EQ(pixel(x, y) == red, shown) << x << "," << y;
            }
            expected += shown ? b.width * 11 : 0;
        }
        // Nothing of that red anywhere else on the console.
        int count = 0;
        for (int y = 385; y < 480; ++y)
            for (int x = 175; x < 465; ++x) count += pixel(x, y) == red;
        EXPECT_EQ(count, expected) << "lives " << lives;
    }
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

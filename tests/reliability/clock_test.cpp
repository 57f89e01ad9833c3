// The 32-bit millisecond clock wraps at 2^32 (49.7 days), and a signed reading
// of it turns negative at 2^31 (24.8 days). A game left running for weeks must
// not stop moving, stop firing or overflow a counter at either point.
#include <cstdint>
#include <vector>

#include "app/shell.h"
#include "screens/frame.h"
#include "screens/menu.h"
#include "support.h"
#include "world/ship.h"
#include "world/shots.h"

namespace {

class ClockTest : public GameTest {
protected:
    static int active_shots()
    {
        int n = 0;
        for (const Shot& s : game.shots) n += s.active;
        return n;
    }
    static int32_t clock(uint32_t ms) { return static_cast<int32_t>(ms); }
    // A game under way, ship in mid-box, no enemy anywhere near it.
    static void start_play()
    {
        game.state = PLAY;
        reset_player();
        game.player_x = 200;
        game.player_y = 250;
        for (Enemy& e : game.enemies) e = enemy_at(100, -400, 1);
    }
};

}  // namespace

// frame_test covers the menu's tick across the wraps; a game's tick moves the ship,
// the shots and the enemies, once per clock step, right through both.
TEST_F(ClockTest, PlayTicksOncePerClockStepThroughBothWraps)
{
    for (uint32_t wrap : {0x80000000u, 0x00000000u}) {
        start_play();
        game.player_dx = 1;
        game.shots[0] = shot_at(300, 300);
        game.now_tick = clock(wrap - 3);
        game.last_tick = clock(wrap - 4);
        for (int step = 0; step < 6; ++step) {
            const int32_t x = game.player_x, shot_y = game.shots[0].y, enemy_y = game.enemies[0].y;
            game.now_tick = clock(wrap - 3 + static_cast<uint32_t>(step));
            draw_frame();
            ASSERT_EQ(game.last_tick, game.now_tick) << "wrap " << wrap << " step " << step;
            EXPECT_EQ(game.player_x, x + 1) << "wrap " << wrap << " step " << step;
            EXPECT_EQ(game.shots[0].y, shot_y - 1) << "wrap " << wrap << " step " << step;
            EXPECT_EQ(game.enemies[0].y, enemy_y + 1) << "wrap " << wrap << " step " << step;
            draw_frame();  // the same reading again: no second tick
            EXPECT_EQ(game.player_x, x + 1) << "wrap " << wrap << " step " << step;
        }
    }
}

// Held Space repeats every 10 ms; shots come every 310 ms, before, across and
// after each wrap alike.
TEST_F(ClockTest, HeldFireKeepsItsRhythmThroughBothWraps)
{
    for (uint32_t wrap : {0x80000000u, 0x00000000u}) {
        start_play();
        clear_shots();
        game.last_fire = clock(wrap - 1000);
        std::vector<uint32_t> fired;
        for (uint32_t t = wrap - 1000; t != wrap + 1000; t += 10) {
            game.now_tick = clock(t);
            const int before = active_shots();
            press(SDLK_SPACE);
            if (active_shots() > before) fired.push_back(t - (wrap - 1000));
            clear_shots();  // the pool never fills up during this test
        }
        const std::vector<uint32_t> every_310ms = {310, 620, 930, 1240, 1550, 1860};
        EXPECT_EQ(fired, every_310ms) << "wrap " << wrap;
    }
}

// The game starts with last_fire at 0 and the menu does not fire. A player who
// leaves it on the menu for weeks, or flies without firing for that long, must
// still be able to shoot: any gap of 300 ms or more allows a shot, however long.
TEST_F(ClockTest, FirstShotAfterWeeksWithoutFiring)
{
    const uint32_t gaps[] = {
        0x80000000u + 1000u,  // 24.8 days: the gap reads negative as a signed number
        0xC0000000u,          // 37 days
        0xFFFFFFFFu - 100u,   // just short of 49.7 days: reads as -101 ms
    };
    for (uint32_t gap : gaps) {
        // From the menu: the press that starts the game is also a shot.
        game.state = MENU;
        game.menu_selection = NEW_GAME;
        game.last_fire = 0;
        game.now_tick = clock(gap);
        press(SDLK_SPACE);
        ASSERT_EQ(game.state, PLAY);
        EXPECT_EQ(active_shots(), 1) << "gap " << gap << " ms in the menu";
        EXPECT_EQ(game.last_fire, game.now_tick);

        // In a game, having not fired for that long.
        start_play();
        clear_shots();
        game.last_fire = clock(5000);
        game.now_tick = clock(5000 + gap);
        press(SDLK_SPACE);
        EXPECT_EQ(active_shots(), 1) << "gap " << gap << " ms in a game";
        EXPECT_EQ(game.last_fire, game.now_tick);
        game.now_tick = clock(5000 + gap + 300);
        press(SDLK_SPACE);  // and the usual rule applies again after that shot
        EXPECT_EQ(active_shots(), 1) << "gap " << gap;
    }
}

// The menu counts its ticks in a 32-bit counter that only a game resets. Five
// milliseconds a frame, 2^31 ticks is about 124 days: the count must not
// overflow (undefined behaviour; in practice a negative panel offset).
TEST_F(ClockTest, MenuTickCounterDoesNotOverflowOnAMonthsLongStay)
{
    game.state = MENU;
    game.frame_counter = INT32_MAX - 1;
    for (int step = 1; step <= 3; ++step) {
        game.now_tick = step;
        menu_tick();
        ASSERT_GE(game.frame_counter, 0) << "step " << step;
    }
    // The game that follows draws its panels from an offset inside them.
    start_play();
    game.now_tick = 10;
    draw_frame();
    EXPECT_GE(game.frame_counter, 0);
    EXPECT_LT(game.frame_counter, game.left_panel->h);
}

#include "app/shell.h"
#include "screens/menu.h"
#include "support.h"
#include "world/shots.h"

namespace {

class InputTest : public GameTest {
protected:
    static int active_shots()
    {
        int n = 0;
        for (const Shot& s : game.shots) n += s.active;
        return n;
    }
};

}  // namespace

TEST_F(InputTest, MenuSelectionStopsAtBothEndsOfTheList)
{
    game.state = MENU;
    press(SDLK_UP);
    EXPECT_EQ(game.menu_selection, 0);
    press(SDLK_DOWN);
    press(SDLK_DOWN);
    press(SDLK_DOWN);
    EXPECT_EQ(game.menu_selection, 2);
    press(SDLK_UP);
    EXPECT_EQ(game.menu_selection, 1);
}

TEST_F(InputTest, SidewaysKeysDoNothingInTheMenu)
{
    game.state = MENU;
    game.menu_selection = 1;
    press(SDLK_LEFT);
    press(SDLK_RIGHT);
    release(SDLK_LEFT);
    EXPECT_EQ(game.menu_selection, 1);
    EXPECT_EQ(game.player_dx, 0);
    EXPECT_EQ(game.state, MENU);
}

TEST_F(InputTest, ArrowsSetTheDeltasInPlay)
{
    game.state = PLAY;
    press(SDLK_LEFT);
    press(SDLK_RIGHT);
    EXPECT_EQ(game.player_dx, 1);
    press(SDLK_UP);
    EXPECT_EQ(game.player_dy, -1);
    release(SDLK_LEFT);  // either horizontal release stops horizontal movement
    EXPECT_EQ(game.player_dx, 0);
    EXPECT_EQ(game.player_dy, -1);
}

TEST_F(InputTest, DeltasHeldAtGameOverCarryIntoTheNextGame)
{
    game.state = PLAY;
    press(SDLK_LEFT);
    press(SDLK_DOWN);

    game.state = MENU;  // game over with keys held
    release(SDLK_LEFT);
    release(SDLK_DOWN);
    EXPECT_EQ(game.player_dx, -1);
    EXPECT_EQ(game.player_dy, 1);

    game.menu_selection = NEW_GAME;
    press(SDLK_SPACE);
    EXPECT_EQ(game.state, PLAY);
    EXPECT_EQ(game.player_dx, -1);  // a new game keeps them too
    EXPECT_EQ(game.player_dy, 1);
    release(SDLK_DOWN);
    EXPECT_EQ(game.player_dy, 0);
}

TEST_F(InputTest, NewGameItemResetsTheRunAndStartsPlay)
{
    game.state = MENU;
    game.score = 70;
    game.lives = -1;
    game.player_x = 90;
    game.frame_counter = 33;
    game.shots[4] = shot_at(100, 100);
    game.now_tick = 100;
    game.last_fire = 0;

    game.menu_selection = NEW_GAME;
    press(SDLK_SPACE);
    EXPECT_EQ(game.state, PLAY);
    EXPECT_EQ(game.player_x, 280);
    EXPECT_EQ(game.player_y, 350);
    EXPECT_EQ(game.score, 0);
    EXPECT_EQ(game.lives, 4);
    EXPECT_EQ(game.frame_counter, 33);  // the panels keep scrolling from where they were
    EXPECT_STREQ(game.score_text.data(), "0");
    for (const Enemy& e : game.enemies) EXPECT_EQ(e.alive, 1);
    // Only 100 ms since last_fire: the starting press fires nothing, and the old shot is gone.
    EXPECT_EQ(active_shots(), 0);
}

TEST_F(InputTest, ExitItemQuits)
{
    game.state = MENU;
    game.menu_selection = EXIT;
    press(SDLK_SPACE);
    EXPECT_EQ(game.quit, 1);
    EXPECT_EQ(game.state, MENU);
}

TEST_F(InputTest, StartingPressFiresWhenTheGapAllowsIt)
{
    game.state = MENU;
    game.now_tick = 5000;
    game.last_fire = 4000;
    press(SDLK_SPACE);
    EXPECT_EQ(game.state, PLAY);
    ASSERT_EQ(active_shots(), 1);
    EXPECT_EQ(game.shots[0].x, 280 + 33);
    EXPECT_EQ(game.shots[0].y, 350 - 15);
    EXPECT_EQ(game.last_fire, 5000);
}

TEST_F(InputTest, FireRuleNeedsMoreThan300msAcrossTheClockWrap)
{
    game.state = PLAY;
    game.player_x = 280;
    game.player_y = 350;
    const int32_t starts[] = {1000, INT32_MAX - 100, -150};  // plain, across 2^31, across 2^32
    for (int32_t start : starts) {
        clear_shots();
        game.last_fire = start;
        game.now_tick = static_cast<int32_t>(static_cast<uint32_t>(start) + 300u);
        press(SDLK_SPACE);
        EXPECT_EQ(active_shots(), 0) << start;  // exactly 300 ms: no shot
        game.now_tick = static_cast<int32_t>(static_cast<uint32_t>(start) + 301u);
        press(SDLK_SPACE);
        EXPECT_EQ(active_shots(), 1) << start;
        EXPECT_EQ(game.last_fire, game.now_tick);
        press(SDLK_SPACE);  // same clock reading: held Space does not fire again
        EXPECT_EQ(active_shots(), 1) << start;
    }
}

TEST_F(InputTest, QuitRequestsEndTheGameFromEveryScreen)
{
    for (ScreenState s : {MENU, PLAY, HIGH_SCORES}) {
        for (Uint8 type : {SDL_KEYDOWN, SDL_KEYUP}) {
            game.quit = 0;
            game.state = s;
            handle_event(key_event(type, SDLK_ESCAPE));
            EXPECT_EQ(game.quit, 1);
        }
        game.quit = 0;
        SDL_Event close{};
        close.type = SDL_QUIT;
        handle_event(close);
        EXPECT_EQ(game.quit, 1);
    }
}

TEST_F(InputTest, OtherEventsAndKeysChangeNothing)
{
    game.quit = 0;
    game.state = PLAY;
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    handle_event(motion);
    handle_event(key_event(SDL_KEYDOWN, SDLK_a));
    EXPECT_EQ(game.quit, 0);
    EXPECT_EQ(game.player_dx, 0);
    EXPECT_EQ(game.player_dy, 0);
}

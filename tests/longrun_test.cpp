#include <random>

#include "app/input.h"
#include "screens/frame.h"
#include "support.h"
#include "world/enemies.h"
#include "world/shots.h"

namespace {

class LongRunTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        saved_wait = frame_wait_ms;
        frame_wait_ms = 0;  // the pacing wait only slows the run down
        spawn_enemies();
        clear_shots();
    }
    void TearDown() override
    {
        frame_wait_ms = saved_wait;
        GameTest::TearDown();
    }
    int saved_wait = 5;
};

constexpr SDLKey keys[] = {SDLK_SPACE, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT, SDLK_a};

}  // namespace

// Random play through the real dispatch and frame, with the game's rules
// checked after every frame. The clock starts shortly before 2^31 ms so the run
// also crosses the point where a plain signed comparison would stop the ticks.
TEST_F(LongRunTest, InvariantsHoldOverManyRandomTicks)
{
    std::mt19937 rng(20261208);
    game.now_tick = INT32_MAX - 40000;
    game.last_tick = game.now_tick - 1;
    long ticks = 0, games = 0, contacts = 0, hits = 0;
    bool started = false;

    while (ticks < 100000) {
        const ScreenState state_before = game.state;
        const int32_t score_before = game.score;
        const int32_t lives_before = game.lives;

        for (int n = rng() % 3; n > 0; --n) {
            const Uint8 type = rng() % 2 ? SDL_KEYDOWN : SDL_KEYUP;
            // Keep the selection on new game most of the time so games keep coming.
            const SDLKey key = keys[rng() % 6];
            if (game.state == MENU && key == SDLK_DOWN && rng() % 4) continue;
            dispatch_event(key_event(type, key));
            game.quit = 0;  // the exit item: this run goes on regardless
        }
        const bool new_game = state_before == MENU && game.state == PLAY;
        if (new_game) {
            ++games;
            started = true;
            ASSERT_EQ(game.lives, 4);
            ASSERT_EQ(game.player_x, 280);
            ASSERT_EQ(game.player_y, 350);
        }
        const int32_t base_score = new_game ? 0 : score_before;
        const int32_t base_lives = new_game ? 4 : lives_before;
        const ScreenState frame_state = game.state;

        const int32_t last = game.last_tick;
        game.now_tick = static_cast<int32_t>(static_cast<uint32_t>(game.now_tick) + rng() % 4);
        draw_frame();
        if (game.last_tick != last) ++ticks;

        SCOPED_TRACE(testing::Message() << "tick " << ticks << " clock " << game.now_tick);
        if (started) {
            ASSERT_GE(game.player_x, 80);
            ASSERT_LE(game.player_x, 480);
            ASSERT_GE(game.player_y, 150);
            ASSERT_LE(game.player_y, 350);
        }
        for (const Enemy& e : game.enemies) {
            ASSERT_GE(e.x, 82);
            ASSERT_LE(e.x, 521);
            ASSERT_LE(e.y, 480);
            ASSERT_GE(e.kind, 1);
            ASSERT_LE(e.kind, 5);
        }
        for (const Shot& s : game.shots) {
            if (s.active) {
                ASSERT_GE(s.y, 0);
            }
        }
        ASSERT_GE(game.score, base_score);
        // A life goes only with a contact, in play, and each contact scores.
        const int32_t lost = base_lives - game.lives;
        ASSERT_GE(lost, 0);
        if (frame_state == MENU) {
            ASSERT_EQ(lost, 0);
        }
        ASSERT_GE(game.score - base_score, 10 * lost);
        contacts += lost;
        hits += game.score > base_score + 50 * lost;
        if (game.state == PLAY) {
            ASSERT_GT(game.lives, 0);
        }
    }
    // The run must have exercised the rules, not idled in the menu.
    EXPECT_GT(games, 5);
    EXPECT_GT(contacts, 20);
    EXPECT_GT(hits, 5);
    EXPECT_GT(static_cast<uint32_t>(game.now_tick), 0x80000000u);
}

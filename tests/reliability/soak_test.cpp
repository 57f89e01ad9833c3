// A million ticks of random play through the game's own input dispatch and tick
// functions, with the rules of the game checked after every tick. Drawing a
// frame costs far more than a tick, so only every draw_every-th pass draws; the
// others do what a frame does minus the drawing: at most one tick, then the hits.
// Under the sanitizer build this is also the long-run memory check.
#include <cstdlib>
#include <random>

#include "app/input.h"
#include "screens/frame.h"
#include "support.h"
#include "world/enemies.h"
#include "world/ship.h"
#include "world/shots.h"

namespace {

constexpr long ticks_per_run = 500000;  // two runs: one across each clock wrap
constexpr long draw_every = 100;
constexpr SDLKey keys[] = {SDLK_SPACE, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT, SDLK_a};

struct Counts {
    long ticks = 0, draws = 0, games = 0, contacts = 0, hits = 0, renders = 0;
};

// Enemies the ship's next move lands on. Worked out here, apart from the game's
// own containment test, so a life lost without a contact shows up.
int contacts_ahead()
{
    const int x = game.player_x + game.player_dx, y = game.player_y + game.player_dy;
    int n = 0;
    for (const Enemy& e : game.enemies) {
        n += e.x >= x && e.y >= y && e.x + 45 <= x + ship_width && e.y + 45 <= y + ship_height;
    }
    return n;
}

class SoakTest : public GameTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        saved_wait = frame_wait_ms;
        frame_wait_ms = 0;  // the pacing wait only slows the run down
        if (TTF_WasInit() == 0) {
            ASSERT_EQ(TTF_Init(), 0) << SDL_GetError();
        }
        // The real font, so the score is rendered (and freed) on every change.
        game.font = TTF_OpenFont(QUORVANE_RELIABILITY_FONT, 12);
        ASSERT_NE(game.font, nullptr) << QUORVANE_RELIABILITY_FONT << ": " << SDL_GetError();
        game.text_colour = SDL_Color{55, 55, 255, 0};
        spawn_enemies();
        clear_shots();
    }
    void TearDown() override
    {
        if (game.font != nullptr) TTF_CloseFont(game.font);
        game.font = nullptr;
        frame_wait_ms = saved_wait;
        GameTest::TearDown();
    }
    int saved_wait = 5;
};

}  // namespace

TEST_P(SoakTest, RulesHoldForHalfAMillionTicksAcrossTheClockWrap)
{
    const uint32_t wrap = GetParam();
    std::mt19937 rng(wrap ^ 0x5eedu);
    // About 670,000 ms of clock for the run: start 300,000 ms short of the wrap.
    game.now_tick = static_cast<int32_t>(wrap - 300000u);
    game.last_tick = game.now_tick - 1;
    game.last_fire = game.now_tick - 1000;
    Counts n;
    bool started = false, crossed = false;
    long pass = 0;

    while (n.ticks < ticks_per_run) {
        ++pass;
        const ScreenState state_before = game.state;
        const int32_t score_before = game.score;
        const int32_t lives_before = game.lives;

        for (int k = rng() % 3; k > 0; --k) {
            const Uint8 type = rng() % 2 ? SDL_KEYDOWN : SDL_KEYUP;
            const SDLKey key = keys[rng() % 6];
            // Keep the highlight on "new game" most of the time so games keep coming.
            if (game.state == MENU && key == SDLK_DOWN && rng() % 4) continue;
            dispatch_event(key_event(type, key));
            game.quit = 0;  // the exit item: this run goes on regardless
        }
        const bool new_game = state_before == MENU && game.state == PLAY;
        if (new_game) {
            ++n.games;
            started = true;
            ASSERT_EQ(game.lives, 4);
            ASSERT_EQ(game.score, 0);
            ASSERT_EQ(game.player_x, 280);
            ASSERT_EQ(game.player_y, 350);
        }
        const int32_t base_score = new_game ? 0 : score_before;
        const int32_t base_lives = new_game ? 4 : lives_before;
        const ScreenState frame_state = game.state;

        const uint32_t before = static_cast<uint32_t>(game.now_tick);
        game.now_tick = static_cast<int32_t>(before + rng() % 4);
        crossed = crossed || static_cast<uint32_t>(game.now_tick) - wrap < before - wrap;
        const bool due = tick_due();
        const int expected_contacts = frame_state == PLAY && due ? contacts_ahead() : 0;

        if (pass % draw_every == 0) {
            draw_frame();
            ++n.draws;
        } else if (frame_state == MENU) {
            if (due) menu_tick();
        } else {
            if (due) play_tick();
            hit_enemies();
        }
        if (due) ++n.ticks;
        ASSERT_EQ(game.last_tick, game.now_tick);

        SCOPED_TRACE(testing::Message() << "tick " << n.ticks << " clock " << game.now_tick);
        if (started) {
            ASSERT_GE(game.player_x, ship_min_x);
            ASSERT_LE(game.player_x, ship_max_x);
            ASSERT_GE(game.player_y, ship_min_y);
            ASSERT_LE(game.player_y, ship_max_y);
        }
        for (const Enemy& e : game.enemies) {
            ASSERT_GE(e.x, 82);
            ASSERT_LE(e.x, 521);
            ASSERT_LE(e.y, screen_height);
            ASSERT_GE(e.kind, 1);
            ASSERT_LE(e.kind, enemy_kinds);
        }
        for (const Shot& s : game.shots) {
            if (s.active != 0) {
                ASSERT_GE(s.y, 0);
            }
        }
        ASSERT_GE(game.score, base_score);
        const int32_t lost = base_lives - game.lives;
        ASSERT_EQ(lost, expected_contacts);  // a life goes with a contact, and only then
        ASSERT_GE(static_cast<int64_t>(game.score) - base_score, 10 * lost);
        if (game.state == PLAY) {
            ASSERT_GT(game.lives, 0);
        }
        // What the score shows is the score, and the real font drew it.
        if (game.score != base_score) {
            ++n.renders;
            ASSERT_EQ(std::atol(game.score_text.data()), game.score);
            ASSERT_NE(game.score_image, nullptr) << SDL_GetError();
        }
        n.contacts += lost;
        n.hits += game.score > base_score + 50 * lost;
    }
    // The run must have exercised the rules, not idled in the menu.
    EXPECT_TRUE(crossed) << "the clock never passed " << wrap;
    EXPECT_GT(n.games, 10);
    EXPECT_GT(n.contacts, 50);
    EXPECT_GT(n.hits, 20);
    EXPECT_GT(n.draws, 1000);
    RecordProperty("games", static_cast<int>(n.games));
    std::printf("%ld ticks, %ld frames drawn, %ld games, %ld lives lost, %ld score renders\n", n.ticks,
                n.draws, n.games, n.contacts, n.renders);
}

// 2^31 is where a signed comparison of clock readings breaks; 2^32 (0 here) is
// where the library's 32-bit clock itself wraps.
INSTANTIATE_TEST_SUITE_P(Wraps, SoakTest, ::testing::Values(0x80000000u, 0x00000000u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return info.param == 0 ? std::string("At2To32") : std::string("At2To31");
                         });

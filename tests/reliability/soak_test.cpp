// A million ticks of random play through the game's own loop pass, with the
// rules of the game checked after every tick. The keys go through the event
// queue, as a keyboard's do, and the clock is the test's own, so that a run
// crosses the clock's wrap in seconds rather than weeks. Under the sanitizer
// build this is also the long-run memory check.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>

#include "app/shell.h"
#include "layout.h"
#include "screens/frame.h"
#include "support.h"
#include "world/enemies.h"
#include "world/ship.h"
#include "world/shots.h"

namespace {

constexpr long ticks_per_run = 500000;  // two runs: one across each clock wrap
constexpr SDLKey keys[] = {SDLK_SPACE, SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT, SDLK_a};

// The reading the loop takes at its next pass; the library's own when off.
bool soak_clock_on = false;
uint32_t soak_clock = 0;

}  // namespace

// The test is linked with SDL_GetTicks wrapped, so the loop reads this clock.
extern "C" Uint32 __real_SDL_GetTicks();
extern "C" Uint32 __wrap_SDL_GetTicks()
{
    return soak_clock_on ? soak_clock : __real_SDL_GetTicks();
}

namespace {

struct Counts {
    long ticks = 0, draws = 0, games = 0, contacts = 0, hits = 0, renders = 0;
};

// Enemies (alive or not) lying inside the ship's box once it has moved by its
// deltas from (x, y). Worked out here, apart from the game's own containment
// test, so a life lost without a contact shows up.
int contacts_at(const std::array<Enemy, enemy_count>& enemies, int x, int y)
{
    int n = 0;
    for (const Enemy& e : enemies) {
        n += e.x >= x && e.y >= y && e.x + 45 <= x + ship_width && e.y + 45 <= y + ship_height;
    }
    return n;
}

void push_key(Uint8 type, SDLKey key)
{
    SDL_Event e = key_event(type, key);
    ASSERT_EQ(SDL_PushEvent(&e), 0) << SDL_GetError();
}

class SoakTest : public GameTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        saved_wait = frame_wait_ms;
        frame_wait_ms = 0;  // the pacing wait only slows the run down
        // Nothing looks at the pictures here: narrow stand-ins keep the frames
        // cheap. The panels keep their height, which sets where their offset wraps.
        SDL_Surface** wide[] = {&game.left_panel, &game.right_panel, &game.console_image,
                                &game.menu_background};
        for (SDL_Surface** image : wide) {
            const int h = image == &game.left_panel || image == &game.right_panel ? (*image)->h : 1;
            SDL_FreeSurface(*image);
            *image = solid_image(1, h, 0, 0, 200);
        }
        // Every pass draws a whole frame; presenting a million of them would
        // take an hour. Drawn off screen, the flip has nothing to show.
        display = game.screen;
        game.screen = SDL_CreateRGBSurface(SDL_SWSURFACE, screen_width, screen_height, screen_bpp,
                                           display->format->Rmask, display->format->Gmask,
                                           display->format->Bmask, 0);
        ASSERT_NE(game.screen, nullptr) << SDL_GetError();
        // The real font, so the score is rendered (and freed) on every change.
        start_text();
        spawn_enemies();
        clear_shots();
    }
    void TearDown() override
    {
        soak_clock_on = false;
        SDL_FreeSurface(game.screen);
        game.screen = display;
        close_fonts();
        frame_wait_ms = saved_wait;
        GameTest::TearDown();
    }
    int saved_wait = 5;
    SDL_Surface* display = nullptr;
};

}  // namespace

TEST_P(SoakTest, RulesHoldForHalfAMillionTicksAcrossTheClockWrap)
{
    const uint32_t wrap = GetParam();
    std::mt19937 rng(wrap ^ 0x5eedu);
    // About 670,000 ms of clock for the run: start 300,000 ms short of the wrap.
    soak_clock = wrap - 300000u;
    game.now_tick = static_cast<int32_t>(soak_clock);
    game.last_tick = game.now_tick - 1;
    game.last_fire = game.now_tick - 1000;
    soak_clock_on = true;
    Counts n;
    bool started = false, crossed = false;

    while (n.ticks < ticks_per_run) {
        const ScreenState state_before = game.state;
        const int32_t score_before = game.score, lives_before = game.lives;
        const int32_t x_before = game.player_x, y_before = game.player_y;
        const std::array<Enemy, enemy_count> enemies_before = game.enemies;

        for (int k = rng() % 3; k > 0; --k) {
            const Uint8 type = rng() % 2 ? SDL_KEYDOWN : SDL_KEYUP;
            const SDLKey key = keys[rng() % 6];
            // Keep the highlight on "new game" most of the time so games keep coming.
            if (game.state == MENU && key == SDLK_DOWN && rng() % 4) continue;
            push_key(type, key);
        }
        const uint32_t before = soak_clock;
        soak_clock += rng() % 4;
        crossed = crossed || soak_clock - wrap < before - wrap;
        const bool due = clock_diff(static_cast<int32_t>(soak_clock), game.last_tick) > 0;

        loop_pass();
        game.quit = 0;  // the exit item: this run goes on regardless
        ++n.draws;
        if (due) ++n.ticks;
        ASSERT_EQ(game.now_tick, static_cast<int32_t>(soak_clock));
        ASSERT_EQ(game.last_tick, game.now_tick);

        SCOPED_TRACE(testing::Message() << "tick " << n.ticks << " clock " << game.now_tick);
        // The keys change no state but the menu's, and the deltas, which the
        // tick then uses: read after the pass, they are the ones it moved by.
        const bool new_game = state_before == MENU && game.state == PLAY;
        const int dx = due ? game.player_dx : 0, dy = due ? game.player_dy : 0;
        int expected_contacts = 0;
        if (new_game) {
            ++n.games;
            started = true;
            ASSERT_EQ(game.lives, 4);
            ASSERT_EQ(game.score, 0);
            ASSERT_EQ(game.player_x, ship_start_x + dx);
            ASSERT_EQ(game.player_y, std::min(ship_start_y + dy, ship_max_y));
        } else if (state_before == PLAY) {
            expected_contacts = due ? contacts_at(enemies_before, x_before + dx, y_before + dy) : 0;
        }
        const int32_t base_score = new_game ? 0 : score_before;
        const int32_t base_lives = new_game ? 4 : lives_before;

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

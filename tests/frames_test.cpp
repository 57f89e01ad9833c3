// The frames the game draws, pixel for pixel: a fixed session (fixed seed,
// fixed clock, fixed keys) over the real data set, every frame's screen folded
// into a checksum. A change to how frames are drawn, a faster copy say, must
// leave every pixel, and so the sums, as they are.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "env_guard.h"
#include "platform/assets.h"
#include "screens/frame.h"
#include "screens/high_scores.h"
#include "support.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/stars.h"

namespace fs = std::filesystem;

namespace {

// Each part of the session, by what its last frame shows.
enum Part : int { MENU_PART, TABLE_PART, PLAY_PART, GAME_OVER_PART, PART_COUNT };
constexpr const char* part_names[PART_COUNT] = {"menu", "high scores", "play", "menu after the game"};

class FramesTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        free_images();  // the real images take their place
        // The loader reads data/ under the current folder, wherever the data set is.
        old_dir = fs::current_path();
        dir = fs::temp_directory_path() / ("quorvane-frames-" + std::to_string(getpid()));
        fs::create_directories(dir);
        fs::create_directory_symlink(fs::path(QUORVANE_TEST_FONT).parent_path(), dir / "data");
        fs::current_path(dir);
        // The table's dates are shown in local time.
        EnvGuard::set("TZ", "UTC");
        tzset();
        start_text();
        load_assets();
        saved_wait = frame_wait_ms;
        frame_wait_ms = 0;
    }
    void TearDown() override
    {
        if (game.state == HIGH_SCORES) close_high_scores();
        Mix_FreeMusic(game.music);
        close_fonts();
        frame_wait_ms = saved_wait;
        tz.restore();
        tzset();
        fs::current_path(old_dir);
        fs::remove_all(dir);
        GameTest::TearDown();
    }

    // One frame 7 ms after the last, its screen folded into the sum.
    void frame()
    {
        game.now_tick += 7;
        draw_frame();
        const SDL_Surface* s = game.screen;
        for (int y = 0; y < s->h; ++y) {
            const auto* row = static_cast<const Uint8*>(s->pixels) + y * s->pitch;
            for (int x = 0; x + 8 <= s->w * 2; x += 8) {
                uint64_t word;
                std::memcpy(&word, row + x, 8);
                sum = (sum ^ word) * 0x100000001B3ull;
            }
        }
        ++frames;
    }
    void frames_of(int count)
    {
        for (int i = 0; i < count; ++i) frame();
    }

    // Flies the ship under the lowest enemy still above it, holding one arrow.
    void steer()
    {
        int target = -1, lowest = -1000000;
        for (const Enemy& e : game.enemies) {
            if (e.alive != 0 && e.y < game.player_y && e.y > lowest) {
                lowest = e.y;
                target = e.x - 15;
            }
        }
        const SDLKey want = target < 0 || target == game.player_x ? SDLK_UNKNOWN
                            : target < game.player_x              ? SDLK_LEFT
                                                                  : SDLK_RIGHT;
        if (want == held) return;
        if (held != SDLK_UNKNOWN) release(held);
        if (want != SDLK_UNKNOWN) press(want);
        held = want;
    }

    EnvGuard tz{"TZ"};
    int saved_wait = 0;
    fs::path old_dir, dir;
    uint64_t sum = 0xCBF29CE484222325ull;
    int frames = 0;
    SDLKey held = SDLK_UNKNOWN;
};

}  // namespace

// The menu with each item lit, the full table over the stars, a game whose
// panels wrap, whose shots climb and hit, and whose ship is steered into
// enemies until its lives are gone, then the menu with the final score.
TEST_F(FramesTest, ASessionDrawsTheSameFramesAsBefore)
{
    // Ten entries above any score this game can make, three of them this session's.
    game.scores_saved = 0;
    for (int i = 0; i < score_table_size; ++i) {
        ScoreEntry& e = game.high_scores.entries[game.high_scores.count++];
        e = ScoreEntry{.score = 90000 - i * 3700, .time = 1765000000 + i * 86400, .name = {"Ada Lovelace"}};
        if (i % 3 == 1) game.session_scores.entries[game.session_scores.count++] = e;
    }
    srand(20261208);
    init_stars();
    spawn_enemies();
    render_score();
    game.state = MENU;

    uint64_t sums[PART_COUNT] = {};
    frames_of(10);
    for (SDLKey key : {SDLK_DOWN, SDLK_DOWN, SDLK_UP}) {
        tap(key);
        frames_of(10);
    }
    sums[MENU_PART] = sum;

    tap(SDLK_SPACE);
    ASSERT_EQ(game.state, HIGH_SCORES);
    frames_of(20);
    tap(SDLK_SPACE);
    sums[TABLE_PART] = sum;

    tap(SDLK_UP);
    frames_of(5);
    press(SDLK_SPACE);
    ASSERT_EQ(game.state, PLAY);
    // Flying from side to side, firing whenever the gap allows, past the panels' wrap.
    for (int i = 0; i < 600; ++i) {
        if (i % 10 == 0) press(SDLK_SPACE);
        if (i % 10 == 1) release(SDLK_SPACE);
        if (i % 150 == 0) press(i % 300 == 0 ? SDLK_LEFT : SDLK_RIGHT);
        if (i % 150 == 149) release(i % 300 == 149 ? SDLK_LEFT : SDLK_RIGHT);
        frame();
    }
    sums[PLAY_PART] = sum;
    ASSERT_GT(game.score, 0);
    ASSERT_EQ(game.lives, 4);

    for (int i = 0; i < 6000 && game.state == PLAY; ++i) {
        steer();
        frame();
    }
    ASSERT_EQ(game.state, MENU) << "the ship was steered into the enemies for 6000 frames and lived";
    if (held != SDLK_UNKNOWN) release(held);
    frames_of(10);
    sums[GAME_OVER_PART] = sum;

    // The same on both runtimes. Made again by scripts/frame-sums, for a change
    // that is meant to draw other frames, once they have been looked at.
    constexpr uint64_t kept[PART_COUNT] = {0xd8d2dcfcef967483, 0x1fe7aa394d064f6d, 0x79ce5100a4f2ee40,
                                           0xd6cde6403be4b533};
    printf("[ frames   ] %d frames, sums {0x%016llx, 0x%016llx, 0x%016llx, 0x%016llx}\n", frames,
           static_cast<unsigned long long>(sums[0]), static_cast<unsigned long long>(sums[1]),
           static_cast<unsigned long long>(sums[2]), static_cast<unsigned long long>(sums[3]));
    EXPECT_EQ(frames, 1524);
    for (int p = 0; p < PART_COUNT; ++p) {
        ASSERT_EQ(sums[p], kept[p]) << "the frames differ first in the part: " << part_names[p];
    }
}

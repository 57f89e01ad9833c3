// The high-score item, its screen and the table a finished game goes into,
// with the real font and the table kept in a temporary XDG_DATA_HOME.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/shell.h"
#include "env_guard.h"
#include "layout.h"
#include "platform/score_text.h"
#include "screens/frame.h"
#include "screens/high_scores.h"
#include "screens/menu.h"
#include "support.h"
#include "world/score_table.h"
#include "world/ship.h"

namespace fs = std::filesystem;

namespace {

class HighScoresTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        start_text();
        char dir[] = "/tmp/quorvane-high-scores-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        data_home = dir;
        EnvGuard::set("XDG_DATA_HOME", dir);
        file = data_home / "quorvane" / "scores";
    }
    void TearDown() override
    {
        if (game.state == HIGH_SCORES) close_high_scores();
        close_fonts();
        fs::remove_all(data_home);
        GameTest::TearDown();
    }
    // A game on its last life about to run into an enemy of the given kind.
    static void last_life_against(int kind)
    {
        game.state = PLAY;
        reset_player();
        game.lives = 1;
        for (Enemy& e : game.enemies) e = enemy_at(82, -470, 1);
        game.enemies[0] = enemy_at(ship_start_x, ship_start_y, kind);
    }
    // One frame with a clock that has moved.
    static void frame()
    {
        game.now_tick += 1;
        draw_frame();
    }
    void write_file(const std::string& text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    std::string read_file() const
    {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    ScoreTable table_on_disk() const
    {
        const std::string text = read_file();
        ScoreTable table{};
        EXPECT_EQ(parse_scores(text.data(), text.size(), table), 0) << text;
        return table;
    }
    EnvGuard env{"XDG_DATA_HOME", "HOME"};
    fs::path data_home, file;
};

}  // namespace

TEST_F(HighScoresTest, SpaceOnTheHighScoreItemOpensTheTable)
{
    load_score_table();
    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    EXPECT_EQ(game.state, HIGH_SCORES);
    EXPECT_NE(game.title_image, nullptr);
    EXPECT_NE(game.hint_image, nullptr);
}

TEST_F(HighScoresTest, AFreshSpaceGoesBackToTheMenuWithTheItemStillLit)
{
    load_score_table();
    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    tap(SDLK_SPACE);
    EXPECT_EQ(game.state, MENU);
    EXPECT_EQ(game.menu_selection, HIGH_SCORE);
    EXPECT_EQ(game.title_image, nullptr);  // the screen's images go with it
}

// A held key repeats every 10 ms: a held Space must not flick between the
// table and the menu.
TEST_F(HighScoresTest, AHeldSpaceNeitherClosesNorReopensTheTable)
{
    load_score_table();
    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    press(SDLK_SPACE);
    for (int repeat = 0; repeat < 5; ++repeat) press(SDLK_SPACE);
    EXPECT_EQ(game.state, HIGH_SCORES);
    release(SDLK_SPACE);
    press(SDLK_SPACE);
    EXPECT_EQ(game.state, MENU);
    for (int repeat = 0; repeat < 5; ++repeat) press(SDLK_SPACE);
    EXPECT_EQ(game.state, MENU);
}

TEST_F(HighScoresTest, OtherKeysDoNothingOnTheTable)
{
    load_score_table();
    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    for (SDLKey key : {SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT, SDLK_RETURN, SDLK_a}) tap(key);
    EXPECT_EQ(game.state, HIGH_SCORES);
    EXPECT_EQ(game.menu_selection, HIGH_SCORE);
    EXPECT_EQ(game.player_dx, 0);
    EXPECT_EQ(game.player_dy, 0);
    EXPECT_EQ(game.quit, 0);
}

TEST_F(HighScoresTest, AGameThatRanksIsOnDiskAsSoonAsItEnds)
{
    load_score_table();
    last_life_against(4);
    frame();
    ASSERT_EQ(game.state, MENU);
    const ScoreTable saved = table_on_disk();
    ASSERT_EQ(saved.count, 1);
    EXPECT_EQ(saved.entries[0].score, 40);
    EXPECT_STREQ(saved.entries[0].name.data(), game.player_name.data());
    EXPECT_NEAR(static_cast<double>(saved.entries[0].time), static_cast<double>(time(nullptr)), 5.0);
}

TEST_F(HighScoresTest, TheScoreKeptIncludesTheLastFramesHits)
{
    load_score_table();
    last_life_against(1);
    game.enemies[5] = enemy_at(150, 200, 5);
    game.shots[3] = shot_at(160, 211);  // inside enemy 5 after this tick's moves
    frame();
    ASSERT_EQ(game.state, MENU);
    const ScoreTable saved = table_on_disk();
    ASSERT_EQ(saved.count, 1);
    EXPECT_EQ(saved.entries[0].score, 60);
}

TEST_F(HighScoresTest, AGameThatEndsWithoutScoringIsNotKept)
{
    load_score_table();
    game.state = PLAY;
    reset_player();
    game.lives = 0;  // ends at the next tick, having scored nothing
    frame();
    ASSERT_EQ(game.state, MENU);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(game.high_scores.count, 0);
}

TEST_F(HighScoresTest, AScoreBelowAFullTableIsNotKept)
{
    std::string text = "quorvane-scores 1\n";
    for (int i = 0; i < score_table_size; ++i) text += std::to_string(1000 - i) + "\t1700000000\tother\n";
    write_file(text);
    load_score_table();
    last_life_against(5);
    frame();
    EXPECT_EQ(table_on_disk().entries[score_table_size - 1].score, 1000 - score_table_size + 1);
    EXPECT_EQ(game.session_scores.count, 0);
}

TEST_F(HighScoresTest, TheTableShowsWhatTheFileHoldsBestFirstWithThisSessionsEntryLit)
{
    write_file("quorvane-scores 1\n500\t1700000000\tAda Lovelace\n20\t1700000001\tken\n");
    load_score_table();
    last_life_against(3);  // 30 points: between the two
    frame();
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    ASSERT_EQ(game.state, HIGH_SCORES);
    ASSERT_EQ(game.high_scores.count, 3);
    EXPECT_EQ(game.high_scores.entries[1].score, 30);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) EXPECT_NE(game.row_images[row][column], nullptr) << row;
    }
    EXPECT_EQ(game.empty_image, nullptr);
    EXPECT_EQ(game.notice_image, nullptr);

    game.now_tick += 1;
    draw_frame();
    // The bar lies behind the lit row only, left of the rank's text.
    const uint32_t bar = rgb(22, 44, 92);
    for (int row = 0; row < 3; ++row) {
        const int y = table_first_row_y + row * table_row_step + 4;
        EXPECT_EQ(pixel(table_bar_x + 2, y) == bar, row == 1) << "row " << row;
    }
}

TEST_F(HighScoresTest, AnEmptyTableSaysNoScoresYet)
{
    load_score_table();
    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    EXPECT_NE(game.empty_image, nullptr);
    EXPECT_EQ(game.heading_images[0], nullptr);
    EXPECT_EQ(game.row_images[0][0], nullptr);
}

// XDG_DATA_HOME names a plain file: no folder can be made under it.
TEST_F(HighScoresTest, AnUnwritableTableWarnsOnceAndPlaysOnInMemory)
{
    const fs::path blocker = data_home / "a-file";
    std::ofstream(blocker) << "not a folder";
    EnvGuard::set("XDG_DATA_HOME", blocker.c_str());
    testing::internal::CaptureStderr();
    load_score_table();
    last_life_against(2);
    frame();
    last_life_against(5);
    frame();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(blocker.string()), std::string::npos) << said;
    EXPECT_EQ(game.scores_saved, 0);
    ASSERT_EQ(game.high_scores.count, 2);
    EXPECT_EQ(game.high_scores.entries[0].score, 50);
    EXPECT_EQ(game.high_scores.entries[1].score, 20);

    game.state = MENU;
    game.menu_selection = HIGH_SCORE;
    tap(SDLK_SPACE);
    EXPECT_NE(game.notice_image, nullptr);
    EXPECT_TRUE(made_this_session(game.high_scores.entries[0]));
}

TEST_F(HighScoresTest, WithoutAPlaceForTheTableTheGameStillKeepsItInMemory)
{
    EnvGuard::set("XDG_DATA_HOME", nullptr);
    EnvGuard::set("HOME", nullptr);
    testing::internal::CaptureStderr();
    load_score_table();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("not being saved"), std::string::npos) << said;
    last_life_against(1);
    frame();
    EXPECT_EQ(game.high_scores.count, 1);
}

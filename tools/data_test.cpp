// Checks the generated data the way the game will use it: sizes, colour
// keys, seams, the music's frame layout, and that a second run of the
// generator writes the very same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.h"
#include "layout.h"
#include "music.h"
#include "output.h"

namespace fs = std::filesystem;

namespace {

const std::string data_dir = QV_DATA_DIR;

const std::vector<std::string> keyed_files = {
    "konsol.bmp",    "bg.bmp",        "player.bmp",    "dusman01.bmp", "dusman02.bmp",
    "dusman03.bmp",  "dusman04.bmp",  "dusman05.bmp",  "missile.bmp",  "enemy_missile.bmp",
    "patlama01.bmp", "patlama03.bmp", "patlama05.bmp", "patlama07.bmp"};
const std::vector<std::string> plain_files = {"left.bmp",  "right.bmp",    "newgame1.bmp", "hiscore1.bmp",
                                              "exit1.bmp", "newgame2.bmp", "hiscore2.bmp", "exit2.bmp"};

// Loads a BMP with SDL, exactly as the game does, into plain RGB bytes.
Pix load(const std::string& file)
{
    Pix p;
    SDL_Surface* s = SDL_LoadBMP((data_dir + "/" + file).c_str());
    if (!s) return p;
    p.w = s->w;
    p.h = s->h;
    p.rgb.resize(size_t(p.w) * p.h * 3);
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            const Uint8* row = static_cast<const Uint8*>(s->pixels) + size_t(y) * s->pitch;
            Uint32 v = 0;
            std::memcpy(&v, row + size_t(x) * s->format->BytesPerPixel, s->format->BytesPerPixel);
            Uint8* d = p.px(x, y);
            SDL_GetRGB(v, s->format, &d[0], &d[1], &d[2]);
        }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return p;
}

float lum(const uint8_t* c)
{
    return (0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2]) / 255.f;
}

int opaque_count(const Pix& p)
{
    int n = 0;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) n += !p.is_key(x, y);
    return n;
}

float mean_lum(const Pix& p, int x0, int y0, int x1, int y1, bool skip_key = true)
{
    double sum = 0;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            if (skip_key && p.is_key(x, y)) continue;
            sum += lum(p.px(x, y));
            ++n;
        }
    return n ? float(sum / n) : 0.f;
}

// Mean absolute difference between two rows.
double row_diff(const Pix& p, int a, int b)
{
    double s = 0;
    for (int x = 0; x < p.w; ++x)
        for (int c = 0; c < 3; ++c) s += std::abs(int(p.px(x, a)[c]) - int(p.px(x, b)[c]));
    return s / (p.w * 3);
}

// The five enemies, lightest first.
std::vector<Pix> enemies()
{
    std::vector<Pix> e;
    for (int i = 1; i <= 5; ++i) e.push_back(load("dusman0" + std::to_string(i) + ".bmp"));
    return e;
}

// The explosion's four frames (files 01, 03, 05 and 07), in the order the
// game shows them.
std::array<Pix, 4> explosion_frames()
{
    return {load("patlama01.bmp"), load("patlama03.bmp"), load("patlama05.bmp"), load("patlama07.bmp")};
}

// A menu item's name and its normal and lit buttons.
struct Button {
    std::string name;
    Pix normal, lit;
};
std::vector<Button> menu_buttons()
{
    std::vector<Button> out;
    for (const char* n : {"newgame", "hiscore", "exit"})
        out.push_back({n, load(std::string(n) + "1.bmp"), load(std::string(n) + "2.bmp")});
    return out;
}

struct Mp3Frame {
    int version, layer, bitrate, rate, mode, size;
};

// Walks MPEG audio frame headers; stops at the first byte that is not one.
std::vector<Mp3Frame> mp3_frames(const std::vector<uint8_t>& d, size_t& consumed)
{
    static const int bitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int sample_rates[4] = {44100, 48000, 32000, 0};
    std::vector<Mp3Frame> out;
    size_t i = 0;
    while (i + 4 <= d.size()) {
        if (d[i] != 0xFF || (d[i + 1] & 0xE0) != 0xE0) break;
        Mp3Frame f;
        f.version = (d[i + 1] >> 3) & 3;  // 3 = MPEG-1
        f.layer = (d[i + 1] >> 1) & 3;    // 1 = layer III
        f.bitrate = bitrates[d[i + 2] >> 4] * 1000;
        f.rate = sample_rates[(d[i + 2] >> 2) & 3];
        f.mode = d[i + 3] >> 6;  // 3 = mono
        if (!f.bitrate || !f.rate) break;
        f.size = 144 * f.bitrate / f.rate + ((d[i + 2] >> 1) & 1);
        out.push_back(f);
        i += size_t(f.size);
    }
    consumed = i;
    return out;
}

class SdlEnv : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);  // nothing here needs a display
        ASSERT_EQ(SDL_Init(0), 0);
        ASSERT_EQ(TTF_Init(), 0);
    }
    void TearDown() override
    {
        TTF_Quit();
        SDL_Quit();
    }
};
const auto* const sdl_env = ::testing::AddGlobalTestEnvironment(new SdlEnv);

}  // namespace

// ---------------------------------------------------------------- files

TEST(DataFiles, EveryFileTheGameLoadsExists)
{
    for (const auto& list : {keyed_files, plain_files})
        for (const std::string& f : list)
            EXPECT_GT(fs::exists(data_dir + "/" + f) ? fs::file_size(data_dir + "/" + f) : 0u, 0u) << f;
    for (const char* f : {"tavik-shootemup.mp3", "arial.ttf", "LICENSE-font.txt"})
        EXPECT_GT(fs::exists(data_dir + "/" + f) ? fs::file_size(data_dir + "/" + f) : 0u, 0u) << f;
}

TEST(DataFiles, FontIsAnUnchangedCopyOfLiberationSans)
{
    std::vector<uint8_t> shipped, source;
    ASSERT_TRUE(read_file(data_dir + "/arial.ttf", shipped));
    ASSERT_TRUE(read_file(QV_FONT, source));
    EXPECT_EQ(shipped, source);
}

TEST(DataFiles, FontRendersTheScoreDigits)
{
    // As the game draws its score: 12 points, blue. Ten digits wider than
    // 40 pixels are real glyphs, not empty boxes.
    TTF_Font* f = TTF_OpenFont((data_dir + "/arial.ttf").c_str(), 12);
    ASSERT_NE(f, nullptr);
    SDL_Color blue{55, 55, 255, 0};
    SDL_Surface* s = TTF_RenderText_Solid(f, "0123456789", blue);
    ASSERT_NE(s, nullptr);
    EXPECT_GT(s->w, 40);
    SDL_FreeSurface(s);
    TTF_CloseFont(f);
}

TEST(DataFiles, FontLicenceTravelsWithIt)
{
    // The licence refers to the GPL's text, so that ships in the same file.
    std::vector<uint8_t> lic;
    ASSERT_TRUE(read_file(data_dir + "/LICENSE-font.txt", lic));
    std::string text(lic.begin(), lic.end());
    EXPECT_NE(text.find("LIBERATION"), std::string::npos);
    EXPECT_NE(text.find("GNU General Public License"), std::string::npos);
}

// The contact sheet, long enough to hold a PNG signature and header chunk.
class Preview : public ::testing::Test {
protected:
    std::vector<uint8_t> png;
    void SetUp() override
    {
        ASSERT_TRUE(read_file(QV_PREVIEW, png));
        ASSERT_GT(png.size(), 33u);
    }
};

TEST_F(Preview, IsAValidPng)
{
    EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(0, std::memcmp(png.data() + 12, "IHDR", 4));
}

TEST_F(Preview, HoldsTheMenuBackgroundAtTwiceItsSize)
{
    uint32_t w = uint32_t(png[16]) << 24 | uint32_t(png[17]) << 16 | uint32_t(png[18]) << 8 | png[19];
    EXPECT_GE(w, 1280u);  // the 640-wide menu background at 2x
}

// ---------------------------------------------------------------- images

TEST(Images, SizesAreWhatTheGameDrawsWith)
{
    // Numbers, not the generator's constants: the panels must span 0..80 and
    // 558..640, and the console, drawn at 175,385, must be centred and reach
    // the bottom of the 640x480 screen.
    const std::map<std::string, std::pair<int, int>> sizes = {
        {"konsol.bmp", {290, 95}},
        {"bg.bmp", {640, 480}},
        {"player.bmp", {ship_width, ship_height}},
        {"missile.bmp", {shot_width, shot_height}},
        {"enemy_missile.bmp", {6, 12}},
    };
    for (const auto& [file, wh] : sizes) {
        Pix p = load(file);
        EXPECT_EQ(p.w, wh.first) << file;
        EXPECT_EQ(p.h, wh.second) << file;
    }
    for (const char* f : {"dusman01.bmp", "dusman02.bmp", "dusman03.bmp", "dusman04.bmp", "dusman05.bmp"}) {
        Pix p = load(f);
        EXPECT_EQ(p.w, enemy_contact_width) << f;
        EXPECT_EQ(p.h, enemy_contact_height) << f;
    }
    for (const char* f : {"patlama01.bmp", "patlama03.bmp", "patlama05.bmp", "patlama07.bmp"}) {
        Pix p = load(f);
        EXPECT_EQ(p.w, 45) << f;
        EXPECT_EQ(p.h, 45) << f;
    }
    EXPECT_EQ(load("left.bmp").w, 80);
    EXPECT_EQ(load("right.bmp").w, 82);
}

// Every image the game loads with a colour key, each with its file name.
class KeyedImages : public ::testing::Test {
protected:
    std::vector<std::pair<std::string, Pix>> images;
    void SetUp() override
    {
        for (const std::string& f : keyed_files) {
            Pix p = load(f);
            ASSERT_GT(p.w, 0) << f;
            images.emplace_back(f, p);
        }
    }
};

TEST_F(KeyedImages, UseTheExactKey)
{
    // The key must surround the sprites: some pixels are exactly the key.
    for (const auto& [f, p] : images) {
        int keys = p.w * p.h - opaque_count(p);
        EXPECT_GT(keys, 0) << f;
    }
}

TEST_F(KeyedImages, HaveNoColourThatAliasesTheKey)
{
    // A colour the game's 16-bit conversion maps onto the key would vanish.
    for (const auto& [f, p] : images) {
        int aliases = 0;
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                const uint8_t* c = p.px(x, y);
                if (!p.is_key(x, y) && near_key(c[0], c[1], c[2])) ++aliases;
            }
        EXPECT_EQ(aliases, 0) << f;
    }
}

TEST_F(KeyedImages, LeaveAtLeastATwelfthToSee)
{
    for (const auto& [f, p] : images) EXPECT_GT(opaque_count(p), p.w * p.h / 12) << f;
}

TEST(Images, PlainImagesContainNoKeyColour)
{
    for (const std::string& f : plain_files) {
        Pix p = load(f);
        ASSERT_GT(p.w, 0) << f;
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                const uint8_t* c = p.px(x, y);
                ASSERT_FALSE(near_key(c[0], c[1], c[2])) << f << " at " << x << "," << y;
            }
    }
}

TEST(Images, ColoursAreExactIn16Bit)
{
    // Each channel must come back unchanged from RGB565, so what the game
    // shows is what the preview shows.
    for (const auto& list : {keyed_files, plain_files})
        for (const std::string& f : list) {
            Pix p = load(f);
            for (size_t i = 0; i < p.rgb.size(); i += 3) {
                uint8_t r = p.rgb[i], g = p.rgb[i + 1], b = p.rgb[i + 2];
                ASSERT_EQ(r, uint8_t((r >> 3) << 3 | (r >> 5))) << f;
                ASSERT_EQ(g, uint8_t((g >> 2) << 2 | (g >> 6))) << f;
                ASSERT_EQ(b, uint8_t((b >> 3) << 3 | (b >> 5))) << f;
            }
        }
}

TEST(Images, SpritesAreMirrorSymmetric)
{
    // Ships are drawn from half outlines; an asymmetric mask means a
    // mirrored part landed in the wrong place.
    for (const char* f :
         {"player.bmp", "dusman01.bmp", "dusman02.bmp", "dusman03.bmp", "dusman04.bmp", "dusman05.bmp"}) {
        Pix p = load(f);
        int mismatched = 0;
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) mismatched += p.is_key(x, y) != p.is_key(p.w - 1 - x, y);
        EXPECT_EQ(mismatched, 0) << f;
    }
}

TEST(Images, EnemiesGrowInSize)
{
    std::vector<Pix> e = enemies();
    for (int i = 1; i < 5; ++i)
        EXPECT_GT(opaque_count(e[size_t(i)]), opaque_count(e[size_t(i) - 1])) << "dusman0" << i + 1;
}

TEST(Images, EnemiesAreAllDifferent)
{
    std::vector<Pix> e = enemies();
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = i + 1; j < 5; ++j) EXPECT_NE(e[i].rgb, e[j].rgb);
}

TEST(Images, HeaviestEnemyReachesDownThroughItsHitBox)
{
    // Shots hit the top 45x40 of an enemy's box; the heaviest must have
    // something to hit in every row of it.
    std::vector<Pix> e = enemies();
    int rows = 0;
    for (int y = 0; y < enemy_contact_height; ++y)
        for (int x = 0; x < enemy_hit_width; ++x)
            if (!e[4].is_key(x, y)) {
                rows = std::max(rows, y + 1);
            }
    EXPECT_GE(rows, enemy_hit_height);
}

TEST(Images, ExplosionGrowsUpToItsThirdFrame)
{
    auto [f1, f3, f5, f7] = explosion_frames();
    EXPECT_LT(opaque_count(f1), opaque_count(f3));
    EXPECT_LT(opaque_count(f3), opaque_count(f5));
}

TEST(Images, ExplosionFadesFromItsThirdFrameOn)
{
    auto [f1, f3, f5, f7] = explosion_frames();
    float b3 = mean_lum(f3, 0, 0, 44, 44), b5 = mean_lum(f5, 0, 0, 44, 44), b7 = mean_lum(f7, 0, 0, 44, 44);
    EXPECT_GT(mean_lum(f1, 0, 0, 44, 44), b5);
    EXPECT_GT(b3, b5);
    EXPECT_GT(b5, b7);
}

// ---------------------------------------------------------------- panels

// Both panels scroll by one counter that wraps at the left one's height.
TEST(Panels, AreTheSameHeight)
{
    Pix l = load("left.bmp"), r = load("right.bmp");
    EXPECT_EQ(l.h, r.h);
}

// A panel is drawn once, shifted down, with its bottom rows wrapped to the
// top: one copy must cover the screen's 480 rows.
TEST(Panels, AreAtLeastAScreenTall)
{
    Pix l = load("left.bmp");
    EXPECT_GE(l.h, 480);
}

TEST(Panels, WrapFromLastRowToFirstIsAnOrdinaryStep)
{
    for (const char* f : {"left.bmp", "right.bmp"}) {
        Pix p = load(f);
        ASSERT_GE(p.h, 2);
        std::vector<double> steps;
        for (int y = 0; y + 1 < p.h; ++y) steps.push_back(row_diff(p, y, y + 1));
        std::sort(steps.begin(), steps.end());
        double wrap = row_diff(p, p.h - 1, 0);
        double p90 = steps[steps.size() * 9 / 10];
        EXPECT_LE(wrap, p90) << f << ": the seam shows when the panel scrolls";
        // And it blends with the rows right around it.
        double local = (row_diff(p, p.h - 2, p.h - 1) + row_diff(p, 0, 1)) / 2;
        EXPECT_LE(wrap, 1.5 * local + 1.0) << f;
        // The art must have real structure, or this check proves nothing.
        EXPECT_GT(steps.back(), 5 * steps[steps.size() / 2]) << f;
    }
}

// ---------------------------------------------------------------- console

// The game draws the lives boxes and the score over the console: the slot
// under the boxes (and a pixel around it) and a 120x16 window from the
// score's corner, room for its 12-point digits.
TEST(Console, ReadoutWindowsAreOpaque)
{
    Pix k = load("konsol.bmp");
    for (int y = lives_top - 1; y <= lives_bottom + 1; ++y)
        for (int x = lives_left - 1; x <= lives_right + 1; ++x) ASSERT_FALSE(k.is_key(x, y)) << x << "," << y;
    for (int y = score_top; y < score_top + 16; ++y)
        for (int x = score_left; x < score_left + 120; ++x) ASSERT_FALSE(k.is_key(x, y)) << x << "," << y;
}

TEST(Console, ReadoutWindowsAreDark)
{
    Pix k = load("konsol.bmp");
    EXPECT_LT(mean_lum(k, lives_left, lives_top, lives_right, lives_bottom), 0.12f);
    EXPECT_LT(mean_lum(k, score_left, score_top, score_left + 119, score_top + 15), 0.12f);
}

TEST(Console, ScoreWindowHoldsNoBrightBlue)
{
    // The score digits are blue (55,55,255): they must stand out from the
    // window behind them.
    Pix k = load("konsol.bmp");
    for (int y = score_top; y < score_top + 16; ++y)
        for (int x = score_left; x < score_left + 120; ++x) ASSERT_LT(k.px(x, y)[2], 120) << x << "," << y;
}

TEST(Console, ShouldersLetThePlayfieldShowThrough)
{
    Pix k = load("konsol.bmp");
    EXPECT_TRUE(k.is_key(0, 0));
    EXPECT_TRUE(k.is_key(k.w - 1, 0));
}

TEST(Console, BottomMiddleIsSolid)
{
    Pix k = load("konsol.bmp");
    EXPECT_FALSE(k.is_key(k.w / 2, k.h - 1));
}

// ---------------------------------------------------------------- menu

TEST(Menu, ScoreAreaShowsThrough)
{
    // Around where the menu draws the last score (283,212) in 12-point digits.
    Pix bg = load("bg.bmp");
    for (int y = 205; y <= 235; ++y)
        for (int x = 270; x <= 380; ++x) ASSERT_TRUE(bg.is_key(x, y)) << x << "," << y;
}

TEST(Menu, MostOfTheSkyShowsThroughForTheStars)
{
    Pix bg = load("bg.bmp");
    EXPECT_GT(640 * 480 - opaque_count(bg), 640 * 480 / 2) << "most of the sky must be key for the stars";
}

TEST(Menu, ButtonZoneStaysClear)
{
    // From the first button's top row to 36 rows below the last one's: the
    // tallest a button may be.
    Pix bg = load("bg.bmp");
    int keyed = 0, total = 0;
    for (int y = 260; y < 376; ++y)
        for (int x = menu_item_x; x < menu_item_x + button_width; ++x, ++total) keyed += bg.is_key(x, y);
    EXPECT_EQ(keyed, total);
}

TEST(Menu, TitleFillsAFifthOfItsBand)
{
    // Rows 30..169 hold the title.
    Pix bg = load("bg.bmp");
    int title = 0;
    for (int y = 30; y < 170; ++y)
        for (int x = 0; x < 640; ++x) title += !bg.is_key(x, y);
    EXPECT_GT(title, 640 * 140 / 5);
}

TEST(Menu, ButtonsFitTheirPlaceInTheColumn)
{
    // Items stand 40 rows apart: at most 36 rows tall leaves a gap between
    // them, and each must end inside the screen.
    for (const auto& [n, a, b] : menu_buttons()) {
        EXPECT_LE(a.h, 36) << n;
        EXPECT_LE(menu_item_x + a.w, 640) << n;
    }
}

TEST(Menu, LitButtonsAreTheSizeOfTheirNormalOnes)
{
    // The game swaps one for the other in place.
    for (const auto& [n, a, b] : menu_buttons()) {
        EXPECT_EQ(a.w, b.w) << n;
        EXPECT_EQ(a.h, b.h) << n;
    }
}

TEST(Menu, ButtonsAreAllTheSameWidth)
{
    int w0 = -1;
    for (const auto& [n, a, b] : menu_buttons()) {
        if (w0 < 0) w0 = a.w;
        EXPECT_EQ(a.w, w0) << "all buttons should line up";
    }
}

TEST(Menu, LitButtonsArePlainlyBrighter)
{
    for (const auto& [n, a, b] : menu_buttons()) {
        float la = mean_lum(a, 0, 0, a.w - 1, a.h - 1), lb = mean_lum(b, 0, 0, b.w - 1, b.h - 1);
        EXPECT_GT(lb, la + 0.2f) << n << ": the lit button must be plainly brighter";
    }
}

TEST(Menu, ButtonsDifferFromTheirNeighbours)
{
    std::vector<std::vector<uint8_t>> normals;
    for (const auto& [n, a, b] : menu_buttons()) normals.push_back(a.rgb);
    EXPECT_NE(normals[0], normals[1]);
    EXPECT_NE(normals[1], normals[2]);
}

// ---------------------------------------------------------------- music

// The shipped track, read and walked frame by frame.
class Mp3 : public ::testing::Test {
protected:
    std::vector<uint8_t> d;
    size_t used = 0;
    std::vector<Mp3Frame> frames;
    void SetUp() override
    {
        ASSERT_TRUE(read_file(data_dir + "/tavik-shootemup.mp3", d));
        frames = mp3_frames(d, used);
        ASSERT_FALSE(frames.empty());
    }
};

TEST_F(Mp3, EveryFrameIsLayerIII128kStereoAt44k)
{
    for (const Mp3Frame& f : frames) {
        ASSERT_EQ(f.version, 3);
        ASSERT_EQ(f.layer, 1);
        ASSERT_EQ(f.rate, 44100);
        ASSERT_EQ(f.bitrate, 128000);
        ASSERT_NE(f.mode, 3);
    }
}

TEST_F(Mp3, HasNothingAfterItsLastFrame)
{
    EXPECT_EQ(used, d.size()) << "trailing bytes after the last frame (a tag?)";
}

TEST_F(Mp3, HasNoXingOrInfoHeaderFrame)
{
    // A Xing/Info header frame would decode as a gap of silence on every loop.
    std::string head(d.begin(), d.begin() + std::min<size_t>(d.size(), 600));
    EXPECT_EQ(head.find("Xing"), std::string::npos);
    EXPECT_EQ(head.find("Info"), std::string::npos);
}

TEST_F(Mp3, LastsHalfAMinuteToAMinute)
{
    size_t n = frames.size();
    double seconds = double(n) * mp3_frame_samples / sample_rate;
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 60.0);
}

TEST_F(Mp3, LastsAWholeNumberOfBars)
{
    // The frames hold exactly the loop, and the loop is whole bars, so the
    // beat grid survives each replay.
    size_t n = frames.size();
    EXPECT_EQ(int64_t(n) * mp3_frame_samples, loop_samples);
    EXPECT_EQ(loop_samples % (4 * beat_samples), 0);
}

TEST_F(Mp3, HasAnOddNumberOfFrames)
{
    // SDL_mixer 1.2 adds a buffer of silence when the stream ends exactly on
    // a buffer boundary; an odd frame count makes that rare.
    size_t n = frames.size();
    EXPECT_EQ(n % 2, 1u);
}

// The synthesised track before encoding. It is one MP3 frame short of the
// loop (lame's delay and padding make up the rest) and every check here
// reads it by that length.
class Music : public ::testing::Test {
protected:
    static inline std::vector<int16_t> pcm;  // rendered once per run: it takes a while
    static void SetUpTestSuite() { pcm = render_music(); }
    void SetUp() override { ASSERT_EQ(pcm.size(), size_t(loop_samples - mp3_frame_samples) * 2); }
};

TEST_F(Music, RenderStartsInSilence)
{
    EXPECT_EQ(pcm[0], 0);
    EXPECT_EQ(pcm[1], 0);
}

TEST_F(Music, RenderEndsInSilence)
{
    // The last stretch sits where the codec's delay and padding go: silent.
    for (size_t i = pcm.size() - 2 * 200; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], 0) << i;
}

TEST_F(Music, RenderDoesNotClip)
{
    int peak = 0;
    for (int16_t v : pcm) peak = std::max(peak, std::abs(int(v)));
    EXPECT_LT(peak, 32767);
}

TEST_F(Music, RenderIsAFullMix)
{
    double sum = 0;
    for (int16_t v : pcm) sum += double(v) * v;
    double rms = std::sqrt(sum / double(pcm.size())) / 32768.0;
    EXPECT_GT(rms, 0.1);  // a full mix, not a whisper
}

TEST_F(Music, EveryBarCarriesSoundInBothChannels)
{
    // No section drops out.
    for (int bar = 0; bar < loop_bars; ++bar) {
        int64_t b0 = int64_t(bar) * 4 * beat_samples,
                b1 = std::min<int64_t>(b0 + 4 * beat_samples, loop_samples - mp3_frame_samples);
        double e[2] = {0, 0};
        for (int64_t i = b0; i < b1; ++i)
            for (int c = 0; c < 2; ++c) e[c] += std::abs(pcm[size_t(i) * 2 + c]);
        EXPECT_GT(e[0] / double(b1 - b0), 1500.0) << "bar " << bar;
        EXPECT_GT(e[1] / double(b1 - b0), 1500.0) << "bar " << bar;
    }
}

TEST_F(Music, WavIsTheSamplesAfterA44ByteHeader)
{
    std::vector<uint8_t> wav = wav_bytes(pcm);
    EXPECT_EQ(wav.size(), 44 + pcm.size() * 2);
    EXPECT_EQ(0, std::memcmp(wav.data() + 36, "data", 4));
}

// ---------------------------------------------------------------- writer

namespace {

// Three pixels: opaque but the key's colour, an ordinary opaque colour, and
// one left transparent.
Img three_pixels()
{
    Img im(3, 1);
    im.at(0, 0) = {1.f, 0.f, 1.f};
    im.al(0, 0) = 1;
    im.at(1, 0) = {0.2f, 0.4f, 0.6f};
    im.al(1, 0) = 1;
    return im;
}

// A 7x5 image whose bytes all differ from their neighbours.
Pix png_pattern()
{
    Pix p;
    p.w = 7;
    p.h = 5;
    p.rgb.resize(7 * 5 * 3);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint8_t(i * 37 + 11);
    return p;
}

// A PNG chunk: its type, its data, the CRC stored after it and the one its
// bytes give.
struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
    uint32_t stored;
    uLong crc;
};
std::vector<Chunk> png_chunks(const std::vector<uint8_t>& png)
{
    std::vector<Chunk> out;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t len = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
                       png[at + 3];
        std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        uLong crc = crc32(0, png.data() + at + 4, uInt(len + 4));
        size_t c = at + 8 + len;
        uint32_t stored = uint32_t(png[c]) << 24 | uint32_t(png[c + 1]) << 16 | uint32_t(png[c + 2]) << 8 |
                          png[c + 3];
        out.push_back(
            {type, std::vector<uint8_t>(png.begin() + long(at) + 8, png.begin() + long(c)), stored, crc});
        at = c + 4;
    }
    return out;
}

}  // namespace

TEST(Writer, FinalizeKeepsOpaqueMagentaVisible)
{
    Pix k = finalize(three_pixels(), true, false);
    EXPECT_FALSE(k.is_key(0, 0));
    EXPECT_FALSE(near_key(k.px(0, 0)[0], k.px(0, 0)[1], k.px(0, 0)[2]));
}

TEST(Writer, KeyedFinalizeKeysOnlyTheTransparentPixels)
{
    Pix k = finalize(three_pixels(), true, false);
    EXPECT_FALSE(k.is_key(1, 0));
    EXPECT_TRUE(k.is_key(2, 0));
}

TEST(Writer, PlainFinalizeTurnsTransparencyBlackNotKey)
{
    Pix plain = finalize(three_pixels(), false, false);
    EXPECT_FALSE(plain.is_key(2, 0));
    EXPECT_EQ(plain.px(2, 0)[0], 0);
}

TEST(Writer, PngChunksCarryTheirCrc)
{
    for (const auto& [type, data, stored, crc] : png_chunks(encode_png(png_pattern())))
        EXPECT_EQ(stored, uint32_t(crc)) << type;
}

TEST(Writer, PngIsAHeaderOneDataChunkAndTheEnd)
{
    std::vector<std::string> types;
    for (const Chunk& c : png_chunks(encode_png(png_pattern()))) types.push_back(c.type);
    ASSERT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(Writer, PngRoundTripsThroughZlib)
{
    Pix p = png_pattern();
    std::vector<uint8_t> z;
    for (const Chunk& c : png_chunks(encode_png(p)))
        if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
    std::vector<uint8_t> raw(5 * (1 + 7 * 3));
    uLongf raw_len = uLongf(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &raw_len, z.data(), uLong(z.size())), Z_OK);
    ASSERT_EQ(raw_len, raw.size());
    // Undo the "up" filter and compare.
    std::vector<uint8_t> prev(21, 0);
    for (int y = 0; y < 5; ++y) {
        ASSERT_EQ(raw[size_t(y) * 22], 2);
        for (int i = 0; i < 21; ++i) {
            uint8_t v = uint8_t(raw[size_t(y) * 22 + 1 + size_t(i)] + prev[size_t(i)]);
            EXPECT_EQ(v, p.rgb[size_t(y) * 21 + size_t(i)]);
            prev[size_t(i)] = v;
        }
    }
}

// Decodes the 8-bit, up-filtered PNGs our writer makes: width, height,
// channels and the unfiltered pixels.
struct Decoded {
    int w = 0, h = 0, channels = 0;
    std::vector<uint8_t> px;
};
static bool decode_our_png(const std::vector<uint8_t>& png, Decoded& out)
{
    auto be32 = [&](size_t i) {
        return uint32_t(png[i]) << 24 | uint32_t(png[i + 1]) << 16 | uint32_t(png[i + 2]) << 8 | png[i + 3];
    };
    std::vector<uint8_t> z;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t len = be32(at);
        const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        if (type == "IHDR") {
            out.w = int(be32(at + 8));
            out.h = int(be32(at + 12));
            out.channels = png[at + 17] == 6 ? 4 : png[at + 17] == 2 ? 3 : 0;
        }
        if (type == "IDAT") z.insert(z.end(), png.begin() + long(at) + 8, png.begin() + long(at + 8 + len));
        at += 12 + len;
    }
    if (out.channels == 0) return false;
    const size_t stride = size_t(out.w) * out.channels;
    std::vector<uint8_t> raw((stride + 1) * out.h);
    uLongf raw_len = uLongf(raw.size());
    if (uncompress(raw.data(), &raw_len, z.data(), uLong(z.size())) != Z_OK || raw_len != raw.size())
        return false;
    out.px.assign(stride * out.h, 0);
    for (int y = 0; y < out.h; ++y) {
        if (raw[y * (stride + 1)] != 2) return false;
        for (size_t i = 0; i < stride; ++i)
            out.px[y * stride + i] =
                uint8_t(raw[y * (stride + 1) + 1 + i] + (y ? out.px[(y - 1) * stride + i] : 0));
    }
    return true;
}

// Every icon (the desktop's and the web app's), decoded, each with the size
// its file name gives.
// Every check reads them as RGBA.
class Icons : public ::testing::Test {
protected:
    std::vector<std::pair<int, Decoded>> icons;
    void SetUp() override
    {
        for (int size : {64, 128, 192, 512}) {
            SCOPED_TRACE(size);
            std::vector<uint8_t> png;
            ASSERT_TRUE(
                read_file(std::string(QV_ICON_DIR) + "/quorvane-" + std::to_string(size) + ".png", png));
            Decoded d;
            ASSERT_TRUE(decode_our_png(png, d));
            ASSERT_EQ(d.channels, 4);
            icons.emplace_back(size, d);
        }
    }
    // The alpha channel of an icon, addressed as size x size.
    static auto alpha_of(const Decoded& d, int size)
    {
        return [&d, size](int x, int y) { return d.px[(size_t(y) * size + x) * 4 + 3]; };
    }
};

TEST_F(Icons, AreTheSizeTheirNameSays)
{
    for (const auto& [size, d] : icons) {
        SCOPED_TRACE(size);
        EXPECT_EQ(d.w, size);
        EXPECT_EQ(d.h, size);
    }
}

// A round badge: clear corners, yet opaque from the middle to near an edge.
TEST_F(Icons, CornersAreTransparent)
{
    for (const auto& [size, d] : icons) {
        SCOPED_TRACE(size);
        auto alpha = alpha_of(d, size);
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(size - 1, size - 1), 0);
    }
}

TEST_F(Icons, BadgeIsOpaqueFromTheMiddleToNearTheEdge)
{
    for (const auto& [size, d] : icons) {
        SCOPED_TRACE(size);
        auto alpha = alpha_of(d, size);
        EXPECT_EQ(alpha(size / 2, size / 2), 255);
        EXPECT_EQ(alpha(size / 2, size / 16), 255);  // the badge reaches near the edge
    }
}

TEST_F(Icons, ShipStandsOutInTheMiddle)
{
    // The ship's bright hull stands out against the dark badge in the middle.
    for (const auto& [size, d] : icons) {
        SCOPED_TRACE(size);
        int bright = 0;
        for (int y = size / 3; y < 2 * size / 3; ++y)
            for (int x = size / 3; x < 2 * size / 3; ++x) {
                const uint8_t* p = &d.px[(size_t(y) * size + x) * 4];
                bright += p[0] + p[1] + p[2] > 300;
            }
        EXPECT_GT(bright, size * size / 60);
    }
}

// ---------------------------------------------------------------- repeatability

TEST(Generator, SecondRunWritesIdenticalBytes)
{
    fs::path tmp = fs::temp_directory_path() / ("quorvane-data-" + std::to_string(::getpid()));
    fs::create_directories(tmp);
    std::string cmd = std::string("'") + QV_GENERATOR + "' --out '" + tmp.string() + "' --preview '" +
                      (tmp / "preview.png").string() + "' --font '" + QV_FONT + "' --lame '" + QV_LAME + "'";
    std::string lic = QV_LICENSES;
    for (size_t s = 0; s <= lic.size();) {
        size_t e = lic.find(':', s);
        if (e == std::string::npos) e = lic.size();
        cmd += " --license '" + lic.substr(s, e - s) + "'";
        s = e + 1;
    }
    cmd += " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(data_dir)) names.insert(e.path().filename().string());
    std::set<std::string> again;
    for (const auto& e : fs::directory_iterator(tmp))
        if (e.path().filename() != "preview.png") again.insert(e.path().filename().string());
    EXPECT_EQ(names, again);
    for (const std::string& n : names) {
        std::vector<uint8_t> a, b;
        ASSERT_TRUE(read_file(data_dir + "/" + n, a));
        ASSERT_TRUE(read_file((tmp / n).string(), b));
        EXPECT_TRUE(a == b) << n << " differs between runs";
    }
    std::vector<uint8_t> a, b;
    ASSERT_TRUE(read_file(QV_PREVIEW, a));
    ASSERT_TRUE(read_file((tmp / "preview.png").string(), b));
    EXPECT_TRUE(a == b) << "data-preview.png differs between runs";
    fs::remove_all(tmp);
}

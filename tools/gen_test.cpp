// Unit checks of the drawing kit the art depends on.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "core.h"
#include "output.h"

namespace {

// An L shape: its notch lies inside the bounds but outside the shape.
std::vector<P2> l_shape()
{
    return {{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 10}, {0, 10}};
}

// Half of a ship-like outline whose first and last points lie on the axis x = 10.
std::vector<P2> half_outline()
{
    return {{10, 0}, {14, 5}, {12, 9}, {10, 9}};
}

// What snap565 makes of a fine ramp from 0 to 1 at an undithered pixel's
// threshold, for a 5-bit (red, blue) and a 6-bit (green) channel.
struct Snapped {
    float v;
    uint8_t r, g;
};
std::vector<Snapped> snapped_ramp()
{
    std::vector<Snapped> out;
    for (int i = 0; i <= 1000; ++i) {
        float v = float(i) / 1000.f;
        out.push_back({v, snap565(v, 5, 0.5f), snap565(v, 6, 0.5f)});
    }
    return out;
}

// A flat mid tone, dithered: 0.53 lies between the 5-bit levels 16/31 and 17/31.
Pix dithered_flat_tone()
{
    Img im(8, 8);
    im.fill({0.53f, 0.53f, 0.53f});
    return finalize(im, false, true);
}

// One opaque pixel in the middle of an empty 5x5 canvas: red, then blue
// blended over it at half strength.
Img blended_dot()
{
    Img im(5, 5);
    im.put(2, 2, {1, 0, 0}, 1.f);
    im.put(2, 2, {0, 0, 1}, 0.5f);
    return im;
}

}  // namespace

TEST(Kit, PeriodicNoiseWrapsExactly)
{
    // The scrolling panels are seamless only if their texture repeats.
    for (float x : {0.3f, 5.7f, 17.2f})
        for (float y : {0.f, 1.25f, 33.9f}) {
            EXPECT_FLOAT_EQ(value_noise(x, y, 9, 0, 20), value_noise(x, y + 20, 9, 0, 20));
            EXPECT_FLOAT_EQ(fbm(x, y, 4, 3, 0, 20), fbm(x, y + 20, 4, 3, 0, 20));
            EXPECT_FLOAT_EQ(fbm(x, y, 4, 3, 0, 20), fbm(x, y - 40, 4, 3, 0, 20));
        }
}

TEST(Kit, NoiseWithoutAPeriodDoesNotRepeat)
{
    // At the distance the periodic noise above repeats, plain noise must not:
    // the period, not some accident of the hash, is what makes it wrap.
    int same = 0;
    for (int i = 0; i < 20; ++i) same += value_noise(i * 0.7f, 1.3f, 9) == value_noise(i * 0.7f, 21.3f, 9);
    EXPECT_LT(same, 3);
}

TEST(Kit, PolygonDistanceHasTheRightSignForConcaveShapes)
{
    std::vector<P2> l = l_shape();
    EXPECT_LT(sd_poly(2, 2, l), 0);
    EXPECT_LT(sd_poly(8, 2, l), 0);
    EXPECT_GT(sd_poly(8, 8, l), 0);  // in the notch
}

TEST(Kit, PolygonDistanceIsToTheNearestEdgeOrCorner)
{
    std::vector<P2> l = l_shape();
    EXPECT_NEAR(sd_poly(8, 8, l), 4.f, 1e-4);                    // nearest is the inner edge, not the corner
    EXPECT_NEAR(sd_poly(13, 8, l), std::hypot(3.f, 4.f), 1e-4);  // outside, nearest the corner
    EXPECT_NEAR(sd_poly(2, 2, l), -2.f, 1e-4);
}

TEST(Kit, MirroredOutlineHasEachAxisPointOnce)
{
    std::vector<P2> full = mirror_x(half_outline(), 10);
    ASSERT_EQ(full.size(), 6u);  // points on the axis are not doubled
}

TEST(Kit, MirroredOutlineIsSymmetric)
{
    std::vector<P2> full = mirror_x(half_outline(), 10);
    for (float y : {1.f, 4.f, 8.5f})
        for (float dx : {0.5f, 1.5f, 3.5f})
            EXPECT_FLOAT_EQ(sd_poly(10 + dx, y, full), sd_poly(10 - dx, y, full));
}

TEST(Kit, SnappedChannelsSurviveTheGamesConversion)
{
    for (const auto& [v, r, g] : snapped_ramp()) {
        // Truncating to 5/6 bits and expanding again must give the same byte.
        EXPECT_EQ(r, uint8_t((r >> 3) << 3 | (r >> 5)));
        EXPECT_EQ(g, uint8_t((g >> 2) << 2 | (g >> 6)));
    }
}

TEST(Kit, SnappedChannelsStayWithinOneLevel)
{
    for (const auto& [v, r, g] : snapped_ramp()) {
        EXPECT_NEAR(r / 255.f, v, 1.f / 31);
        EXPECT_NEAR(g / 255.f, v, 1.f / 63);
    }
}

TEST(Kit, SnappingKeepsFullWhiteAndBlackAtTheExtremeThresholds)
{
    // A dithered pixel's threshold lies between these two: full white and
    // full black must come out exact even at the extremes.
    EXPECT_EQ(snap565(1.f, 5, 0.999f), 255);
    EXPECT_EQ(snap565(0.f, 6, 0.f), 0);
}

TEST(Kit, DitherMixesAFlatToneFromTwoLevels)
{
    // The tone lies between two levels: one level alone would band.
    Pix p = dithered_flat_tone();
    std::set<int> levels;
    for (size_t i = 0; i < p.rgb.size(); i += 3) levels.insert(p.rgb[i]);
    EXPECT_EQ(levels.size(), 2u);
}

TEST(Kit, DitherKeepsTheAverageOfAFlatTone)
{
    Pix p = dithered_flat_tone();
    double sum = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3) sum += p.rgb[i];
    EXPECT_NEAR(sum / 64 / 255, 0.53, 0.01);
}

TEST(Kit, OverBlendMixesByAlpha)
{
    Img im = blended_dot();
    EXPECT_NEAR(im.at(2, 2).r, 0.5f, 1e-5);
    EXPECT_NEAR(im.at(2, 2).b, 0.5f, 1e-5);
    EXPECT_FLOAT_EQ(im.al(2, 2), 1.f);
}

TEST(Kit, OutlineCoversTheFourNeighboursOnly)
{
    Img im = blended_dot();
    outline(im, {0, 0, 0}, 0.f);
    // Four neighbours gain an outline, diagonals and the rest stay empty.
    int covered = 0;
    for (float a : im.a) covered += a > 0.5f;
    EXPECT_EQ(covered, 5);
    EXPECT_EQ(im.al(1, 1), 0.f);
    EXPECT_EQ(im.al(2, 1), 1.f);
}

// The stream tests interleave whole and uniform draws: a uniform draw
// advances the stream too.
TEST(Kit, SameSeedGivesTheSameStream)
{
    Rng a(42), b(42);
    for (int i = 0; i < 100; ++i) {
        uint32_t x = a.next();
        EXPECT_EQ(x, b.next());
        a.uni();
        b.uni();
    }
}

TEST(Kit, AnotherSeedGivesAnotherStream)
{
    Rng a(42), c(43);
    int diff = 0;
    for (int i = 0; i < 100; ++i) {
        diff += a.next() != c.next();
        a.uni();
        c.uni();
    }
    EXPECT_GT(diff, 95);
}

TEST(Kit, UniformDrawsLieInTheUnitInterval)
{
    Rng a(42);
    for (int i = 0; i < 100; ++i) {
        a.next();
        float u = a.uni();
        ASSERT_GE(u, 0.f);
        ASSERT_LT(u, 1.f);
    }
}

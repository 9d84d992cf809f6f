#include "view/ProfileAnalysis.h"

#include <gtest/gtest.h>

using namespace zq455;

namespace {

constexpr uint16_t NONE = 0x2000; // 14-bit pattern of a missing value

// A reply's values: pair 0 (unused) first, then (Z, X) per pair, 14-bit two's complement.
std::vector<uint16_t> Reply(const std::vector<std::pair<int, int>>& zx) {
    std::vector<uint16_t> values = {0, 0};
    for (auto [z, x] : zx) {
        values.push_back(static_cast<uint16_t>(z) & 0x3FFF);
        values.push_back(static_cast<uint16_t>(x) & 0x3FFF);
    }
    return values;
}

TProfileControls Controls(bool auto_centre = false, int x0 = 0, int dx = 1, int level = 0) {
    TProfileControls c;
    c.auto_centre = auto_centre;
    c.x0_mm = x0;
    c.dx_mm = dx;
    c.level_um = level;
    c.range_z = 64; // 64 mm over 4096: raw 64 = 1 mm
    c.range_xemr = 64;
    return c;
}

TProfileTick Analyse(const std::vector<uint16_t>& values, const TProfileControls& controls) {
    TProfileTick tick;
    AnalyseProfile(values.data(), static_cast<uint32_t>(values.size()),
                   static_cast<uint16_t>(values.size() / 2), controls, tick);
    return tick;
}

} // namespace

TEST(ProfileAnalysis, ConvertsPairsToMillimetresWithSignExtension) {
    // Z raw 640 = 10 mm; X raw -128 (14-bit 0x3F80) = -2 mm.
    TProfileTick tick = Analyse(Reply({{640, -128}, {64, 0x1FFF}}), Controls());
    ASSERT_EQ(tick.points.size(), 2u);
    EXPECT_FLOAT_EQ(tick.points[0].z, 10.0f);
    EXPECT_FLOAT_EQ(tick.points[0].x, -2.0f);
    EXPECT_FLOAT_EQ(tick.points[1].x, 8191.0f * 64 / 4096);
    EXPECT_EQ(tick.pair_count, 3);
    // Entry i - 1 holds pair i.
    EXPECT_FLOAT_EQ(tick.profile[0].z, 10.0f);
    EXPECT_FLOAT_EQ(tick.profile[1].z, 1.0f);
    EXPECT_FLOAT_EQ(tick.profile[2].z, 0.0f);
}

TEST(ProfileAnalysis, PairWithEitherValueMissingIsDroppedAsAWhole) {
    TProfileTick tick = Analyse(Reply({{64, 64}, {NONE, 128}, {128, NONE}, {192, 192}}), Controls());
    ASSERT_EQ(tick.points.size(), 2u);
    EXPECT_FLOAT_EQ(tick.points[1].x, 3.0f);
    EXPECT_FLOAT_EQ(tick.profile[1].x, 0.0f); // dropped pairs leave (0, 0)
    EXPECT_FLOAT_EQ(tick.profile[2].z, 0.0f);
    EXPECT_FLOAT_EQ(tick.profile[3].x, 3.0f);
    EXPECT_EQ(tick.point_pairs, (std::vector<uint16_t>{1, 4})); // the pairs the points came from
    // -8191 is a value, not a missing point.
    tick = Analyse(Reply({{64, -8191}}), Controls());
    EXPECT_EQ(tick.points.size(), 1u);
}

TEST(ProfileAnalysis, LevelZeroMakesEveryNonEmptyProfileRed) {
    TProfileTick tick = Analyse(Reply({{64, 0}, {64, 64}, {64, 128}}), Controls(false, 0, 1, 0));
    EXPECT_TRUE(tick.over_level);
    // A flat profile under a raised level is green.
    tick = Analyse(Reply({{64, 0}, {64, 64}, {64, 128}}), Controls(false, 0, 1, 1));
    EXPECT_FALSE(tick.over_level);
}

TEST(ProfileAnalysis, EdgesSpanAndLevelAroundTheX0Centre) {
    // X = -3 .. 3 mm in 1 mm steps; Z flat at 2 mm except a 0.5 mm bump at X = -1.
    auto values = Reply({{128, -192}, {128, -128}, {160, -64}, {128, 0}, {128, 64}, {128, 128}, {128, 192}});
    TProfileTick tick = Analyse(values, Controls(false, 0, 4, 0));
    // X0 = 0 is stepped over at index 3 (-1 <= 0 <= 0) and again at index 4 (0 <= 0 <= 1):
    // the last one wins.
    EXPECT_EQ(tick.centre, 4u);
    // |X[c] - X[j]| >= 2 first at j = 2 on the left and j = 6 on the right.
    EXPECT_EQ(tick.left_edge, 2u);
    EXPECT_EQ(tick.right_edge, 6u);
    ASSERT_EQ(tick.left_marker.size(), 2u);
    EXPECT_FLOAT_EQ(tick.left_marker[0].x, -1.0f);
    EXPECT_FLOAT_EQ(tick.left_marker[0].z, 2.5f + 6.4f);
    EXPECT_FLOAT_EQ(tick.left_marker[1].z, 2.5f - 6.4f);
    ASSERT_EQ(tick.right_marker.size(), 2u);
    EXPECT_FLOAT_EQ(tick.right_marker[0].x, 3.0f);
    // The span covers indexes 2..5, the left edge in and the right edge out: 500 um.
    EXPECT_FLOAT_EQ(tick.max_z, 2.5f);
    EXPECT_FLOAT_EQ(tick.min_z, 2.0f);
    EXPECT_TRUE(Analyse(values, Controls(false, 0, 4, 500)).over_level);
    EXPECT_FALSE(Analyse(values, Controls(false, 0, 4, 501)).over_level);
    // Centred at X0 = 2 (index 6) the window runs past the last point and misses the bump.
    tick = Analyse(values, Controls(false, 2, 4, 1));
    EXPECT_EQ(tick.centre, 6u);
    EXPECT_EQ(tick.left_edge, 4u);
    EXPECT_EQ(tick.right_edge, 7u);
    EXPECT_TRUE(tick.right_marker.empty());
    EXPECT_FALSE(tick.over_level);
}

TEST(ProfileAnalysis, DecreasingXWithoutAutoCentresOnTheFirstPointWithoutLeftMarker) {
    auto values = Reply({{64, 192}, {64, 128}, {64, 64}, {64, 0}, {64, -64}});
    TProfileTick tick = Analyse(values, Controls(false, 1, 2, 0));
    EXPECT_EQ(tick.centre, 0u);
    EXPECT_EQ(tick.left_edge, 0u);
    EXPECT_TRUE(tick.left_marker.empty());
    ASSERT_EQ(tick.right_marker.size(), 2u);
    EXPECT_FLOAT_EQ(tick.right_marker[0].x, 2.0f); // index 1: 3 - 2 >= 1
}

TEST(ProfileAnalysis, WindowWiderThanTheProfileGivesNoMarkers) {
    auto values = Reply({{64, -64}, {64, 0}, {64, 64}});
    TProfileTick tick = Analyse(values, Controls(false, 0, 30, 0));
    EXPECT_TRUE(tick.left_marker.empty());
    EXPECT_TRUE(tick.right_marker.empty());
    EXPECT_EQ(tick.left_edge, 0u);
    EXPECT_EQ(tick.right_edge, 3u);
}

TEST(ProfileAnalysis, AutoTakesTheFirstOfEqualMinimaAndKeepsTheGlobalMinimum) {
    auto values = Reply({{192, -128}, {64, -64}, {128, 0}, {64, 64}, {320, 128}});
    TProfileTick tick = Analyse(values, Controls(true, 0, 1, 0));
    EXPECT_EQ(tick.centre, 1u);
    EXPECT_FLOAT_EQ(tick.marker_label_x, -1.0f);
    EXPECT_FLOAT_EQ(tick.min_z, 1.0f);
    // Window: left edge 0 (|-1 - -2| >= 0.5 at j = 0 is never tested), right edge 2.
    EXPECT_EQ(tick.left_edge, 0u);
    EXPECT_EQ(tick.right_edge, 2u);
    EXPECT_FLOAT_EQ(tick.max_z, 3.0f);
}

TEST(ProfileAnalysis, ZeroOrOnePairDrawsNothing) {
    for (uint16_t pairs : {0, 1}) {
        std::vector<uint16_t> values(2, 0);
        TProfileTick tick;
        AnalyseProfile(values.data(), 2, pairs, Controls(), tick);
        EXPECT_TRUE(tick.points.empty());
        EXPECT_TRUE(tick.left_marker.empty());
        EXPECT_TRUE(tick.right_marker.empty());
    }
}

TEST(ProfileAnalysis, NeverReadsOrWritesPastItsArrays) {
    // 2048 pairs announced and delivered: only pairs 1..1024 are used.
    std::vector<uint16_t> values(4096);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint16_t>(i % 1000);
    TProfileTick tick;
    AnalyseProfile(values.data(), 4096, 2048, Controls(), tick);
    EXPECT_EQ(tick.pair_count, 2048);
    EXPECT_LE(tick.points.size(), PROFILE_CAPACITY);
    EXPECT_FLOAT_EQ(tick.profile[1023].z, static_cast<float>(2048 % 1000) * 64 / 4096);
    // More pairs announced than values delivered: decoding stops at what arrived.
    AnalyseProfile(values.data(), 10, 5000, Controls(), tick);
    EXPECT_EQ(tick.points.size(), 4u);
}

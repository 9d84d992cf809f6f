// The "Collect" density: hits land in the cell of their X and Z, nothing lands outside the
// ranges or past the raster, and the picture puts the highest Z on its top line.

#include "view/DensityRaster.h"
#include "view/FrameProbe.h"
#include "view/ProfileAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace zq455;

namespace {

uint32_t Brightness(uint32_t argb) {
    return ((argb >> 16) & 0xFF) + ((argb >> 8) & 0xFF) + (argb & 0xFF);
}

} // namespace

TEST(DensityRaster, EachPointCountsOnceInTheCellOfItsXAndZ) {
    TDensityRaster raster;
    // 10 columns over X -5..5 (1 mm each), 4 rows over Z 0..20 (5 mm each).
    raster.Shape(10, 4, -5, 5, 0, 20);
    const std::vector<TProfilePoint> points = {
        {-5.0f, 0.0f},   // the lowest corner: column 0, row 0
        {4.999f, 19.9f}, // just inside the highest corner
        {0.5f, 7.5f},    // column 5, row 1
        {0.5f, 7.5f},    // the same cell once more
    };
    raster.Add(points.data(), points.size());
    EXPECT_EQ(raster.Hits(0, 0), 1u);
    EXPECT_EQ(raster.Hits(9, 3), 1u);
    EXPECT_EQ(raster.Hits(5, 1), 2u);
    EXPECT_EQ(raster.TotalHits(), 4u);
    EXPECT_EQ(raster.MaxHits(), 2u);

    // On or past the far edges, before the near ones, not a number: never counted, never
    // written past the cells.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<TProfilePoint> outside = {{5.0f, 10.0f},
                                                {0.0f, 20.0f},
                                                {-5.001f, 10.0f},
                                                {0.0f, -0.001f},
                                                {nan, 1.0f},
                                                {1.0f, nan},
                                                {std::numeric_limits<float>::infinity(), 1.0f}};
    raster.Add(outside.data(), outside.size());
    EXPECT_EQ(raster.TotalHits(), 4u);
}

TEST(DensityRaster, AnotherGridOrRangeEmptiesItTheSameKeepsItAndClearEmptiesIt) {
    TDensityRaster raster;
    const TProfilePoint p{1.0f, 1.0f};
    raster.Shape(100, 50, -10, 10, 0, 10);
    raster.Add(&p, 1);
    raster.Shape(100, 50, -10, 10, 0, 10); // unchanged: the hits stay
    EXPECT_EQ(raster.TotalHits(), 1u);
    raster.Shape(100, 50, -10, 10, 0, 11); // the Z range moved: old hits have no place
    EXPECT_TRUE(raster.Empty());
    raster.Add(&p, 1);
    raster.Shape(101, 50, -10, 10, 0, 11);
    EXPECT_TRUE(raster.Empty());
    raster.Add(&p, 1);
    const uint64_t before = raster.Generation();
    raster.Clear();
    EXPECT_TRUE(raster.Empty());
    EXPECT_EQ(raster.MaxHits(), 0u);
    EXPECT_NE(raster.Generation(), before);
    // A raster with no cells or an empty range takes nothing.
    TDensityRaster none;
    none.Add(&p, 1);
    none.Shape(10, 10, 5, 5, 0, 10);
    none.Add(&p, 1);
    EXPECT_TRUE(none.Empty());
}

TEST(DensityRaster, PictureHasTheHighestZOnTopAndGetsBrighterWithMoreHits) {
    TDensityRaster raster;
    raster.Shape(4, 3, 0, 4, 0, 3);
    // One hit low left, ten in the middle, a thousand high right.
    const TProfilePoint low{0.5f, 0.5f}, middle{1.5f, 1.5f}, high{3.5f, 2.5f};
    raster.Add(&low, 1);
    for (int k = 0; k < 10; ++k)
        raster.Add(&middle, 1);
    for (int k = 0; k < 1000; ++k)
        raster.Add(&high, 1);
    std::vector<uint32_t> picture(12, 0x12345678u);
    raster.Render(picture.data());
    const auto at = [&](int column, int line) { return picture[static_cast<size_t>(line) * 4 + column]; };
    EXPECT_EQ(at(3, 0), 0xFFFFFFFFu); // the most hits: white, on the top line
    EXPECT_EQ(at(0, 2) >> 24, 0xFFu); // one hit is seen (opaque) on the bottom line
    EXPECT_LT(Brightness(at(0, 2)), Brightness(at(1, 1)));
    EXPECT_LT(Brightness(at(1, 1)), Brightness(at(3, 0)));
    int transparent = 0;
    for (uint32_t argb : picture)
        transparent += argb == 0;
    EXPECT_EQ(transparent, 9); // every empty cell is written, and see-through
}

TEST(FrameProbe, NamesThePositionTheValueAndSaturationOnlyWhereTheFrameHasAPixel) {
    // A frame of 3 lines of 4 pixels received at camera column 100, line 50.
    const std::vector<uint8_t> pixels = {1, 2,  3,   4,   //
                                         5, 6,  126, 127, //
                                         9, 10, 11,  0xFF};
    const TFrameArea frame{pixels.data(), 4, 3, 100, 50};
    EXPECT_EQ(FrameProbeText(frame, 100, 50), "X 100  Y 50  value 1");
    EXPECT_EQ(FrameProbeText(frame, 102, 51), "X 102  Y 51  value 126");
    EXPECT_EQ(FrameProbeText(frame, 103, 51), "X 103  Y 51  value 127, saturated");
    // A byte with bit 7 set (the wire marks every byte after the start) counts by its low seven.
    EXPECT_EQ(FrameProbeText(frame, 103, 52), "X 103  Y 52  value 127, saturated");
    // Just outside on every side, and with no frame at all: the position alone.
    EXPECT_EQ(FrameProbeText(frame, 99, 50), "X 99  Y 50");
    EXPECT_EQ(FrameProbeText(frame, 104, 50), "X 104  Y 50");
    EXPECT_EQ(FrameProbeText(frame, 100, 49), "X 100  Y 49");
    EXPECT_EQ(FrameProbeText(frame, 100, 53), "X 100  Y 53");
    EXPECT_EQ(FrameProbeText(TFrameArea{}, 0, 0), "X 0  Y 0");
}

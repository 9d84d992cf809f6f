// Inputs the fuzz targets found, kept as plain tests of what the code does with them now.

#include "view/FrameView.h"
#include "view/ProfileFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zq455;

// Far beyond any measurement the text is still fixed point with two decimals, rounded to
// six significant digits, so a file never holds a line in another notation.
TEST(FuzzFindings, HugeProfileValuesStayFixedPoint) {
    EXPECT_EQ(FormatProfileValue(1e14f), "100000000000000.00");
    EXPECT_EQ(FormatProfileValue(-2.5e15f), "-2500000000000000.00");
    EXPECT_EQ(FormatProfileValue(std::numeric_limits<float>::max()),
              "340282000000000000000000000000000000000.00");
    EXPECT_EQ(FormatProfileValue(-std::numeric_limits<float>::max()),
              "-340282000000000000000000000000000000000.00");
    // Just below the change of method the two agree on the digits.
    EXPECT_EQ(FormatProfileValue(9.87654e13f), "98765400000000.00");
    EXPECT_EQ(FormatProfileValue(std::numeric_limits<float>::infinity()), "0.00");
}

// A second press while a drag runs (its release went to a box that took the mouse) must
// not make the unfinished outline the region to fall back on.
TEST(FuzzFindings, APressDuringADragKeepsTheRegionToFallBackOn) {
    TRoiDrag drag;
    uint16_t lw = 100 << 7, th = 100 << 7, lw_cell = 0, th_cell = 0;
    drag.Press(100, 100);
    ASSERT_TRUE(drag.Release(400, 300, lw, th, lw_cell, th_cell));
    const TRoi accepted{100, 100, 400, 300};
    ASSERT_EQ(drag.roi, accepted);

    drag.Press(300, 300);
    drag.Move(20, 20); // up and left of its start: an outline that is no region
    drag.Press(200, 200);
    // Too small: the region before the lost drag comes back, with parameters to match.
    ASSERT_TRUE(drag.Release(210, 210, lw, th, lw_cell, th_cell));
    EXPECT_EQ(drag.roi, accepted);
    EXPECT_EQ(lw_cell, 15 + 46 * 128);
    EXPECT_EQ(th_cell, 19 + 39 * 128);
    EXPECT_GE(drag.fps, 98);
}

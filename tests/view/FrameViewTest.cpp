#include "view/FrameView.h"
#include "view/BitmapFile.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace zq455;

TEST(FrameView, FrameRateOfTheDocumentedRegions) {
    EXPECT_EQ(ComputeFrameRate(640, 512, 0), 98);
    EXPECT_EQ(ComputeFrameRate(640, 256, 0), 193);
    EXPECT_EQ(ComputeFrameRate(0, 512, 77), 77);
    EXPECT_EQ(ComputeFrameRate(640, 0, 77), 77);
}

TEST(FrameView, FrameRateOfARectangleDraggedUpOrLeftStaysSensible) {
    // -152 would make the line time zero, and beyond it negative.
    EXPECT_EQ(ComputeFrameRate(-152, 100, 5), ComputeFrameRate(152, 100, 5));
    EXPECT_EQ(ComputeFrameRate(-640, -512, 5), 98);
    for (int w = -700; w <= 700; w += 7)
        for (int h = -600; h <= 600; h += 13)
            if (w != 0 && h != 0) {
                const uint16_t fps = ComputeFrameRate(w, h, 5);
                EXPECT_GT(fps, 0);
                EXPECT_LE(fps, 10000);
            }
}

TEST(FrameView, RegionFromParametersIsNotClamped) {
    // Full frame: left 0, width 100 %, top 0, height 100 %.
    EXPECT_EQ(RoiFromParameters(100 << 7, 100 << 7), FULL_FRAME_ROI);
    TRoi wide = RoiFromParameters(static_cast<uint16_t>(127 << 7 | 10), 50 << 7);
    EXPECT_EQ(wide.left, 64);
    EXPECT_EQ(wide.right, 812 + 64);
    EXPECT_EQ(wide.bottom, 256);
    // Bits 14 and 15 are not part of either percentage.
    EXPECT_EQ(RoiFromParameters(0xC000 | 100 << 7, 100 << 7), FULL_FRAME_ROI);
}

namespace {

struct TDragResult {
    bool ended;
    TRoi roi;
    uint16_t lw, th, lw_cell, th_cell, fps;
};

TDragResult Drag(TRoi start, int x0, int y0, std::initializer_list<std::pair<int, int>> moves, int x1, int y1,
                 uint16_t lw = 0xC000, uint16_t th = 0x4000) {
    TRoiDrag drag;
    drag.roi = start;
    drag.fps = 98;
    drag.Press(x0, y0);
    for (auto [x, y] : moves)
        drag.Move(x, y);
    uint16_t lw_cell = 0, th_cell = 0;
    bool ended = drag.Release(x1, y1, lw, th, lw_cell, th_cell);
    EXPECT_FALSE(drag.dragging);
    return {ended, drag.roi, lw, th, lw_cell, th_cell, drag.fps};
}

} // namespace

TEST(FrameView, DragDrawsTheRegionAndRewritesTheParameters) {
    TDragResult r = Drag(FULL_FRAME_ROI, 64, 51, {{200, 200}, {384, 307}}, 384, 307);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.roi, (TRoi{64, 51, 384, 307}));
    // Lp = 10, Wp = 50, Tp = 9, Hp = 50; bits 14 and 15 kept.
    EXPECT_EQ(r.lw_cell, 10 + 50 * 128);
    EXPECT_EQ(r.th_cell, 9 + 50 * 128);
    EXPECT_EQ(r.lw, 0xC000 | (10 + 50 * 128));
    EXPECT_EQ(r.th, 0x4000 | (9 + 50 * 128));
    EXPECT_EQ(r.fps, ComputeFrameRate(320, 256, 0));
}

TEST(FrameView, TooSmallRegionBringsBackThePreviousOne) {
    const TRoi before{0, 0, 320, 256};
    TDragResult r = Drag(before, 10, 10, {{60, 200}}, 60, 200);
    EXPECT_EQ(r.roi, before);
    EXPECT_EQ(r.lw_cell, 0 + 50 * 128);
    // 50 lines high is one too few.
    r = Drag(before, 10, 10, {}, 200, 60);
    EXPECT_EQ(r.roi, before);
}

TEST(FrameView, DragBeyondTheImageIsClamped) {
    TDragResult r = Drag(FULL_FRAME_ROI, 100, 100, {{900, 900}}, 900, 900);
    EXPECT_EQ(r.roi, (TRoi{100, 100, 640, 512}));
    // Starting at left 600 leaves at most 40 pixels: refused.
    r = Drag(TRoi{0, 0, 320, 256}, 600, 10, {}, 700, 600);
    EXPECT_EQ(r.roi, (TRoi{0, 0, 320, 256}));
    // Starting at left 576: 64 pixels, Lp = 90, Wp = 10.
    r = Drag(FULL_FRAME_ROI, 576, 0, {{1000, 1000}}, 1000, 1000);
    EXPECT_EQ(r.roi, (TRoi{576, 0, 640, 512}));
    EXPECT_EQ(r.lw_cell, 90 + 10 * 128);
    EXPECT_EQ(r.th_cell, 0 + 100 * 128);
}

TEST(FrameView, RegionLeftUpOfItsStartBecomesTheFullFrame) {
    TDragResult r = Drag(TRoi{0, 0, 320, 256}, 300, 300, {{100, 100}}, 100, 100);
    EXPECT_EQ(r.roi, FULL_FRAME_ROI);
    EXPECT_EQ(r.lw_cell, 100 * 128);
    EXPECT_EQ(r.fps, 98);
}

TEST(FrameView, MovesAndReleasesWithoutAPressChangeNothing) {
    TRoiDrag drag;
    drag.roi = TRoi{1, 2, 300, 400};
    drag.fps = 42;
    EXPECT_FALSE(drag.Move(10, 10));
    uint16_t lw = 7, th = 8, a = 0, b = 0;
    EXPECT_FALSE(drag.Release(10, 10, lw, th, a, b));
    EXPECT_EQ(drag.roi, (TRoi{1, 2, 300, 400}));
    EXPECT_EQ(drag.fps, 42);
    EXPECT_EQ(lw, 7);
    EXPECT_EQ(th, 8);
}

TEST(FrameView, PixelsAreDoubledIntoThePalette) {
    EXPECT_EQ(PaletteIndexOfPixel(127), 254);
    EXPECT_EQ(PaletteIndexOfPixel(0), 0);
    EXPECT_EQ(PaletteIndexOfPixel(64), 128);
}

namespace {
uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
           static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
} // namespace

TEST(BitmapFile, EightBitRedRampWithRowsBottomUpAndPadded) {
    // 3 x 2 pixels: each row is padded to 4 bytes.
    const uint8_t indexes[] = {0, 2, 254, 10, 20, 30};
    const std::string bmp = EncodeRedRampBitmap(3, 2, indexes);
    ASSERT_EQ(bmp.size(), 14u + 40 + 1024 + 8);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 10), 14u + 40 + 1024);
    EXPECT_EQ(Le32(bmp, 14), 40u);
    EXPECT_EQ(Le32(bmp, 18), 3u);
    EXPECT_EQ(Le32(bmp, 22), 2u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 8); // bits per pixel
    EXPECT_EQ(Le32(bmp, 30), 0u);                // no compression
    EXPECT_EQ(Le32(bmp, 46), 256u);              // palette entries
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 4 * i + 0]), 0) << i; // blue
        EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 4 * i + 1]), 0) << i; // green
        EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 4 * i + 2]), i) << i; // red
    }
    const size_t pixels = 14 + 40 + 1024;
    // Bottom row first.
    EXPECT_EQ(static_cast<uint8_t>(bmp[pixels + 0]), 10);
    EXPECT_EQ(static_cast<uint8_t>(bmp[pixels + 2]), 30);
    EXPECT_EQ(static_cast<uint8_t>(bmp[pixels + 3]), 0);
    EXPECT_EQ(static_cast<uint8_t>(bmp[pixels + 4]), 0);
    EXPECT_EQ(static_cast<uint8_t>(bmp[pixels + 6]), 254);
}

TEST(FrameView, RegionStartingBeyondTheFrameGetsNoNegativeExtent) {
    // A sensor's own "ROI left width" of 127 % left and 100 % wide: the drag that is too small
    // brings that region back, and its extent has no room left.
    TDragResult r = Drag(RoiFromParameters(127 | 100 << 7, 100 << 7), 0, 0, {}, 10, 10, 0xC000, 0);
    EXPECT_EQ(r.lw_cell, 126);
    EXPECT_EQ(r.lw, 0xC000 | 126);
    EXPECT_EQ(r.th_cell, 100 * 128);
}

TEST(FrameView, OnlyFramesOnTheCameraAreShown) {
    EXPECT_TRUE(FrameFitsCamera(512, 640, 0, 0));
    EXPECT_TRUE(FrameFitsCamera(1, 1, 511, 639));
    EXPECT_TRUE(FrameFitsCamera(51, 64, 461, 576));
    for (auto [rows, width, top, left] : {std::array<uint32_t, 4>{513, 640, 0, 0},
                                          {512, 641, 0, 0},
                                          {0, 640, 0, 0},
                                          {512, 0, 0, 0},
                                          {51, 64, 462, 576},
                                          {51, 65, 461, 576},
                                          {1, 1, 0, 640},
                                          {1, 1, 512, 0},
                                          {100, 700, 0, 0},
                                          {1, 1, 0xFFFFFFFF, 0}})
        EXPECT_FALSE(FrameFitsCamera(rows, width, top, left))
            << rows << " " << width << " " << top << " " << left;
}

TEST(BitmapFile, FrameBitmapIsTheDoubledFrameWhateverTheRowStride) {
    // 5 x 3 camera pixels; the same frame doubled into rows of 8 bytes (a bitmap's padded rows).
    const uint8_t pixels[] = {0, 1, 2, 3, 127, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24};
    uint8_t padded[3 * 8];
    std::memset(padded, 0xEE, sizeof padded);
    FrameToPaletteIndexes(pixels, 5, 3, padded, 8);
    EXPECT_EQ(padded[4], 254);
    EXPECT_EQ(padded[8 + 1], 22);
    EXPECT_EQ(padded[5], 0xEE); // the padding is not touched
    const std::string from_frame = EncodeFrameBitmap(5, 3, pixels);
    EXPECT_EQ(EncodeRedRampBitmap(5, 3, padded, 8), from_frame);
    const size_t at = 14 + 40 + 1024;
    ASSERT_EQ(from_frame.size(), at + 3 * 8);
    // Bottom line first, each padded with zeros to 8 bytes.
    const uint8_t bottom[8] = {40, 42, 44, 46, 48, 0, 0, 0};
    EXPECT_EQ(from_frame.substr(at, 8), std::string(reinterpret_cast<const char*>(bottom), 8));
    EXPECT_EQ(static_cast<uint8_t>(from_frame[at + 16 + 4]), 254);
}

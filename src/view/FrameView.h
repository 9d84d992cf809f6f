#pragma once
// The frame view's arithmetic: the frame rate a region of interest allows, the region from
// the two ROI user parameters, the left-button drag that draws a new region, and the
// doubling of the 7-bit camera pixels into palette indexes.

#include <cstddef>
#include <cstdint>

namespace zq455 {

constexpr int32_t FRAME_WIDTH = 640;
constexpr int32_t FRAME_HEIGHT = 512;
constexpr int32_t ROI_MIN_WIDTH = 64;
constexpr int32_t ROI_MIN_HEIGHT = 51;

struct TRoi {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const TRoi&) const = default;
};

constexpr TRoi FULL_FRAME_ROI{0, 0, FRAME_WIDTH, FRAME_HEIGHT};

// H lines of (W + 152) x 25 ns plus 0.1 ms. W or H of 0 keeps `previous`. A rectangle being
// dragged up or left of its start has a negative extent: its size counts, so the rate stays
// that of the rectangle on screen and the formula never meets a zero or negative divisor.
uint16_t ComputeFrameRate(int32_t width, int32_t height, uint16_t previous);

// "ROI left width" / "ROI top height": bits 0..6 the start, bits 7..13 the extent, in whole
// percent of the frame; not clamped (127 % gives a right edge of 812 + left).
TRoi RoiFromParameters(uint16_t left_width, uint16_t top_height);

// A bitmap pixel from a camera pixel: 0..127 become the even palette indexes 0..254.
inline uint8_t PaletteIndexOfPixel(uint8_t pixel) {
    return static_cast<uint8_t>((2u * pixel) & 0xFF);
}

// Doubles a frame of `rows` lines of `width` camera pixels into palette indexes, the lines
// `stride` bytes apart in `indexes` (a bitmap's own rows may be padded).
void FrameToPaletteIndexes(const uint8_t* pixels, uint32_t width, uint32_t rows, uint8_t* indexes,
                           size_t stride);

// A frame reply the frame view can show: not empty, and lying within the camera's 640 x 512
// pixels (so it also fits the frame store and the bitmap).
bool FrameFitsCamera(uint32_t rows, uint32_t width, uint32_t top, uint32_t left);

// The left-button drag that draws the region of interest on the frame.
class TRoiDrag {
public:
    TRoi roi = FULL_FRAME_ROI; // Video_ROI
    TRoi previous{};           // Video_ROI_Prev: put back when the new region is too small
    bool dragging = false;     // ROI_Dragging
    uint16_t fps = 0;          // Video_Fps

    void Press(int32_t x, int32_t y);
    // True when the drag is running (the rate and the outline changed).
    bool Move(int32_t x, int32_t y);
    // True when a drag ended; then the two ROI parameters are rewritten in `left_width` and
    // `top_height` (bits 14 and 15 kept) and `left_width_cell`/`top_height_cell` hold the
    // values for the editor's cells (Lp + Wp x 128, Tp + Hp x 128).
    bool Release(int32_t x, int32_t y, uint16_t& left_width, uint16_t& top_height, uint16_t& left_width_cell,
                 uint16_t& top_height_cell);
};

} // namespace zq455

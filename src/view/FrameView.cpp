#include "FrameView.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zq455 {

uint16_t ComputeFrameRate(int32_t width, int32_t height, uint16_t previous) {
    if (width == 0 || height == 0)
        return previous;
    const long double w = std::abs(static_cast<long double>(width));
    const long double h = std::abs(static_cast<long double>(height));
    const long double rate = 1000.0L / ((w + 152) * 0.000025L * h + 0.1L) + 0.5L;
    return static_cast<uint16_t>(std::min(std::trunc(rate), 65535.0L));
}

TRoi RoiFromParameters(uint16_t left_width, uint16_t top_height) {
    TRoi roi;
    roi.left = (left_width & 0x7F) * FRAME_WIDTH / 100;
    roi.top = (top_height & 0x7F) * FRAME_HEIGHT / 100;
    roi.right = ((left_width >> 7) & 0x7F) * FRAME_WIDTH / 100 + roi.left;
    roi.bottom = ((top_height >> 7) & 0x7F) * FRAME_HEIGHT / 100 + roi.top;
    return roi;
}

void FrameToPaletteIndexes(const uint8_t* pixels, uint32_t width, uint32_t rows, uint8_t* indexes,
                           size_t stride) {
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* line = pixels + static_cast<size_t>(r) * width;
        uint8_t* out = indexes + static_cast<size_t>(r) * stride;
        for (uint32_t c = 0; c < width; ++c)
            out[c] = PaletteIndexOfPixel(line[c]);
    }
}

bool FrameFitsCamera(uint32_t rows, uint32_t width, uint32_t top, uint32_t left) {
    const uint32_t w = static_cast<uint32_t>(FRAME_WIDTH);
    const uint32_t h = static_cast<uint32_t>(FRAME_HEIGHT);
    return rows > 0 && width > 0 && width <= w && rows <= h && left <= w - width && top <= h - rows;
}

void TRoiDrag::Press(int32_t x, int32_t y) {
    previous = roi;
    roi = {x, y, x, y};
    dragging = true;
}

bool TRoiDrag::Move(int32_t x, int32_t y) {
    if (!dragging)
        return false;
    roi.right = std::min(x, FRAME_WIDTH);
    roi.bottom = std::min(y, FRAME_HEIGHT);
    fps = ComputeFrameRate(roi.right - roi.left, roi.bottom - roi.top, fps);
    return true;
}

bool TRoiDrag::Release(int32_t x, int32_t y, uint16_t& left_width, uint16_t& top_height,
                       uint16_t& left_width_cell, uint16_t& top_height_cell) {
    if (!dragging)
        return false;
    if (roi.right >= roi.left && roi.bottom >= roi.top) {
        roi.right = x;
        roi.bottom = y;
    } else {
        roi = FULL_FRAME_ROI;
    }
    roi.right = std::min(roi.right, FRAME_WIDTH);
    roi.bottom = std::min(roi.bottom, FRAME_HEIGHT);
    if (roi.right - roi.left < ROI_MIN_WIDTH || roi.bottom - roi.top < ROI_MIN_HEIGHT)
        roi = previous;

    int32_t lp = roi.left * 100 / FRAME_WIDTH;
    int32_t wp = (roi.right - roi.left) * 100 / FRAME_WIDTH;
    // A start beyond 100 % can only come from the sensor's own values; the extent then
    // has no room left rather than a negative one.
    if (lp + wp > 100)
        wp = std::max(0, 100 - lp);
    int32_t tp = roi.top * 100 / FRAME_HEIGHT;
    int32_t hp = (roi.bottom - roi.top) * 100 / FRAME_HEIGHT;
    if (tp + hp > 100)
        hp = std::max(0, 100 - tp);

    left_width_cell = static_cast<uint16_t>(lp + wp * 128);
    top_height_cell = static_cast<uint16_t>(tp + hp * 128);
    left_width = static_cast<uint16_t>((left_width & 0xC000) | (lp & 0x7F) | ((wp & 0x7F) << 7));
    top_height = static_cast<uint16_t>((top_height & 0xC000) | (tp & 0x7F) | ((hp & 0x7F) << 7));

    dragging = false;
    fps = ComputeFrameRate(roi.right - roi.left, roi.bottom - roi.top, fps);
    return true;
}

} // namespace zq455

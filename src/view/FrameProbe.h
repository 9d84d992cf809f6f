#pragma once
// The line under the camera frame: where the mouse is on the camera and what the pixel there
// holds, and whether it is saturated (the camera's largest value, where the laser line's
// shape is lost).

#include <cstdint>
#include <string>

namespace zq455 {

// The camera's largest pixel value.
constexpr uint8_t PIXEL_SATURATED = 127;

// The frame as last received: `rows` lines of `width` pixels whose first pixel lies at
// camera column `left`, line `top`.
struct TFrameArea {
    const uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t rows = 0;
    uint32_t left = 0;
    uint32_t top = 0;
};

// "X 320  Y 236  value 127, saturated" for camera pixel (x, y); "X 10  Y 20" where the frame
// holds no pixel there (outside the region received, or no frame yet).
std::string FrameProbeText(const TFrameArea& frame, int32_t x, int32_t y);

} // namespace zq455

#include "view/FrameProbe.h"

namespace zq455 {

std::string FrameProbeText(const TFrameArea& frame, int32_t x, int32_t y) {
    std::string text = "X " + std::to_string(x) + "  Y " + std::to_string(y);
    const int64_t column = static_cast<int64_t>(x) - frame.left;
    const int64_t line = static_cast<int64_t>(y) - frame.top;
    if (!frame.pixels || column < 0 || line < 0 || column >= frame.width || line >= frame.rows)
        return text;
    const uint8_t value =
        frame.pixels[static_cast<size_t>(line) * frame.width + static_cast<size_t>(column)] & 0x7F;
    text += "  value " + std::to_string(value);
    if (value >= PIXEL_SATURATED)
        text += ", saturated";
    return text;
}

} // namespace zq455

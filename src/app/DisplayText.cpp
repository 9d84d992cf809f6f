#include "DisplayText.h"

namespace zq455 {

std::string FrameRateText(uint16_t fps) {
    return "Freq.:" + std::to_string(fps) + " fps";
}

} // namespace zq455

#include "AngleText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

namespace zq455 {

std::string AngleText(float radians) {
    const double degrees = static_cast<double>(radians) * 180.0 / std::numbers::pi;
    // Three significant digits first, then three decimals of what is left.
    char text[64];
    std::snprintf(text, sizeof text, "%.2e", degrees);
    double rounded = std::strtod(text, nullptr);
    if (rounded == 0.0)
        rounded = 0.0; // no "-0.000"
    std::snprintf(text, sizeof text, "%.3f", rounded);
    return std::string("Angle = ") + text + "\u00B0";
}

std::string AngleTextOfBits(uint32_t bits) {
    float radians = 0;
    std::memcpy(&radians, &bits, sizeof radians);
    return AngleText(radians);
}

} // namespace zq455

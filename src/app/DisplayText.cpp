#include "DisplayText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zq455 {

std::string AngleDegreesText(double degrees) {
    if (!std::isfinite(degrees))
        return "0.000";
    // Round to 3 significant digits first, then print with a fixed 3 decimals.
    char rounded[32];
    std::snprintf(rounded, sizeof rounded, "%.2e", degrees);
    double value = std::strtod(rounded, nullptr);
    if (value == 0.0)
        value = 0.0; // no "-0.000"
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string AngleText(float radians) {
    const double degrees = static_cast<double>(radians) * 180.0 / M_PI;
    return "Angle = " + AngleDegreesText(degrees) + "\xC2\xB0";
}

std::string FrameRateText(uint16_t fps) {
    return "Freq.:" + std::to_string(fps) + " fps";
}

} // namespace zq455

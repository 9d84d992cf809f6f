#pragma once
// Texts the window shows for sensor values: the rotation angle and the frame rate. Plain
// C++, shared by the connect sequence, the angle menus, the error reset and the frame view.

#include <cstdint>
#include <string>

namespace zq455 {

// "Angle = " + degrees to 3 significant digits, printed with 3 decimals, + the degree sign
// (UTF-8). 12.3456 degrees reads "Angle = 12.300°".
std::string AngleText(float radians);
// The degrees part alone ("12.300").
std::string AngleDegreesText(double degrees);

// "Freq.:98 fps"
std::string FrameRateText(uint16_t fps);

} // namespace zq455

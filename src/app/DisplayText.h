#pragma once
// The frame-rate text under the user parameters, shared by the connect sequence and the
// frame view. (The angle text lives with the sensor's values: sensor/AngleText.h.)

#include <cstdint>
#include <string>

namespace zq455 {

// "Freq.:98 fps": no blank after the colon.
std::string FrameRateText(uint16_t fps);

} // namespace zq455

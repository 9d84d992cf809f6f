#pragma once
// The angle of the measuring system as the operator reads it: "Angle = " and the degrees
// rounded to three significant digits, printed with three decimals, then the degree sign
// (UTF-8). 12.3456 degrees reads "Angle = 12.300°", 0 reads "Angle = 0.000°".

#include <cstdint>
#include <string>

namespace zq455 {

std::string AngleText(float radians);
// The same from the 32-bit pattern that ReadAngle and RotateSystem return.
std::string AngleTextOfBits(uint32_t bits);

} // namespace zq455

#pragma once
// The one seam for the protocols' fixed pauses (1 s after an address or bit-rate change,
// 40 s while the sensor stores a table). The program sleeps for real; tests hand in a
// shorter sleep.

#include <cstdint>
#include <functional>

namespace zq455 {

using TSleepFunction = std::function<void(uint32_t milliseconds)>;

void SleepMilliseconds(uint32_t milliseconds);

} // namespace zq455

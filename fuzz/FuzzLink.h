#pragma once
// Feeds a fuzzer's bytes to a protocol object as if the device had sent them.

#include "sensor/Zq455interface.h"

#include <cstddef>
#include <cstdint>

namespace zq455::fuzz {

inline void FeedSensor(TZQ455Interface& sensor, const uint8_t* data, size_t size) {
    sensor.link.OpenMemory(data, size);
    sensor.Sleep = [](uint32_t) {};
}

} // namespace zq455::fuzz

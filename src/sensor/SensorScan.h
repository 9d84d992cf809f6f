#pragma once
// Finding a sensor whose bit rate or network address was changed and forgotten: every rate
// and address is asked for the identity, with a reply time fitted to the rate, the sensor's
// default rate first and the fast rates before the slow ones. Loading a new rate or address
// into the sensor stays the parameter editors' job.

#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zq455 {

struct TScanHit {
    uint32_t baud = 0;
    uint8_t address = 0;
    std::array<uint16_t, IDENTITY_COUNT> identity{};
};

// The rates in the order they are tried: 921600 first, then 460800 down to 4800.
std::vector<uint32_t> ScanRateOrder(const std::vector<uint32_t>& rates);

// How long a read may wait at `baud` for the reply's first byte before the address counts
// as silent: one and a half times the request's wire time and 10 ms for the sensor and the
// adapter. A tty read makes up to three such calls, and the rest of a reply that has begun
// comes in the same way, so a slow reply still arrives whole.
uint32_t ScanReplyTimeoutMs(uint32_t baud);

// Called after every pair tried; false stops the scan.
using TScanProgress = std::function<bool(uint32_t baud, uint8_t address, unsigned done, unsigned total)>;

struct TScanResult {
    std::vector<TScanHit> hits;
    uint32_t open_result = 0; // the port could not be opened: its code, and nothing was tried
    bool stopped = false;
};

// Tries every pair on the port `base` names (its mode and device; rate, address and time-out
// are the scan's). `first_only`: stop at the first sensor that answers.
TScanResult ScanForSensor(const TSensorConnection& base, const std::vector<uint32_t>& rates,
                          const std::vector<uint8_t>& addresses, bool first_only,
                          const TScanProgress& progress = {});

} // namespace zq455

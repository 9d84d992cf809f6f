#include "sensor/SensorScan.h"

#include <algorithm>

namespace zq455 {
namespace {

// ReadIdentity's request: 7 bytes on the wire.
constexpr uint32_t IDENTITY_REQUEST_BYTES = 7;

} // namespace

std::vector<uint32_t> ScanRateOrder(const std::vector<uint32_t>& rates) {
    std::vector<uint32_t> order = rates;
    std::sort(order.begin(), order.end(), [](uint32_t a, uint32_t b) {
        if ((a == DEFAULT_BAUD) != (b == DEFAULT_BAUD))
            return a == DEFAULT_BAUD;
        return a > b;
    });
    order.erase(std::unique(order.begin(), order.end()), order.end());
    return order;
}

uint32_t ScanReplyTimeoutMs(uint32_t baud) {
    const uint32_t request_ms = IDENTITY_REQUEST_BYTES * 10 * 1000 / std::max<uint32_t>(baud, 1);
    return request_ms * 3 / 2 + 10;
}

TScanResult ScanForSensor(const TSensorConnection& base, const std::vector<uint32_t>& rates,
                          const std::vector<uint8_t>& addresses, bool first_only,
                          const TScanProgress& progress) {
    TScanResult result;
    const std::vector<uint32_t> order = ScanRateOrder(rates);
    const unsigned total = unsigned(order.size() * addresses.size());
    unsigned done = 0;
    for (uint32_t baud : order) {
        TZQ455Interface sensor;
        TSensorConnection connection = base;
        connection.baud = baud;
        connection.reply_timeout_ms = ScanReplyTimeoutMs(baud);
        // The reply's whole time is in the time-out already; a silent address costs no more.
        connection.short_replies = true;
        for (uint8_t address : addresses) {
            connection.address = address;
            // The link opens once a rate; the address travels in each request.
            if (!sensor.link.IsOpen()) {
                if ((result.open_result = sensor.Open(connection)))
                    return result;
            }
            sensor.connection.address = address;
            TScanHit hit;
            if (sensor.ReadIdentity(hit.identity.data()) == 0) {
                hit.baud = baud;
                hit.address = address;
                result.hits.push_back(hit);
            }
            ++done;
            if ((progress && !progress(baud, address, done, total)) || (first_only && !result.hits.empty())) {
                result.stopped = done < total;
                return result;
            }
        }
    }
    return result;
}

} // namespace zq455

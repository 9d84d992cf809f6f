#include "FuzzLink.h"
#include "link/ResultCodes.h"

#include <cstdlib>
#include <vector>

using namespace zq455;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TZQ455Interface sensor;
    // A store of exactly its capacity, so AddressSanitizer sees any write past it. The
    // capacity comes from the input, so small stores meet large frames too.
    if (size < 2)
        return 0;
    const uint32_t capacity = (static_cast<uint32_t>(data[0]) << 8 | data[1]) % 2048;
    std::vector<uint8_t> pixels(capacity + (capacity == 0));
    fuzz::FeedSensor(sensor, data + 2, size - 2);
    uint16_t rows = 1, width = 1, top = 0, left = 0;
    const uint32_t code = sensor.ReceiveVideoPacket(pixels.data(), capacity, rows, width, top, left);
    if (code == RESULT_OK) {
        if (static_cast<uint32_t>(rows) * width > capacity)
            abort();
    } else if (rows != 0 || width != 0) {
        abort();
    }
    return 0;
}

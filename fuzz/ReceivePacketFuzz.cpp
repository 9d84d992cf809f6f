#include "FuzzLink.h"
#include "link/ResultCodes.h"

#include <cstdlib>

using namespace zq455;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TZQ455Interface sensor;
    fuzz::FeedSensor(sensor, data, size);
    uint16_t length = 0xFFFF;
    const uint32_t code = sensor.ReceivePacket(sensor.buffer, length);
    if (code == RESULT_OK) {
        if (length >= protocol::PACKET_DATA_SIZE)
            abort();
        for (uint16_t i = 0; i < length; ++i)
            if (sensor.buffer[i] & 0x80)
                abort();
    } else if (length != 0 || (code != RESULT_READ_TIMEOUT && code != RESULT_PACKET_ERROR)) {
        abort();
    }
    return 0;
}

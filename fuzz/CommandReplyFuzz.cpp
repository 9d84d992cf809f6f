// The command decoders on arbitrary replies: the first byte picks the command (and the
// caller's capacity), the rest is what the device sends. Arrays are sized exactly, so a
// write past them is caught by the address sanitizer.

#include "FuzzLink.h"
#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"

#include <cstdlib>
#include <vector>

using namespace zq455;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static TZQ455Interface sensor;
    const uint8_t selector = data[0];
    fuzz::FeedSensor(sensor, data + 1, size - 1);
    const uint32_t capacity = (selector >> 3) * 131u; // 0 .. 4061 values
    std::vector<uint16_t> values(capacity);
    uint32_t code = 0;
    switch (selector & 7) {
    case 0: {
        uint8_t result_status = 0;
        uint16_t count = 0xFFFF;
        code = sensor.GetResult(result_status, count, values.data(), capacity);
        if (code == RESULT_OK && 2u * count > capacity)
            abort();
        break;
    }
    case 1: {
        uint32_t count = 0xFFFFFFFF;
        code = sensor.ReadCalibrData(values.data(), capacity, count);
        if (count > capacity)
            abort();
        break;
    }
    case 2: {
        std::vector<uint16_t> identity(IDENTITY_COUNT);
        code = sensor.ReadIdentity(identity.data());
        break;
    }
    case 3: {
        std::vector<uint16_t> factory(FACTORY_COUNT);
        code = sensor.ReadFactoryParameters(factory.data());
        break;
    }
    case 4: {
        uint16_t value = 0;
        code = sensor.ReadUserParameter(selector >> 4, value);
        break;
    }
    case 5: {
        uint32_t angle = 0;
        code = sensor.ReadAngle(angle);
        break;
    }
    case 6: {
        std::vector<uint16_t> table(2 * TABLE_BLOCK_VALUES + 3, 0x1234);
        code = sensor.TransmitTable(table.data(), static_cast<uint32_t>(table.size()));
        break;
    }
    default:
        code = sensor.FlashUserParameters(selector & 0x80);
        break;
    }
    if (code > RESULT_LAST_CODE)
        abort();
    return 0;
}

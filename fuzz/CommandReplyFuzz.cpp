// The command decoders on arbitrary replies: the first byte picks the command (and the
// caller's capacity or a variant), the rest is what the device sends. Arrays are sized
// exactly, so a write past them is caught by the address sanitizer; sentinels show what a
// failed call must leave alone.
//
//   selector & 7   command                         selector >> 3
//   0              GetResult                       capacity: x 131 values
//   1              ReadCalibrData                  capacity: x 131 values
//   2              ReadIdentity
//   3              ReadFactoryParameters
//   4              ReadUserParameter / -Parameters index (13..31: all thirteen)
//   5              ReadAngle / RotateSystem        bit 3: RotateSystem
//   6              TransmitTable (3 blocks)
//   7              FLASH confirmations             bits 3-4: user, angle, factory, table save;
//                                                  bit 7: restore

#include "FuzzCheck.h"
#include "FuzzLink.h"
#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace zq455;

namespace {

constexpr uint16_t SENTINEL = 0xBEEF;

bool AllAre(const uint16_t* values, size_t count, uint16_t expected) {
    return std::all_of(values, values + count, [&](uint16_t v) { return v == expected; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static TZQ455Interface sensor;
    const uint8_t selector = data[0];
    fuzz::FeedSensor(sensor, data + 1, size - 1);
    const uint32_t capacity = (selector >> 3) * 131u; // 0 .. 4061 values
    std::vector<uint16_t> values(capacity, SENTINEL);
    uint32_t code = 0;
    switch (selector & 7) {
    case 0: {
        uint8_t result_status = 0x5A;
        uint16_t count = SENTINEL;
        code = sensor.GetResult(result_status, count, values.data(), capacity);
        if (code == RESULT_OK) {
            FUZZ_CHECK(2u * count <= capacity && result_status < 0x80);
            FUZZ_CHECK(AllAre(values.data() + 2u * count, capacity - 2u * count, SENTINEL));
        } else {
            FUZZ_CHECK(count == SENTINEL && result_status == 0x5A &&
                       AllAre(values.data(), capacity, SENTINEL));
        }
        break;
    }
    case 1: {
        uint32_t count = 0xFFFFFFFF;
        code = sensor.ReadCalibrData(values.data(), capacity, count);
        FUZZ_CHECK(count <= capacity);
        FUZZ_CHECK(code == RESULT_OK || count == 0);
        FUZZ_CHECK(AllAre(values.data() + count, capacity - count, SENTINEL));
        break;
    }
    case 2: {
        std::vector<uint16_t> identity(IDENTITY_COUNT, SENTINEL);
        std::fill(std::begin(sensor.identity), std::end(sensor.identity), SENTINEL);
        code = sensor.ReadIdentity(identity.data());
        // Cache and caller change together, and only on success.
        FUZZ_CHECK(std::equal(identity.begin(), identity.end(), sensor.identity));
        FUZZ_CHECK(code == RESULT_OK || AllAre(identity.data(), IDENTITY_COUNT, SENTINEL));
        break;
    }
    case 3: {
        std::vector<uint16_t> factory(FACTORY_COUNT, SENTINEL);
        std::fill(std::begin(sensor.factory), std::end(sensor.factory), SENTINEL);
        code = sensor.ReadFactoryParameters(factory.data());
        FUZZ_CHECK(std::equal(factory.begin(), factory.end(), sensor.factory));
        FUZZ_CHECK(code == RESULT_OK || AllAre(factory.data(), FACTORY_COUNT, SENTINEL));
        break;
    }
    case 4: {
        const uint8_t index = selector >> 3;
        if (index < USER_COUNT) {
            uint16_t value = SENTINEL;
            code = sensor.ReadUserParameter(index, value);
            // A value fits its width: one group or two.
            if (code == RESULT_OK)
                FUZZ_CHECK(value < (UserWidth(index) == 1 ? 0x80u : 0x4000u) && value == sensor.user[index]);
            else
                FUZZ_CHECK(value == SENTINEL);
        } else {
            std::vector<uint16_t> user(USER_COUNT, SENTINEL);
            code = sensor.ReadUserParameters(user.data());
            FUZZ_CHECK(code == RESULT_OK ? std::equal(user.begin(), user.end(), sensor.user)
                                         : AllAre(user.data(), USER_COUNT, SENTINEL));
        }
        break;
    }
    case 5: {
        uint32_t angle = 0xDEADBEEF;
        code = (selector & 8) ? sensor.RotateSystem(angle) : sensor.ReadAngle(angle);
        FUZZ_CHECK(code == RESULT_OK || angle == 0xDEADBEEF);
        break;
    }
    case 6: {
        std::vector<uint16_t> table(2 * TABLE_BLOCK_VALUES + 3, 0x1234);
        uint32_t accepted = 0;
        code = sensor.TransmitTable(table.data(), static_cast<uint32_t>(table.size()),
                                    [&](uint32_t done, uint32_t) { accepted = done; });
        // A failed block is the last one sent.
        size_t expected_bytes = 0;
        for (uint32_t block = 0; block <= std::min<uint32_t>(accepted, 2); ++block) {
            const size_t n = std::min<size_t>(TABLE_BLOCK_VALUES, table.size() - block * TABLE_BLOCK_VALUES);
            expected_bytes += 6 + 2 * n + protocol::REQUEST_OVERHEAD;
        }
        FUZZ_CHECK(sensor.link.MemoryWritten().size() == expected_bytes);
        FUZZ_CHECK(code != RESULT_OK || accepted == 3);
        break;
    }
    default: {
        const bool restore = selector & 0x80;
        sensor.connection.address = 5;
        switch ((selector >> 3) & 3) {
        case 0:
            code = sensor.FlashUserParameters(restore);
            // A one-byte confirmation, right or wrong, moves the link to the defaults.
            if (restore)
                FUZZ_CHECK((code == RESULT_OK || code == RESULT_FLASH_ERROR) ==
                           (sensor.connection.address == 0));
            break;
        case 1:
            code = sensor.FlashAngle(restore);
            break;
        case 2:
            code = sensor.FlashFactoryParameters(restore);
            break;
        default:
            code = sensor.SaveTable();
            break;
        }
        break;
    }
    }
    FUZZ_CHECK(code <= RESULT_LAST_CODE && code == sensor.status);
    return 0;
}

#include "Crc.h"

namespace zq455 {

TCRC::TCRC(uint16_t polynomial) : poly(polynomial), table(new uint16_t[256]) {
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i);
        uint16_t c = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if ((c ^ v) & 1)
                c = static_cast<uint16_t>((c >> 1) ^ poly);
            else
                c = static_cast<uint16_t>(c >> 1);
            v = static_cast<uint16_t>(v >> 1);
        }
        table[i] = c;
    }
}

void TCRC::Update(uint16_t& accumulator, const uint8_t* data, uint32_t count) const {
    uint16_t c = accumulator;
    for (uint32_t i = 0; i < count; ++i)
        c = static_cast<uint16_t>(table[(data[i] ^ c) & 0xFF] ^ (c >> 8));
    accumulator = c;
}

} // namespace zq455

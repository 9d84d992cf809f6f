#include "Protocol.h"

namespace zq455::motor {

void EncodeSteps(uint32_t steps, uint8_t* out) {
    for (uint32_t i = 0; i < STEP_NIBBLES; ++i)
        out[i] = static_cast<uint8_t>(NIBBLE_MARK | ((steps >> (4 * i)) & 0x0F));
}

uint32_t DecodeSteps(const uint8_t* in) {
    uint32_t steps = 0;
    for (uint32_t i = 0; i < STEP_NIBBLES; ++i)
        steps |= static_cast<uint32_t>(in[i] & 0x0F) << (4 * i);
    return steps;
}

void EncodeStatus(uint8_t status, uint8_t* out) {
    out[0] = static_cast<uint8_t>(NIBBLE_MARK | (status & 0x0F));
    out[1] = static_cast<uint8_t>(NIBBLE_MARK | (status >> 4));
}

} // namespace zq455::motor

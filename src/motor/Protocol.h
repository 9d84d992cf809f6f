#pragma once
// The motor driver's wire format, shared by the protocol object and the virtual stage.
//
//   move request:  [0x04 | 0x05] [8 step nibbles]   byte 1+i = 0xF0 | (steps >> 4i) & 0x0F
//   other request: [command]
//   status reply:  [0xF0 | status bits 0..3] [0xF0 | status bits 4..7] [4 bytes the program ignores]
//   Init reply:    2 bytes the program ignores
//
// The program reads only the low nibbles of the first two reply bytes.

#include <cstdint>

namespace zq455::motor {

constexpr uint32_t MOVE_REQUEST_LENGTH = 9;
constexpr uint32_t STEP_NIBBLES = 8;
constexpr uint32_t STATUS_REPLY_LENGTH = 6;
constexpr uint32_t INIT_REPLY_LENGTH = 2;
constexpr uint8_t NIBBLE_MARK = 0xF0;

// Eight bytes, least significant nibble first, each marked with 0xF0.
void EncodeSteps(uint32_t steps, uint8_t* out);
// The step count of eight nibble bytes; the high nibble of each byte is ignored.
uint32_t DecodeSteps(const uint8_t* in);
// A byte that can stand in the nibble part of a request (its high nibble is 0xF).
constexpr bool IsNibbleByte(uint8_t byte) {
    return (byte & 0xF0) == NIBBLE_MARK;
}

// Status byte of the first two bytes of a reply.
constexpr uint8_t DecodeStatus(const uint8_t* reply) {
    return static_cast<uint8_t>(((reply[1] & 0x0F) << 4) | (reply[0] & 0x0F));
}
// The two status bytes of a reply, each marked with 0xF0 as the driver sends them.
void EncodeStatus(uint8_t status, uint8_t* out);

} // namespace zq455::motor

#pragma once
// Result codes shared by the port link, the sensor and the motor protocols. Every device
// operation returns one of these and keeps it as its last status; 0 is success.

#include <cstdint>

namespace zq455 {

enum : uint32_t {
    RESULT_OK = 0,
    RESULT_PORT_NOT_FOUND = 1, // no operation produces it; kept for the message table
    RESULT_PORT_NOT_OPENED = 2,
    RESULT_READ_TIMEOUT = 3,
    RESULT_READ_ERROR = 4,
    RESULT_WRITE_TIMEOUT = 5,
    RESULT_WRITE_ERROR = 6,
    RESULT_UNKNOWN_ERROR = 7,
    RESULT_PACKET_ERROR = 8,
    RESULT_CONNECTION_CLOSE = 9, // no operation produces it
    RESULT_FLASH_ERROR = 10,
};

constexpr uint32_t RESULT_LAST_CODE = RESULT_FLASH_ERROR;

// The operator's message for a code ("Read timeout." ...); an empty string for 0 and for
// codes outside 1..10.
const char* ResultMessage(uint32_t code);

} // namespace zq455

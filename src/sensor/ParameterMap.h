#pragma once
// The sensor's parameter map: 48 factory values, of which indexes 12..24 are the 13 user
// parameters and 25..32 the 8 identity values. One table of widths (7-bit groups on the
// wire) and names serves the protocol, the editors, the virtual sensor and the command-line
// tool.

#include <cstdint>

namespace zq455 {

constexpr unsigned FACTORY_COUNT = 48;
constexpr unsigned USER_COUNT = 13;
constexpr unsigned IDENTITY_COUNT = 8;
constexpr unsigned USER_FIRST_FACTORY = 12;
constexpr unsigned IDENTITY_FIRST_FACTORY = 25;

// User parameter indexes.
enum : uint8_t {
    USER_SENSOR_ON_OFF = 0,
    USER_NETWORK_ADDRESS = 1,
    USER_UART_BAUDRATE = 2,
    USER_RESULT_LENGTH = 3,
    USER_LASER_INTENSITY = 4,
    USER_EXTERNAL_SIGNALS = 5,
    USER_EXTERNAL_DIVIDER = 6,
    USER_LOCK_TIME = 7,
    USER_ROI_LEFT_WIDTH = 8,
    USER_ROI_TOP_HEIGHT = 9,
    USER_POINT_TIME = 10,
    USER_EXPOSURE = 11,
    USER_EXTERNAL_DELAY = 12,
};

// Identity indexes.
enum : uint8_t {
    IDENTITY_DEVICE_TYPE = 0,
    IDENTITY_DEVICE_MODIFICATION = 1,
    IDENTITY_SERIAL_LO = 2,
    IDENTITY_SERIAL_HI = 3,
    IDENTITY_BASE_DISTANCE = 4,
    IDENTITY_RANGE_Z = 5,
    IDENTITY_RANGE_XSMR = 6,
    IDENTITY_RANGE_XEMR = 7,
};

struct TParameterInfo {
    const char* name; // as the editors show it
    uint8_t width;    // 7-bit groups on the wire: 1 (0..127) or 2 (0..16383)
};

// Entry i describes factory index i.
extern const TParameterInfo PARAMETER_MAP[FACTORY_COUNT];

inline uint8_t FactoryWidth(unsigned factory_index) { return PARAMETER_MAP[factory_index].width; }
inline uint8_t UserWidth(unsigned user_index) { return PARAMETER_MAP[USER_FIRST_FACTORY + user_index].width; }
inline uint8_t IdentityWidth(unsigned identity_index) {
    return PARAMETER_MAP[IDENTITY_FIRST_FACTORY + identity_index].width;
}
inline const char* FactoryName(unsigned factory_index) { return PARAMETER_MAP[factory_index].name; }
inline const char* UserName(unsigned user_index) { return PARAMETER_MAP[USER_FIRST_FACTORY + user_index].name; }
inline const char* IdentityName(unsigned identity_index) {
    return PARAMETER_MAP[IDENTITY_FIRST_FACTORY + identity_index].name;
}
// Parameter number on the wire for commands 0x02 and 0x03.
inline uint8_t UserParameterNumber(unsigned user_index) { return static_cast<uint8_t>(user_index + 1); }

// Sums of the widths: reply sizes of the identity and the factory block.
unsigned FactoryBlockBytes(); // 88
unsigned IdentityBlockBytes(); // 15
unsigned UserBlockBytes();     // 20

// UART bit-rate codes (user parameter 2): 4800 << (code & 31) with bit 6 set, else
// 115200 << (code & 31). The eight codes the window offers, slowest first.
struct TBaudCode {
    uint8_t code;
    uint32_t baud;
};
constexpr TBaudCode BAUD_CODES[8] = {
    {0x40, 4800},   {0x41, 9600},   {0x42, 19200},  {0x43, 38400},
    {0x00, 115200}, {0x01, 230400}, {0x02, 460800}, {0x03, 921600},
};
uint32_t BaudOfCode(uint16_t code);
// The code of one of the eight offered rates; false for any other rate.
bool CodeOfBaud(uint32_t baud, uint8_t& code);

// The sensor's defaults after Restore default of the user parameters.
constexpr uint8_t DEFAULT_ADDRESS = 0;
constexpr uint32_t DEFAULT_BAUD = 921600;

} // namespace zq455

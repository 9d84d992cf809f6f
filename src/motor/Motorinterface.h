#pragma once
// TMotorInterface: the stage's motor driver, a bare byte protocol without framing,
// checksum or address.
//
//   request: [command] for status and init; [command] [8 nibble bytes 0xF0 | nibble, low first] for moves
//   reply:   6 bytes, status = (b1 & 0x0F) << 4 | (b0 & 0x0F), bytes 2..5 not used; Init: 2 bytes
//
// Each request byte goes out with its own write, so each leaves on an emptied link.

#include "link/Interface.h"

#include <cstdint>
#include <string>

namespace zq455 {

constexpr const char* MOTOR_USB_DESCRIPTION = "VELMOR MOTOR DRIVER INTERFACE";
constexpr uint32_t MOTOR_BAUD = 230400;

enum : uint8_t {
    MOTOR_GET_STATUS = 0x00,
    MOTOR_INIT = 0x03,
    MOTOR_MOVE_FORWARD = 0x04,
    MOTOR_MOVE_BACKWARD = 0x05,
    MOTOR_GET_STATUS2 = 0x06,
};

// Status bits the program acts on.
constexpr uint8_t MOTOR_BUSY_MASK = 0x03; // the drive is executing a command
constexpr uint8_t MOTOR_HOME_BIT = 0x10;  // no Init and no backward move while set

// What the caller passes to Open.
struct TMotorOpenSettings {
    uint8_t port_kind = LINK_MODE_USB;
    std::string device_name = MOTOR_USB_DESCRIPTION;
    uint32_t baud = MOTOR_BAUD;
};

class TMotorInterface {
public:
    TMotorInterface();
    ~TMotorInterface();
    TMotorInterface(const TMotorInterface&) = delete;
    TMotorInterface& operator=(const TMotorInterface&) = delete;

    uint32_t Open(const TMotorOpenSettings& open);
    uint32_t Close();
    uint32_t GetStatus(uint8_t& status_out);
    uint32_t GetStatus2(uint8_t& status_out);
    uint32_t Init();
    uint32_t MoveForward(uint32_t steps);
    uint32_t MoveBackward(uint32_t steps);

    bool IsOpen() const { return port.IsOpen(); }
    // Where the stage should stand, in motor steps from home: Init sets 0, every accepted
    // move adds or takes its steps. The drive has no position request; this is what the
    // tool commanded, so a limit stop or a lost step is not in it. Negative: not known
    // (no Init since Open).
    int64_t CommandedSteps() const { return commanded_steps; }

    uint8_t io_buffer[16] = {};
    TInterface port;
    uint32_t last_result = 0;
    uint8_t status = 0;
    TMotorOpenSettings open_settings;
    TLinkSettings link_settings;
    TIoBuffer write_request;
    TIoBuffer read_request;

private:
    int64_t commanded_steps = -1;
    uint32_t Transact(uint32_t request_length, uint32_t reply_length);
    uint32_t StatusRequest(uint8_t command, uint8_t& status_out);
    uint32_t MoveRequest(uint8_t command, uint32_t steps);
};

} // namespace zq455

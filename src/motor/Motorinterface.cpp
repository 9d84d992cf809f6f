// One transaction: the request goes out one byte per write, so the link empties the
// receive queue before each byte and nothing left from an earlier exchange (a reply that
// came too late, a stray byte) can pass for this reply. Then one counted read.
//
//   status, status 2:  [0x00 | 0x06]                -> 6 bytes, status in b0, b1 low nibbles
//   init:              [0x03]                       -> 2 bytes, not interpreted
//   moves:             [0x04 | 0x05] [8 nibbles]    -> 6 bytes, status kept, not returned

#include "Motorinterface.h"

#include "Protocol.h"

#include "link/ResultCodes.h"

namespace zq455 {

using namespace motor;

TMotorInterface::TMotorInterface() = default;

// The port closes its device itself when it is destroyed.
TMotorInterface::~TMotorInterface() = default;

uint32_t TMotorInterface::Open(const TMotorOpenSettings& open) {
    commanded_steps = -1;
    open_settings = open;
    link_settings = TLinkSettings{};
    link_settings.mode = open.port_kind;
    link_settings.name = open.device_name;
    link_settings.stop_bits = 0;
    link_settings.parity = 0;
    link_settings.baud = open.baud;
    link_settings.usb_flags = 0x80;
    link_settings.in_queue = 16;
    link_settings.out_queue = 16;
    link_settings.read_interval_ms = 10;
    link_settings.read_total_ms = 1000;
    last_result = port.Open(link_settings);
    return last_result;
}

uint32_t TMotorInterface::Close() {
    last_result = port.Close();
    return last_result;
}

uint32_t TMotorInterface::Transact(uint32_t request_length, uint32_t reply_length) {
    for (uint32_t i = 0; i < request_length; ++i) {
        write_request = TIoBuffer{io_buffer + i, 1, nullptr};
        last_result = port.Write(write_request);
        // A request cut short stays incomplete on the wire; the next one starts at byte 0.
        if (last_result != RESULT_OK)
            return last_result;
    }
    read_request = TIoBuffer{io_buffer, reply_length, nullptr};
    last_result = port.Read(read_request);
    return last_result;
}

uint32_t TMotorInterface::StatusRequest(uint8_t command, uint8_t& status_out) {
    io_buffer[0] = command;
    if (Transact(1, STATUS_REPLY_LENGTH) == RESULT_OK) {
        status = DecodeStatus(io_buffer);
        status_out = status;
    }
    return last_result;
}

uint32_t TMotorInterface::MoveRequest(uint8_t command, uint32_t steps) {
    io_buffer[0] = command;
    EncodeSteps(steps, io_buffer + 1);
    if (Transact(MOVE_REQUEST_LENGTH, STATUS_REPLY_LENGTH) == RESULT_OK)
        status = DecodeStatus(io_buffer);
    return last_result;
}

uint32_t TMotorInterface::GetStatus(uint8_t& status_out) {
    return StatusRequest(MOTOR_GET_STATUS, status_out);
}

uint32_t TMotorInterface::GetStatus2(uint8_t& status_out) {
    return StatusRequest(MOTOR_GET_STATUS2, status_out);
}

uint32_t TMotorInterface::Init() {
    io_buffer[0] = MOTOR_INIT;
    if (Transact(1, INIT_REPLY_LENGTH) == RESULT_OK)
        commanded_steps = 0;
    return last_result;
}

uint32_t TMotorInterface::MoveForward(uint32_t steps) {
    if (MoveRequest(MOTOR_MOVE_FORWARD, steps) == RESULT_OK && commanded_steps >= 0)
        commanded_steps += steps;
    return last_result;
}

uint32_t TMotorInterface::MoveBackward(uint32_t steps) {
    if (MoveRequest(MOTOR_MOVE_BACKWARD, steps) == RESULT_OK && commanded_steps >= 0)
        commanded_steps = std::max<int64_t>(0, commanded_steps - steps);
    return last_result;
}

} // namespace zq455

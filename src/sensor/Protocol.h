#pragma once
// The sensor's wire format, shared by the protocol object and the virtual sensor.
//
// Every field travels in 7-bit groups, least significant group first. The start byte of a
// packet is the only byte with bit 7 clear; every later byte has it set.
//
//   request: [addr & 0x1F] [len lo|0x80] [len hi|0x80] [cmd|0x80] [payload|0x80 ...] [crc 3 groups|0x80]
//            crc = CRC-16/ARC over cmd and the payload values
//   reply:   [start]       [len lo|0x80] [len hi|0x80] [data|0x80 ...]              [crc 3 groups|0x80]
//            crc over the data values (bit 7 cleared)
//   video:   [start] [rows 2] [width 2] [top 2] [left 2] [rows x width pixels] [crc 3]
//            crc over width, top, left and the pixels (bit 7 cleared); rows is not covered

#include "link/Crc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq455::protocol {

constexpr uint16_t CRC_POLY = 0xA001;
// Packet data area of the protocol object: a reply's data always fits, a request's payload
// must stay below it (the length field has 14 bits).
constexpr uint32_t PACKET_DATA_SIZE = 16384;
constexpr uint32_t REQUEST_OVERHEAD = 7; // start, 2 length, command, 3 checksum
constexpr uint32_t REPLY_OVERHEAD = 6;   // start, 2 length, 3 checksum
constexpr uint32_t VIDEO_OVERHEAD = 12;  // start, rows, width, top, left, 3 checksum
constexpr uint8_t WIRE_BIT = 0x80;

// Command codes.
enum : uint8_t {
    CMD_READ_IDENTITY = 0x01,
    CMD_READ_USER_PARAMETER = 0x02,
    CMD_LOAD_USER_PARAMETER = 0x03,
    CMD_FLASH_USER_PARAMETERS = 0x04,
    CMD_GET_RESULT = 0x05,
    CMD_GET_VIDEO = 0x06,
    CMD_ROTATE_SYSTEM = 0x0A,
    CMD_READ_ANGLE = 0x0B,
    CMD_FLASH_ANGLE = 0x0C,
    CMD_READ_FACTORY = 0x20,
    CMD_LOAD_FACTORY = 0x21,
    CMD_FLASH_FACTORY = 0x22,
    CMD_TRANSMIT_TABLE = 0x23,
    CMD_SAVE_TABLE = 0x24,
    CMD_READ_CALIBR_DATA = 0x25,
};

// The one byte of the FLASH commands, echoed as their confirmation; a table save is
// requested with FLASH_STORE and confirmed with TABLE_SAVED.
constexpr uint8_t FLASH_STORE = 0x55;
constexpr uint8_t FLASH_RESTORE = 0x33;
constexpr uint8_t TABLE_SAVED = 0x33;

// Byte k = (value >> 7k) & 0x7F, for `groups` bytes; bit 7 is not set here.
void EncodeGroups(uint32_t value, unsigned groups, uint8_t* out);
// Value of `groups` bytes, low group first; bit 7 of each byte is ignored.
uint32_t DecodeGroups(const uint8_t* in, unsigned groups);

// Frames a request into `out` (payload_length + 7 bytes). The payload values must be 7-bit.
void FrameRequest(const TCRC& crc, uint8_t address, uint8_t command, const uint8_t* payload,
                  uint16_t payload_length, uint8_t* out);
std::vector<uint8_t> BuildRequest(const TCRC& crc, uint8_t address, uint8_t command,
                                  const std::vector<uint8_t>& payload);
// An ordinary reply carrying `data` (7-bit values).
std::vector<uint8_t> BuildReply(const TCRC& crc, const std::vector<uint8_t>& data, uint8_t start = 0);
// A video frame reply; `pixels` holds rows x width 7-bit values.
std::vector<uint8_t> BuildVideoReply(const TCRC& crc, uint16_t rows, uint16_t width, uint16_t top,
                                     uint16_t left, const uint8_t* pixels, uint8_t start = 0);

} // namespace zq455::protocol

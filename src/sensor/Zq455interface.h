#pragma once
// TZQ455Interface: the sensor's protocol object. It frames requests, receives and checks the
// two kinds of reply, and offers one operation per sensor command. Every operation returns
// a result code (link/ResultCodes.h) and leaves it in `status`.

#include "link/Crc.h"
#include "link/Interface.h"
#include "link/Pause.h"
#include "sensor/Protocol.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zq455 {

// The record the window fills at each connect and hands to Open.
struct TSensorConnection {
    uint32_t mode = LINK_MODE_USB;
    std::string name;
    uint32_t baud = 921600;
    uint8_t address = 0;
    uint32_t reply_timeout_ms = 1000; // how long a reply may take, beyond the byte gap a byte
    bool short_replies = false;       // the time-out is reply_timeout_ms alone (the scan)
};

// Progress of a table transfer: blocks done so far, blocks in all.
using TTransferProgress = std::function<void(uint32_t done, uint32_t total)>;
// Progress of a camera frame's reply: lines received so far, lines and pixels a line the
// frame announced.
using TFrameProgress = std::function<void(uint32_t lines_done, uint32_t lines, uint32_t width)>;

constexpr const char* SENSOR_USB_DESCRIPTION = "D2XX Recovery PID for XP";
// A start-byte hunt gives up after this many bytes with bit 7 set: more than a whole packet
// of the largest size, so no real reply is ever cut off by it.
constexpr uint32_t START_BYTE_HUNT_LIMIT = protocol::PACKET_DATA_SIZE + protocol::REQUEST_OVERHEAD;
// The window's frame store; GetVideo refuses a frame that announces more.
constexpr uint32_t VIDEO_FRAME_CAPACITY = 640 * 512;
// Seconds a frame reply of `rows` x `width` pixels takes on the wire at `baud` bit/s: the start
// byte, the four 2-byte header fields, the pixels and the 3-byte CRC, 10 bits a byte (8N1).
inline double FrameReplySeconds(uint32_t rows, uint32_t width, uint32_t baud) {
    const double bytes = 1.0 + 8.0 + static_cast<double>(rows) * width + 3.0;
    return baud ? bytes * 10.0 / baud : 0.0;
}
// TransmitTable sends the table in blocks of this many values (the last one may be shorter).
constexpr uint32_t TABLE_BLOCK_VALUES = 4096;
// The transmit table: 1024 z-slots x 640 columns.
constexpr uint32_t TABLE_VALUES = 1024 * 640;

class TZQ455Interface {
public:
    TZQ455Interface();
    ~TZQ455Interface();
    TZQ455Interface(const TZQ455Interface&) = delete;
    TZQ455Interface& operator=(const TZQ455Interface&) = delete;

    // Connection and packet layer.
    uint32_t Open(const TSensorConnection& record);
    uint32_t Close();
    uint32_t SendPacket(uint8_t command, const uint8_t* payload, uint16_t payload_length);
    uint32_t ReceivePacket(uint8_t* data, uint16_t& data_length);
    uint32_t ReceiveVideoPacket(uint8_t* pixels, uint32_t capacity, uint16_t& rows, uint16_t& width,
                                uint16_t& top, uint16_t& left, const TFrameProgress& progress = {});

    // Command set.
    uint32_t ReadIdentity(uint16_t* values);
    uint32_t ReadUserParameter(uint8_t index, uint16_t& value);
    uint32_t LoadUserParameter(uint8_t index, uint16_t value);
    uint32_t ReadUserParameters(uint16_t* values);
    uint32_t LoadUserParameters(const uint16_t* values);
    uint32_t FlashUserParameters(bool restore);
    // `capacity` is the number of u16 entries the caller's array holds.
    uint32_t GetResult(uint8_t& result_status, uint16_t& count, uint16_t* values, uint32_t capacity);
    // `progress` hears of every line as it arrives (and of none when the header is refused).
    uint32_t GetVideo(uint8_t* pixels, uint32_t capacity, uint16_t& rows, uint16_t& width, uint16_t& top,
                      uint16_t& left, const TFrameProgress& progress = {});
    uint32_t RotateSystem(uint32_t& value);
    uint32_t ReadAngle(uint32_t& value);
    uint32_t FlashAngle(bool restore);
    uint32_t ReadFactoryParameters(uint16_t* values);
    uint32_t LoadFactoryParameters(const uint16_t* values);
    uint32_t FlashFactoryParameters(bool restore);
    uint32_t TransmitTable(const uint16_t* values, uint32_t count, const TTransferProgress& progress = {});
    uint32_t SaveTable();
    // Stores at most `capacity` values; `count` is the number of values stored.
    uint32_t ReadCalibrData(uint16_t* values, uint32_t capacity, uint32_t& count);

    bool IsOpen() const { return link.IsOpen(); }

    uint16_t crc_poly = protocol::CRC_POLY;
    uint16_t crc_value = 0;
    uint16_t crc_received = 0;
    uint8_t buffer[protocol::PACKET_DATA_SIZE] = {};
    uint8_t crc_bytes[3] = {};
    TCRC crc;
    TInterface link;
    uint32_t status = 0;
    TSensorConnection connection;
    TLinkSettings link_settings;
    TIoBuffer tx;
    TIoBuffer rx;
    uint16_t identity[8] = {};
    uint16_t factory[48] = {};
    uint16_t user[13] = {};

    // The fixed pauses go through here; tests shorten them.
    TSleepFunction Sleep = SleepMilliseconds;

private:
    uint32_t ReadLink(uint8_t* data, uint32_t length);
    uint32_t HuntStartByte();
    // A FLASH store (0x55) or restore (0x33) confirmed by the same byte; `follow_defaults`
    // moves the link to the default address and rate on a restore.
    uint32_t FlashCommand(uint8_t command, bool restore, bool follow_defaults);
    uint32_t ReadAngleCommand(uint8_t command, uint32_t& value);

    uint8_t packet[protocol::PACKET_DATA_SIZE + protocol::REQUEST_OVERHEAD] = {};
};

} // namespace zq455

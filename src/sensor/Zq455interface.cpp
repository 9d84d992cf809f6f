// Request:  [address & 0x1F] [length: 2 groups] [command] [payload ...] [CRC: 3 groups]
//           CRC-16/ARC over the command and the payload values.
// Reply:    [start] [length: 2 groups] [data ...] [CRC: 3 groups], CRC over the data values.
// Video:    [start] [rows] [width] [top] [left] [rows x width pixels] [CRC]; 2 groups each,
//           CRC over width, top, left and the pixels, rows not covered.
// Every byte after the start byte has bit 7 set; the start byte has it clear.

#include "Zq455interface.h"

#include "link/ResultCodes.h"

#include <cstring>

namespace zq455 {

using namespace protocol;

TZQ455Interface::TZQ455Interface() : crc(protocol::CRC_POLY) {}

TZQ455Interface::~TZQ455Interface() = default;

uint32_t TZQ455Interface::Open(const TSensorConnection& record) {
    connection = record;
    link_settings = TLinkSettings{};
    link_settings.mode = static_cast<uint8_t>(record.mode);
    link_settings.name = record.name;
    link_settings.stop_bits = 0;
    link_settings.parity = 0;
    link_settings.baud = record.baud;
    link_settings.usb_flags = 0x80;
    link_settings.in_queue = 1024;
    link_settings.out_queue = 1024;
    link_settings.read_interval_ms = 10;
    link_settings.read_total_ms = 1000;
    status = link.Open(link_settings);
    return status;
}

uint32_t TZQ455Interface::Close() {
    status = link.Close();
    return status;
}

uint32_t TZQ455Interface::SendPacket(uint8_t command, const uint8_t* payload, uint16_t payload_length) {
    if (payload_length >= PACKET_DATA_SIZE) {
        // The length field has 14 bits; no command sends this much.
        status = RESULT_UNKNOWN_ERROR;
        return status;
    }
    crc_value = 0;
    const uint8_t code = command & 0x7F;
    crc.Update(crc_value, &code, 1);
    crc.Update(crc_value, payload, payload_length);
    FrameRequest(crc, connection.address, command, payload, payload_length, packet);
    tx.data = packet;
    tx.length = payload_length + REQUEST_OVERHEAD;
    tx.overlapped = nullptr;
    status = link.Write(tx);
    return status;
}

uint32_t TZQ455Interface::ReadLink(uint8_t* data, uint32_t length) {
    rx.data = data;
    rx.length = length;
    rx.overlapped = nullptr;
    return link.Read(rx);
}

// Skips bytes with bit 7 set until a start byte arrives. A hunt that reaches the limit ends
// with "Packet error.": bytes arrive, but they do not make a packet.
uint32_t TZQ455Interface::HuntStartByte() {
    uint8_t byte = 0;
    for (uint32_t skipped = 0; skipped <= START_BYTE_HUNT_LIMIT; ++skipped) {
        if (uint32_t code = ReadLink(&byte, 1))
            return code;
        if ((byte & WIRE_BIT) == 0)
            return RESULT_OK;
    }
    return RESULT_PACKET_ERROR;
}

uint32_t TZQ455Interface::ReceivePacket(uint8_t* data, uint16_t& data_length) {
    data_length = 0;
    uint8_t groups[2];
    if ((status = HuntStartByte()))
        return status;
    if ((status = ReadLink(groups, 2)))
        return status;
    // Two groups give at most 16383, which the 16384-byte data area always holds.
    const uint16_t n = static_cast<uint16_t>(DecodeGroups(groups, 2));
    if ((status = ReadLink(data, n)))
        return status;
    if ((status = ReadLink(crc_bytes, 3)))
        return status;
    for (uint16_t i = 0; i < n; ++i)
        data[i] &= 0x7F;
    crc_value = 0;
    crc.Update(crc_value, data, n);
    crc_received = static_cast<uint16_t>(DecodeGroups(crc_bytes, 3));
    if (crc_value != crc_received) {
        status = RESULT_PACKET_ERROR;
        return status;
    }
    data_length = n;
    status = RESULT_OK;
    return status;
}

uint32_t TZQ455Interface::ReceiveVideoPacket(uint8_t* pixels, uint32_t capacity, uint16_t& rows,
                                             uint16_t& width, uint16_t& top, uint16_t& left) {
    rows = 0;
    width = 0;
    uint8_t header[8];
    if ((status = HuntStartByte()))
        return status;
    for (int field = 0; field < 4; ++field)
        if ((status = ReadLink(header + 2 * field, 2)))
            return status;
    for (int i = 2; i < 8; ++i)
        header[i] &= 0x7F;
    const uint16_t frame_rows = static_cast<uint16_t>(DecodeGroups(header, 2));
    const uint16_t frame_width = static_cast<uint16_t>(DecodeGroups(header + 2, 2));
    const uint16_t frame_top = static_cast<uint16_t>(DecodeGroups(header + 4, 2));
    const uint16_t frame_left = static_cast<uint16_t>(DecodeGroups(header + 6, 2));
    const uint32_t count = static_cast<uint32_t>(frame_rows) * frame_width;
    // The header alone announces the frame's size; one that does not fit the caller's store
    // is refused before a pixel is read ("Unknown error.", a reply of the wrong length).
    if (count > capacity) {
        status = RESULT_UNKNOWN_ERROR;
        return status;
    }
    crc_value = 0;
    crc.Update(crc_value, header + 2, 6);
    for (uint32_t line = 0; line < frame_rows; ++line)
        if ((status = ReadLink(pixels + static_cast<size_t>(line) * frame_width, frame_width)))
            return status;
    if ((status = ReadLink(crc_bytes, 3)))
        return status;
    for (uint32_t i = 0; i < count; ++i)
        pixels[i] &= 0x7F;
    crc.Update(crc_value, pixels, count);
    crc_received = static_cast<uint16_t>(DecodeGroups(crc_bytes, 3));
    if (crc_value != crc_received) {
        status = RESULT_PACKET_ERROR;
        return status;
    }
    left = frame_left;
    top = frame_top;
    width = frame_width;
    rows = frame_rows;
    status = RESULT_OK;
    return status;
}

} // namespace zq455

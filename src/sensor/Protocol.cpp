#include "Protocol.h"

namespace zq455::protocol {

void EncodeGroups(uint32_t value, unsigned groups, uint8_t* out) {
    for (unsigned k = 0; k < groups; ++k)
        out[k] = static_cast<uint8_t>((value >> (7 * k)) & 0x7F);
}

uint32_t DecodeGroups(const uint8_t* in, unsigned groups) {
    uint32_t value = 0;
    for (unsigned k = 0; k < groups; ++k)
        value |= static_cast<uint32_t>(in[k] & 0x7F) << (7 * k);
    return value;
}

void FrameRequest(const TCRC& crc, uint8_t address, uint8_t command, const uint8_t* payload,
                  uint16_t payload_length, uint8_t* out) {
    uint16_t sum = 0;
    const uint8_t code = command & 0x7F;
    crc.Update(sum, &code, 1);
    crc.Update(sum, payload, payload_length);

    out[0] = address & 0x1F;
    EncodeGroups(payload_length, 2, out + 1);
    out[1] |= WIRE_BIT;
    out[2] |= WIRE_BIT;
    out[3] = code | WIRE_BIT;
    for (uint16_t i = 0; i < payload_length; ++i)
        out[4 + i] = (payload[i] & 0x7F) | WIRE_BIT;
    uint8_t* tail = out + 4 + payload_length;
    EncodeGroups(sum, 3, tail);
    for (int k = 0; k < 3; ++k)
        tail[k] |= WIRE_BIT;
}

std::vector<uint8_t> BuildRequest(const TCRC& crc, uint8_t address, uint8_t command,
                                  const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> packet(payload.size() + REQUEST_OVERHEAD);
    FrameRequest(crc, address, command, payload.data(), static_cast<uint16_t>(payload.size()), packet.data());
    return packet;
}

std::vector<uint8_t> BuildReply(const TCRC& crc, const std::vector<uint8_t>& data, uint8_t start) {
    std::vector<uint8_t> packet;
    packet.reserve(data.size() + REPLY_OVERHEAD);
    packet.push_back(start & 0x7F);
    uint8_t groups[3];
    EncodeGroups(static_cast<uint32_t>(data.size()), 2, groups);
    packet.push_back(groups[0] | WIRE_BIT);
    packet.push_back(groups[1] | WIRE_BIT);
    uint16_t sum = 0;
    for (uint8_t value : data) {
        const uint8_t v = value & 0x7F;
        crc.Update(sum, &v, 1);
        packet.push_back(v | WIRE_BIT);
    }
    EncodeGroups(sum, 3, groups);
    for (uint8_t g : groups)
        packet.push_back(g | WIRE_BIT);
    return packet;
}

std::vector<uint8_t> BuildVideoReply(const TCRC& crc, uint16_t rows, uint16_t width, uint16_t top,
                                     uint16_t left, const uint8_t* pixels, uint8_t start) {
    const size_t count = static_cast<size_t>(rows) * width;
    std::vector<uint8_t> packet(count + VIDEO_OVERHEAD);
    packet[0] = start & 0x7F;
    EncodeGroups(rows, 2, &packet[1]);
    EncodeGroups(width, 2, &packet[3]);
    EncodeGroups(top, 2, &packet[5]);
    EncodeGroups(left, 2, &packet[7]);
    uint16_t sum = 0;
    crc.Update(sum, &packet[3], 6);
    for (size_t i = 0; i < count; ++i)
        packet[9 + i] = pixels[i] & 0x7F;
    crc.Update(sum, &packet[9], static_cast<uint32_t>(count));
    EncodeGroups(sum, 3, &packet[9 + count]);
    for (size_t i = 1; i < packet.size(); ++i)
        packet[i] |= WIRE_BIT;
    return packet;
}

} // namespace zq455::protocol

// Request:  [address & 0x1F] [length: 2 groups] [command] [payload ...] [CRC: 3 groups]
//           CRC-16/ARC over the command and the payload values.
// Reply:    [start] [length: 2 groups] [data ...] [CRC: 3 groups], CRC over the data values.
// Video:    [start] [rows] [width] [top] [left] [rows x width pixels] [CRC]; 2 groups each,
//           CRC over width, top, left and the pixels, rows not covered.
// Every byte after the start byte has bit 7 set; the start byte has it clear.

#include "Zq455interface.h"

#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"

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
    link_settings.read_total_ms = record.reply_timeout_ms;
    link_settings.read_per_byte_ms = record.short_replies ? 0 : -1;
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
                                             uint16_t& width, uint16_t& top, uint16_t& left,
                                             const TFrameProgress& progress) {
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
    for (uint32_t line = 0; line < frame_rows; ++line) {
        if ((status = ReadLink(pixels + static_cast<size_t>(line) * frame_width, frame_width)))
            return status;
        if (progress)
            progress(line + 1, frame_rows, frame_width);
    }
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

// ---------------------------------------------------------------------------------------------
// Command set

namespace {

constexpr uint32_t ADDRESS_PAUSE_MS = 1000;
constexpr uint32_t BAUD_PAUSE_MS = 1000;
// The sensor writes the table to FLASH meanwhile and answers only afterwards.
constexpr uint32_t TABLE_SAVE_PAUSE_MS = 40000;
constexpr uint32_t ANGLE_GROUPS = 5;

// Decodes `count` values of factory indexes first.. from `data`, each in its width, one after the other.
void DecodeBlock(const uint8_t* data, unsigned first, unsigned count, uint16_t* values) {
    for (unsigned i = 0; i < count; ++i) {
        const unsigned width = FactoryWidth(first + i);
        values[i] = static_cast<uint16_t>(DecodeGroups(data, width));
        data += width;
    }
}

} // namespace

uint32_t TZQ455Interface::ReadIdentity(uint16_t* values) {
    uint16_t length = 0;
    if (SendPacket(CMD_READ_IDENTITY, nullptr, 0) || ReceivePacket(buffer, length))
        return status;
    if (length != IdentityBlockBytes())
        return status = RESULT_UNKNOWN_ERROR;
    DecodeBlock(buffer, IDENTITY_FIRST_FACTORY, IDENTITY_COUNT, identity);
    std::memcpy(values, identity, sizeof identity);
    return status;
}

uint32_t TZQ455Interface::ReadUserParameter(uint8_t index, uint16_t& value) {
    if (index >= USER_COUNT)
        return status = RESULT_OK;
    const uint8_t number = UserParameterNumber(index);
    uint16_t length = 0;
    if (SendPacket(CMD_READ_USER_PARAMETER, &number, 1) || ReceivePacket(buffer, length))
        return status;
    const unsigned width = UserWidth(index);
    if (length != width)
        return status = RESULT_UNKNOWN_ERROR;
    user[index] = static_cast<uint16_t>(DecodeGroups(buffer, width));
    value = user[index];
    return status;
}

uint32_t TZQ455Interface::LoadUserParameter(uint8_t index, uint16_t value) {
    if (index >= USER_COUNT)
        return status = RESULT_OK;
    uint8_t payload[3];
    payload[0] = UserParameterNumber(index);
    const unsigned width = UserWidth(index);
    EncodeGroups(value, width, payload + 1);
    if (SendPacket(CMD_LOAD_USER_PARAMETER, payload, static_cast<uint16_t>(1 + width)))
        return status;
    user[index] = value;
    if (index == USER_NETWORK_ADDRESS) {
        // The sensor answers at its new address from now on; give it time to take it.
        connection.address = static_cast<uint8_t>(value & 0xFF);
        Sleep(ADDRESS_PAUSE_MS);
    } else if (index == USER_UART_BAUDRATE) {
        // The request left at the old rate; the sensor switches after a moment, then we follow.
        Sleep(BAUD_PAUSE_MS);
        const uint32_t baud = BaudOfCode(value);
        connection.baud = baud;
        status = link.SetBaudRate(baud);
    }
    return status;
}

uint32_t TZQ455Interface::ReadUserParameters(uint16_t* values) {
    uint16_t value = 0;
    for (uint8_t index = 0; index < USER_COUNT; ++index)
        if (ReadUserParameter(index, value))
            return status;
    std::memcpy(values, user, sizeof user);
    return status;
}

uint32_t TZQ455Interface::LoadUserParameters(const uint16_t* values) {
    std::memcpy(user, values, sizeof user);
    for (uint8_t index = 0; index < USER_COUNT; ++index)
        if (LoadUserParameter(index, user[index]))
            return status;
    return status;
}

uint32_t TZQ455Interface::FlashCommand(uint8_t command, bool restore, bool follow_defaults) {
    const uint8_t code = restore ? FLASH_RESTORE : FLASH_STORE;
    uint16_t length = 0;
    if (SendPacket(command, &code, 1) || ReceivePacket(buffer, length))
        return status;
    if (length != 1)
        return status = RESULT_UNKNOWN_ERROR;
    if (restore && follow_defaults) {
        // The sensor has taken its default address and rate before it is known whether the
        // confirmation is right; follow it there in any case.
        connection.address = DEFAULT_ADDRESS;
        connection.baud = DEFAULT_BAUD;
        if (link.SetBaudRate(DEFAULT_BAUD))
            return status = link.status;
    }
    if (buffer[0] != code)
        return status = RESULT_FLASH_ERROR;
    return status = RESULT_OK;
}

uint32_t TZQ455Interface::FlashUserParameters(bool restore) {
    return FlashCommand(CMD_FLASH_USER_PARAMETERS, restore, true);
}

uint32_t TZQ455Interface::GetResult(uint8_t& result_status, uint16_t& count, uint16_t* values,
                                    uint32_t capacity) {
    uint16_t length = 0;
    if (SendPacket(CMD_GET_RESULT, nullptr, 0))
        return status;
    // The one retry of the device layers: a profile lost on the way is asked for once more.
    if (ReceivePacket(buffer, length) &&
        (SendPacket(CMD_GET_RESULT, nullptr, 0) || ReceivePacket(buffer, length)))
        return status;
    // A reply must hold what it announces, and the announced values must fit the caller's
    // array; anything else is refused as a reply of the wrong length and nothing is written.
    if (length < 3)
        return status = RESULT_UNKNOWN_ERROR;
    const uint16_t pairs = static_cast<uint16_t>(DecodeGroups(buffer + 1, 2));
    const uint32_t value_count = 2u * pairs;
    if (3u + 2u * value_count > length || value_count > capacity)
        return status = RESULT_UNKNOWN_ERROR;
    result_status = buffer[0];
    count = pairs;
    for (uint32_t i = 0; i < value_count; ++i)
        values[i] = static_cast<uint16_t>(DecodeGroups(buffer + 3 + 2 * i, 2));
    return status;
}

uint32_t TZQ455Interface::GetVideo(uint8_t* pixels, uint32_t capacity, uint16_t& rows, uint16_t& width,
                                   uint16_t& top, uint16_t& left, const TFrameProgress& progress) {
    if (SendPacket(CMD_GET_VIDEO, nullptr, 0))
        return status;
    return ReceiveVideoPacket(pixels, capacity, rows, width, top, left, progress);
}

uint32_t TZQ455Interface::ReadAngleCommand(uint8_t command, uint32_t& value) {
    uint16_t length = 0;
    if (SendPacket(command, nullptr, 0) || ReceivePacket(buffer, length))
        return status;
    if (length != ANGLE_GROUPS)
        return status = RESULT_UNKNOWN_ERROR;
    value = DecodeGroups(buffer, ANGLE_GROUPS);
    return status;
}

uint32_t TZQ455Interface::RotateSystem(uint32_t& value) {
    return ReadAngleCommand(CMD_ROTATE_SYSTEM, value);
}

uint32_t TZQ455Interface::ReadAngle(uint32_t& value) {
    return ReadAngleCommand(CMD_READ_ANGLE, value);
}

uint32_t TZQ455Interface::FlashAngle(bool restore) {
    return FlashCommand(CMD_FLASH_ANGLE, restore, false);
}

uint32_t TZQ455Interface::ReadFactoryParameters(uint16_t* values) {
    uint16_t length = 0;
    if (SendPacket(CMD_READ_FACTORY, nullptr, 0) || ReceivePacket(buffer, length))
        return status;
    if (length != FactoryBlockBytes())
        return status = RESULT_UNKNOWN_ERROR;
    DecodeBlock(buffer, 0, FACTORY_COUNT, factory);
    std::memcpy(values, factory, sizeof factory);
    return status;
}

uint32_t TZQ455Interface::LoadFactoryParameters(const uint16_t* values) {
    std::memcpy(factory, values, sizeof factory);
    // Position alone identifies a value; the address and rate inside the block take no
    // effect on the link here (only the user parameter commands move it).
    uint8_t* out = buffer;
    for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
        EncodeGroups(factory[i], FactoryWidth(i), out);
        out += FactoryWidth(i);
    }
    return SendPacket(CMD_LOAD_FACTORY, buffer, static_cast<uint16_t>(out - buffer));
}

uint32_t TZQ455Interface::FlashFactoryParameters(bool restore) {
    return FlashCommand(CMD_FLASH_FACTORY, restore, false);
}

uint32_t TZQ455Interface::TransmitTable(const uint16_t* values, uint32_t count,
                                        const TTransferProgress& progress) {
    const uint32_t full_blocks = count / TABLE_BLOCK_VALUES;
    const uint32_t remainder = count % TABLE_BLOCK_VALUES;
    const uint32_t blocks = full_blocks + (remainder ? 1 : 0);
    status = RESULT_OK;
    for (uint32_t block = 0; block < blocks; ++block) {
        const uint32_t offset = block * TABLE_BLOCK_VALUES;
        const uint32_t n = block < full_blocks ? TABLE_BLOCK_VALUES : remainder;
        EncodeGroups(offset, 4, buffer);
        EncodeGroups(n, 2, buffer + 4);
        for (uint32_t j = 0; j < n; ++j)
            EncodeGroups(values[offset + j], 2, buffer + 6 + 2 * j);
        uint16_t length = 0;
        if (SendPacket(CMD_TRANSMIT_TABLE, buffer, static_cast<uint16_t>(6 + 2 * n)) ||
            ReceivePacket(buffer, length))
            return status;
        // The sensor accepts a block with a first data value of 0. A reply without data
        // confirms nothing, so it counts as a refusal too.
        if (length == 0 || buffer[0] != 0)
            return status = RESULT_UNKNOWN_ERROR;
        if (progress)
            progress(block + 1, blocks);
    }
    return status;
}

uint32_t TZQ455Interface::SaveTable() {
    const uint8_t code = FLASH_STORE;
    if (SendPacket(CMD_SAVE_TABLE, &code, 1))
        return status;
    Sleep(TABLE_SAVE_PAUSE_MS);
    uint16_t length = 0;
    if (ReceivePacket(buffer, length))
        return status;
    if (length != 1)
        return status = RESULT_UNKNOWN_ERROR;
    // The sensor confirms a stored table with 0x33, not with the 0x55 it was sent.
    if (buffer[0] != TABLE_SAVED)
        return status = RESULT_FLASH_ERROR;
    return status;
}

uint32_t TZQ455Interface::ReadCalibrData(uint16_t* values, uint32_t capacity, uint32_t& count) {
    count = 0;
    uint16_t length = 0;
    if (SendPacket(CMD_READ_CALIBR_DATA, nullptr, 0) || ReceivePacket(buffer, length))
        return status;
    // Two groups a value, an odd last byte ignored; values beyond the caller's array are
    // dropped rather than refused, as the caller reads only the count the first value gives.
    const uint32_t available = length / 2u;
    const uint32_t stored = available < capacity ? available : capacity;
    for (uint32_t i = 0; i < stored; ++i)
        values[i] = static_cast<uint16_t>(DecodeGroups(buffer + 2 * i, 2));
    count = stored;
    return status;
}

} // namespace zq455

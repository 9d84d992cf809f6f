#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "sensor/Zq455interface.h"
#include "support/BytePeer.h"

#include <gtest/gtest.h>

using namespace zq455;
using namespace zq455::protocol;
using zq455::test::MillisecondsSince;
using zq455::test::TBytePeer;
using TBytes = std::vector<uint8_t>;
using TClock = std::chrono::steady_clock;

namespace {

class Framing : public ::testing::Test {
protected:
    void SetUp() override {
        // USB mode through the directory, as the window opens the sensor: one read call.
        TUsbDeviceDirectory::Register("FRAMING TEST SENSOR", peer.Path());
        TSensorConnection record;
        record.mode = LINK_MODE_USB;
        record.name = "FRAMING TEST SENSOR";
        record.baud = 921600;
        record.address = 1;
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
    }
    void TearDown() override { TUsbDeviceDirectory::Unregister("FRAMING TEST SENSOR"); }

    uint32_t Receive(TBytes reply, uint16_t& length) {
        peer.Send(std::move(reply));
        uint32_t code = sensor.ReceivePacket(sensor.buffer, length);
        peer.WaitIdle();
        return code;
    }

    TBytePeer peer;
    TCRC crc{CRC_POLY};
    TZQ455Interface sensor;
};

TBytes Frame(uint16_t rows, uint16_t width, uint16_t top, uint16_t left) {
    TCRC crc(CRC_POLY);
    TBytes pixels(static_cast<size_t>(rows) * width);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7 % 128);
    return BuildVideoReply(crc, rows, width, top, left, pixels.data());
}

} // namespace

TEST_F(Framing, OpenCopiesTheSensorLinkSettings) {
    EXPECT_EQ(sensor.link_settings.mode, LINK_MODE_USB);
    EXPECT_EQ(sensor.link_settings.in_queue, 1024u);
    EXPECT_EQ(sensor.link_settings.out_queue, 1024u);
    EXPECT_EQ(sensor.link_settings.read_interval_ms, 10u);
    EXPECT_EQ(sensor.link_settings.read_total_ms, 1000u);
    EXPECT_EQ(sensor.link_settings.usb_flags & 0x80u, 0x80u);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 921600u);
}

TEST_F(Framing, SendPacketWritesOneFramedRequest) {
    ASSERT_EQ(sensor.SendPacket(0x01, nullptr, 0), RESULT_OK);
    const uint8_t payload[] = {0x03};
    ASSERT_EQ(sensor.SendPacket(0x02, payload, 1), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(15));
    EXPECT_EQ(peer.Received(), (TBytes{0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83, //
                                       0x01, 0x81, 0x80, 0x82, 0x83, 0xC1, 0xC2, 0x81}));
    sensor.connection.address = 37;
    ASSERT_EQ(sensor.SendPacket(0x01, nullptr, 0), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(22));
    EXPECT_EQ(peer.Received()[15], 0x05);
}

TEST_F(Framing, ReceiveSkipsNoiseBeforeTheStartByte) {
    TBytes reply = {0xFF, 0x85, 0x80};
    TBytes packet = BuildReply(crc, {0x12, 0x34, 0x7F});
    reply.insert(reply.end(), packet.begin(), packet.end());
    uint16_t length = 99;
    ASSERT_EQ(Receive(reply, length), RESULT_OK);
    ASSERT_EQ(length, 3);
    EXPECT_EQ(TBytes(sensor.buffer, sensor.buffer + 3), (TBytes{0x12, 0x34, 0x7F}));
}

TEST_F(Framing, ZeroLengthReplyWithChecksumOfNothingSucceeds) {
    uint16_t length = 99;
    EXPECT_EQ(Receive({0x00, 0x80, 0x80, 0x80, 0x80, 0x80}, length), RESULT_OK);
    EXPECT_EQ(length, 0);
}

TEST_F(Framing, WrongChecksumGivesPacketError) {
    TBytes packet = BuildReply(crc, {0x01, 0x02});
    packet[packet.size() - 3] ^= 0x01;
    uint16_t length = 99;
    EXPECT_EQ(Receive(packet, length), RESULT_PACKET_ERROR);
    EXPECT_EQ(length, 0);
    // A damaged data byte is caught the same way.
    packet = BuildReply(crc, {0x01, 0x02});
    packet[3] ^= 0x10;
    EXPECT_EQ(Receive(packet, length), RESULT_PACKET_ERROR);
}

TEST_F(Framing, SilenceGivesReadTimeoutWithinTheStartByteBound) {
    uint16_t length = 99;
    auto start = TClock::now();
    EXPECT_EQ(sensor.ReceivePacket(sensor.buffer, length), RESULT_READ_TIMEOUT);
    double elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 1005.0);
    EXPECT_LT(elapsed, 1250.0);
    EXPECT_EQ(length, 0);
}

TEST_F(Framing, ReplyCutShortGivesReadTimeout) {
    TBytes packet = BuildReply(crc, {1, 2, 3, 4});
    packet.resize(packet.size() - 2);
    uint16_t length = 99;
    EXPECT_EQ(Receive(packet, length), RESULT_READ_TIMEOUT);
    EXPECT_EQ(length, 0);
}

TEST_F(Framing, EndlessNoiseEndsTheHuntWithPacketError) {
    peer.Send(TBytes(START_BYTE_HUNT_LIMIT + 10, 0x80));
    uint16_t length = 99;
    EXPECT_EQ(sensor.ReceivePacket(sensor.buffer, length), RESULT_PACKET_ERROR);
    EXPECT_EQ(length, 0);
    peer.WaitIdle();
}

TEST_F(Framing, VideoFrameIsReceivedLineByLine) {
    TBytes pixels(VIDEO_FRAME_CAPACITY, 0xAA);
    uint16_t rows = 1, width = 1, top = 1, left = 1;
    peer.Send(Frame(3, 5, 40, 64));
    ASSERT_EQ(sensor.ReceiveVideoPacket(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(width, 5);
    EXPECT_EQ(top, 40);
    EXPECT_EQ(left, 64);
    for (size_t i = 0; i < 15; ++i)
        EXPECT_EQ(pixels[i], i * 7 % 128);
    EXPECT_EQ(pixels[15], 0xAA);
}

TEST_F(Framing, VideoChecksumCoversWidthTopLeftAndPixelsButNotRows) {
    TBytes pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 9, width = 9, top = 0, left = 0;
    // A frame without pixels: only the header decides, and rows is outside the checksum.
    TBytes frame = Frame(4, 0, 10, 20);
    frame[1] = 0x80 | 9; // rows damaged from 4 to 9
    peer.Send(frame);
    EXPECT_EQ(sensor.ReceiveVideoPacket(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    EXPECT_EQ(rows, 9);
    peer.WaitIdle();

    // Width 8 damaged to 0 (a damage that changes the frame's size would end in a time-out),
    // then top, left and one pixel.
    const std::pair<size_t, uint8_t> damages[] = {{3, 0x08}, {5, 0x01}, {7, 0x01}, {9 + 6, 0x01}};
    for (auto [offset, mask] : damages) {
        frame = Frame(2, 8, 10, 20);
        frame[offset] ^= mask;
        rows = width = 77;
        peer.Send(frame);
        EXPECT_EQ(sensor.ReceiveVideoPacket(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left),
                  RESULT_PACKET_ERROR)
            << "damage at offset " << offset;
        EXPECT_EQ(rows, 0);
        EXPECT_EQ(width, 0);
        peer.WaitIdle();
    }
}

TEST_F(Framing, OversizeFrameIsRefusedWithoutWritingPastTheStore) {
    // A store of 64 bytes guarded on both sides; the frame announces 65.
    TBytes store(64 + 32, 0x5A);
    uint16_t rows = 1, width = 1, top = 0, left = 0;
    peer.Send(Frame(5, 13, 0, 0));
    EXPECT_EQ(sensor.ReceiveVideoPacket(store.data() + 16, 64, rows, width, top, left), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(store, TBytes(64 + 32, 0x5A));
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(width, 0);
    peer.WaitIdle();

    // 513 lines of 640 do not fit the window's frame store either.
    TBytes header = {0x00};
    uint8_t groups[2];
    for (uint16_t v : {uint16_t(513), uint16_t(640), uint16_t(0), uint16_t(0)}) {
        EncodeGroups(v, 2, groups);
        header.push_back(groups[0] | 0x80);
        header.push_back(groups[1] | 0x80);
    }
    peer.Send(header);
    TBytes frame_store(VIDEO_FRAME_CAPACITY);
    EXPECT_EQ(sensor.ReceiveVideoPacket(frame_store.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left),
              RESULT_UNKNOWN_ERROR);
}

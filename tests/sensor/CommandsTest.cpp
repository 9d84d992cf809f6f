// The command set against a scripted peer: the bytes each operation puts on the wire, and
// what it makes of well-formed, short, long and refused replies.

#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"
#include "support/BytePeer.h"

#include <gtest/gtest.h>

using namespace zq455;
using namespace zq455::protocol;
using zq455::test::TBytePeer;
using TBytes = std::vector<uint8_t>;

namespace {

constexpr const char* DEVICE = "COMMANDS TEST SENSOR";

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        TUsbDeviceDirectory::Register(DEVICE, peer.Path());
        sensor.Sleep = [this](uint32_t ms) {
            pauses.push_back(ms);
            baud_during_pause.push_back(peer.Pty().SlaveBaud());
        };
        TSensorConnection record;
        record.name = DEVICE;
        record.baud = baud;
        record.address = 0;
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
    }
    void TearDown() override { TUsbDeviceDirectory::Unregister(DEVICE); }

    // Queues a reply for the next request the program sends (not before it: the link empties
    // its receive queue when it writes).
    void Answer(const TBytes& data) { peer.SendAfter(peer.Received().size() + 1, BuildReply(crc, data)); }
    // Bytes of the request the program sent after `from` bytes.
    TBytes SentFrom(size_t from) {
        TBytes all = peer.Received();
        return TBytes(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    }

    uint32_t baud = 921600;
    TBytePeer peer;
    TCRC crc{CRC_POLY};
    TZQ455Interface sensor;
    std::vector<uint32_t> pauses;
    std::vector<uint32_t> baud_during_pause;
};

// Identity 455, 1, 12345, 0, 80, 50, 40, 60 in its widths 2, 1, 2, 2, 2, 2, 2, 2.
const TBytes IDENTITY_DATA = {0x47, 0x03, 0x01, 0x39, 0x60, 0x00, 0x00, 0x50,
                              0x00, 0x32, 0x00, 0x28, 0x00, 0x3C, 0x00};

} // namespace

TEST_F(Commands, ReadIdentityDecodesTheWidthsAndRefusesOtherLengths) {
    Answer(IDENTITY_DATA);
    uint16_t values[8] = {};
    ASSERT_EQ(sensor.ReadIdentity(values), RESULT_OK);
    EXPECT_EQ(peer.Received(), (TBytes{0x00, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}));
    const uint16_t expected[8] = {455, 1, 12345, 0, 80, 50, 40, 60};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(values[i], expected[i]) << i;
        EXPECT_EQ(sensor.identity[i], expected[i]) << i;
    }
    for (size_t length : {size_t(14), size_t(16)}) {
        TBytes data = IDENTITY_DATA;
        data.resize(length, 0x01);
        Answer(data);
        uint16_t untouched[8];
        std::fill(std::begin(untouched), std::end(untouched), 0xBEEF);
        EXPECT_EQ(sensor.ReadIdentity(untouched), RESULT_UNKNOWN_ERROR) << length;
        for (uint16_t v : untouched)
            EXPECT_EQ(v, 0xBEEF);
        peer.WaitIdle();
    }
}

TEST_F(Commands, UserParametersTravelInTheirWidths) {
    // Parameter number 3 (user index 2) from address 1: the documented request.
    sensor.connection.address = 1;
    Answer({0x03});
    uint16_t value = 0;
    ASSERT_EQ(sensor.ReadUserParameter(2, value), RESULT_OK);
    EXPECT_EQ(peer.Received(), (TBytes{0x01, 0x81, 0x80, 0x82, 0x83, 0xC1, 0xC2, 0x81}));
    EXPECT_EQ(value, 3);
    EXPECT_EQ(sensor.user[2], 3);

    // "ROI left width" has two groups; one byte is the wrong length.
    Answer({0x00, 0x64});
    ASSERT_EQ(sensor.ReadUserParameter(USER_ROI_LEFT_WIDTH, value), RESULT_OK);
    EXPECT_EQ(value, 100 * 128);
    peer.WaitIdle();
    Answer({0x00});
    value = 77;
    EXPECT_EQ(sensor.ReadUserParameter(USER_ROI_LEFT_WIDTH, value), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(value, 77);
    peer.WaitIdle();

    // Outside 0..12 nothing is sent.
    const size_t before = peer.Received().size();
    EXPECT_EQ(sensor.ReadUserParameter(13, value), RESULT_OK);
    EXPECT_EQ(sensor.LoadUserParameter(13, 1), RESULT_OK);
    EXPECT_EQ(value, 77);

    // A 2-group value above 16383 loses bits 14 and 15, a 1-group value above 127 bits 7 and up.
    ASSERT_EQ(sensor.LoadUserParameter(USER_EXPOSURE, 0xC123), RESULT_OK);
    ASSERT_EQ(sensor.LoadUserParameter(USER_SENSOR_ON_OFF, 0x185), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(before + 10 + 9));
    TBytes sent = SentFrom(before);
    EXPECT_EQ(TBytes(sent.begin(), sent.begin() + 7), (TBytes{0x01, 0x83, 0x80, 0x83, 0x8C, 0xA3, 0x82}));
    EXPECT_EQ(TBytes(sent.begin() + 10, sent.begin() + 16), (TBytes{0x01, 0x82, 0x80, 0x83, 0x81, 0x85}));
    EXPECT_EQ(sensor.user[USER_EXPOSURE], 0xC123);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(Commands, LoadingTheAddressMovesEveryLaterRequest) {
    ASSERT_EQ(sensor.LoadUserParameter(USER_NETWORK_ADDRESS, 5), RESULT_OK);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{1000}));
    ASSERT_TRUE(peer.WaitReceived(9));
    EXPECT_EQ(peer.Received()[0], 0x00); // the load itself went to the old address
    Answer(IDENTITY_DATA);
    uint16_t values[8];
    ASSERT_EQ(sensor.ReadIdentity(values), RESULT_OK);
    Answer({0x05});
    uint16_t value = 0;
    ASSERT_EQ(sensor.ReadUserParameter(USER_NETWORK_ADDRESS, value), RESULT_OK);
    const TBytes sent = peer.Received();
    EXPECT_EQ(sent[9], 0x05);
    EXPECT_EQ(sent[16], 0x05);
}

TEST_F(Commands, LoadingTheRateCodeMovesTheLinkAfterThePause) {
    ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 2), RESULT_OK);
    ASSERT_EQ(pauses, (std::vector<uint32_t>{1000}));
    EXPECT_EQ(baud_during_pause[0], 921600u); // still at the old rate while the sensor switches
    EXPECT_EQ(peer.Pty().SlaveBaud(), 460800u);
    EXPECT_EQ(sensor.link.settings.baud, 460800u);
    // A code with bit 6 set counts from 4800.
    ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 0x43), RESULT_OK);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 38400u);
}

TEST_F(Commands, RestoreFollowsTheDefaultsEvenWhenTheConfirmationFails) {
    sensor.connection.address = 7;
    ASSERT_EQ(sensor.link.SetBaudRate(115200), RESULT_OK);
    Answer({0x55}); // the store code in answer to a restore
    EXPECT_EQ(sensor.FlashUserParameters(true), RESULT_FLASH_ERROR);
    EXPECT_EQ(peer.Received()[4], 0xB3); // 0x33 requested the restore
    EXPECT_EQ(sensor.connection.address, 0);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 921600u);
    peer.WaitIdle();

    // A confirmation of the wrong length is refused before anything moves.
    sensor.connection.address = 7;
    sensor.link.SetBaudRate(115200);
    Answer({0x33, 0x33});
    EXPECT_EQ(sensor.FlashUserParameters(true), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(sensor.connection.address, 7);
    peer.WaitIdle();

    // A store neither moves the link nor accepts a restore's confirmation.
    Answer({0x55});
    EXPECT_EQ(sensor.FlashUserParameters(false), RESULT_OK);
    EXPECT_EQ(sensor.connection.address, 7);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 115200u);
    peer.WaitIdle();
    Answer({0x33});
    EXPECT_EQ(sensor.FlashFactoryParameters(false), RESULT_FLASH_ERROR);
    peer.WaitIdle();
    Answer({0x33});
    EXPECT_EQ(sensor.FlashAngle(true), RESULT_OK);
    EXPECT_EQ(sensor.connection.address, 7);
}

TEST_F(Commands, FactoryBlockIsPositionalAndHasNoLinkSideEffects) {
    uint16_t values[48];
    for (unsigned i = 0; i < 48; ++i)
        values[i] = static_cast<uint16_t>(FactoryWidth(i) == 1 ? i : 1000 + i);
    values[12 + USER_NETWORK_ADDRESS] = 9;
    values[12 + USER_UART_BAUDRATE] = 0x40;
    ASSERT_EQ(sensor.LoadFactoryParameters(values), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(88 + 7));
    const TBytes sent = peer.Received();
    EXPECT_EQ(TBytes(sent.begin(), sent.begin() + 4), (TBytes{0x00, 0xD8, 0x80, 0xA1}));
    EXPECT_EQ(sent[4 + 24 + 1], 0x80 | 9); // index 13 after twelve 2-group values and index 12
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(sensor.connection.address, 0);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 921600u);
    EXPECT_EQ(sensor.factory[13], 9);

    // Reading back the same 88 bytes gives the same values.
    Answer(TBytes(sent.begin() + 4, sent.begin() + 4 + 88));
    uint16_t read[48] = {};
    ASSERT_EQ(sensor.ReadFactoryParameters(read), RESULT_OK);
    for (unsigned i = 0; i < 48; ++i)
        EXPECT_EQ(read[i], values[i]) << i;
    peer.WaitIdle();
    Answer(TBytes(87, 0x01));
    EXPECT_EQ(sensor.ReadFactoryParameters(read), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(read[0], values[0]);
}

TEST_F(Commands, AngleIsFiveGroupsOfAFloat) {
    // 12.3456 degrees in radians, as a float's bit pattern 0x3E5CA487.
    Answer({0x07, 0x49, 0x72, 0x72, 0x03});
    uint32_t bits = 0;
    ASSERT_EQ(sensor.ReadAngle(bits), RESULT_OK);
    EXPECT_EQ(bits, 0x3E5CA487u);
    EXPECT_EQ(peer.Received()[3], 0x8B);
    peer.WaitIdle();
    Answer({0x07, 0x49, 0x72, 0x72});
    EXPECT_EQ(sensor.RotateSystem(bits), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(peer.Received()[7 + 3], 0x8A);
    EXPECT_EQ(bits, 0x3E5CA487u);
}

TEST_F(Commands, TableGoesOutInBlocksOf4096WithTheRemainderLast) {
    std::vector<uint16_t> table(4097);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint16_t>(i);
    table[4096] = 0xE000; // an empty cell travels as its 14 low bits
    peer.SendAfter(1, BuildReply(crc, {0x00}));
    peer.SendAfter(8205 + 1, BuildReply(crc, {0x00}));
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    ASSERT_EQ(sensor.TransmitTable(table.data(), 4097,
                                   [&](uint32_t done, uint32_t all) {
                                       progress.push_back({done, all});
                                   }),
              RESULT_OK);
    EXPECT_EQ(progress, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}, {2, 2}}));
    const TBytes sent = peer.Received();
    ASSERT_EQ(sent.size(), 8205u + 15u);
    // length 8198, command 0x23, offset 0, count 4096, value 0 then 1
    EXPECT_EQ(TBytes(sent.begin(), sent.begin() + 14),
              (TBytes{0x00, 0x86, 0xC0, 0xA3, 0x80, 0x80, 0x80, 0x80, 0x80, 0xA0, 0x80, 0x80, 0x81, 0x80}));
    // length 8, offset 4096, count 1, value 0xE000 as 00 40
    EXPECT_EQ(TBytes(sent.begin() + 8205, sent.begin() + 8205 + 12),
              (TBytes{0x00, 0x88, 0x80, 0xA3, 0x80, 0xA0, 0x80, 0x80, 0x81, 0x80, 0x80, 0xC0}));

    EXPECT_EQ(sensor.TransmitTable(nullptr, 0), RESULT_OK);
    EXPECT_FALSE(peer.WaitReceived(sent.size() + 1, 100));
}

TEST_F(Commands, ARefusedBlockEndsTheTransfer) {
    std::vector<uint16_t> table(3 * 4096, 1);
    peer.SendAfter(1, BuildReply(crc, {0x00}));
    peer.SendAfter(8205 + 1, BuildReply(crc, {0x01}));
    int blocks_done = 0;
    EXPECT_EQ(sensor.TransmitTable(table.data(), 3 * 4096, [&](uint32_t, uint32_t) { ++blocks_done; }),
              RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(blocks_done, 1);
    EXPECT_FALSE(peer.WaitReceived(2 * 8205 + 1, 100));
    // A reply without data confirms nothing.
    Answer({});
    EXPECT_EQ(sensor.TransmitTable(table.data(), 10), RESULT_UNKNOWN_ERROR);
}

TEST_F(Commands, SaveTableWaitsThenWantsOneByte0x33) {
    struct TCase {
        TBytes reply;
        uint32_t code;
    };
    const TCase cases[] = {{{0x33, 0x33}, RESULT_UNKNOWN_ERROR},
                           {{0x33}, RESULT_OK},
                           {{0x55}, RESULT_FLASH_ERROR},
                           {{}, RESULT_UNKNOWN_ERROR}};
    for (const auto& c : cases) {
        const size_t before = peer.Received().size();
        pauses.clear();
        Answer(c.reply);
        EXPECT_EQ(sensor.SaveTable(), c.code);
        EXPECT_EQ(pauses, (std::vector<uint32_t>{40000}));
        const TBytes sent = SentFrom(before);
        ASSERT_EQ(sent.size(), 8u);
        EXPECT_EQ(TBytes(sent.begin(), sent.begin() + 5), (TBytes{0x00, 0x81, 0x80, 0xA4, 0xD5}));
        peer.WaitIdle();
    }
}

TEST_F(Commands, GetResultDecodesWithinTheReplyAndTheCallersArray) {
    uint8_t result_status = 9;
    uint16_t count = 9;
    uint16_t values[8];
    std::fill(std::begin(values), std::end(values), 0xBEEF);

    Answer({0x00, 0x00, 0x00});
    ASSERT_EQ(sensor.GetResult(result_status, count, values, 8), RESULT_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(values[0], 0xBEEF);
    peer.WaitIdle();

    // Two pairs: (Z 0x1000, X 0x3F00), (missing 0x2000, 5).
    const TBytes two = {0x01, 0x02, 0x00, 0x00, 0x20, 0x00, 0x7E, 0x00, 0x40, 0x05, 0x00};
    Answer(two);
    ASSERT_EQ(sensor.GetResult(result_status, count, values, 8), RESULT_OK);
    EXPECT_EQ(result_status, 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(values[0], 0x1000);
    EXPECT_EQ(values[1], 0x3F00);
    EXPECT_EQ(values[2], 0x2000);
    EXPECT_EQ(values[3], 5);
    EXPECT_EQ(values[4], 0xBEEF);
    peer.WaitIdle();

    // Announcing more pairs than the bytes hold, or than the array takes, writes nothing.
    std::fill(std::begin(values), std::end(values), 0xBEEF);
    TBytes three = two;
    three[1] = 0x03;
    Answer(three);
    EXPECT_EQ(sensor.GetResult(result_status, count, values, 8), RESULT_UNKNOWN_ERROR);
    peer.WaitIdle();
    Answer(two);
    EXPECT_EQ(sensor.GetResult(result_status, count, values, 3), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(values[0], 0xBEEF);
    EXPECT_EQ(count, 2); // from the last good reply
    peer.WaitIdle();
}

TEST_F(Commands, GetResultAsksOnceMoreAfterABadReply) {
    TBytes bad = BuildReply(crc, {0x00, 0x00, 0x00});
    bad[bad.size() - 2] ^= 0x01;
    peer.SendAfter(1, bad);
    peer.SendAfter(8, BuildReply(crc, {0x00, 0x01, 0x00, 0x10, 0x00, 0x20, 0x00}));
    uint8_t result_status = 0;
    uint16_t count = 0;
    uint16_t values[2] = {};
    ASSERT_EQ(sensor.GetResult(result_status, count, values, 2), RESULT_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(values[0], 0x10);
    EXPECT_EQ(values[1], 0x20);
    EXPECT_EQ(peer.Received().size(), 14u);
    peer.WaitIdle();

    // The second bad reply is returned; there is no third request.
    peer.SendAfter(15, bad);
    peer.SendAfter(22, bad);
    EXPECT_EQ(sensor.GetResult(result_status, count, values, 2), RESULT_PACKET_ERROR);
    peer.WaitIdle();
    EXPECT_EQ(peer.Received().size(), 28u);
    EXPECT_EQ(values[0], 0x10);
}

TEST_F(Commands, ReadCalibrDataKeepsToTheBytesAndTheCapacity) {
    Answer({0x02, 0x00, 0x7F, 0x27, 0x11}); // N = 2, 5119, and an odd last byte
    uint16_t values[4] = {1, 1, 1, 1};
    uint32_t count = 9;
    ASSERT_EQ(sensor.ReadCalibrData(values, 4, count), RESULT_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(values[0], 2);
    EXPECT_EQ(values[1], 5119);
    EXPECT_EQ(values[2], 1);
    peer.WaitIdle();
    Answer({0x02, 0x00, 0x7F, 0x27, 0x05, 0x00});
    ASSERT_EQ(sensor.ReadCalibrData(values, 1, count), RESULT_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(values[1], 5119);
}

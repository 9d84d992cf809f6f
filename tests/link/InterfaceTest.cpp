#include "link/Interface.h"
#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "support/BytePeer.h"

#include <gtest/gtest.h>

#include <dirent.h>

using namespace zq455;
using zq455::test::MillisecondsSince;
using zq455::test::TBytePeer;
using TClock = std::chrono::steady_clock;

namespace {

TLinkSettings ComSettings(const std::string& path, uint32_t total_ms = 1000) {
    TLinkSettings settings;
    settings.mode = LINK_MODE_COM;
    settings.name = path;
    settings.baud = 921600;
    settings.usb_flags = 0x80;
    settings.in_queue = 1024;
    settings.out_queue = 1024;
    settings.read_interval_ms = 10;
    settings.read_total_ms = total_ms;
    return settings;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

uint32_t ReadInto(TInterface& link, std::vector<uint8_t>& data) {
    TIoBuffer io;
    io.data = data.data();
    io.length = static_cast<uint32_t>(data.size());
    return link.Read(io);
}

uint32_t WriteFrom(TInterface& link, std::vector<uint8_t> data) {
    TIoBuffer io;
    io.data = data.data();
    io.length = static_cast<uint32_t>(data.size());
    return link.Write(io);
}

} // namespace

TEST(Interface, ClosedLinkRefusesEveryOperationWithCode2) {
    TInterface link;
    std::vector<uint8_t> data(4, 0xAA);
    EXPECT_EQ(ReadInto(link, data), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(WriteFrom(link, {1, 2}), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.SetBaudRate(9600), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.status, RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Close(), RESULT_OK);
    EXPECT_EQ(data, std::vector<uint8_t>(4, 0xAA));
}

TEST(Interface, MissingDeviceGivesCode2Promptly) {
    TInterface link;
    auto start = TClock::now();
    EXPECT_EQ(link.Open(ComSettings("/dev/zq455-no-such-port")), RESULT_PORT_NOT_OPENED);
    TLinkSettings usb = ComSettings("NO SUCH USB DESCRIPTION");
    usb.mode = LINK_MODE_USB;
    EXPECT_EQ(link.Open(usb), RESULT_PORT_NOT_OPENED);
    EXPECT_LT(MillisecondsSince(start), 1000.0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.handle, -1);
    // A regular file is not a port.
    EXPECT_EQ(link.Open(ComSettings("/proc/self/status")), RESULT_PORT_NOT_OPENED);
}

TEST(Interface, UnknownModeOpensNothing) {
    TBytePeer peer;
    TInterface link;
    TLinkSettings settings = ComSettings(peer.Path());
    settings.mode = 7;
    link.Open(settings);
    EXPECT_FALSE(link.IsOpen());
}

TEST(Interface, OpenOnAnOpenLinkClosesItFirst) {
    TBytePeer first, second;
    TInterface link;
    const int before = OpenDescriptors();
    ASSERT_EQ(link.Open(ComSettings(first.Path())), RESULT_OK);
    const int with_one = OpenDescriptors();
    ASSERT_EQ(link.Open(ComSettings(second.Path())), RESULT_OK);
    EXPECT_EQ(OpenDescriptors(), with_one);
    EXPECT_EQ(link.DevicePath(), second.Path());
    // A failing re-open leaves the link closed, the old descriptor released.
    EXPECT_EQ(link.Open(ComSettings("/dev/zq455-no-such-port")), RESULT_PORT_NOT_OPENED);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Interface, ZeroLengthReadSucceedsAtOnce) {
    TBytePeer peer;
    TInterface link;
    ASSERT_EQ(link.Open(ComSettings(peer.Path())), RESULT_OK);
    std::vector<uint8_t> none;
    auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, none), RESULT_OK);
    EXPECT_LT(MillisecondsSince(start), 50.0);
}

TEST(Interface, WriteReachesThePeerAndSetsTheBitRate) {
    TBytePeer peer;
    TInterface link;
    ASSERT_EQ(link.Open(ComSettings(peer.Path())), RESULT_OK);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 921600u);
    EXPECT_EQ(WriteFrom(link, {0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(7));
    EXPECT_EQ(peer.Received(), (std::vector<uint8_t>{0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}));
    EXPECT_EQ(link.SetBaudRate(460800), RESULT_OK);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 460800u);
    EXPECT_EQ(link.settings.baud, 460800u);
}

TEST(Interface, SilenceGivesTimeoutWithinTheBound) {
    TBytePeer peer;
    // USB mode makes one read call: 10 ms x 4 + 1000 ms.
    TUsbDeviceDirectory::Register("SILENT DEVICE", peer.Path());
    TInterface link;
    TLinkSettings settings = ComSettings("SILENT DEVICE");
    settings.mode = LINK_MODE_USB;
    ASSERT_EQ(link.Open(settings), RESULT_OK);
    std::vector<uint8_t> data(4);
    auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_TIMEOUT);
    double elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 1035.0);
    EXPECT_LT(elapsed, 1300.0);
    TUsbDeviceDirectory::Unregister("SILENT DEVICE");

    // COM mode makes up to three calls, each with the whole bound.
    ASSERT_EQ(link.Open(ComSettings(peer.Path(), 100)), RESULT_OK);
    start = TClock::now();
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_TIMEOUT);
    elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 3 * 140.0 - 5);
    EXPECT_LT(elapsed, 3 * 140.0 + 250);
}

TEST(Interface, ComModeJoinsThreeBurstsButNotFour) {
    TBytePeer peer;
    TInterface link;
    ASSERT_EQ(link.Open(ComSettings(peer.Path(), 300)), RESULT_OK);
    // Bursts 80 ms apart: each one ends a read call at the 10 ms inter-byte gap.
    peer.Send({1, 2, 3});
    peer.Send({4, 5, 6}, 80);
    peer.Send({7, 8, 9}, 80);
    std::vector<uint8_t> data(9);
    EXPECT_EQ(ReadInto(link, data), RESULT_OK);
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_TRUE(peer.WaitIdle());

    peer.Send({1, 2});
    peer.Send({3, 4}, 80);
    peer.Send({5, 6}, 80);
    peer.Send({7, 8}, 80);
    std::vector<uint8_t> eight(8, 0);
    EXPECT_EQ(ReadInto(link, eight), RESULT_READ_TIMEOUT);
    // What did arrive stays in the buffer.
    EXPECT_EQ(eight, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0}));
    ASSERT_TRUE(peer.WaitIdle());
}

TEST(Interface, UsbModeEndsAReplyAtTheFirstGap) {
    TBytePeer peer;
    TUsbDeviceDirectory::Register("GAPPY DEVICE", peer.Path());
    TInterface link;
    TLinkSettings settings = ComSettings("GAPPY DEVICE", 300);
    settings.mode = LINK_MODE_USB;
    ASSERT_EQ(link.Open(settings), RESULT_OK);
    peer.Send({1, 2, 3});
    peer.Send({4, 5, 6}, 80);
    std::vector<uint8_t> data(6);
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_TIMEOUT);
    TUsbDeviceDirectory::Unregister("GAPPY DEVICE");
    ASSERT_TRUE(peer.WaitIdle());
}

TEST(Interface, WritePurgesStaleReceivedBytes) {
    TBytePeer peer;
    TInterface link;
    ASSERT_EQ(link.Open(ComSettings(peer.Path(), 200)), RESULT_OK);
    peer.Send({0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(peer.WaitIdle());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.SendAfter(1, {0x11, 0x22});
    EXPECT_EQ(WriteFrom(link, {0x00}), RESULT_OK);
    std::vector<uint8_t> data(2);
    EXPECT_EQ(ReadInto(link, data), RESULT_OK);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x11, 0x22}));
}

TEST(Interface, ClosedPeerGivesReadAndWriteErrors) {
    TBytePeer peer;
    TInterface link;
    ASSERT_EQ(link.Open(ComSettings(peer.Path(), 200)), RESULT_OK);
    peer.Pty().CloseMaster();
    std::vector<uint8_t> data(3);
    auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_ERROR);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    EXPECT_EQ(WriteFrom(link, {1, 2, 3}), RESULT_WRITE_ERROR);
}

TEST(Interface, MemoryStandInReadsInOrderAndRunsOutWithTimeout) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    TInterface link;
    link.OpenMemory(bytes, sizeof bytes);
    ASSERT_TRUE(link.IsOpen());
    std::vector<uint8_t> first(2), rest(4, 0);
    EXPECT_EQ(ReadInto(link, first), RESULT_OK);
    EXPECT_EQ(first, (std::vector<uint8_t>{1, 2}));
    auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, rest), RESULT_READ_TIMEOUT);
    EXPECT_LT(MillisecondsSince(start), 50.0);
    EXPECT_EQ(rest, (std::vector<uint8_t>{3, 4, 5, 0}));
    EXPECT_EQ(WriteFrom(link, {9, 8}), RESULT_OK);
    EXPECT_EQ(link.MemoryWritten(), (std::vector<uint8_t>{9, 8}));
    link.Close();
    EXPECT_EQ(ReadInto(link, first), RESULT_PORT_NOT_OPENED);
}

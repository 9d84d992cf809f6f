#include "link/Interface.h"
#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "support/BytePeer.h"
#include "support/FtdiDouble.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zq455;
using zq455::test::MillisecondsSince;
using zq455::test::TBytePeer;
using zq455::test::TFtdiDevicePlan;
using zq455::test::TFtdiDouble;
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
    EXPECT_EQ(link.Reason(), "/dev/zq455-no-such-port does not exist.");
    TLinkSettings usb = ComSettings("NO SUCH USB DESCRIPTION");
    usb.mode = LINK_MODE_USB;
    EXPECT_EQ(link.Open(usb), RESULT_PORT_NOT_OPENED);
    EXPECT_LT(MillisecondsSince(start), 1000.0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.handle, -1);
    // A regular file is not a port.
    EXPECT_EQ(link.Open(ComSettings("/proc/self/status")), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Open(ComSettings("/dev/null")), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Reason(), "/dev/null is not a serial port.");
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

// ---------------------------------------------------------------------------------------------
// The same exchanges over each way the link reaches a device: a tty path (COM mode), a tty
// found under a USB description, and a USB device through libftdi1 (the model of the library
// and the chip, whose far side is the byte peer's pseudo-terminal).

namespace {

enum class TPath { TTY, USB_TTY, USB_FTDI };

const char* PathLabel(TPath path) {
    switch (path) {
    case TPath::TTY:
        return "Tty";
    case TPath::USB_TTY:
        return "UsbTty";
    case TPath::USB_FTDI:
        break;
    }
    return "UsbFtdi";
}

std::string PathName(const ::testing::TestParamInfo<TPath>& info) {
    return PathLabel(info.param);
}

void PrintTo(TPath path, std::ostream* os) {
    *os << PathLabel(path);
}

constexpr const char* PEER_DESCRIPTION = "LINK TEST DEVICE";

class LinkPath : public ::testing::TestWithParam<TPath> {
protected:
    void TearDown() override { TUsbDeviceDirectory::Unregister(PEER_DESCRIPTION); }

    // Settings that reach the peer the way of this test's parameter.
    TLinkSettings Settings(uint32_t total_ms = 1000) {
        if (GetParam() == TPath::TTY)
            return ComSettings(peer.Path(), total_ms);
        if (GetParam() == TPath::USB_TTY)
            TUsbDeviceDirectory::Register(PEER_DESCRIPTION, peer.Path());
        else if (device < 0)
            device = ftdi.AddDevice({PEER_DESCRIPTION, 0x6006, peer.Path()});
        TLinkSettings settings = ComSettings(PEER_DESCRIPTION, total_ms);
        settings.mode = LINK_MODE_USB;
        return settings;
    }
    // COM mode joins up to three read calls; USB mode makes one.
    int ReadCalls() const { return GetParam() == TPath::TTY ? 3 : 1; }

    TBytePeer peer;
    TFtdiDouble ftdi;
    int device = -1;
};

} // namespace

TEST_P(LinkPath, WriteReachesThePeerAndSetsTheBitRate) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK) << link.Reason();
    EXPECT_EQ(peer.Pty().SlaveBaud(), 921600u);
    EXPECT_EQ(WriteFrom(link, {0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(7));
    EXPECT_EQ(peer.Received(), (std::vector<uint8_t>{0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}));
    EXPECT_EQ(link.SetBaudRate(460800), RESULT_OK);
    EXPECT_EQ(peer.Pty().SlaveBaud(), 460800u);
    EXPECT_EQ(link.settings.baud, 460800u);
}

TEST_P(LinkPath, SilenceGivesTimeoutWithinTheBound) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings(100)), RESULT_OK);
    std::vector<uint8_t> data(4, 0xAA);
    const auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_TIMEOUT);
    // Each read call: 10 ms x 4 + 100 ms.
    const double elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, ReadCalls() * 140.0 - 5);
    EXPECT_LT(elapsed, ReadCalls() * 140.0 + 250);
    EXPECT_EQ(data, std::vector<uint8_t>(4, 0xAA));
}

TEST_P(LinkPath, AReplyThatStopsGivesTimeoutAndKeepsWhatArrived) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings(300)), RESULT_OK);
    // USB mode ends the read 10 ms after the first burst; COM mode joins the second burst.
    peer.Send({1, 2, 3});
    peer.Send({4, 5, 6}, 80);
    std::vector<uint8_t> data(6, 0);
    if (GetParam() == TPath::TTY) {
        EXPECT_EQ(ReadInto(link, data), RESULT_OK);
        EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    } else {
        EXPECT_EQ(ReadInto(link, data), RESULT_READ_TIMEOUT);
        EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0}));
    }
    ASSERT_TRUE(peer.WaitIdle());
}

TEST_P(LinkPath, WritePurgesStaleReceivedBytes) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings(200)), RESULT_OK);
    peer.Send({0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(peer.WaitIdle());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    peer.SendAfter(1, {0x11, 0x22});
    EXPECT_EQ(WriteFrom(link, {0x00}), RESULT_OK);
    std::vector<uint8_t> data(2);
    EXPECT_EQ(ReadInto(link, data), RESULT_OK);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_P(LinkPath, HangUpGivesReadErrorThenWriteErrorAndSaysWhy) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings(200)), RESULT_OK);
    peer.Pty().CloseMaster();
    std::vector<uint8_t> data(3);
    const auto start = TClock::now();
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_ERROR);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    EXPECT_NE(link.Reason().find("unplugged"), std::string::npos) << link.Reason();
    EXPECT_EQ(WriteFrom(link, {1, 2, 3}), RESULT_WRITE_ERROR);
    EXPECT_LT(MillisecondsSince(start), 500.0);
}

TEST_P(LinkPath, ASecondProgramOnTheDeviceIsTurnedAway) {
    TInterface first, second;
    ASSERT_EQ(first.Open(Settings()), RESULT_OK);
    const auto start = TClock::now();
    EXPECT_EQ(second.Open(Settings()), RESULT_PORT_NOT_OPENED);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    EXPECT_NE(second.Reason().find("in use"), std::string::npos) << second.Reason();
    EXPECT_FALSE(second.IsOpen());
    // The holder goes on undisturbed, and once it lets go the device can be had.
    peer.SendAfter(1, {0x42});
    EXPECT_EQ(WriteFrom(first, {0x00}), RESULT_OK);
    std::vector<uint8_t> one(1);
    EXPECT_EQ(ReadInto(first, one), RESULT_OK);
    first.Close();
    EXPECT_EQ(second.Open(Settings()), RESULT_OK) << second.Reason();
    EXPECT_EQ(second.Reason(), "");
}

TEST_P(LinkPath, UnknownModeGivesCode2) {
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK);
    TLinkSettings settings = Settings();
    settings.mode = 7;
    EXPECT_EQ(link.Open(settings), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.status, RESULT_PORT_NOT_OPENED);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.Reason(), "Unknown link mode 7.");
}

INSTANTIATE_TEST_SUITE_P(Paths, LinkPath, ::testing::Values(TPath::TTY, TPath::USB_TTY, TPath::USB_FTDI),
                         PathName);

// ---------------------------------------------------------------------------------------------
// The USB path through libftdi1 alone.

namespace {

class UsbFtdi : public ::testing::Test {
protected:
    TLinkSettings Settings(const std::string& description = PEER_DESCRIPTION) {
        TLinkSettings settings = ComSettings(description);
        settings.mode = LINK_MODE_USB;
        return settings;
    }
    int Plug(TFtdiDevicePlan plan = {}) {
        if (plan.product.empty())
            plan.product = PEER_DESCRIPTION;
        if (plan.uart_path.empty())
            plan.uart_path = peer.Path();
        return ftdi.AddDevice(plan);
    }
    static std::vector<uint8_t> Pattern(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        return bytes;
    }

    TBytePeer peer;
    TFtdiDouble ftdi;
};

} // namespace

TEST_F(UsbFtdi, OpenSetsTheLineAndTheLatencyTimerAndCloseLetsGo) {
    const int device = Plug();
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK) << link.Reason();
    EXPECT_TRUE(link.DevicePath().empty());
    EXPECT_TRUE(ftdi.IsOpen(device));
    EXPECT_EQ(ftdi.Baud(device), 921600u);
    EXPECT_EQ(ftdi.LatencyTimer(device), 1u);
    link.Close();
    EXPECT_FALSE(ftdi.IsOpen(device));
}

// At 921 600 bit/s the chip sends full packets faster than its latency timer, so one bulk
// transfer runs until it has a whole chunk: a profile, a calibration frame, a table block and
// a whole camera frame must all come through without a transfer running out of time.
TEST_F(UsbFtdi, LongRepliesAndBlocksArriveWhole) {
    Plug();
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK);
    for (size_t size : {4105u, 1290u, 8198u, 640u * 512u}) {
        const std::vector<uint8_t> sent = Pattern(size);
        peer.Send(sent);
        std::vector<uint8_t> got(size, 0);
        EXPECT_EQ(ReadInto(link, got), RESULT_OK) << size << " bytes";
        EXPECT_TRUE(got == sent) << size << " bytes";
        ASSERT_TRUE(peer.WaitIdle(10000));
    }
    // The table block goes the other way as well.
    const std::vector<uint8_t> block = Pattern(8198);
    EXPECT_EQ(WriteFrom(link, block), RESULT_OK);
    ASSERT_TRUE(peer.WaitReceived(block.size()));
    EXPECT_TRUE(peer.Received() == block);

    const auto stats = ftdi.Stats();
    EXPECT_EQ(stats.timed_out_transfers, 0u);
    EXPECT_EQ(stats.dropped_bytes, 0u);
    EXPECT_GT(stats.full_packets, 5000u); // the chip ran at full packets, as a real one would
}

// The model loses a long reply the way libftdi1 1.5 does when usb_read_timeout is shorter than a
// transfer: the error comes back and the bytes of the transfer are gone.
TEST_F(UsbFtdi, TheModelDropsATransferThatOutlivesTheReadTimeout) {
    Plug();
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK);
    const TFtdiCalls& calls = ftdi.Calls();
    ftdi_context* context = calls.new_context();
    ASSERT_NE(context, nullptr);
    link.Close(); // the device to the raw context
    libusb_device** list = nullptr;
    ASSERT_EQ(calls.get_device_list(context->usb_ctx, &list), 1);
    ASSERT_EQ(calls.usb_open_dev(context, list[0]), 0);
    calls.free_device_list(list, 1);
    ASSERT_EQ(calls.set_baudrate(context, 921600), 0);
    ASSERT_EQ(calls.set_latency_timer(context, 1), 0);
    context->usb_read_timeout = 2;
    peer.Send(Pattern(4105));
    ASSERT_TRUE(peer.WaitIdle());
    // The first call may meet the chip's latency timer with nothing in: status bytes only.
    std::vector<uint8_t> got(4105);
    int result = 0;
    for (int call = 0; call < 10 && result == 0; ++call)
        result = calls.read_data(context, got.data(), static_cast<int>(got.size()));
    EXPECT_EQ(result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_GT(ftdi.Stats().dropped_bytes, 0u);
    calls.free_context(context);
}

TEST_F(UsbFtdi, AStalledWriteGivesWriteTimeoutAndAFailedOneWriteError) {
    const int device = Plug();
    TInterface link;
    ASSERT_EQ(link.Open(Settings()), RESULT_OK);
    ftdi.StallWrites(device, true);
    const std::vector<uint8_t> request = Pattern(300);
    auto start = TClock::now();
    EXPECT_EQ(WriteFrom(link, request), RESULT_WRITE_TIMEOUT);
    // The bound: a second plus twice the wire time of 300 bytes.
    EXPECT_GE(MillisecondsSince(start), 1000.0);
    EXPECT_LT(MillisecondsSince(start), 1300.0);

    ftdi.StallWrites(device, false);
    EXPECT_EQ(WriteFrom(link, request), RESULT_OK);
    ftdi.Unplug(device);
    start = TClock::now();
    EXPECT_EQ(WriteFrom(link, request), RESULT_WRITE_ERROR);
    std::vector<uint8_t> data(4);
    EXPECT_EQ(ReadInto(link, data), RESULT_READ_ERROR);
    EXPECT_NE(link.Reason().find("unplugged"), std::string::npos) << link.Reason();
    EXPECT_LT(MillisecondsSince(start), 500.0);
    link.Close();
    EXPECT_EQ(link.Open(Settings()), RESULT_PORT_NOT_OPENED);
}

TEST_F(UsbFtdi, AFailedOpenSaysWhy) {
    TInterface link;
    EXPECT_EQ(link.Open(Settings()), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Reason(), std::string("No device \"") + PEER_DESCRIPTION + "\" on the USB bus or in " +
                                 TUsbDeviceDirectory::SysfsRoot() + "/class/tty.");

    // A device this user may not open could be the one: its strings cannot even be read.
    Plug({"SOMETHING ELSE", 0x6001, "", true});
    EXPECT_EQ(link.Open(Settings()), RESULT_PORT_NOT_OPENED);
    EXPECT_NE(link.Reason().find("Permission denied on USB device"), std::string::npos) << link.Reason();
    EXPECT_NE(link.Reason().find("60-zq455.rules"), std::string::npos) << link.Reason();
    EXPECT_NE(link.Reason().find("plugdev"), std::string::npos) << link.Reason();
}

// The kernel's driver has the chip (its tty open in some program, as far as we can tell): the
// link leaves it there and says the device is in use.
TEST_F(UsbFtdi, NeverTakesTheDeviceFromTheKernelDriver) {
    TFtdiDevicePlan plan;
    plan.kernel_driver = true;
    const int device = Plug(plan);
    TInterface link;
    EXPECT_EQ(link.Open(Settings()), RESULT_PORT_NOT_OPENED);
    EXPECT_FALSE(ftdi.KernelDriverDetached(device));
    EXPECT_NE(link.Reason().find("in use"), std::string::npos) << link.Reason();
}

// ---------------------------------------------------------------------------------------------

TEST(Interface, APortThisUserMayNotOpenSaysWhichGroupToJoin) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any port; run as a normal user to see the permission reason";
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    TInterface link;
    EXPECT_EQ(link.Open(ComSettings(pty.SlavePath())), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Reason().rfind("Permission denied on " + pty.SlavePath() + " (group ", 0), 0u)
        << link.Reason();
    EXPECT_NE(link.Reason().find("usermod -aG"), std::string::npos) << link.Reason();
}

#include "motor/Motorinterface.h"
#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "support/BytePeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unistd.h>

using namespace zq455;
using zq455::test::MillisecondsSince;
using zq455::test::TBytePeer;
using TClock = std::chrono::steady_clock;
using TBytes = std::vector<uint8_t>;

// Every write call on the watched descriptor (the program's side of the port) is recorded
// with its length; from `fail_from` on, calls fail as on a pulled cable.
namespace {
std::atomic<int> watched_fd{-1};
std::atomic<int> fail_from{-1};
std::mutex writes_lock;
std::vector<size_t> write_lengths;
} // namespace

extern "C" ssize_t __real_write(int fd, const void* data, size_t length);
extern "C" ssize_t __wrap_write(int fd, const void* data, size_t length) {
    if (fd >= 0 && fd == watched_fd) {
        std::lock_guard<std::mutex> guard(writes_lock);
        write_lengths.push_back(length);
        if (fail_from >= 0 && static_cast<int>(write_lengths.size()) > fail_from) {
            errno = EIO;
            return -1;
        }
    }
    return __real_write(fd, data, length);
}

namespace {

constexpr const char* TEST_DESCRIPTION = "MOTOR INTERFACE TEST DRIVER";

std::vector<size_t> TakeWriteLengths() {
    std::lock_guard<std::mutex> guard(writes_lock);
    std::vector<size_t> lengths;
    lengths.swap(write_lengths);
    return lengths;
}

// A motor object on a byte peer, opened as the window opens it: USB mode, by description.
class MotorOnPeer : public ::testing::Test {
protected:
    void SetUp() override {
        TUsbDeviceDirectory::Register(TEST_DESCRIPTION, peer.Path());
        TMotorOpenSettings open;
        open.device_name = TEST_DESCRIPTION;
        ASSERT_EQ(motor.Open(open), RESULT_OK);
        watched_fd = motor.port.handle;
        fail_from = -1;
        TakeWriteLengths();
    }
    void TearDown() override {
        watched_fd = -1;
        fail_from = -1;
        TUsbDeviceDirectory::Unregister(TEST_DESCRIPTION);
    }

    // Bytes the peer has received beyond `already`, once `count` of them are there.
    TBytes NewBytes(size_t already, size_t count) {
        EXPECT_TRUE(peer.WaitReceived(already + count));
        TBytes all = peer.Received();
        return TBytes(all.begin() + static_cast<long>(std::min(already, all.size())), all.end());
    }

    TBytePeer peer;
    TMotorInterface motor;
};

const TBytes STATUS_15 = {0xF5, 0xF1, 0xF0, 0xF0, 0xF0, 0xF0};

} // namespace

// Each request goes out one byte per write call, and the reply is read only after the last.
TEST_F(MotorOnPeer, RequestsGoOutOneBytePerWrite) {
    struct TCase {
        const char* name;
        std::function<uint32_t(TMotorInterface&)> call;
        TBytes request;
        size_t reply_length;
    };
    uint8_t out = 0;
    const std::vector<TCase> cases = {
        {"forward 3200",
         [](TMotorInterface& m) { return m.MoveForward(3200); },
         {0x04, 0xF0, 0xF8, 0xFC, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0},
         6},
        {"backward 0",
         [](TMotorInterface& m) { return m.MoveBackward(0); },
         {0x05, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0},
         6},
        {"backward 0x12345678",
         [](TMotorInterface& m) { return m.MoveBackward(0x12345678); },
         {0x05, 0xF8, 0xF7, 0xF6, 0xF5, 0xF4, 0xF3, 0xF2, 0xF1},
         6},
        {"forward max",
         [](TMotorInterface& m) { return m.MoveForward(0xFFFFFFFF); },
         {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         6},
        {"status", [&](TMotorInterface& m) { return m.GetStatus(out); }, {0x00}, 6},
        {"status 2", [&](TMotorInterface& m) { return m.GetStatus2(out); }, {0x06}, 6},
        {"init", [](TMotorInterface& m) { return m.Init(); }, {0x03}, 2},
    };
    EXPECT_EQ(peer.Pty().SlaveBaud(), MOTOR_BAUD);
    size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The reply follows the whole request; a reply one byte longer than asked for would
        // be left over and dropped by the purge of the next request.
        TBytes reply(c.reply_length + 1, 0xF0);
        peer.SendAfter(sent + c.request.size(), reply);
        EXPECT_EQ(c.call(motor), RESULT_OK);
        EXPECT_EQ(NewBytes(sent, c.request.size()), c.request);
        EXPECT_EQ(TakeWriteLengths(), std::vector<size_t>(c.request.size(), 1));
        ASSERT_TRUE(peer.WaitIdle());
        sent += c.request.size();
    }
}

TEST_F(MotorOnPeer, StatusIsDecodedFromTheLowNibblesOfTheFirstTwoBytes) {
    struct TCase {
        TBytes reply;
        uint8_t status;
    };
    const std::vector<TCase> cases = {
        {STATUS_15, 0x15},
        {{0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, 0x15}, // high nibbles are ignored
        {{0x3A, 0xC7, 0xFF, 0xFF, 0xFF, 0xFF}, 0x7A}, // and so are bytes 2..5
        {{0xF0, 0xF0, 0xF3, 0xF3, 0xF3, 0xF3}, 0x00},
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        uint8_t out = 0xEE;
        peer.SendAfter(sent + 1, c.reply);
        EXPECT_EQ(motor.GetStatus(out), RESULT_OK);
        EXPECT_EQ(out, c.status);
        EXPECT_EQ(motor.status, c.status);
        ++sent;
        ASSERT_TRUE(peer.WaitIdle());

        out = 0xEE;
        peer.SendAfter(sent + 1, c.reply);
        EXPECT_EQ(motor.GetStatus2(out), RESULT_OK);
        EXPECT_EQ(out, c.status);
        ++sent;
        ASSERT_TRUE(peer.WaitIdle());
    }
    // A move keeps the decoded status in the field only.
    peer.SendAfter(sent + 9, STATUS_15);
    motor.status = 0;
    EXPECT_EQ(motor.MoveForward(1), RESULT_OK);
    EXPECT_EQ(motor.status, 0x15);
}

TEST(MotorInterface, ClosedLinkGivesCode2AndSendsNothing) {
    TMotorInterface never_opened;
    uint8_t out = 0x5A;
    EXPECT_EQ(never_opened.GetStatus(out), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(never_opened.last_result, RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(out, 0x5A);

    TBytePeer peer;
    TMotorInterface motor;
    TMotorOpenSettings open;
    open.port_kind = LINK_MODE_COM;
    open.device_name = peer.Path();
    ASSERT_EQ(motor.Open(open), RESULT_OK);
    EXPECT_EQ(motor.Close(), RESULT_OK);
    motor.status = 0x42;
    EXPECT_EQ(motor.GetStatus(out), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(motor.GetStatus2(out), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(motor.MoveForward(3200), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(motor.MoveBackward(3200), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(motor.Init(), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(out, 0x5A);
    EXPECT_EQ(motor.status, 0x42);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(peer.Received().empty());

    TMotorOpenSettings missing;
    missing.device_name = "NO SUCH MOTOR DRIVER";
    EXPECT_EQ(motor.Open(missing), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(motor.last_result, RESULT_PORT_NOT_OPENED);
}

TEST_F(MotorOnPeer, ShortOrMissingReplyGivesReadTimeoutAndKeepsTheStatus) {
    peer.SendAfter(1, STATUS_15);
    uint8_t out = 0;
    ASSERT_EQ(motor.GetStatus(out), RESULT_OK);
    ASSERT_EQ(motor.status, 0x15);

    // Four of six bytes: the read ends at the inter-byte gap, well inside its bound.
    peer.SendAfter(2, {0xF0, 0xF0, 0xF0, 0xF0});
    out = 0x77;
    auto start = TClock::now();
    EXPECT_EQ(motor.GetStatus(out), RESULT_READ_TIMEOUT);
    EXPECT_LE(MillisecondsSince(start), 1060.0 + 50.0);
    EXPECT_EQ(out, 0x77);
    EXPECT_EQ(motor.status, 0x15);
    EXPECT_EQ(motor.last_result, RESULT_READ_TIMEOUT);
    ASSERT_TRUE(peer.WaitIdle());

    // No reply at all: the whole bound of 1000 ms + 6 x 10 ms.
    start = TClock::now();
    EXPECT_EQ(motor.MoveForward(10), RESULT_READ_TIMEOUT);
    const double elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 1055.0);
    EXPECT_LE(elapsed, 1060.0 + 150.0);
    EXPECT_EQ(motor.status, 0x15);
}

// A failed write ends the request where it is: no further byte, no read, the code unchanged.
TEST_F(MotorOnPeer, FailedWriteStopsTheRequestAndTheNextStartsOver) {
    fail_from = 3;
    auto start = TClock::now();
    EXPECT_EQ(motor.MoveForward(3200), RESULT_WRITE_ERROR);
    EXPECT_LT(MillisecondsSince(start), 500.0); // no reply was waited for
    EXPECT_EQ(TakeWriteLengths(), (std::vector<size_t>{1, 1, 1, 1}));
    EXPECT_EQ(NewBytes(0, 3), (TBytes{0x04, 0xF0, 0xF8}));
    EXPECT_EQ(motor.last_result, RESULT_WRITE_ERROR);

    fail_from = -1;
    peer.SendAfter(4, STATUS_15);
    uint8_t out = 0;
    EXPECT_EQ(motor.GetStatus(out), RESULT_OK);
    EXPECT_EQ(NewBytes(3, 1), (TBytes{0x00}));
    EXPECT_EQ(out, 0x15);
}

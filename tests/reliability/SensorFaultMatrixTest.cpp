// Every reply fault the virtual sensor can put on the wire, against every command that
// reads a reply: the exact result code, the time the call takes against the link's bounds,
// and what the call leaves in the caller's variables, the object's caches and the device.
// Each case runs twice: with the sensor found as a tty under its description, and with it on
// the USB bus behind libftdi1 and an FTDI chip (the model of both in tests/support).
//
// Link bounds of the sensor's settings (10 ms between bytes and per byte, 1000 ms fixed):
// a hunted start byte waits at most 1010 ms, a field of N bytes at most 10 x N + 1000 ms,
// and a field whose bytes stop coming ends 10 ms after the last one.

#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"
#include "sim/SensorSimulator.h"
#include "support/FtdiDouble.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using namespace zq455;
using TClock = std::chrono::steady_clock;

namespace {

constexpr const char* DEVICE = "FAULT MATRIX SENSOR";
constexpr uint16_t SENTINEL = 0xBEEF;
constexpr uint32_t STALL_MS = 40; // four byte gaps: long enough to end a read, short enough to be cheap
// Scheduling slack on a loaded machine (and under the sanitizers) on top of a bound.
constexpr double SLACK_MS = 200;

// One hunted start byte that never comes.
constexpr uint32_t HUNT_MS = 10 * 1 + 1000;
// A call that meets no time-out at all ends before one hunt bound could run out.
constexpr uint32_t NO_WAIT_MS = HUNT_MS;

enum class TCommand : uint8_t {
    READ_IDENTITY,
    READ_USER_PARAMETER, // "Exposure": two groups
    READ_USER_PARAMETERS,
    FLASH_USER_STORE,
    FLASH_USER_RESTORE, // from address 5 at 460800 bit/s
    GET_RESULT,
    GET_VIDEO, // a 64 x 51 region, so that a stalled or cut frame costs the peer nothing
    ROTATE_SYSTEM,
    READ_ANGLE,
    FLASH_ANGLE,
    READ_FACTORY,
    FLASH_FACTORY,
    TRANSMIT_TABLE, // three blocks: 4096, 4096 and 5 values
    SAVE_TABLE,
    READ_CALIBR_DATA,
};

struct TCommandInfo {
    const char* name;
    uint8_t code; // the request's command code
};

// In the order of TCommand.
constexpr TCommandInfo COMMANDS[] = {
    {"ReadIdentity", protocol::CMD_READ_IDENTITY},
    {"ReadUserParameter", protocol::CMD_READ_USER_PARAMETER},
    {"ReadUserParameters", protocol::CMD_READ_USER_PARAMETER},
    {"FlashUserStore", protocol::CMD_FLASH_USER_PARAMETERS},
    {"FlashUserRestore", protocol::CMD_FLASH_USER_PARAMETERS},
    {"GetResult", protocol::CMD_GET_RESULT},
    {"GetVideo", protocol::CMD_GET_VIDEO},
    {"RotateSystem", protocol::CMD_ROTATE_SYSTEM},
    {"ReadAngle", protocol::CMD_READ_ANGLE},
    {"FlashAngle", protocol::CMD_FLASH_ANGLE},
    {"ReadFactoryParameters", protocol::CMD_READ_FACTORY},
    {"FlashFactoryParameters", protocol::CMD_FLASH_FACTORY},
    {"TransmitTable", protocol::CMD_TRANSMIT_TABLE},
    {"SaveTable", protocol::CMD_SAVE_TABLE},
    {"ReadCalibrData", protocol::CMD_READ_CALIBR_DATA},
};
static_assert(std::size(COMMANDS) == static_cast<size_t>(TCommand::READ_CALIBR_DATA) + 1);

const char* CommandName(TCommand command) {
    return COMMANDS[static_cast<size_t>(command)].name;
}

uint8_t CommandCode(TCommand command) {
    return COMMANDS[static_cast<size_t>(command)].code;
}

struct TSensorCase {
    TCommand command;
    TSensorFault fault;
    TFaultMode mode;
    uint32_t code;     // the result the call must give
    uint32_t requests; // requests of the command the device must have taken
    uint32_t min_ms;   // a time-out that must have run out first (0: none)
    uint32_t bound_ms; // where the call must have ended by, from the link's bounds
};

// How the link reaches the virtual sensor.
enum class TWay {
    TTY, // a tty registered under the sensor's description
    USB, // an FTDI device on the USB bus, through libftdi1
};

// Puts virtual sensors where the link looks for them the given way.
class TAttachment {
public:
    explicit TAttachment(TWay way) {
        if (way == TWay::USB)
            ftdi = std::make_unique<zq455::test::TFtdiDouble>();
    }
    void Plug(TSensorSimulator& sim) {
        if (ftdi)
            ftdi->AddDevice({DEVICE, 0x6006, sim.SlavePath()});
        else
            sim.RegisterAs(DEVICE);
    }

private:
    std::unique_ptr<zq455::test::TFtdiDouble> ftdi;
};

// What GoogleTest prints for a case (its list and its failures), instead of the raw bytes.
void PrintTo(const TSensorCase& c, std::ostream* os) {
    *os << CommandName(c.command) << ", " << FaultName(c.fault)
        << (c.mode == TFaultMode::EVERY_REPLY ? " on every reply" : " on the next reply");
}

void PrintTo(TWay way, std::ostream* os) {
    *os << (way == TWay::TTY ? "tty" : "USB");
}

std::string WayName(const ::testing::TestParamInfo<TWay>& info) {
    return info.param == TWay::TTY ? "Tty" : "Usb";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<TSensorCase, TWay>>& info) {
    const TSensorCase& param = std::get<0>(info.param);
    std::string name =
        std::string(CommandName(param.command)) + "_" + zq455::test::CamelName(FaultName(param.fault));
    if (param.mode == TFaultMode::EVERY_REPLY)
        name += "_EveryReply";
    return name;
}

constexpr auto NEXT = TFaultMode::NEXT_REPLY;
constexpr auto EVERY = TFaultMode::EVERY_REPLY;

// The table of cases. Bounds as stated at the top; the comment says where each call ends.
const TSensorCase SENSOR_CASES[] = {
    // No reply: every command ends at its first hunted byte, 1010 ms after the request.
    {TCommand::READ_IDENTITY, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::READ_USER_PARAMETERS, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::READ_ANGLE, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::READ_FACTORY, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::GET_VIDEO, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::TRANSMIT_TABLE, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    {TCommand::READ_CALIBR_DATA, TSensorFault::NO_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 1000, HUNT_MS},
    // GetResult asks once more: a lost reply costs one hunt, two lost replies two.
    {TCommand::GET_RESULT, TSensorFault::NO_REPLY, NEXT, RESULT_OK, 2, 1000, HUNT_MS + NO_WAIT_MS},
    {TCommand::GET_RESULT, TSensorFault::NO_REPLY, EVERY, RESULT_READ_TIMEOUT, 2, 2000, 2 * HUNT_MS},

    // One data byte short, well framed: the length checks refuse it at once.
    {TCommand::READ_IDENTITY, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_USER_PARAMETER, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_USER_PARAMETERS, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_USER_STORE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::GET_RESULT, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::ROTATE_SYSTEM, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_ANGLE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_ANGLE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_FACTORY, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_FACTORY, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    // A block reply without data confirms nothing: refused, and the transfer ends there.
    {TCommand::TRANSMIT_TABLE, TSensorFault::SHORT_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    // Calibration data are judged by their count value, not here: an odd last byte is dropped.
    {TCommand::READ_CALIBR_DATA, TSensorFault::SHORT_REPLY, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    // A frame has no length field: without its last checksum byte, the checksum field ends
    // 10 ms after its second byte, within its 10 x 3 + 1000 ms.
    {TCommand::GET_VIDEO, TSensorFault::SHORT_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0, 10 * 3 + 1000},

    // One data byte too many.
    {TCommand::READ_IDENTITY, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_USER_PARAMETER, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::ROTATE_SYSTEM, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_FACTORY, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_FACTORY, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::LONG_REPLY, NEXT, RESULT_UNKNOWN_ERROR, 1, 0, NO_WAIT_MS},
    // These read what they need from the front of the reply.
    {TCommand::GET_RESULT, TSensorFault::LONG_REPLY, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::TRANSMIT_TABLE, TSensorFault::LONG_REPLY, EVERY, RESULT_OK, 3, 0, NO_WAIT_MS},
    {TCommand::READ_CALIBR_DATA, TSensorFault::LONG_REPLY, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    // A trailing byte after a frame is left in the queue and purged by the next request.
    {TCommand::GET_VIDEO, TSensorFault::LONG_REPLY, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},

    // Checksum's low bit flipped.
    {TCommand::READ_IDENTITY, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_USER_PARAMETERS, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::GET_VIDEO, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::ROTATE_SYSTEM, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_FACTORY, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_ANGLE, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::TRANSMIT_TABLE, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_CALIBR_DATA, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_PACKET_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::GET_RESULT, TSensorFault::WRONG_CHECKSUM, NEXT, RESULT_OK, 2, 0, NO_WAIT_MS},
    {TCommand::GET_RESULT, TSensorFault::WRONG_CHECKSUM, EVERY, RESULT_PACKET_ERROR, 2, 0, NO_WAIT_MS},

    // Line noise ahead of the start byte is skipped.
    {TCommand::READ_IDENTITY, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::GET_RESULT, TSensorFault::NOISE_BEFORE_START, EVERY, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::GET_VIDEO, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::READ_ANGLE, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::READ_FACTORY, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::TRANSMIT_TABLE, TSensorFault::NOISE_BEFORE_START, EVERY, RESULT_OK, 3, 0, NO_WAIT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},
    {TCommand::READ_CALIBR_DATA, TSensorFault::NOISE_BEFORE_START, NEXT, RESULT_OK, 1, 0, NO_WAIT_MS},

    // Half the reply, a pause of four byte gaps, the rest. Where the half ends inside a
    // field, that field's read ends 10 ms after its last byte.
    {TCommand::READ_IDENTITY, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0, 10 * 15 + 1000},
    {TCommand::READ_USER_PARAMETER, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0,
     10 * 2 + 1000},
    {TCommand::READ_ANGLE, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0, 10 * 5 + 1000},
    {TCommand::READ_FACTORY, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0, 10 * 88 + 1000},
    {TCommand::GET_VIDEO, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0, 10 * 64 + 1000},
    {TCommand::READ_CALIBR_DATA, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_READ_TIMEOUT, 1, 0,
     10 * 1282 + 1000},
    // GetResult's second request is answered; the stalled tail has no start byte and is skipped.
    {TCommand::GET_RESULT, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_OK, 2, 0,
     10 * 4099 + 1000 + NO_WAIT_MS},
    // A one-byte reply's half ends right after the length: the gap counts only between the
    // bytes of one read, so the data read waits for the rest and gets it.
    {TCommand::FLASH_USER_STORE, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_OK, 1, STALL_MS, 10 * 1 + 1000},
    {TCommand::TRANSMIT_TABLE, TSensorFault::STALL_MID_REPLY, NEXT, RESULT_OK, 3, STALL_MS, 10 * 1 + 1000},

    // Refused block: the transfer ends with it.
    {TCommand::TRANSMIT_TABLE, TSensorFault::REFUSE_TABLE_BLOCK, NEXT, RESULT_UNKNOWN_ERROR, 1, 0,
     NO_WAIT_MS},

    // Wrong confirmation byte.
    {TCommand::FLASH_USER_STORE, TSensorFault::WRONG_FLASH_CONFIRMATION, NEXT, RESULT_FLASH_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::WRONG_FLASH_CONFIRMATION, NEXT, RESULT_FLASH_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::FLASH_ANGLE, TSensorFault::WRONG_FLASH_CONFIRMATION, NEXT, RESULT_FLASH_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::FLASH_FACTORY, TSensorFault::WRONG_FLASH_CONFIRMATION, NEXT, RESULT_FLASH_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::SAVE_TABLE, TSensorFault::WRONG_FLASH_CONFIRMATION, NEXT, RESULT_FLASH_ERROR, 1, 0,
     NO_WAIT_MS},

    // The cable pulled half way through a reply: the link reports the hang-up at once.
    {TCommand::READ_IDENTITY, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_USER_PARAMETERS, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0,
     NO_WAIT_MS},
    {TCommand::FLASH_USER_RESTORE, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::GET_VIDEO, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_FACTORY, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::TRANSMIT_TABLE, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    {TCommand::READ_CALIBR_DATA, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_READ_ERROR, 1, 0, NO_WAIT_MS},
    // The repeated request cannot be written any more: its write error is what comes back.
    {TCommand::GET_RESULT, TSensorFault::CLOSE_MID_REPLY, NEXT, RESULT_WRITE_ERROR, 1, 0, NO_WAIT_MS},
};

TSensorTiming MatrixTiming() {
    TSensorTiming timing;
    timing.paced = false;
    timing.rate_change_ms = 20;
    timing.stall_ms = STALL_MS;
    return timing;
}

double MillisecondsSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

class SensorFaultMatrix : public ::testing::TestWithParam<std::tuple<TSensorCase, TWay>> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.IsValid());
        attachment = std::make_unique<TAttachment>(std::get<1>(GetParam()));
        attachment->Plug(sim);
        // A 64 x 51 frame: 10 % of each side.
        TSensorStore store = sim.Store();
        store.working.factory[USER_FIRST_FACTORY + USER_ROI_LEFT_WIDTH] = 10 << 7;
        store.working.factory[USER_FIRST_FACTORY + USER_ROI_TOP_HEIGHT] = 10 << 7;
        sim.SetStore(store);
        // The protocol's pauses, shortened but longer than the virtual sensor's rate change.
        sensor.Sleep = [](uint32_t ms) { SleepMilliseconds(std::min<uint32_t>(ms, 40)); };
        TSensorConnection record;
        record.name = DEVICE;
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
    }

    uint32_t Requests(uint8_t command) const {
        const std::vector<uint8_t> seen = sim.Commands();
        return static_cast<uint32_t>(std::count(seen.begin(), seen.end(), command));
    }

    TSensorSimulator sim{MatrixTiming()};
    std::unique_ptr<TAttachment> attachment;
    TZQ455Interface sensor;
};

template <size_t N> void ExpectAll(const uint16_t (&values)[N], uint16_t expected, const char* what) {
    for (size_t i = 0; i < N; ++i)
        ASSERT_EQ(values[i], expected) << what << " [" << i << "]";
}

TEST_P(SensorFaultMatrix, CodeBoundAndWhatStays) {
    const TSensorCase& c = std::get<0>(GetParam());
    const bool restore = c.command == TCommand::FLASH_USER_RESTORE;
    if (restore) {
        // Away from the defaults, so that following them is visible.
        ASSERT_EQ(sensor.LoadUserParameter(USER_NETWORK_ADDRESS, 5), RESULT_OK);
        ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 2), RESULT_OK);
        uint16_t identity[IDENTITY_COUNT];
        ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
        ASSERT_EQ(sim.Address(), 5);
    }
    const TSensorValues working_before = sim.Store().working;
    const uint32_t requests_before = Requests(CommandCode(c.command));

    // Sentinels in the caller's variables and the object's caches.
    uint16_t values[FACTORY_COUNT];
    std::fill(std::begin(values), std::end(values), SENTINEL);
    std::fill(std::begin(sensor.identity), std::end(sensor.identity), SENTINEL);
    std::fill(std::begin(sensor.factory), std::end(sensor.factory), SENTINEL);
    std::fill(std::begin(sensor.user), std::end(sensor.user), SENTINEL);
    uint16_t value = SENTINEL;
    uint32_t angle = 0xDEADBEEF;
    uint8_t result_status = 0x5A;
    uint16_t count = SENTINEL;
    std::vector<uint16_t> result(4096, SENTINEL);
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY, 0xFF);
    uint16_t rows = SENTINEL, width = SENTINEL, top = SENTINEL, left = SENTINEL;
    std::vector<uint16_t> table(2 * TABLE_BLOCK_VALUES + 5);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint16_t>(1 + i % 16000);
    uint32_t blocks_done = 0;
    uint32_t calibr_count = 0xFFFFFFFF;

    sim.InjectFault(c.fault, c.mode);
    const auto start = TClock::now();
    uint32_t code = 0;
    switch (c.command) {
    case TCommand::READ_IDENTITY:
        code = sensor.ReadIdentity(values);
        break;
    case TCommand::READ_USER_PARAMETER:
        code = sensor.ReadUserParameter(USER_EXPOSURE, value);
        break;
    case TCommand::READ_USER_PARAMETERS:
        code = sensor.ReadUserParameters(values);
        break;
    case TCommand::FLASH_USER_STORE:
        code = sensor.FlashUserParameters(false);
        break;
    case TCommand::FLASH_USER_RESTORE:
        code = sensor.FlashUserParameters(true);
        break;
    case TCommand::GET_RESULT:
        code = sensor.GetResult(result_status, count, result.data(), static_cast<uint32_t>(result.size()));
        break;
    case TCommand::GET_VIDEO:
        code = sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left);
        break;
    case TCommand::ROTATE_SYSTEM:
        code = sensor.RotateSystem(angle);
        break;
    case TCommand::READ_ANGLE:
        code = sensor.ReadAngle(angle);
        break;
    case TCommand::FLASH_ANGLE:
        code = sensor.FlashAngle(false);
        break;
    case TCommand::READ_FACTORY:
        code = sensor.ReadFactoryParameters(values);
        break;
    case TCommand::FLASH_FACTORY:
        code = sensor.FlashFactoryParameters(true);
        break;
    case TCommand::TRANSMIT_TABLE:
        code = sensor.TransmitTable(table.data(), static_cast<uint32_t>(table.size()),
                                    [&](uint32_t done, uint32_t) { blocks_done = done; });
        break;
    case TCommand::SAVE_TABLE:
        code = sensor.SaveTable();
        break;
    case TCommand::READ_CALIBR_DATA:
        code = sensor.ReadCalibrData(result.data(), static_cast<uint32_t>(result.size()), calibr_count);
        break;
    }
    const double elapsed = MillisecondsSince(start);

    EXPECT_EQ(code, c.code) << ResultMessage(code);
    EXPECT_EQ(sensor.status, code);
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LE(elapsed, c.bound_ms + SLACK_MS);
    // The requests the device took; at most one more is ever sent (GetResult's repeat).
    if (c.fault != TSensorFault::CLOSE_MID_REPLY || c.command != TCommand::GET_RESULT) {
        EXPECT_EQ(Requests(CommandCode(c.command)) - requests_before,
                  c.command == TCommand::READ_USER_PARAMETERS && code == RESULT_OK ? USER_COUNT : c.requests);
    }
    const bool ok = code == RESULT_OK;

    switch (c.command) {
    case TCommand::READ_IDENTITY:
        // The cache and the caller's array change together, and only on success.
        for (unsigned i = 0; i < IDENTITY_COUNT; ++i) {
            const uint16_t expected = ok ? TSensorSimulator::DEFAULT_IDENTITY[i] : SENTINEL;
            EXPECT_EQ(values[i], expected) << i;
            EXPECT_EQ(sensor.identity[i], expected) << i;
        }
        ExpectAll(sensor.factory, SENTINEL, "factory cache");
        break;
    case TCommand::READ_USER_PARAMETER:
        EXPECT_EQ(value, ok ? working_before.User(USER_EXPOSURE) : SENTINEL);
        EXPECT_EQ(sensor.user[USER_EXPOSURE], ok ? working_before.User(USER_EXPOSURE) : SENTINEL);
        break;
    case TCommand::READ_USER_PARAMETERS:
        if (ok) {
            for (unsigned i = 0; i < USER_COUNT; ++i)
                EXPECT_EQ(values[i], working_before.User(i)) << i;
        } else {
            // The fault met the first parameter: nothing decoded, nothing handed out.
            ExpectAll(values, SENTINEL, "caller's array");
            ExpectAll(sensor.user, SENTINEL, "user cache");
        }
        break;
    case TCommand::FLASH_USER_RESTORE: {
        // The sensor has taken its defaults whatever the confirmation says; the link follows
        // it to address 0 and 921600 bit/s once a one-byte confirmation has arrived, and
        // stays where it was when none did.
        const bool confirmation_arrived = code == RESULT_OK || code == RESULT_FLASH_ERROR;
        EXPECT_EQ(sensor.connection.address, confirmation_arrived ? 0 : 5);
        EXPECT_EQ(sensor.link.settings.baud, confirmation_arrived ? 921600u : 460800u);
        if (confirmation_arrived) {
            uint16_t identity[IDENTITY_COUNT];
            EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_OK) << "the link did not follow the defaults";
        }
        break;
    }
    case TCommand::GET_RESULT:
        if (ok) {
            EXPECT_EQ(count, 1024);
            EXPECT_EQ(result_status, 0);
            EXPECT_NE(result[2 * 1024 - 1], SENTINEL);
            EXPECT_EQ(result[2 * 1024], SENTINEL) << "written past the announced pairs";
        } else {
            EXPECT_EQ(count, SENTINEL);
            EXPECT_EQ(result_status, 0x5A);
            EXPECT_TRUE(std::all_of(result.begin(), result.end(), [](uint16_t v) { return v == SENTINEL; }));
        }
        break;
    case TCommand::GET_VIDEO:
        if (ok) {
            EXPECT_EQ(rows, 51);
            EXPECT_EQ(width, 64);
            EXPECT_EQ(top, 0);
            EXPECT_EQ(left, 0);
            EXPECT_EQ(pixels[64 * 51], 0xFF) << "written past the frame";
        } else {
            EXPECT_EQ(rows, 0);
            EXPECT_EQ(width, 0);
            EXPECT_EQ(top, SENTINEL);
            EXPECT_EQ(left, SENTINEL);
        }
        break;
    case TCommand::ROTATE_SYSTEM:
    case TCommand::READ_ANGLE:
        if (!ok) {
            EXPECT_EQ(angle, 0xDEADBEEF);
        }
        break;
    case TCommand::READ_FACTORY:
        for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
            const uint16_t expected = ok ? working_before.factory[i] : SENTINEL;
            EXPECT_EQ(values[i], expected) << i;
            EXPECT_EQ(sensor.factory[i], expected) << i;
        }
        break;
    case TCommand::TRANSMIT_TABLE: {
        // Blocks after a failed one are never sent. The sensor keeps the first block unless
        // it refused it; only the reply to it went wrong.
        // What was not replaced is still the factory table the sensor started with.
        const std::vector<uint16_t> memory = sim.TableMemory();
        const std::vector<uint16_t> factory = sim.FactoryTable().Cells();
        EXPECT_EQ(blocks_done, ok ? 3u : 0u);
        const bool stored = c.fault != TSensorFault::REFUSE_TABLE_BLOCK;
        for (size_t i = 0; i < TABLE_BLOCK_VALUES; ++i)
            ASSERT_EQ(memory[i], stored ? table[i] : factory[i]) << i;
        for (size_t i = TABLE_BLOCK_VALUES; i < table.size(); ++i)
            ASSERT_EQ(memory[i], ok ? table[i] : factory[i]) << i;
        break;
    }
    case TCommand::READ_CALIBR_DATA:
        if (ok) {
            // The count value, then one value per column. A byte short loses the last
            // column's value; a byte too many is an odd last byte and dropped.
            const uint32_t expected = c.fault == TSensorFault::SHORT_REPLY ? 640u : 641u;
            EXPECT_EQ(calibr_count, expected);
            EXPECT_EQ(result[0], 640);
            EXPECT_EQ(result[calibr_count], SENTINEL);
        } else {
            EXPECT_EQ(calibr_count, 0u);
            EXPECT_TRUE(std::all_of(result.begin(), result.end(), [](uint16_t v) { return v == SENTINEL; }));
        }
        break;
    default:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, SensorFaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(SENSOR_CASES), ::testing::Values(TWay::TTY)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(UsbFaults, SensorFaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(SENSOR_CASES), ::testing::Values(TWay::USB)),
                         CaseName);

// After the cable was pulled, the same object works again once the device is back: Close,
// a new device under the same description, Open.
class SensorComesBack : public ::testing::TestWithParam<TWay> {
protected:
    TAttachment attachment{GetParam()};
};

TEST_P(SensorComesBack, AfterAPulledCableTheSameObjectReconnects) {
    TZQ455Interface sensor;
    sensor.Sleep = [](uint32_t) {};
    TSensorConnection record;
    record.name = DEVICE;
    uint16_t identity[IDENTITY_COUNT];
    {
        TSensorSimulator sim(MatrixTiming());
        attachment.Plug(sim);
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
        ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
        sim.PullCable();
        // Once the peer has gone, no request can be written.
        const auto start = TClock::now();
        uint32_t code = RESULT_OK;
        while (code == RESULT_OK && MillisecondsSince(start) < 1000)
            code = sensor.ReadIdentity(identity);
        EXPECT_TRUE(code == RESULT_WRITE_ERROR || code == RESULT_READ_ERROR) << code;
        EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_WRITE_ERROR);
        EXPECT_LE(MillisecondsSince(start), NO_WAIT_MS + SLACK_MS);
        sensor.Close();
    }
    EXPECT_EQ(sensor.Open(record), RESULT_PORT_NOT_OPENED) << "no device under the description";
    EXPECT_NE(sensor.link.Reason(), "");
    TSensorSimulator back(MatrixTiming());
    attachment.Plug(back);
    ASSERT_EQ(sensor.Open(record), RESULT_OK);
    std::fill(std::begin(identity), std::end(identity), SENTINEL);
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    EXPECT_EQ(identity[2], TSensorSimulator::DEFAULT_IDENTITY[2]);
}

TEST_P(SensorComesBack, AfterACloseInTheMiddleOfAReplyAReopenWorks) {
    TZQ455Interface sensor;
    TSensorConnection record;
    record.name = DEVICE;
    uint16_t factory[FACTORY_COUNT];
    {
        TSensorSimulator sim(MatrixTiming());
        attachment.Plug(sim);
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
        sim.InjectFault(TSensorFault::CLOSE_MID_REPLY);
        ASSERT_EQ(sensor.ReadFactoryParameters(factory), RESULT_READ_ERROR);
    }
    // The window's Connect again: a re-open without a Close in between.
    TSensorSimulator back(MatrixTiming());
    attachment.Plug(back);
    ASSERT_EQ(sensor.Open(record), RESULT_OK);
    ASSERT_EQ(sensor.ReadFactoryParameters(factory), RESULT_OK);
    EXPECT_EQ(factory[0], back.Store().working.factory[0]);
}

INSTANTIATE_TEST_SUITE_P(Ways, SensorComesBack, ::testing::Values(TWay::TTY, TWay::USB), WayName);

} // namespace

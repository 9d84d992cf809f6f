// Every fault the virtual stage can inject, against every motor command: the exact result
// code, the time against the link's bound (a reply of N bytes has 10 x N + 1000 ms, a reply
// whose bytes stop ends 10 ms after the last one), and the status field and the caller's
// output untouched whenever the call fails.

#include "link/Pause.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sim/StageSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

using namespace zq455;
using TClock = std::chrono::steady_clock;

namespace {

constexpr double SLACK_MS = 200; // scheduling on a loaded machine, and the sanitizers
constexpr uint32_t STATUS_REPLY_MS = 10 * 6 + 1000;
constexpr uint32_t INIT_REPLY_MS = 10 * 2 + 1000;
constexpr uint8_t STATUS_BEFORE = 0xA5; // the status field before the call
constexpr uint8_t OUTPUT_BEFORE = 0x5A; // the caller's status variable before the call

enum class TMotorCommand : uint8_t { GET_STATUS, GET_STATUS2, INIT, MOVE_FORWARD, MOVE_BACKWARD };

struct TStageCase {
    TMotorCommand command;
    TStageFault fault;
    uint32_t code;
    uint32_t min_ms;
    uint32_t bound_ms;
};

// Names for the case names, in the order of the enumerations.
constexpr const char* COMMAND_NAMES[] = {"GetStatus", "GetStatus2", "Init", "MoveForward", "MoveBackward"};
constexpr const char* FAULT_NAMES[] = {"None", "NoReply", "ShortReply", "NeverIdle", "CablePulledMidReply"};

const char* CommandName(TMotorCommand command) {
    return COMMAND_NAMES[static_cast<size_t>(command)];
}

const char* StageFaultName(TStageFault fault) {
    return FAULT_NAMES[static_cast<size_t>(fault)];
}

const TStageCase STAGE_CASES[] = {
    // Silence: the whole reply's bound runs out.
    {TMotorCommand::GET_STATUS, TStageFault::NO_REPLY, RESULT_READ_TIMEOUT, 1000, STATUS_REPLY_MS},
    {TMotorCommand::GET_STATUS2, TStageFault::NO_REPLY, RESULT_READ_TIMEOUT, 1000, STATUS_REPLY_MS},
    {TMotorCommand::INIT, TStageFault::NO_REPLY, RESULT_READ_TIMEOUT, 1000, INIT_REPLY_MS},
    {TMotorCommand::MOVE_FORWARD, TStageFault::NO_REPLY, RESULT_READ_TIMEOUT, 1000, STATUS_REPLY_MS},
    {TMotorCommand::MOVE_BACKWARD, TStageFault::NO_REPLY, RESULT_READ_TIMEOUT, 1000, STATUS_REPLY_MS},
    // 4 of 6 bytes (1 of 2 for Init): the read ends at the byte gap, within the bound.
    {TMotorCommand::GET_STATUS, TStageFault::SHORT_REPLY, RESULT_READ_TIMEOUT, 0, STATUS_REPLY_MS},
    {TMotorCommand::GET_STATUS2, TStageFault::SHORT_REPLY, RESULT_READ_TIMEOUT, 0, STATUS_REPLY_MS},
    {TMotorCommand::INIT, TStageFault::SHORT_REPLY, RESULT_READ_TIMEOUT, 0, INIT_REPLY_MS},
    {TMotorCommand::MOVE_FORWARD, TStageFault::SHORT_REPLY, RESULT_READ_TIMEOUT, 0, STATUS_REPLY_MS},
    {TMotorCommand::MOVE_BACKWARD, TStageFault::SHORT_REPLY, RESULT_READ_TIMEOUT, 0, STATUS_REPLY_MS},
    // Half a reply and a hang-up: the read reports it at once.
    {TMotorCommand::GET_STATUS, TStageFault::CABLE_PULLED_MID_REPLY, RESULT_READ_ERROR, 0, STATUS_REPLY_MS},
    {TMotorCommand::GET_STATUS2, TStageFault::CABLE_PULLED_MID_REPLY, RESULT_READ_ERROR, 0, STATUS_REPLY_MS},
    {TMotorCommand::INIT, TStageFault::CABLE_PULLED_MID_REPLY, RESULT_READ_ERROR, 0, INIT_REPLY_MS},
    {TMotorCommand::MOVE_FORWARD, TStageFault::CABLE_PULLED_MID_REPLY, RESULT_READ_ERROR, 0, STATUS_REPLY_MS},
    {TMotorCommand::MOVE_BACKWARD, TStageFault::CABLE_PULLED_MID_REPLY, RESULT_READ_ERROR, 0,
     STATUS_REPLY_MS},
    // A drive that never comes to rest answers every request well: the busy bits are the
    // caller's to judge (the calibration run stops on its own bound).
    {TMotorCommand::GET_STATUS, TStageFault::NEVER_IDLE, RESULT_OK, 0, STATUS_REPLY_MS},
    {TMotorCommand::MOVE_FORWARD, TStageFault::NEVER_IDLE, RESULT_OK, 0, STATUS_REPLY_MS},
};

void PrintTo(const TStageCase& c, std::ostream* os) {
    *os << CommandName(c.command) << ", " << StageFaultName(c.fault);
}

std::string CaseName(const ::testing::TestParamInfo<TStageCase>& info) {
    return std::string(CommandName(info.param.command)) + "_" + StageFaultName(info.param.fault);
}

double MillisecondsSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

uint32_t RunCommand(TMotorInterface& motor, TMotorCommand command, uint8_t& output) {
    switch (command) {
    case TMotorCommand::GET_STATUS:
        return motor.GetStatus(output);
    case TMotorCommand::GET_STATUS2:
        return motor.GetStatus2(output);
    case TMotorCommand::INIT:
        return motor.Init();
    case TMotorCommand::MOVE_FORWARD:
        return motor.MoveForward(3200);
    case TMotorCommand::MOVE_BACKWARD:
        return motor.MoveBackward(1600);
    }
    return RESULT_OK;
}

class StageFaultMatrix : public ::testing::TestWithParam<TStageCase> {
protected:
    void SetUp() override {
        TStageSettings settings;
        settings.fast = true;
        settings.start_steps = 8000;
        stage = std::make_unique<TStageSimulator>(settings);
        ASSERT_TRUE(stage->IsValid());
        stage->RegisterUsb(MOTOR_USB_DESCRIPTION);
        ASSERT_EQ(motor.Open(TMotorOpenSettings{}), RESULT_OK);
    }

    std::unique_ptr<TStageSimulator> stage;
    TMotorInterface motor;
};

TEST_P(StageFaultMatrix, CodeBoundAndStatusKept) {
    const TStageCase& c = GetParam();
    stage->SetFault(c.fault);
    if (c.fault == TStageFault::NEVER_IDLE && c.command == TMotorCommand::GET_STATUS) {
        ASSERT_EQ(motor.MoveForward(10), RESULT_OK); // the fault takes hold with a move
    }
    motor.status = STATUS_BEFORE;
    uint8_t output = OUTPUT_BEFORE;
    const auto start = TClock::now();
    const uint32_t code = RunCommand(motor, c.command, output);
    const double elapsed = MillisecondsSince(start);

    EXPECT_EQ(code, c.code) << ResultMessage(code);
    EXPECT_EQ(motor.last_result, code);
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LE(elapsed, c.bound_ms + SLACK_MS);
    if (code != RESULT_OK) {
        EXPECT_EQ(motor.status, STATUS_BEFORE);
        EXPECT_EQ(output, OUTPUT_BEFORE);
    }
    if (c.fault == TStageFault::CABLE_PULLED_MID_REPLY) {
        // Nothing can be sent any more, and the status still stays.
        EXPECT_FALSE(stage->IsConnected());
        EXPECT_EQ(motor.GetStatus(output), RESULT_WRITE_ERROR);
        EXPECT_EQ(motor.status, STATUS_BEFORE);
        EXPECT_EQ(output, OUTPUT_BEFORE);
    }
    if (c.fault == TStageFault::NEVER_IDLE) {
        // Long after the 10-step move has run its time, the busy bits are still set.
        SleepMilliseconds(20);
        ASSERT_EQ(motor.GetStatus(output), RESULT_OK);
        EXPECT_EQ(output & MOTOR_BUSY_MASK, MOTOR_BUSY_MASK);
        stage->SetFault(TStageFault::NONE);
        ASSERT_EQ(motor.GetStatus(output), RESULT_OK);
        EXPECT_EQ(output & MOTOR_BUSY_MASK, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, StageFaultMatrix, ::testing::ValuesIn(STAGE_CASES), CaseName);

// The stage's cable is pulled and plugged back in: the same motor object connects again.
TEST(StageComesBack, AfterAPulledCableTheSameObjectReconnects) {
    TMotorInterface motor;
    TStageSettings settings;
    settings.fast = true;
    uint8_t output = 0;
    {
        TStageSimulator stage(settings);
        stage.RegisterUsb(MOTOR_USB_DESCRIPTION);
        ASSERT_EQ(motor.Open(TMotorOpenSettings{}), RESULT_OK);
        stage.SetFault(TStageFault::CABLE_PULLED_MID_REPLY);
        ASSERT_EQ(motor.GetStatus(output), RESULT_READ_ERROR);
        ASSERT_EQ(motor.Close(), RESULT_OK);
    }
    EXPECT_EQ(motor.Open(TMotorOpenSettings{}), RESULT_PORT_NOT_OPENED);
    TStageSimulator back(settings);
    back.RegisterUsb(MOTOR_USB_DESCRIPTION);
    ASSERT_EQ(motor.Open(TMotorOpenSettings{}), RESULT_OK);
    ASSERT_EQ(motor.GetStatus(output), RESULT_OK);
    EXPECT_EQ(output, MOTOR_HOME_BIT);
    ASSERT_EQ(motor.MoveForward(3200), RESULT_OK);
}

} // namespace

#include "sim/StageSimulator.h"
#include "link/Interface.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "support/BytePeer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zq455;
using zq455::test::MillisecondsSince;
using TClock = std::chrono::steady_clock;
using TBytes = std::vector<uint8_t>;

namespace {

TStageSettings Fast(int32_t start_steps = 0) {
    TStageSettings settings;
    settings.fast = true;
    settings.start_steps = start_steps;
    return settings;
}

// The motor object as the window connects it: USB mode, by the driver's description.
class MotorOnStage : public ::testing::Test {
protected:
    void Connect(const TStageSettings& settings) {
        stage = std::make_unique<TStageSimulator>(settings);
        ASSERT_TRUE(stage->IsValid());
        stage->RegisterUsb(MOTOR_USB_DESCRIPTION);
        ASSERT_EQ(motor.Open(TMotorOpenSettings{}), RESULT_OK);
    }
    // Polls as the motor timer does until both busy bits are clear; the last status read.
    uint8_t PollUntilIdle(int* busy_polls = nullptr, int timeout_ms = 5000) {
        const auto start = TClock::now();
        uint8_t st = MOTOR_BUSY_MASK;
        while (MillisecondsSince(start) < timeout_ms) {
            EXPECT_EQ(motor.GetStatus(st), RESULT_OK);
            if ((st & MOTOR_BUSY_MASK) == 0)
                break;
            if (busy_polls)
                ++*busy_polls;
        }
        return st;
    }

    TMotorInterface motor;
    std::unique_ptr<TStageSimulator> stage;
};

// The raw link, for requests the motor object would never send.
// USB mode, so that a read is one call and a silence costs only its one bound.
uint32_t OpenRawLink(TInterface& link, TStageSimulator& stage) {
    stage.RegisterUsb("RAW STAGE LINK");
    TLinkSettings settings;
    settings.mode = LINK_MODE_USB;
    settings.name = "RAW STAGE LINK";
    settings.baud = MOTOR_BAUD;
    settings.read_interval_ms = 10;
    settings.read_total_ms = 30;
    return link.Open(settings);
}

} // namespace

TEST_F(MotorOnStage, MoveIsBusyThenIdleAndEndsWhereItWasSent) {
    TStageSettings settings;
    settings.steps_per_second = 16000; // 3200 steps in 200 ms
    Connect(settings);
    uint8_t st = 0;
    ASSERT_EQ(motor.GetStatus(st), RESULT_OK);
    EXPECT_EQ(st, MOTOR_HOME_BIT);

    ASSERT_EQ(motor.MoveForward(3200), RESULT_OK);
    EXPECT_EQ(motor.status & MOTOR_BUSY_MASK, MOTOR_BUSY_MASK);
    int busy_polls = 0;
    st = PollUntilIdle(&busy_polls);
    EXPECT_GT(busy_polls, 0);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(stage->PositionSteps(), 3200);
    EXPECT_DOUBLE_EQ(stage->PositionUm(), 40000.0);

    ASSERT_EQ(motor.MoveBackward(1200), RESULT_OK);
    EXPECT_EQ(PollUntilIdle() & MOTOR_BUSY_MASK, 0);
    EXPECT_EQ(stage->PositionSteps(), 2000);

    // A move of 0 steps does not make the drive busy.
    ASSERT_EQ(motor.MoveForward(0), RESULT_OK);
    EXPECT_EQ(motor.status & MOTOR_BUSY_MASK, 0);

    ASSERT_EQ(stage->Requests().size(), 3u);
    EXPECT_EQ(stage->Requests()[0].command, MOTOR_MOVE_FORWARD);
    EXPECT_EQ(stage->Requests()[0].steps, 3200u);
    EXPECT_EQ(stage->Requests()[1].command, MOTOR_MOVE_BACKWARD);
    EXPECT_EQ(stage->Requests()[1].steps, 1200u);
}

TEST_F(MotorOnStage, InitDrivesHomeAndSetsTheHomeBit) {
    Connect(Fast(5000));
    uint8_t st = 0;
    ASSERT_EQ(motor.GetStatus(st), RESULT_OK);
    EXPECT_EQ(st & MOTOR_HOME_BIT, 0);
    ASSERT_EQ(motor.Init(), RESULT_OK);
    st = PollUntilIdle();
    EXPECT_EQ(st, MOTOR_HOME_BIT);
    EXPECT_EQ(stage->PositionSteps(), 0);
    EXPECT_EQ(stage->RequestCount(MOTOR_INIT), 1u);

    // Init while a move runs takes over and still ends at home.
    ASSERT_EQ(motor.MoveForward(20000), RESULT_OK);
    ASSERT_EQ(motor.Init(), RESULT_OK);
    EXPECT_EQ(PollUntilIdle(), MOTOR_HOME_BIT);
    EXPECT_EQ(stage->PositionSteps(), 0);
}

TEST_F(MotorOnStage, TravelEndsStopTheCarriage) {
    Connect(Fast(100));
    ASSERT_EQ(motor.MoveBackward(250), RESULT_OK);
    EXPECT_EQ(PollUntilIdle(), MOTOR_HOME_BIT);
    EXPECT_EQ(stage->PositionSteps(), 0);

    stage->SetPositionSteps(STAGE_TRAVEL_STEPS - 10);
    ASSERT_EQ(motor.MoveForward(0xFFFFFFFF), RESULT_OK);
    EXPECT_EQ(PollUntilIdle(), STAGE_FAR_END_BIT);
    EXPECT_EQ(stage->PositionSteps(), STAGE_TRAVEL_STEPS);
}

TEST_F(MotorOnStage, NeverIdleFaultKeepsTheBusyBits) {
    Connect(Fast());
    stage->SetFault(TStageFault::NEVER_IDLE);
    ASSERT_EQ(motor.MoveForward(100), RESULT_OK);
    const auto start = TClock::now();
    while (stage->IsMoving() && MillisecondsSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(stage->PositionSteps(), 100);
    uint8_t st = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(motor.GetStatus(st), RESULT_OK);
        EXPECT_EQ(st & MOTOR_BUSY_MASK, MOTOR_BUSY_MASK);
    }
    stage->SetFault(TStageFault::NONE);
    EXPECT_EQ(PollUntilIdle(), 0);
}

TEST_F(MotorOnStage, ReplyFaultsGiveTheLinksCodesAndKeepTheStatus) {
    Connect(Fast());
    uint8_t out = 0;
    ASSERT_EQ(motor.GetStatus(out), RESULT_OK);
    ASSERT_EQ(motor.status, MOTOR_HOME_BIT);

    stage->SetFault(TStageFault::SHORT_REPLY);
    out = 0x77;
    EXPECT_EQ(motor.GetStatus(out), RESULT_READ_TIMEOUT);
    EXPECT_EQ(motor.MoveForward(3200), RESULT_READ_TIMEOUT);
    EXPECT_EQ(motor.Init(), RESULT_READ_TIMEOUT);
    EXPECT_EQ(out, 0x77);
    EXPECT_EQ(motor.status, MOTOR_HOME_BIT);
    // The drive did what it was told; only its replies were cut.
    EXPECT_EQ(stage->Requests().size(), 2u);

    stage->SetFault(TStageFault::NO_REPLY);
    EXPECT_EQ(motor.GetStatus2(out), RESULT_READ_TIMEOUT);
    EXPECT_EQ(out, 0x77);

    stage->SetFault(TStageFault::NONE);
    EXPECT_EQ(motor.GetStatus(out), RESULT_OK);
    EXPECT_EQ(out, MOTOR_HOME_BIT);

    // A cable pulled half way through a reply is a read error; after it the writes fail.
    stage->SetFault(TStageFault::CABLE_PULLED_MID_REPLY);
    out = 0x77;
    EXPECT_EQ(motor.GetStatus(out), RESULT_READ_ERROR);
    EXPECT_FALSE(stage->IsConnected());
    EXPECT_EQ(motor.GetStatus(out), RESULT_WRITE_ERROR);
    EXPECT_EQ(out, 0x77);
}

// The program sends a move byte by byte with gaps between; the stage answers only after
// the ninth byte, and a command byte inside a move abandons it.
TEST(StageSimulator, AssemblesAMoveFromSingleBytes) {
    TStageSimulator stage(Fast());
    TInterface link;
    ASSERT_EQ(OpenRawLink(link, stage), RESULT_OK);
    uint8_t request[9] = {0x04, 0xF0, 0xF8, 0xFC, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0};
    uint8_t reply[6] = {};
    for (int i = 0; i < 9; ++i) {
        ASSERT_EQ(link.Write(TIoBuffer{request + i, 1, nullptr}), RESULT_OK);
        if (i < 8) {
            ASSERT_EQ(link.Read(TIoBuffer{reply, 1, nullptr}), RESULT_READ_TIMEOUT)
                << "answered after byte " << i;
        }
    }
    ASSERT_EQ(link.Read(TIoBuffer{reply, 6, nullptr}), RESULT_OK);
    EXPECT_EQ(reply[0] & 0xF0, 0xF0);
    EXPECT_EQ(reply[1] & 0xF0, 0xF0);
    EXPECT_EQ(reply[0] & 0x0F, MOTOR_BUSY_MASK);
    // Bytes 2..5: where the carriage stood when the move began.
    EXPECT_EQ((TBytes{reply + 2, reply + 6}), (TBytes{0xF0, 0xF0, 0xF0, 0xF0}));
    const auto start = TClock::now();
    while (stage.IsMoving() && MillisecondsSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(stage.PositionSteps(), 3200);

    // A move cut off after three bytes, then a status request: only the status is answered.
    uint8_t broken[4] = {0x05, 0xF4, 0xF6, 0x00};
    for (uint8_t& byte : broken)
        ASSERT_EQ(link.Write(TIoBuffer{&byte, 1, nullptr}), RESULT_OK);
    ASSERT_EQ(link.Read(TIoBuffer{reply, 6, nullptr}), RESULT_OK);
    EXPECT_EQ(reply[0] & 0x0F, 0);
    // 3200 = 0xC80 as the position nibbles.
    EXPECT_EQ((TBytes{reply + 2, reply + 6}), (TBytes{0xF0, 0xF8, 0xFC, 0xF0}));
    EXPECT_EQ(link.Read(TIoBuffer{reply, 1, nullptr}), RESULT_READ_TIMEOUT);
    EXPECT_EQ(stage.PositionSteps(), 3200);
    EXPECT_EQ(stage.RequestCount(MOTOR_MOVE_BACKWARD), 0u);

    // Stray nibble bytes and unknown codes get no answer.
    uint8_t stray[3] = {0xF3, 0x01, 0x7F};
    for (uint8_t& byte : stray)
        ASSERT_EQ(link.Write(TIoBuffer{&byte, 1, nullptr}), RESULT_OK);
    EXPECT_EQ(link.Read(TIoBuffer{reply, 1, nullptr}), RESULT_READ_TIMEOUT);
}

// Reply bytes are paced at the rate the program set on its side: 6 bytes at 1200 bit/s
// take 50 ms on the wire.
TEST(StageSimulator, PacesRepliesAtTheProgramsBitRate) {
    TStageSimulator stage;
    TInterface link;
    TLinkSettings settings;
    settings.name = stage.SlavePath();
    settings.baud = 1200;
    settings.read_interval_ms = 20;
    settings.read_total_ms = 1000;
    ASSERT_EQ(link.Open(settings), RESULT_OK);
    uint8_t command = MOTOR_GET_STATUS;
    uint8_t reply[6] = {};
    ASSERT_EQ(link.Write(TIoBuffer{&command, 1, nullptr}), RESULT_OK);
    const auto start = TClock::now();
    ASSERT_EQ(link.Read(TIoBuffer{reply, 6, nullptr}), RESULT_OK);
    EXPECT_GE(MillisecondsSince(start), 40.0);
    EXPECT_EQ(reply[1] & 0x0F, MOTOR_HOME_BIT >> 4);
}

// The motor timer's state machine against the virtual stage (fast) and the virtual sensor
// (unpaced), ticked the way the window's timer ticks it.

#include "calibration/CalibrationSequencer.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sensor/Zq455interface.h"
#include "sim/SensorModel.h"
#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zq455;

namespace {

class Sequencer : public ::testing::Test {
protected:
    void SetUp() override {
        TStageSettings settings;
        settings.fast = true;
        stage = std::make_unique<TStageSimulator>(settings);
        TSensorTiming timing;
        timing.paced = false;
        sim = std::make_unique<TSensorSimulator>(timing);
        sim->SetStagePositionSource([this] { return stage->PositionUm(); });
        TMotorOpenSettings open;
        open.port_kind = LINK_MODE_COM;
        open.device_name = stage->SlavePath();
        ASSERT_EQ(motor.Open(open), RESULT_OK);
        TSensorConnection record;
        record.mode = LINK_MODE_COM;
        record.name = sim->SlavePath();
        ASSERT_EQ(sensor.Open(record), RESULT_OK);
        run = std::make_unique<TCalibrationSequencer>(
            state, motor,
            [this](uint16_t* values, uint32_t capacity, uint32_t& count) {
                ++reads;
                if (fail_at_read != 0 && reads >= fail_at_read)
                    return uint32_t{RESULT_PACKET_ERROR};
                return sensor.ReadCalibrData(values, capacity, count);
            },
            [this] { return rz; });
        run->Sleep = [this](uint32_t ms) { pauses.push_back({ms, state.Calibr_Step_Index, reads}); };
    }

    // Ticks until the timer would stay off (or `until` holds); the number of ticks.
    int TickUntilIdle(const std::function<bool()>& until = {}, int limit = 200000) {
        int ticks = 0;
        for (; ticks < limit; ++ticks) {
            last = run->Tick();
            if (last.captured)
                ++captures;
            if (!last.rearm || (until && until()))
                return ticks + 1;
        }
        return ticks;
    }

    struct TPause {
        uint32_t ms;
        uint16_t index;
        int reads;
    };
    std::unique_ptr<TStageSimulator> stage;
    std::unique_ptr<TSensorSimulator> sim;
    TMotorInterface motor;
    TZQ455Interface sensor;
    TCalibrationState state;
    std::unique_ptr<TCalibrationSequencer> run;
    uint16_t rz = 50;
    int reads = 0;
    int fail_at_read = 0;
    int captures = 0;
    TCalibrTick last;
    std::vector<TPause> pauses;
};

} // namespace

TEST_F(Sequencer, ARunMakesOneApproachFiveHundredCapturesAndEndsWithStatus2) {
    state.Calibr_Data[200][0] = 7; // older content of a captured step goes
    ASSERT_TRUE(run->StartCalibration(22000));
    EXPECT_EQ(run->Tag, CALIBR_TAG_APPROACH);
    const uint64_t status2_before = stage->RequestCount(MOTOR_GET_STATUS2);
    TickUntilIdle();
    EXPECT_EQ(last.sensor_result, 0u);
    EXPECT_EQ(run->Motor_Result, 0u);
    EXPECT_EQ(run->Tag, CALIBR_TAG_CAPTURE);
    EXPECT_EQ(captures, 500);
    EXPECT_EQ(reads, 1500);
    EXPECT_EQ(state.Calibr_Step_Index, 500);
    EXPECT_EQ(state.Calibr_Step_Um, 112.5f);
    EXPECT_EQ(stage->RequestCount(MOTOR_GET_STATUS2), status2_before + 1);
    // The settling pause once, after the approach and before the first frame.
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 2000u);
    EXPECT_EQ(pauses[0].reads, 0);
    const auto moves = stage->Requests();
    ASSERT_EQ(moves.size(), 500u);
    EXPECT_EQ(moves[0].steps, 1760u);
    for (size_t i = 1; i < moves.size(); ++i)
        ASSERT_EQ(moves[i].steps, 9u) << i;
    EXPECT_EQ(stage->PositionSteps(), 1760 + 499 * 9);
    // Every step holds the target's line: column 0 never, the zero stripe while its line
    // stays on the camera's rows (the run ends 10 % past the range).
    TSensorModel model;
    model.SetGeometry({80, 50, 8, 10, {}});
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        ASSERT_EQ(state.Calibr_Data[0][k], 0) << k;
        const double z = model.TargetZ(22000 + 112.5 * k);
        ASSERT_EQ(state.Calibr_Data[320][k] != 0, model.LinePosition(320, z) <= TSensorModel::POSITION_MAX)
            << k;
    }
    EXPECT_NEAR(model.TargetZ(22000), 0.0, 1e-9); // the first capture: the near end of the range
    EXPECT_LT(state.Calibr_Data[320][0], state.Calibr_Data[320][450]);
    EXPECT_EQ(run->StepView().size(), 640u);
    // Another tick after the end does nothing to the stage.
    run->Tag = 7;
    EXPECT_FALSE(run->Tick().rearm);
    EXPECT_EQ(stage->Requests().size(), 500u);
}

TEST_F(Sequencer, ARunAwayFromHomeGoesHomeFirstAndKeepsItsOwnPitch) {
    // Where a check or a manual move left the stage: Init, then the approach from home.
    ASSERT_TRUE(run->MotorForward(4000));
    TickUntilIdle();
    const size_t before = stage->Requests().size();
    ASSERT_TRUE(run->StartCalibration(22000));
    EXPECT_EQ(run->Tag, CALIBR_TAG_HOME);
    EXPECT_TRUE(run->Capturing());
    TickUntilIdle([&] { return state.Calibr_Step_Index == 20; });
    const auto moves = stage->Requests();
    ASSERT_GT(moves.size(), before + 2);
    EXPECT_EQ(moves[before].command, MOTOR_INIT);
    EXPECT_EQ(moves[before + 1].command, MOTOR_MOVE_FORWARD);
    EXPECT_EQ(moves[before + 1].steps, 1760u);
    // Calculate sets the shared pitch for its passes; the run's moves stay 9 steps.
    state.Calibr_Step_Um = 500.0f;
    TickUntilIdle([&] { return state.Calibr_Step_Index == 40; });
    const auto later = stage->Requests();
    for (size_t i = before + 2; i < later.size(); ++i)
        ASSERT_EQ(later[i].steps, 9u) << i;
    EXPECT_EQ(run->RunPitchUm(), 112.5f);
}

TEST_F(Sequencer, PitchFollowsTheRangeReadAtTheStartPosition) {
    rz = 10;                                // 22 um -> 2 motor steps
    ASSERT_TRUE(run->StartCalibration(10)); // 0 start steps: still a move of 0
    TickUntilIdle([&] { return state.Calibr_Step_Index == 3; });
    const auto moves = stage->Requests();
    ASSERT_EQ(moves.size(), 4u); // the approach, then a move after each capture
    EXPECT_EQ(moves[0].steps, 0u);
    for (size_t i = 1; i < moves.size(); ++i)
        EXPECT_EQ(moves[i].steps, 2u);
    EXPECT_EQ(state.Calibr_Step_Um, 25.0f);
}

TEST_F(Sequencer, SensorFailureStopsTheRunAndKeepsTheCompletedSteps) {
    ASSERT_TRUE(run->StartCalibration(22000));
    fail_at_read = 3 * 100 + 2; // the second frame of step 100
    TickUntilIdle();
    EXPECT_EQ(last.sensor_result, uint32_t{RESULT_PACKET_ERROR});
    EXPECT_FALSE(last.rearm);
    EXPECT_EQ(state.Calibr_Step_Index, 100);
    EXPECT_EQ(captures, 100);
    EXPECT_NE(state.Calibr_Data[320][99], 0);
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        ASSERT_EQ(state.Calibr_Data[c][100], 0) << c;
    // The approach and the moves after steps 0..99; none after the failed capture.
    EXPECT_EQ(stage->Requests().size(), 101u);
    EXPECT_EQ(run->Motor_Result, 0u);
}

TEST_F(Sequencer, AMotorButtonDuringARunEndsItOnceThatMoveIsDone) {
    ASSERT_TRUE(run->StartCalibration(22000));
    TickUntilIdle([&] { return state.Calibr_Step_Index == 20; });
    ASSERT_TRUE(run->MotorForward(100));
    EXPECT_EQ(run->Tag, CALIBR_TAG_MOVE);
    const uint64_t status2 = stage->RequestCount(MOTOR_GET_STATUS2);
    TickUntilIdle();
    EXPECT_EQ(state.Calibr_Step_Index, 20);
    EXPECT_EQ(captures, 20);
    EXPECT_EQ(stage->RequestCount(MOTOR_GET_STATUS2), status2 + 1);
    EXPECT_EQ(stage->Requests().back().steps, 100u);
    // Start Calibration again restarts the run from index 0.
    ASSERT_TRUE(run->StartCalibration(10));
    TickUntilIdle([&] { return captures == 21; });
    EXPECT_EQ(state.Calibr_Step_Index, 1);
}

TEST_F(Sequencer, HomeSwitchBlocksInitAndBackwardAfterTheStatusRead) {
    ASSERT_EQ(stage->PositionSteps(), 0); // the carriage stands at home
    EXPECT_FALSE(run->MotorInit());
    EXPECT_FALSE(run->MotorBackward(10));
    EXPECT_EQ(run->Motor_Result, 0u);
    EXPECT_TRUE(stage->Requests().empty());
    EXPECT_EQ(stage->RequestCount(MOTOR_GET_STATUS2), 0u);
    // Away from home both go out, each after its status reads.
    stage->SetPositionSteps(500);
    ASSERT_TRUE(run->MotorBackward(100));
    TickUntilIdle();
    ASSERT_TRUE(run->MotorInit());
    EXPECT_EQ(stage->RequestCount(MOTOR_INIT), 1u);
    TickUntilIdle();
    EXPECT_EQ(stage->PositionSteps(), 0);
}

TEST_F(Sequencer, MotorFailureStopsThePollingAndIsKeptOnly) {
    ASSERT_TRUE(run->StartCalibration(22000));
    TickUntilIdle([&] { return state.Calibr_Step_Index == 5; });
    stage->SetFault(TStageFault::NO_REPLY);
    TickUntilIdle();
    EXPECT_EQ(run->Motor_Result, uint32_t{RESULT_READ_TIMEOUT});
    EXPECT_FALSE(last.rearm);
    EXPECT_EQ(last.sensor_result, 0u);
    EXPECT_LE(state.Calibr_Step_Index, 6);
    stage->SetFault(TStageFault::NONE);
    EXPECT_TRUE(run->MotorForward(5));
    EXPECT_EQ(run->Motor_Result, 0u);
}

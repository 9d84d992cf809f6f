#pragma once
// The motor timer's state machine: single moves, the approach to the start position and
// the 500 captures of a run. The window's Timer_Motor ticks it; the motor panel's buttons
// start it. It knows neither Qt nor the timer: every call says whether the timer is to run.
//
//   tag 0: a single move is being watched; when the drive is idle, status 2 and stop
//   tag 1: travelling to the start position; when idle, the pitch, index 0, the settling
//          pause, then tag 2
//   tag 2: capturing; when idle, capture step k, then the next move (or, after the 500th
//          capture, status 2 and stop)
//   tag 3: a run that found the stage away from home is taking it there first (Init); when
//          idle, the approach move and tag 1. The approach is relative, so only from home
//          does it end at "Begin, um:".
//
// The run keeps its own step pitch: Calculate sets Calibr_Step_Um for its own passes, and
// nothing it does may change the moves of a run under way.

#include "calibration/CalibrationRun.h"
#include "calibration/CalibrationState.h"
#include "link/Pause.h"
#include "motor/Motorinterface.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zq455 {

enum : int {
    CALIBR_TAG_MOVE = 0,
    CALIBR_TAG_APPROACH = 1,
    CALIBR_TAG_CAPTURE = 2,
    CALIBR_TAG_HOME = 3,
};

// The target stands still for this long before the first capture.
constexpr uint32_t CALIBR_SETTLING_MS = 2000;

// What one tick did, for the window to show.
struct TCalibrTick {
    bool rearm = false;         // enable the timer again
    bool captured = false;      // a step was captured; StepView() holds it
    uint32_t sensor_result = 0; // a failed calibration frame: the sensor's code
};

class TCalibrationSequencer {
public:
    // `read` reads one calibration frame (TZQ455Interface::ReadCalibrData's shape);
    // `range_z` gives "Measuring range Z" of the identity when the start position is reached.
    TCalibrationSequencer(TCalibrationState& state, TMotorInterface& motor, TCalibrFrameReader read,
                          std::function<uint16_t()> range_z);

    // The motor panel. Each returns true when the timer is to be enabled; a failed motor
    // call leaves its code in Motor_Result and returns false.
    bool MotorInit();
    bool MotorForward(int32_t steps);
    bool MotorBackward(int32_t steps);
    bool StartCalibration(int32_t begin_um);

    // One tick of Timer_Motor (the caller has disabled the timer).
    TCalibrTick Tick();

    // The step view of the last capture: columns 0..N-1, zero values included.
    const std::vector<TCalibrPoint>& StepView() const { return step_view; }
    bool Capturing() const {
        return Tag == CALIBR_TAG_CAPTURE || Tag == CALIBR_TAG_APPROACH || Tag == CALIBR_TAG_HOME;
    }
    // The pitch of the run under way (um), set when it reached the start position.
    float RunPitchUm() const { return run_pitch_um; }

    int Tag = CALIBR_TAG_MOVE;
    uint32_t Motor_Result = 0; // kept, never shown
    uint8_t Motor_Status = 0;  // the last status byte read
    // The settling pause goes through here; tests shorten it.
    TSleepFunction Sleep = SleepMilliseconds;

private:
    bool Approach();

    TCalibrationState& state;
    TMotorInterface& motor;
    TCalibrFrameReader read;
    std::function<uint16_t()> range_z;
    std::vector<TCalibrPoint> step_view;
    int32_t start_steps = 0;
    float run_pitch_um = 0.0f;
};

} // namespace zq455

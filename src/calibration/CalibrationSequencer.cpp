#include "calibration/CalibrationSequencer.h"

#include <utility>

namespace zq455 {

TCalibrationSequencer::TCalibrationSequencer(TCalibrationState& state_, TMotorInterface& motor_,
                                             TCalibrFrameReader read_, std::function<uint16_t()> range_z_)
    : state(state_), motor(motor_), read(std::move(read_)), range_z(std::move(range_z_)) {}

bool TCalibrationSequencer::MotorInit() {
    if ((Motor_Result = motor.GetStatus(Motor_Status)))
        return false;
    // At the home switch the drive must not be initialised again.
    if (Motor_Status & MOTOR_HOME_BIT)
        return false;
    if ((Motor_Result = motor.GetStatus2(Motor_Status)) || (Motor_Result = motor.Init()))
        return false;
    Tag = CALIBR_TAG_MOVE;
    return true;
}

bool TCalibrationSequencer::MotorForward(int32_t steps) {
    if ((Motor_Result = motor.GetStatus2(Motor_Status)) ||
        (Motor_Result = motor.MoveForward(static_cast<uint32_t>(steps))))
        return false;
    Tag = CALIBR_TAG_MOVE;
    return true;
}

bool TCalibrationSequencer::MotorBackward(int32_t steps) {
    if ((Motor_Result = motor.GetStatus(Motor_Status)))
        return false;
    if (Motor_Status & MOTOR_HOME_BIT)
        return false;
    if ((Motor_Result = motor.MoveBackward(static_cast<uint32_t>(steps))))
        return false;
    Tag = CALIBR_TAG_MOVE;
    return true;
}

bool TCalibrationSequencer::StartCalibration(int32_t begin_um) {
    start_steps = StartSteps(begin_um);
    if ((Motor_Result = motor.GetStatus(Motor_Status)))
        return false;
    if ((Motor_Status & MOTOR_HOME_BIT) == 0) {
        if ((Motor_Result = motor.GetStatus2(Motor_Status)) || (Motor_Result = motor.Init()))
            return false;
        Tag = CALIBR_TAG_HOME;
        return true;
    }
    return Approach();
}

bool TCalibrationSequencer::Approach() {
    if ((Motor_Result = motor.GetStatus2(Motor_Status)) ||
        (Motor_Result = motor.MoveForward(static_cast<uint32_t>(start_steps))))
        return false;
    Tag = CALIBR_TAG_APPROACH;
    return true;
}

TCalibrTick TCalibrationSequencer::Tick() {
    TCalibrTick tick;
    if ((Motor_Result = motor.GetStatus(Motor_Status)))
        return tick;
    const bool busy = (Motor_Status & MOTOR_BUSY_MASK) != 0;
    switch (Tag) {
    case CALIBR_TAG_MOVE:
        if (busy) {
            tick.rearm = true;
        } else {
            Motor_Result = motor.GetStatus2(Motor_Status);
        }
        return tick;
    case CALIBR_TAG_HOME:
        tick.rearm = busy || Approach();
        return tick;
    case CALIBR_TAG_APPROACH:
        if (busy) {
            tick.rearm = true;
            return tick;
        }
        Tag = CALIBR_TAG_CAPTURE;
        BeginCapture(state, range_z ? range_z() : 0);
        run_pitch_um = state.Calibr_Step_Um;
        // The target swings a little after the long approach move.
        Sleep(CALIBR_SETTLING_MS);
        tick.rearm = true;
        return tick;
    case CALIBR_TAG_CAPTURE: {
        if (busy) {
            tick.rearm = true;
            return tick;
        }
        uint16_t k = state.Calibr_Step_Index;
        if (k < state.Calibr_Step_Count) {
            tick.sensor_result = CaptureStep(state, k, read, step_view);
            if (tick.sensor_result != 0)
                return tick; // the run stops where it stood; the error monitor reports it
            tick.captured = true;
        }
        state.Calibr_Step_Index = ++k;
        const int32_t move = MoveAfterCapture(static_cast<uint16_t>(k - 1), run_pitch_um);
        if (k >= CALIBR_STEPS) {
            Motor_Result = motor.GetStatus2(Motor_Status);
            return tick;
        }
        if ((Motor_Result = motor.MoveForward(static_cast<uint32_t>(move))))
            return tick;
        tick.rearm = true;
        return tick;
    }
    default:
        return tick;
    }
}

} // namespace zq455

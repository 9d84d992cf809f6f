#pragma once
// The arithmetic and the capture of a calibration run, apart from the motor timer that
// sequences them: the step pitch, the approach and step moves, and the capture of one
// step from three calibration frames.
//
// One motor step moves the stage 12.5 um; micrometres become steps by x 0.08.

#include "calibration/CalibrationState.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zq455 {

// Reads one calibration frame: values[0] = the count N, then the values of columns
// 0..N-1; stores at most `capacity` values and sets `count` to the number stored. Returns
// the sensor's result code. TZQ455Interface::ReadCalibrData has this shape.
using TCalibrFrameReader = std::function<uint32_t(uint16_t* values, uint32_t capacity, uint32_t& count)>;

// Room for the count and 640 column values; the sensor's further values have no column.
constexpr uint32_t CALIBR_FRAME_CAPACITY = 1 + CALIBR_COLUMNS;

// Pitch between two captures in um for a measuring range of `rz` mm: 110 % of the range
// in 500 parts, rounded to whole motor steps. Every intermediate is a 32-bit float.
// RZ = 50 gives 112.5 um (9 motor steps).
float StepPitchUm(uint16_t rz);

// Motor steps of the approach move for "Begin, um:" (22000 um gives 1760).
int32_t StartSteps(int32_t begin_um);

// Motor steps from the position of step k to that of step k + 1.
int32_t MoveAfterCapture(uint16_t k, float step_um);

// The stage has reached the start position: set the pitch, index 0 and count 500.
void BeginCapture(TCalibrationState& state, uint16_t rz);

// The three stages of one capture, for a caller that reads the frames itself:
// ClearStep zeroes step k and the hit counts; AccumulateFrame adds one frame (values and
// count as ReadCalibrData gives them); FinishStep averages and returns the step view
// (columns 0..N-1 of the last frame, zero values included). k must be below 500; other
// steps are left alone.
void ClearStep(TCalibrationState& state, uint16_t k);
void AccumulateFrame(TCalibrationState& state, uint16_t k, const uint16_t* values, uint32_t count);
void FinishStep(TCalibrationState& state, uint16_t k, const uint16_t* last_values, uint32_t last_count,
                std::vector<TCalibrPoint>& points);

// Captures step k: three frames from `read`, then the average. On a failed read the step
// is left without values (all 0) and the reader's code is returned; the other steps are
// untouched. `points` receives the step view on success and is cleared otherwise.
uint32_t CaptureStep(TCalibrationState& state, uint16_t k, const TCalibrFrameReader& read,
                     std::vector<TCalibrPoint>& points);

} // namespace zq455

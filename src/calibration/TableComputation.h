#pragma once
// "Calculate": from the raw data of a run to the Z and X lookup tables, in three passes
// that must run in this order:
//   A. centre extraction: per step, outliers against a reference level are removed from
//      Calibr_Data, and each short segment of the line becomes one centre in Calibr_Centres;
//   B. Z table: the centres of each step are joined into a polyline drawn with the stage
//      travel of that step (units RZ/4096), then every column is interpolated along z;
//   C. X table: from the zero feature near the image centre, each following centre lies
//      500 um further out (units XE/4096), drawn and interpolated the same way.
// B sets Calibr_Step_Um to the run's pitch, C then to the feature pitch 500 um.
// Also the two inspection aids of the page: the step viewer and Reset Point.

#include "calibration/CalibrationState.h"
#include "calibration/TableEdits.h"

#include <cstdint>
#include <vector>

namespace zq455 {

constexpr uint16_t CALIBR_REFERENCE_BAND_LOW = 150;  // columns 0..149 and 490..639 set the
constexpr uint16_t CALIBR_REFERENCE_BAND_HIGH = 490; // reference level of a step
constexpr int32_t CALIBR_OUTLIER_LIMIT = 180;        // raw units a value may lie off it
constexpr float CALIBR_FEATURE_PITCH_UM = 500.0f;    // X distance of the target's segments

// Which computation "Calculate" runs: the fitted one of FittedTables.h, or the classic passes
// A, B and C below, bit for bit as they have always been ("Classic computation").
enum class TTableMethod : uint8_t { Fitted, Classic };

// "fitted" or "classic", as reports and the archive name the computation.
const char* TableMethodName(TTableMethod method);

// Runs the computation. Refuses (InvalidInput, nothing touched) when `params` fail
// CheckTableParams, so RZ = 0 or XE = 0 never reaches a division.
TCalibrResult Calculate(TCalibrationState& state, const TTableParams& params,
                        TTableMethod method = TTableMethod::Fitted);

// The passes one by one, for tests and tools; the caller has checked the params.
void ExtractCentres(TCalibrationState& state, uint16_t xl, uint16_t xr);
void BuildZTable(TCalibrationState& state, uint16_t rz);
void BuildXTable(TCalibrationState& state, uint16_t zl, uint16_t zr, uint16_t xe);

// Fills one table column along z: between two cells with values, the cells take the
// linear interpolation (truncated); cells outside the first and last value stay empty.
void FillAlongZ(int16_t* column);

// Calibr_Data step-major: the 640 columns of step 0 first.
std::vector<uint16_t> StepMajorData(const TCalibrationState& state);

// The result chart: every non-zero centre, step by step, columns ascending.
std::vector<TCalibrPoint> CentrePoints(const TCalibrationState& state);

// The step viewer's limits; the spin edits "Step index:" and "Data index:" use them.
constexpr int CALIBR_MAX_STEP_INDEX = CALIBR_STEPS - 1;
constexpr int CALIBR_MAX_DATA_INDEX = CALIBR_COLUMNS - 1;

// The step viewer: Calibr_Data of step `step_index` for columns 0..639, zeros included.
// Empty for an index outside 0..499.
std::vector<TCalibrPoint> StepViewPoints(const TCalibrationState& state, int step_index);

// Reset Point: clears Calibr_Data[data_index][step_index] and returns the redrawn step
// view. Returns false and changes nothing when either index lies outside the array.
bool ResetPoint(TCalibrationState& state, int data_index, int step_index, std::vector<TCalibrPoint>& view);

} // namespace zq455

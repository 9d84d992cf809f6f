#pragma once
// The table the sensor receives: 1024 rows x 640 columns, row-major.
//   rows    0..511: Calibr_Table_Z[c][10 * r]
//   rows 512..1023: Calibr_Table_X[c][10 * (r - 512)]
// Only columns xl < c < 640 - xr carry values; the others hold EMPTY_CELL in every row.
// The sensor keeps 14 bits of each value, so EMPTY_CELL arrives as its smallest value.

#include "calibration/CalibrationState.h"

#include <cstdint>

namespace zq455 {

constexpr uint32_t CALIBR_TRANS_VALUES = CALIBR_TRANS_ROWS * CALIBR_COLUMNS; // 655 360
constexpr unsigned CALIBR_TRANS_SLOT_STEP = 10;                              // every tenth z-slot

// Fills Calibr_Table_Trans from the two tables. The X limits come from ValidateXLimits.
void AssembleTransmitTable(TCalibrationState& state, uint16_t xl, uint16_t xr);

} // namespace zq455

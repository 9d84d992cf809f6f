#include "calibration/CalibrationState.h"

namespace zq455 {

// make_unique value-initialises: the arrays start at 0 like the window's other state.
TCalibrationState::TCalibrationState()
    : Calibr_Data(std::make_unique<uint16_t[][CALIBR_STEPS]>(CALIBR_COLUMNS)),
      Calibr_Hits(std::make_unique<uint8_t[]>(CALIBR_COLUMNS)),
      Calibr_Centres(std::make_unique<uint16_t[][CALIBR_STEPS]>(CALIBR_COLUMNS)),
      Calibr_Table_Z(std::make_unique<int16_t[][CALIBR_ZSLOTS]>(CALIBR_COLUMNS)),
      Calibr_Table_X(std::make_unique<int16_t[][CALIBR_ZSLOTS]>(CALIBR_COLUMNS)),
      Calibr_Table_Trans(std::make_unique<uint16_t[][CALIBR_COLUMNS]>(CALIBR_TRANS_ROWS)) {}

} // namespace zq455

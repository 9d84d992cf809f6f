#include "calibration/TransmitTable.h"

namespace zq455 {

void AssembleTransmitTable(TCalibrationState& state, uint16_t xl, uint16_t xr) {
    const int right = int(CALIBR_COLUMNS) - int(xr);
    constexpr unsigned half = CALIBR_TRANS_ROWS / 2;
    for (unsigned r = 0; r < CALIBR_TRANS_ROWS; ++r) {
        const auto& table = r < half ? state.Calibr_Table_Z : state.Calibr_Table_X;
        const unsigned slot = CALIBR_TRANS_SLOT_STEP * (r < half ? r : r - half);
        uint16_t* row = state.Calibr_Table_Trans[r];
        for (int c = 0; c < int(CALIBR_COLUMNS); ++c)
            row[c] = static_cast<uint16_t>(c > xl && c < right ? table[c][slot] : EMPTY_CELL);
    }
}

} // namespace zq455

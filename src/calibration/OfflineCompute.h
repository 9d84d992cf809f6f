#pragma once
// What "Calculate" and the table transfer compute, without a window or a sensor: load a
// .dtf file, check the inputs, compute the tables, assemble the transmit table and write
// it (and optionally the Z and X tables) to files. The command-line tool's "compute".

#include "calibration/CalibrationState.h"
#include "calibration/TableComputation.h"
#include "calibration/TableEdits.h"

#include <string>

namespace zq455 {

struct TOfflineCompute {
    std::string dtf_path;
    std::string rz; // decimal texts as typed; RZ and XE must be 1..65535
    std::string xe;
    TTableEditTexts edits;   // defaults as the page's edits
    std::string out_path;    // 1024 x 640 values, 16-bit little-endian, row-major
    std::string tables_path; // empty: none; else Calibr_Table_Z then Calibr_Table_X,
                             // 640 x 5120 each, column-major, 16-bit little-endian
    TTableMethod method = TTableMethod::Fitted;
};

// Runs the whole chain on `state`. Fails with a message before writing any file when the
// data file cannot be read (a short file is refused too: its missing part would be
// taken from whatever `state` held), or when an input is refused.
TCalibrResult ComputeOffline(const TOfflineCompute& request, TCalibrationState& state);

} // namespace zq455

#pragma once
// The operator's inputs of the table computation: the four edits of the CALIBRATION page
// and the two ranges of the sensor identity. One check serves the page, the command-line
// tool and the fuzzer, and runs before any array is touched.

#include "calibration/CalibrationState.h"

#include <cstdint>
#include <string>

namespace zq455 {

// The texts of Edit_X_Left, Edit_X_Right, Edit_ZERO_Left and Edit_ZERO_Right.
struct TTableEditTexts {
    std::string x_left = "0";
    std::string x_right = "0";
    std::string zero_left = "310";
    std::string zero_right = "340";
};

// Parsed inputs. Segments are searched from column xl up to 640 - xr (exclusive); the
// rising X pass starts at column zl, the falling one at zr. rz = "Measuring range Z",
// xe = "Measuring range Xemr", both whole mm.
struct TTableParams {
    uint16_t xl = 0;
    uint16_t xr = 0;
    uint16_t zl = 310;
    uint16_t zr = 340;
    uint16_t rz = 0;
    uint16_t xe = 0;
};

// Parses the two X limits (used alone by the table transfer): each a decimal integer in
// 0..640, and xl below 640 - xr. On failure the message names the edit.
TCalibrResult ValidateXLimits(const std::string& x_left, const std::string& x_right, uint16_t& xl,
                              uint16_t& xr);

// Everything "Calculate" needs: RZ and XE not 0, the X limits as above, ZL and ZR in
// 0..639. `params` is written only on success.
TCalibrResult ValidateTableEdits(const TTableEditTexts& texts, uint16_t rz, uint16_t xe,
                                 TTableParams& params);

// The same checks on values already parsed (the computation runs them again).
TCalibrResult CheckTableParams(const TTableParams& params);

} // namespace zq455

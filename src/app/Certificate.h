#pragma once
// The calibration certificate: one A4 page per check, as the engineer hands it with the
// sensor. The identity, the date and time, the tool's version, the table edits and the
// computation, K and N, every figure beside its tolerance, the verdict, the Z error map and
// the residual chart. Qt Gui only (QPdfWriter), so the command-line tool writes it without a
// display, as it does the map picture.

#include "calibration/CalibrationState.h"
#include "calibration/VerificationReport.h"

#include <string>
#include <utility>
#include <vector>

namespace zq455 {

struct TCertificateInfo {
    TVerifyReportInfo report; // identity, date and time, settings and tolerances, edits
    std::string method;       // the computation of the table ("fitted", "classic", or "" unknown)
    std::string entry_id;     // the archive entry, "" when none
    std::string stored_at;    // when the sensor stored the table in FLASH, "" when not
};

// "Z linearity" ... with the value and its tolerance, one row per judged figure, in the
// order the check prints them: {figure, value, tolerance, "pass"/"fail"}.
std::vector<std::vector<std::string>> CertificateRows(const TVerifyResult& result,
                                                      const TVerifyTolerances& tolerances, uint16_t rz);

// Writes the PDF whole or not at all; the message names the file.
TCalibrResult WriteCertificatePdf(const std::string& path, const TCertificateInfo& info,
                                  const TVerifyResult& result);

} // namespace zq455

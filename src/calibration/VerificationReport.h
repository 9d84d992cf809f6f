#pragma once
// The report of a verification run, in DataFiles: a JSON summary (identity, date and time,
// the settings, every figure with its tolerance, the verdict), a CSV of the per-position data
// beside it (same name, ".csv") and the Z error map as a CSV ("-map.csv"; the window and the
// command-line tool add its picture, "-map.png"). Also the figure lines the command-line tool
// prints and the window shows. Numbers are fixed-point with two decimals, whatever the locale.
//
// CSV columns:
//   position,stage_mm,profiles,mean_z_mm,residual_um,repeatability_um,flatness_um,
//   x_spacings,x_mean_spacing_um,x_pitch_error_um,expected_z_mm,offset_um,field_error_um,
//   x_stripes,x_field_error_um
// Map CSV columns, one line per cell with points:
//   position,z_mm,bin,x_mm,error_um

#include "calibration/CalibrationState.h"
#include "calibration/VerificationRun.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zq455 {

// Format 2 added the offset, the field figures, their tolerances and the map.
constexpr int VERIFY_REPORT_FORMAT = 2;
constexpr const char* VERIFY_MAP_CSV_ENDING = "-map.csv";
constexpr const char* VERIFY_MAP_PNG_ENDING = "-map.png";

struct TVerifyReportInfo {
    std::array<uint16_t, 8> identity{}; // the sensor's identity values, in the device's order
    std::string date_time;              // local time, "YYYY-MM-DD HH:MM:SS"
    TVerifySettings settings;
    // The table edits of the calibration page when the check ran there (XL, XR, ZL, ZR).
    std::vector<std::pair<std::string, std::string>> edits;
};

// "1.23": fixed-point, two decimals, a point whatever the locale.
std::string FixedText(double value);

// The figure lines, in order, then "Result: pass" or "Result: fail (<figure>)".
std::vector<std::string> VerifyFigureLines(const TVerifyResult& result);

std::string FormatVerifyJson(const TVerifyReportInfo& info, const TVerifyResult& result);
std::string FormatVerifyCsv(const TVerifyResult& result);
std::string FormatErrorMapCsv(const TVerifyResult& result);

// A file beside the summary: its extension replaced by `ending` (added when none).
std::string VerifySiblingPath(const std::string& summary_path, const std::string& ending);
// The CSV's path for a summary path: the extension replaced by ".csv" (added when none).
std::string VerifyCsvPath(const std::string& summary_path);
// "verify-YYYYMMDD-HHMMSS.json" for a date and time as in TVerifyReportInfo.
std::string VerifyReportName(const std::string& date_time);
// The local date and time now, as in TVerifyReportInfo.
std::string NowText();

// Writes the summary and the two CSV files, each whole or not at all. The message names the
// file that failed.
TCalibrResult WriteVerifyReport(const std::string& summary_path, const TVerifyReportInfo& info,
                                const TVerifyResult& result);

} // namespace zq455

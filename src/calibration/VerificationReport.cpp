#include "VerificationReport.h"

#include "view/ProfileFile.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace zq455 {
namespace {

const char* const IDENTITY_KEYS[8] = {"device_type",   "device_modification", "serial_lo",
                                      "serial_hi",     "base_distance_mm",    "range_z_mm",
                                      "range_xsmr_mm", "range_xemr_mm"};

// Two decimals as a JSON number: what is printed is what is stored.
double Rounded(double value) {
    const std::string text = FixedText(value);
    double rounded = 0;
    std::from_chars(text.data(), text.data() + text.size(), rounded);
    return rounded;
}

} // namespace

std::string FixedText(double value) {
    if (!std::isfinite(value))
        return "0.00";
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    std::string out(text, r.ptr);
    return out == "-0.00" ? "0.00" : out;
}

std::vector<std::string> VerifyFigureLines(const TVerifyResult& result) {
    const TVerifyFigures& f = result.figures;
    auto of_range = [](double um, double pct) {
        return FixedText(um) + " um (" + FixedText(pct) + " % of range)";
    };
    return {
        std::string(FIGURE_Z_LINEARITY) + ": " + of_range(f.z_linearity_um, f.z_linearity_pct),
        std::string(FIGURE_Z_SCALE) + ": " + FixedText(f.z_scale_pct) + " %",
        std::string(FIGURE_Z_REPEATABILITY) + ": " + FixedText(f.z_repeatability_um) + " um",
        std::string(FIGURE_FLATNESS) + ": " + of_range(f.flatness_um, f.flatness_pct),
        std::string(FIGURE_X_PITCH) + ": " + FixedText(f.x_pitch_error_um) + " um",
        std::string(FIGURE_X_SCALE) + ": " + FixedText(f.x_scale_pct) + " %",
        std::string(FIGURE_Z_OFFSET) + ": " + FixedText(f.z_offset_um) + " um",
        std::string(FIGURE_Z_FIELD) + ": " + of_range(f.z_field_error_um, f.z_field_error_pct),
        std::string(FIGURE_X_FIELD) + ": " + FixedText(f.x_field_error_um) + " um",
        "Result: " + VerdictText(result),
    };
}

std::string FormatVerifyJson(const TVerifyReportInfo& info, const TVerifyResult& result) {
    using nlohmann::ordered_json;
    const TVerifyFigures& f = result.figures;
    const TVerifySettings& s = info.settings;
    ordered_json j;
    j["format"] = VERIFY_REPORT_FORMAT;
    j["kind"] = "calibration check";
    j["date_time"] = info.date_time;
    ordered_json identity;
    for (size_t i = 0; i < info.identity.size(); ++i)
        identity[IDENTITY_KEYS[i]] = info.identity[i];
    j["identity"] = identity;
    ordered_json settings;
    settings["positions"] = s.positions;
    settings["profiles"] = s.profiles;
    settings["begin_um"] = s.begin_um;
    settings["settle_ms"] = s.settle_ms;
    settings["pitch_um"] = Rounded(s.pitch_um);
    const TVerifyTolerances& t = s.tolerances;
    settings["tolerances"] = {{"z_linearity_pct", Rounded(t.z_linearity_pct)},
                              {"z_scale_pct", Rounded(t.z_scale_pct)},
                              {"z_repeatability_um", Rounded(t.z_repeatability_um)},
                              {"x_pitch_um", Rounded(t.x_pitch_um)},
                              {"z_offset_pct", Rounded(t.z_offset_pct)},
                              {"z_field_pct", Rounded(t.z_field_pct)},
                              {"x_field_um", Rounded(t.x_field_um)},
                              {"flatness_pct", Rounded(t.flatness_pct)}};
    j["settings"] = settings;
    if (!info.edits.empty()) {
        ordered_json edits;
        for (const auto& [name, text] : info.edits)
            edits[name] = text;
        j["edits"] = edits;
    }
    j["figures"] = {{"z_linearity_um", Rounded(f.z_linearity_um)},
                    {"z_linearity_pct", Rounded(f.z_linearity_pct)},
                    {"z_scale_pct", Rounded(f.z_scale_pct)},
                    {"z_repeatability_um", Rounded(f.z_repeatability_um)},
                    {"flatness_um", Rounded(f.flatness_um)},
                    {"x_pitch_error_um", Rounded(f.x_pitch_error_um)},
                    {"x_scale_pct", Rounded(f.x_scale_pct)},
                    {"x_spacings", f.spacings},
                    {"flatness_pct", Rounded(f.flatness_pct)},
                    {"z_offset_um", Rounded(f.z_offset_um)},
                    {"z_offset_pct", Rounded(f.z_offset_pct)},
                    {"z_field_error_um", Rounded(f.z_field_error_um)},
                    {"z_field_error_pct", Rounded(f.z_field_error_pct)},
                    {"x_field_error_um", Rounded(f.x_field_error_um)},
                    {"x_stripes", f.stripes}};
    auto place = [](const TFieldPlace& at) {
        return at.found ? ordered_json{{"x_mm", Rounded(at.x_mm)}, {"z_mm", Rounded(at.z_mm)}}
                        : ordered_json();
    };
    j["worst"] = {{"z_field_error", place(f.z_field_at)}, {"x_field_error", place(f.x_field_at)}};
    j["result"] = result.passed ? "pass" : "fail";
    j["verdict"] = VerdictText(result);
    j["failing"] = result.failing;
    if (!result.problem.empty())
        j["problem"] = result.problem;
    return j.dump(2) + "\n";
}

std::string FormatVerifyCsv(const TVerifyResult& result) {
    std::string text = "position,stage_mm,profiles,mean_z_mm,residual_um,repeatability_um,flatness_um,"
                       "x_spacings,x_mean_spacing_um,x_pitch_error_um,expected_z_mm,offset_um,"
                       "field_error_um,x_stripes,x_field_error_um\n";
    for (size_t k = 0; k < result.positions.size(); ++k) {
        const TVerifyPosition& p = result.positions[k];
        text += std::to_string(k) + "," + FixedText(p.stage_mm) + "," + std::to_string(p.profiles) + "," +
                FixedText(p.mean_z_mm) + "," + FixedText(p.residual_um) + "," +
                FixedText(p.repeatability_um) + "," + FixedText(p.flatness_um) + "," +
                std::to_string(p.spacings) + "," + FixedText(p.x_spacing_um) + "," +
                FixedText(p.x_pitch_error_um) + "," + FixedText(p.expected_z_mm) + "," +
                FixedText(p.offset_um) + "," + FixedText(p.field_error_um) + "," + std::to_string(p.stripes) +
                "," + FixedText(p.x_field_error_um) + "\n";
    }
    return text;
}

std::string FormatErrorMapCsv(const TVerifyResult& result) {
    const TZErrorMap& map = result.map;
    std::string text = "position,z_mm,bin,x_mm,error_um\n";
    for (unsigned r = 0; r < map.rows; ++r)
        for (unsigned b = 0; b < map.bins; ++b)
            if (!std::isnan(map.Error(r, b)))
                text += std::to_string(r) + "," + FixedText(map.z_mm[r]) + "," + std::to_string(b) + "," +
                        FixedText(map.X(r, b)) + "," + FixedText(map.Error(r, b)) + "\n";
    return text;
}

std::string VerifySiblingPath(const std::string& summary_path, const std::string& ending) {
    const size_t slash = summary_path.find_last_of('/');
    const size_t dot = summary_path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return summary_path + ending;
    return summary_path.substr(0, dot) + ending;
}

std::string VerifyCsvPath(const std::string& summary_path) {
    return VerifySiblingPath(summary_path, ".csv");
}

std::string VerifyReportName(const std::string& date_time) {
    std::string digits;
    for (char c : date_time)
        if (c >= '0' && c <= '9')
            digits += c;
    digits.resize(14, '0');
    return "verify-" + digits.substr(0, 8) + "-" + digits.substr(8, 6) + ".json";
}

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

TCalibrResult WriteVerifyReport(const std::string& summary_path, const TVerifyReportInfo& info,
                                const TVerifyResult& result) {
    for (const auto& [path, bytes] :
         {std::pair{summary_path, FormatVerifyJson(info, result)},
          std::pair{VerifyCsvPath(summary_path), FormatVerifyCsv(result)},
          std::pair{VerifySiblingPath(summary_path, VERIFY_MAP_CSV_ENDING), FormatErrorMapCsv(result)}}) {
        const TFileResult written = WriteFileAtomically(path, bytes);
        if (!written.ok)
            return {TCalibrStatus::FileError, written.message};
    }
    return {};
}

} // namespace zq455

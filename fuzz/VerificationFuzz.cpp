// The calibration check's reduction on arbitrary profiles: whatever the sensor sends, the
// figures are finite, a verdict of pass comes only with figures inside the tolerances, and
// the report lines and files' text are whole.
//
//   bytes 0..3    Measuring range Z, Measuring range Xemr (u16)
//   byte 4        positions (1..16)
//   byte 5        the announced pair count's excess over the values given (0..255)
//   bytes 6..     per profile: a u16 pair count, then that many (Z, X) pairs of u16, as far
//                 as the input goes; profiles are dealt round the positions

#include "FuzzCheck.h"
#include "calibration/Verification.h"
#include "calibration/VerificationReport.h"

#include <cmath>
#include <vector>

using namespace zq455;

namespace {

uint16_t Take16(const uint8_t* data) {
    return static_cast<uint16_t>(data[0] | data[1] << 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const uint16_t rz = Take16(data);
    const uint16_t xe = Take16(data + 2);
    const unsigned positions = 1 + data[4] % 16;
    const unsigned excess = data[5];
    std::vector<std::vector<std::vector<uint16_t>>> profiles(positions);
    size_t at = 6;
    for (unsigned n = 0; at + 2 <= size; ++n) {
        const uint16_t pairs = Take16(data + at) % 2049;
        at += 2;
        std::vector<uint16_t> values;
        for (uint16_t i = 0; i < pairs && at + 4 <= size; ++i, at += 4) {
            values.push_back(Take16(data + at));
            values.push_back(Take16(data + at + 2));
        }
        profiles[n % positions].push_back(values);
    }

    TVerificationReducer reducer(rz, xe, 500.0);
    for (unsigned k = 0; k < positions; ++k) {
        reducer.BeginPosition(k * 2.5);
        for (const std::vector<uint16_t>& values : profiles[k]) {
            // The reducer reads only the pairs it is told of; the buffer holds them all.
            const uint32_t pairs = static_cast<uint32_t>(values.size() / 2);
            std::vector<uint16_t> buffer(values);
            buffer.resize(2 * (pairs + excess), 0x2000);
            const unsigned points = reducer.AddProfile(buffer.data(), pairs);
            FUZZ_CHECK(points <= pairs);
        }
    }
    const TVerifyTolerances tolerances;
    const TVerifyResult r = reducer.Finish(tolerances);
    const TVerifyFigures& f = r.figures;
    for (double v : {f.z_linearity_um, f.z_linearity_pct, f.z_scale_pct, f.z_repeatability_um, f.flatness_um,
                     f.x_pitch_error_um, f.x_scale_pct, f.z_offset_um, f.z_field_error_um, f.x_field_error_um,
                     f.flatness_pct})
        FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(r.positions.size() == positions);
    if (r.passed) {
        FUZZ_CHECK(r.failing.empty() && r.problem.empty());
        FUZZ_CHECK(f.z_linearity_pct <= tolerances.z_linearity_pct);
        FUZZ_CHECK(std::abs(f.z_scale_pct) <= tolerances.z_scale_pct);
        FUZZ_CHECK(f.z_repeatability_um <= tolerances.z_repeatability_um);
        FUZZ_CHECK(f.x_pitch_error_um <= tolerances.x_pitch_um && f.spacings > 0);
        FUZZ_CHECK(f.z_field_error_pct <= tolerances.z_field_pct &&
                   f.x_field_error_um <= tolerances.x_field_um);
        FUZZ_CHECK(f.z_offset_pct <= tolerances.z_offset_pct && f.flatness_pct <= tolerances.flatness_pct);
    }
    // The map has a row per position and every cell is a number or empty.
    FUZZ_CHECK(r.map.rows == positions && r.map.error_um.size() == size_t{r.map.rows} * r.map.bins);
    FUZZ_CHECK(!FormatErrorMapCsv(r).empty());
    const std::vector<std::string> lines = VerifyFigureLines(r);
    FUZZ_CHECK(lines.size() == 10 && lines.back().rfind("Result: ", 0) == 0);
    const std::string csv = FormatVerifyCsv(r);
    FUZZ_CHECK(!csv.empty() && csv.back() == '\n');
    TVerifyReportInfo info;
    FUZZ_CHECK(!FormatVerifyJson(info, r).empty());
    return 0;
}

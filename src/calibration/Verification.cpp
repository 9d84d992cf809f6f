#include "Verification.h"

#include <algorithm>
#include <cmath>

namespace zq455 {
namespace {

constexpr uint16_t MISSING = 0x2000; // a 14-bit value with no point
constexpr double UNIT = 1.0 / 4096.0;
// A stripe needs this many points in a row to count; fewer are a glint or a stripe's edge.
constexpr size_t MIN_STRIPE_POINTS = 3;

int32_t Signed14(uint16_t v) {
    v &= 0x3FFF;
    return v >= 0x2000 ? int32_t(v) - 0x4000 : int32_t(v);
}

struct TLine {
    double intercept = 0;
    double slope = 0;
};

// Least-squares line y = intercept + slope * x; a flat line through the mean when x does
// not spread.
TLine FitLine(const std::vector<double>& x, const std::vector<double>& y) {
    const size_t n = x.size();
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= double(n);
    my /= double(n);
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    TLine line;
    line.slope = sxx > 0 ? sxy / sxx : 0.0;
    line.intercept = my - line.slope * mx;
    return line;
}

double StandardDeviation(const std::vector<double>& values) {
    if (values.size() < 2)
        return 0;
    double mean = 0;
    for (double v : values)
        mean += v;
    mean /= double(values.size());
    double sum = 0;
    for (double v : values)
        sum += (v - mean) * (v - mean);
    return std::sqrt(sum / double(values.size() - 1));
}

} // namespace

std::string VerdictText(const TVerifyResult& result) {
    if (result.passed)
        return "pass";
    std::string names;
    for (const std::string& name : result.failing)
        names += (names.empty() ? "" : ", ") + name;
    if (names.empty())
        names = result.problem;
    return "fail (" + names + ")";
}

TVerificationReducer::TVerificationReducer(uint16_t rz_mm, uint16_t xe_mm, double pitch)
    : rz(rz_mm), xe(xe_mm), pitch_um(pitch) {}

void TVerificationReducer::BeginPosition(double stage_mm) {
    data.push_back({});
    data.back().stage_mm = stage_mm;
}

unsigned TVerificationReducer::AddProfile(const uint16_t* values, uint32_t pairs) {
    if (data.empty())
        BeginPosition(0.0);
    TPositionData& position = data.back();

    std::vector<double> xs, zs;
    std::vector<double> centres;
    double run_sum = 0;
    size_t run_length = 0;
    auto end_run = [&] {
        if (run_length >= MIN_STRIPE_POINTS)
            centres.push_back(run_sum / double(run_length));
        run_sum = 0;
        run_length = 0;
    };
    for (uint32_t i = 1; i < pairs; ++i) {
        const uint16_t raw_z = values[2 * i] & 0x3FFF;
        const uint16_t raw_x = values[2 * i + 1] & 0x3FFF;
        if (raw_z == MISSING || raw_x == MISSING) {
            end_run();
            continue;
        }
        const double z = Signed14(raw_z) * rz * UNIT;
        const double x = Signed14(raw_x) * xe * UNIT;
        xs.push_back(x);
        zs.push_back(z);
        run_sum += x;
        ++run_length;
    }
    end_run();
    // The outermost stripes may be cut by the edge of the field or of the table: only the
    // ones between them count.
    if (centres.size() >= 2) {
        centres.pop_back();
        centres.erase(centres.begin());
    }
    if (xs.empty())
        return 0;

    double mean = 0;
    for (double z : zs)
        mean += z;
    mean /= double(zs.size());
    position.means_mm.push_back(mean);

    if (xs.size() >= 3) {
        const TLine line = FitLine(xs, zs);
        for (size_t i = 0; i < xs.size(); ++i)
            position.flatness_um = std::max(position.flatness_um,
                                            std::abs(zs[i] - (line.intercept + line.slope * xs[i])) * 1000.0);
    }
    for (size_t i = 1; i < centres.size(); ++i)
        position.spacings_um.push_back(std::abs(centres[i] - centres[i - 1]) * 1000.0);
    return static_cast<unsigned>(xs.size());
}

TVerifyResult TVerificationReducer::Finish(const TVerifyTolerances& tolerances) const {
    TVerifyResult result;
    TVerifyFigures& f = result.figures;
    std::vector<double> stage, mean_z;
    double spacing_sum = 0;
    for (const TPositionData& d : data) {
        TVerifyPosition p;
        p.stage_mm = d.stage_mm;
        p.profiles = static_cast<unsigned>(d.means_mm.size());
        if (p.profiles > 0) {
            for (double m : d.means_mm)
                p.mean_z_mm += m;
            p.mean_z_mm /= p.profiles;
            p.repeatability_um = StandardDeviation(d.means_mm) * 1000.0;
            stage.push_back(d.stage_mm);
            mean_z.push_back(p.mean_z_mm);
        }
        p.flatness_um = d.flatness_um;
        p.spacings = static_cast<unsigned>(d.spacings_um.size());
        for (double s : d.spacings_um) {
            p.x_spacing_um += s;
            p.x_pitch_error_um = std::max(p.x_pitch_error_um, std::abs(s - pitch_um));
        }
        spacing_sum += p.x_spacing_um;
        if (p.spacings > 0)
            p.x_spacing_um /= p.spacings;
        f.z_repeatability_um = std::max(f.z_repeatability_um, p.repeatability_um);
        f.flatness_um = std::max(f.flatness_um, p.flatness_um);
        f.x_pitch_error_um = std::max(f.x_pitch_error_um, p.x_pitch_error_um);
        f.spacings += p.spacings;
        result.positions.push_back(p);
    }

    if (stage.size() < 2) {
        result.problem = "the target was seen at fewer than two stage positions";
        return result;
    }
    const TLine line = FitLine(stage, mean_z);
    f.slope = line.slope;
    f.intercept_mm = line.intercept;
    for (TVerifyPosition& p : result.positions) {
        if (p.profiles == 0)
            continue;
        p.residual_um = (p.mean_z_mm - (line.intercept + line.slope * p.stage_mm)) * 1000.0;
        f.z_linearity_um = std::max(f.z_linearity_um, std::abs(p.residual_um));
    }
    f.z_linearity_pct = rz > 0 ? f.z_linearity_um / (rz * 1000.0) * 100.0 : 0.0;
    f.z_scale_pct = (std::abs(line.slope) - 1.0) * 100.0;
    if (f.spacings > 0)
        f.x_scale_pct = (spacing_sum / f.spacings / pitch_um - 1.0) * 100.0;

    if (stage.size() < result.positions.size())
        result.problem = "the target was not seen at every stage position";
    if (f.z_linearity_pct > tolerances.z_linearity_pct)
        result.failing.push_back(FIGURE_Z_LINEARITY);
    if (std::abs(f.z_scale_pct) > tolerances.z_scale_pct)
        result.failing.push_back(FIGURE_Z_SCALE);
    if (f.z_repeatability_um > tolerances.z_repeatability_um)
        result.failing.push_back(FIGURE_Z_REPEATABILITY);
    // Without a single stripe spacing nothing vouches for X.
    if (f.spacings == 0 || f.x_pitch_error_um > tolerances.x_pitch_um)
        result.failing.push_back(FIGURE_X_PITCH);
    result.passed = result.failing.empty() && result.problem.empty();
    return result;
}

} // namespace zq455

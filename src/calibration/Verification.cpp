#include "Verification.h"

#include "VerificationReport.h"

#include <algorithm>
#include <cmath>

namespace zq455 {
namespace {

constexpr uint16_t MISSING = 0x2000; // a 14-bit value with no point
constexpr double UNIT = 1.0 / 4096.0;
// A stripe needs this many points in a row to count; fewer are a glint or a stripe's edge.
constexpr size_t MIN_STRIPE_POINTS = 3;
// A stripe of the averaged profile narrower than this share of the others is cut.
constexpr double WHOLE_STRIPE_SHARE = 0.85;
// And the dark stretch between an outermost stripe and the end of the profile at least this
// share of the gaps between stripes.
constexpr double WHOLE_GAP_SHARE = 0.5;

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

std::string PlaceText(const TFieldPlace& at) {
    return at.found ? " at X " + FixedText(at.x_mm) + " mm, Z " + FixedText(at.z_mm) + " mm" : "";
}

} // namespace

std::string VerdictText(const TVerifyResult& result) {
    if (result.passed)
        return "pass";
    std::string names;
    for (const std::string& name : result.failing) {
        std::string text = name;
        if (name == FIGURE_Z_FIELD)
            text += PlaceText(result.figures.z_field_at);
        else if (name == FIGURE_X_FIELD)
            text += PlaceText(result.figures.x_field_at);
        names += (names.empty() ? "" : ", ") + text;
    }
    if (names.empty())
        names = result.problem;
    return "fail (" + names + ")";
}

TVerificationReducer::TVerificationReducer(uint16_t rz_mm, uint16_t xe_mm, double pitch, double origin)
    : rz(rz_mm), xe(xe_mm), pitch_um(pitch), origin_mm(origin) {}

void TVerificationReducer::BeginPosition(double stage_mm) {
    data.push_back({});
    data.back().stage_mm = stage_mm;
}

unsigned TVerificationReducer::AddProfile(const uint16_t* values, uint32_t pairs) {
    if (data.empty())
        BeginPosition(0.0);
    TPositionData& position = data.back();
    if (position.hits.size() < pairs) {
        position.sum_z.resize(pairs, 0.0);
        position.sum_x.resize(pairs, 0.0);
        position.hits.resize(pairs, 0);
    }

    std::vector<double> centres;
    double run_sum = 0;
    size_t run_length = 0;
    auto end_run = [&] {
        if (run_length >= MIN_STRIPE_POINTS)
            centres.push_back(run_sum / double(run_length));
        run_sum = 0;
        run_length = 0;
    };
    double z_sum = 0;
    unsigned points = 0;
    for (uint32_t i = 1; i < pairs; ++i) {
        const uint16_t raw_z = values[2 * i] & 0x3FFF;
        const uint16_t raw_x = values[2 * i + 1] & 0x3FFF;
        if (raw_z == MISSING || raw_x == MISSING) {
            end_run();
            continue;
        }
        const double z = Signed14(raw_z) * rz * UNIT;
        const double x = Signed14(raw_x) * xe * UNIT;
        position.sum_z[i] += z;
        position.sum_x[i] += x;
        ++position.hits[i];
        z_sum += z;
        ++points;
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
    if (points == 0)
        return 0;
    position.means_mm.push_back(z_sum / points);
    for (size_t i = 1; i < centres.size(); ++i)
        position.spacings_um.push_back(std::abs(centres[i] - centres[i - 1]) * 1000.0);
    return points;
}

TVerificationReducer::TAveraged TVerificationReducer::Averaged(const TPositionData& d) {
    TAveraged a;
    for (uint32_t i = 0; i < d.hits.size(); ++i)
        if (d.hits[i] > 0) {
            a.index.push_back(i);
            a.x.push_back(d.sum_x[i] / d.hits[i]);
            a.z.push_back(d.sum_z[i] / d.hits[i]);
        }
    return a;
}

void TVerificationReducer::MapRow(const TAveraged& a, double expected_mm, TVerifyPosition& p,
                                  TVerifyResult& result) {
    TZErrorMap& map = result.map;
    const size_t row = map.z_mm.size();
    map.z_mm.push_back(expected_mm);
    map.error_um.resize((row + 1) * map.bins, NAN);
    map.x_mm.resize((row + 1) * map.bins, NAN);
    std::vector<double> sum_error(map.bins, 0.0), sum_x(map.bins, 0.0);
    std::vector<unsigned> count(map.bins, 0);
    for (size_t j = 0; j < a.index.size(); ++j) {
        // Point 0 of a profile is not a point: bin b holds points 1 + 16 b .. 16 + 16 b.
        const unsigned bin = (a.index[j] - 1) / VERIFY_MAP_BIN_POINTS;
        sum_error[bin] += a.z[j] - expected_mm;
        sum_x[bin] += a.x[j];
        ++count[bin];
    }
    for (unsigned b = 0; b < map.bins; ++b) {
        if (count[b] == 0)
            continue;
        const double error_um = sum_error[b] / count[b] * 1000.0;
        map.error_um[row * map.bins + b] = error_um;
        map.x_mm[row * map.bins + b] = sum_x[b] / count[b];
        p.field_error_um = std::max(p.field_error_um, std::abs(error_um));
        TVerifyFigures& f = result.figures;
        if (!f.z_field_at.found || std::abs(error_um) > f.z_field_error_um) {
            f.z_field_error_um = std::abs(error_um);
            f.z_field_at = {true, sum_x[b] / count[b], expected_mm};
        }
    }
}

void TVerificationReducer::WholeStripes(const TAveraged& a, size_t profile_points, double expected_mm,
                                        TVerifyPosition& p, TVerifyResult& result) const {
    // Runs of neighbouring points, and the missing points between them.
    struct TRun {
        uint32_t first, last; // profile point numbers
        double centre, width;
    };
    std::vector<TRun> runs;
    for (size_t j = 0; j < a.index.size();) {
        size_t e = j;
        double sum = a.x[j];
        while (e + 1 < a.index.size() && a.index[e + 1] == a.index[e] + 1)
            sum += a.x[++e];
        if (e - j + 1 >= MIN_STRIPE_POINTS)
            runs.push_back({a.index[j], a.index[e], sum / double(e - j + 1), std::abs(a.x[e] - a.x[j])});
        j = e + 1;
    }
    if (runs.size() < 2)
        return;
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    std::vector<double> widths, gaps;
    for (size_t i = 0; i < runs.size(); ++i) {
        widths.push_back(runs[i].width);
        if (i > 0)
            gaps.push_back(double(runs[i].first - runs[i - 1].last - 1));
    }
    const double typical_width = median(widths);
    const double typical_gap = median(gaps);
    // A stripe is whole when it is about as wide as the others (a hole in the table makes it
    // narrower) and the dark stretch on either side is a real gap: a run with few missing
    // points between it and the end of the profile may be a stripe cut by the edge of the
    // field or of the table.
    std::vector<double> centres;
    for (size_t i = 0; i < runs.size(); ++i) {
        const double before = i > 0 ? typical_gap : double(runs[i].first) - 1.0;
        const double after =
            i + 1 < runs.size() ? typical_gap : double(profile_points) - 1.0 - double(runs[i].last);
        if (runs[i].width >= WHOLE_STRIPE_SHARE * typical_width && before >= WHOLE_GAP_SHARE * typical_gap &&
            after >= WHOLE_GAP_SHARE * typical_gap)
            centres.push_back(runs[i].centre);
    }
    if (centres.empty())
        return;
    // The stripe nearest X = 0 is stripe 0; the others count from it by their spacing, at
    // least one stripe apart, so two stripes read at one X show as a pitch of error.
    const double pitch_mm = pitch_um / 1000.0;
    size_t zero = 0;
    for (size_t i = 1; i < centres.size(); ++i)
        if (std::abs(centres[i]) < std::abs(centres[zero]))
            zero = i;
    std::vector<long> n(centres.size(), 0);
    for (size_t i = zero + 1; i < centres.size(); ++i)
        n[i] = n[i - 1] + std::max(1L, std::lround((centres[i] - centres[i - 1]) / pitch_mm));
    for (size_t i = zero; i-- > 0;)
        n[i] = n[i + 1] - std::max(1L, std::lround((centres[i + 1] - centres[i]) / pitch_mm));
    TVerifyFigures& f = result.figures;
    for (size_t i = 0; i < centres.size(); ++i) {
        const double deviation_um = std::abs(centres[i] - double(n[i]) * pitch_mm) * 1000.0;
        p.x_field_error_um = std::max(p.x_field_error_um, deviation_um);
        if (!f.x_field_at.found || deviation_um > f.x_field_error_um) {
            f.x_field_error_um = deviation_um;
            f.x_field_at = {true, centres[i], expected_mm};
        }
    }
    p.stripes = unsigned(centres.size());
    f.stripes += p.stripes;
}

TVerifyResult TVerificationReducer::Finish(const TVerifyTolerances& tolerances) const {
    TVerifyResult result;
    TVerifyFigures& f = result.figures;
    size_t longest = 0;
    for (const TPositionData& d : data)
        longest = std::max(longest, d.hits.size());
    result.map.bins = longest > 1 ? unsigned((longest - 2) / VERIFY_MAP_BIN_POINTS + 1) : 0;

    std::vector<double> stage, mean_z;
    double spacing_sum = 0;
    bool offset_taken = false;
    for (const TPositionData& d : data) {
        TVerifyPosition p;
        p.stage_mm = d.stage_mm;
        p.expected_z_mm = d.stage_mm - origin_mm;
        p.profiles = static_cast<unsigned>(d.means_mm.size());
        if (p.profiles > 0) {
            for (double m : d.means_mm)
                p.mean_z_mm += m;
            p.mean_z_mm /= p.profiles;
            p.repeatability_um = StandardDeviation(d.means_mm) * 1000.0;
            p.offset_um = (p.mean_z_mm - p.expected_z_mm) * 1000.0;
            stage.push_back(d.stage_mm);
            mean_z.push_back(p.mean_z_mm);
            // The near end of the range: the first position the target was seen at.
            if (!offset_taken) {
                f.z_offset_um = p.offset_um;
                offset_taken = true;
            }
        }
        const TAveraged averaged = Averaged(d);
        if (averaged.x.size() >= 3) {
            const TLine line = FitLine(averaged.x, averaged.z);
            for (size_t i = 0; i < averaged.x.size(); ++i)
                p.flatness_um = std::max(
                    p.flatness_um,
                    std::abs(averaged.z[i] - (line.intercept + line.slope * averaged.x[i])) * 1000.0);
        }
        MapRow(averaged, p.expected_z_mm, p, result);
        WholeStripes(averaged, longest, p.expected_z_mm, p, result);
        result.map.rows++;

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
    const double range_um = rz * 1000.0;
    auto percent = [range_um](double um) { return range_um > 0 ? um / range_um * 100.0 : 0.0; };
    f.flatness_pct = percent(f.flatness_um);
    f.z_offset_pct = percent(std::abs(f.z_offset_um));
    f.z_field_error_pct = percent(f.z_field_error_um);

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
    f.z_linearity_pct = percent(f.z_linearity_um);
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
    if (f.flatness_pct > tolerances.flatness_pct)
        result.failing.push_back(FIGURE_FLATNESS);
    // Without a single stripe spacing nothing vouches for X.
    if (f.spacings == 0 || f.x_pitch_error_um > tolerances.x_pitch_um)
        result.failing.push_back(FIGURE_X_PITCH);
    if (f.z_offset_pct > tolerances.z_offset_pct)
        result.failing.push_back(FIGURE_Z_OFFSET);
    if (f.z_field_error_pct > tolerances.z_field_pct)
        result.failing.push_back(FIGURE_Z_FIELD);
    if (f.stripes == 0 || f.x_field_error_um > tolerances.x_field_um)
        result.failing.push_back(FIGURE_X_FIELD);
    result.passed = result.failing.empty() && result.problem.empty();
    return result;
}

} // namespace zq455

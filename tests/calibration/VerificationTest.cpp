// The verification's reduction on synthetic profiles whose errors are known: a straight,
// correctly scaled Z passes; a scale, a bump, a wrong stripe spacing or a noisy position
// fails on the figure that carries it, with the figure's size. And the report files.

#include "calibration/Verification.h"
#include "calibration/VerificationReport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace zq455;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t RZ = 50;
constexpr uint16_t XE = 10;
constexpr uint32_t PAIRS = 1024;

uint16_t Units(double mm, double range) {
    const long v = std::lround(mm / range * 4096.0);
    return static_cast<uint16_t>(static_cast<unsigned long>(v) & 0x3FFF);
}

// A flat target at height z: X from -4.5 to 4.5 mm over the pairs, points only on stripes
// `pitch_mm` apart (a quarter of a millimetre wide), Z from `height(x)`, the X the sensor
// reports from `seen(x)`.
std::vector<uint16_t> TargetProfile(const std::function<double(double)>& height, double pitch_mm = 0.5,
                                    const std::function<double(double)>& seen = {}) {
    std::vector<uint16_t> values(2 * PAIRS, 0x2000);
    for (uint32_t i = 0; i < PAIRS; ++i) {
        const double x = -4.5 + 9.0 * i / (PAIRS - 1);
        const double nearest = std::round(x / pitch_mm) * pitch_mm;
        if (std::abs(x - nearest) > 0.125)
            continue;
        values[2 * i] = Units(height(x), RZ);
        values[2 * i + 1] = Units(seen ? seen(x) : x, XE);
    }
    return values;
}

// 21 positions 2.5 mm apart, `profiles` profiles each, the measured height from `measured`.
TVerifyResult Check(const std::function<double(double stage_mm, unsigned profile, double x)>& measured,
                    double pitch_mm = 0.5, unsigned profiles = 3,
                    const std::function<double(double)>& seen = {}) {
    TVerificationReducer reducer(RZ, XE, 500.0, 24.5);
    for (unsigned k = 0; k < 21; ++k) {
        const double stage = 24.5 + 2.5 * k;
        reducer.BeginPosition(stage);
        for (unsigned n = 0; n < profiles; ++n) {
            const auto values =
                TargetProfile([&](double x) { return measured(stage, n, x); }, pitch_mm, seen);
            reducer.AddProfile(values.data(), PAIRS);
        }
    }
    return reducer.Finish(TVerifyTolerances{});
}

} // namespace

TEST(Verification, FiguresCarryTheErrorsPutIntoTheProfiles) {
    // A perfect calibration: Z follows the stage one to one (any offset), X spacing = pitch.
    const TVerifyResult good = Check([](double stage, unsigned, double) { return stage - 24.5; });
    EXPECT_TRUE(good.passed) << VerdictText(good);
    EXPECT_LT(good.figures.z_linearity_um, 7.0); // 14-bit rounding: 12 um units
    EXPECT_NEAR(good.figures.z_scale_pct, 0.0, 0.05);
    EXPECT_LT(good.figures.x_pitch_error_um, 15.0); // a stripe's edge is one point wide
    EXPECT_NEAR(good.figures.x_scale_pct, 0.0, 0.2);
    ASSERT_EQ(good.positions.size(), 21u);
    EXPECT_EQ(good.positions[0].profiles, 3u);
    EXPECT_GT(good.figures.spacings, 21u * 3 * 10); // the inner stripes of every profile
    EXPECT_EQ(VerdictText(good), "pass");

    // Z scaled by 1.02: the slope says 2 %, and only the scale fails.
    const TVerifyResult scaled = Check([](double stage, unsigned, double) { return (stage - 24.5) * 1.02; });
    EXPECT_NEAR(scaled.figures.z_scale_pct, 2.0, 0.05);
    // A scale is an error over the field too, largest at the far end.
    EXPECT_EQ(scaled.failing, (std::vector<std::string>{"Z scale error", "Z field error"}));
    EXPECT_EQ(VerdictText(scaled).rfind("fail (Z scale error, Z field error at X ", 0), 0u);
    EXPECT_NEAR(scaled.figures.z_field_at.z_mm, 50.0, 1e-9);

    // A bump of 0.3 mm at two positions: the linearity carries most of it.
    const TVerifyResult bumped = Check([](double stage, unsigned, double) {
        const double z = stage - 24.5;
        return z + (z > 29.0 && z < 33.0 ? 0.3 : 0.0);
    });
    EXPECT_NEAR(bumped.figures.z_linearity_um, 300.0, 0.3 * 300.0);
    ASSERT_FALSE(bumped.failing.empty());
    EXPECT_EQ(bumped.failing[0], "Z linearity");
    EXPECT_NEAR(bumped.figures.z_linearity_pct, bumped.figures.z_linearity_um / 500.0, 1e-9);

    // Stripes 0.6 mm apart against a pitch of 500 um: 100 um per spacing, 20 % in scale.
    const TVerifyResult wide = Check([](double stage, unsigned, double) { return stage - 24.5; }, 0.6);
    EXPECT_NEAR(wide.figures.x_pitch_error_um, 100.0, 15.0);
    EXPECT_NEAR(wide.figures.x_scale_pct, 20.0, 1.0);
    EXPECT_EQ(wide.failing, (std::vector<std::string>{"X pitch error", "X field error"}));

    // Profile means that alternate by +-30 um at each position: repeatability fails, the
    // means (and so linearity) do not move much.
    const TVerifyResult noisy =
        Check([](double stage, unsigned n, double) { return stage - 24.5 + (n % 2 ? 0.03 : -0.03); }, 0.5, 4);
    EXPECT_NEAR(noisy.figures.z_repeatability_um, 34.6, 3.0); // sample deviation of +-30
    EXPECT_EQ(noisy.failing, std::vector<std::string>{"Z repeatability"});

    // A tilted but straight profile is flat; a bowed one is not.
    const TVerifyResult tilted =
        Check([](double stage, unsigned, double x) { return stage - 24.5 + 0.02 * x; });
    EXPECT_LT(tilted.figures.flatness_um, 8.0);
    const TVerifyResult bowed =
        Check([](double stage, unsigned, double x) { return stage - 24.5 + 0.01 * x * x; });
    EXPECT_GT(bowed.figures.flatness_um, 80.0);
}

TEST(Verification, TheFieldFiguresFindAnErrorWithItsSizeAndPlace) {
    struct TCase {
        const char* what;
        std::function<double(double stage, unsigned, double x)> measured;
        std::function<double(double)> seen;
        const char* figure;
        double size_um; // of the figure, within 15 %
        double x_from, x_to;
    };
    const double edge = -4.5 + 40.0 / 640 * 9.0; // 40 columns in from the left end of the field
    const TCase cases[] = {
        {"an offset of 0.2 mm",
         [](double stage, unsigned, double) { return stage - 24.5 + 0.2; },
         {},
         FIGURE_Z_OFFSET,
         200.0,
         -5.0,
         5.0},
        // 0.3 mm at the left end of the field, falling to nothing 40 columns in; the first
        // bin holds the stripe at the end, about 1/9 of the way in.
        {"an edge bent over 40 columns",
         [edge](double stage, unsigned, double x) {
             return stage - 24.5 + (x < edge ? 0.3 * (edge - x) / (edge + 4.5) : 0.0);
         },
         {},
         FIGURE_Z_FIELD,
         0.3 * (1 - 1.0 / 9) * 1000,
         -4.5,
         -4.3},
        // X 2 % too wide right of the middle: the stripe at 4 mm reads 4.08.
        {"X stretched on one side", [](double stage, unsigned, double) { return stage - 24.5; },
         [](double x) { return x > 0 ? 1.02 * x : x; }, FIGURE_X_FIELD, 80.0, 3.9, 4.2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const TVerifyResult r = Check(c.measured, 0.5, 3, c.seen);
        const TVerifyFigures& f = r.figures;
        const bool x_figure = std::string(c.figure) == FIGURE_X_FIELD;
        const bool offset = std::string(c.figure) == FIGURE_Z_OFFSET;
        EXPECT_NE(std::find(r.failing.begin(), r.failing.end(), c.figure), r.failing.end()) << VerdictText(r);
        const double size = x_figure ? f.x_field_error_um : offset ? f.z_offset_um : f.z_field_error_um;
        EXPECT_NEAR(size, c.size_um, 0.15 * c.size_um);
        const TFieldPlace& at = x_figure ? f.x_field_at : f.z_field_at;
        EXPECT_GE(at.x_mm, c.x_from);
        EXPECT_LE(at.x_mm, c.x_to);
        if (!offset) // the verdict says where
            EXPECT_NE(VerdictText(r).find(std::string(c.figure) + " at X "), std::string::npos)
                << VerdictText(r);
    }
}

TEST(Verification, NoTargetMeansNoVerdictOfPass) {
    // Only empty profiles: nothing to fit.
    TVerificationReducer empty(RZ, XE);
    const std::vector<uint16_t> none(2 * PAIRS, 0x2000);
    for (int k = 0; k < 3; ++k) {
        empty.BeginPosition(k);
        EXPECT_EQ(empty.AddProfile(none.data(), PAIRS), 0u);
    }
    const TVerifyResult r = empty.Finish({});
    EXPECT_FALSE(r.passed);
    EXPECT_FALSE(r.problem.empty());
    EXPECT_EQ(VerdictText(r).rfind("fail (", 0), 0u);

    // The target at some positions only: figures from those, but no pass.
    TVerificationReducer some(RZ, XE, 500.0, 0.0);
    for (int k = 0; k < 4; ++k) {
        some.BeginPosition(k);
        const auto values = TargetProfile([k](double) { return double(k); });
        some.AddProfile(k == 2 ? none.data() : values.data(), PAIRS);
    }
    const TVerifyResult partial = some.Finish({});
    EXPECT_FALSE(partial.passed);
    EXPECT_TRUE(partial.failing.empty());
    EXPECT_EQ(partial.positions[2].profiles, 0u);

    // A scene without stripes (one long run): Z is fine, X has nothing to vouch for it.
    TVerificationReducer plane(RZ, XE, 500.0, 0.0);
    for (int k = 0; k < 3; ++k) {
        plane.BeginPosition(k);
        std::vector<uint16_t> values(2 * PAIRS);
        for (uint32_t i = 0; i < PAIRS; ++i) {
            values[2 * i] = Units(k, RZ);
            values[2 * i + 1] = Units(-4.0 + 8.0 * i / PAIRS, XE);
        }
        plane.AddProfile(values.data(), PAIRS);
    }
    EXPECT_EQ(plane.Finish({}).failing, (std::vector<std::string>{"X pitch error", "X field error"}));

    // Fewer pairs announced than the buffer holds: only those are read.
    TVerificationReducer short_profile(RZ, XE);
    const auto values = TargetProfile([](double) { return 1.0; });
    EXPECT_EQ(short_profile.AddProfile(values.data(), 1), 0u);
    EXPECT_EQ(short_profile.AddProfile(values.data(), 0), 0u);
}

TEST(VerificationReport, LinesFilesAndNames) {
    const TVerifyResult result = Check([](double stage, unsigned, double) { return (stage - 24.5) * 1.02; });
    // The lines keep a decimal point in a locale with a decimal comma.
    const char* before = std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::vector<std::string> lines = VerifyFigureLines(result);
    if (before)
        std::setlocale(LC_ALL, "C");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].rfind("Z linearity: ", 0), 0u);
    EXPECT_NE(lines[0].find(" um ("), std::string::npos);
    EXPECT_NE(lines[0].find(" % of range)"), std::string::npos);
    EXPECT_EQ(lines[1].substr(0, 19), "Z scale error: 2.00");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 2), " %");
    EXPECT_EQ(lines[2].rfind("Z repeatability: ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Flatness: ", 0), 0u);
    EXPECT_EQ(lines[4].rfind("X pitch error: ", 0), 0u);
    EXPECT_EQ(lines[5].rfind("X scale error: ", 0), 0u);
    EXPECT_EQ(lines[6].rfind("Z offset: ", 0), 0u);
    EXPECT_EQ(lines[7].rfind("Z field error: ", 0), 0u);
    EXPECT_EQ(lines[8].rfind("X field error: ", 0), 0u);
    EXPECT_EQ(lines[9].rfind("Result: fail (Z scale error, Z field error at X ", 0), 0u);
    EXPECT_EQ(FixedText(-0.001), "0.00");
    EXPECT_EQ(FixedText(12.345), "12.35");

    EXPECT_EQ(VerifyCsvPath("/a/b/report.json"), "/a/b/report.csv");
    EXPECT_EQ(VerifyCsvPath("/a.b/report"), "/a.b/report.csv");
    EXPECT_EQ(VerifyCsvPath("/a/.hidden"), "/a/.hidden.csv");
    EXPECT_EQ(VerifyReportName("2026-12-09 10:26:52"), "verify-20261209-102652.json");

    const test::TTempFolder folder("verify-report");
    const fs::path dir = folder.Dir();
    TVerifyReportInfo info;
    info.identity = {455, 1, 12345, 0, 80, 50, 8, 10};
    info.date_time = "2026-12-09 10:26:52";
    info.edits = {{"zero_left", "310"}};
    const std::string path = (dir / "check.json").string();
    ASSERT_TRUE(WriteVerifyReport(path, info, result).Ok());
    std::ifstream json_file(path);
    const nlohmann::json j = nlohmann::json::parse(json_file);
    EXPECT_EQ(j["format"], 2);
    EXPECT_EQ(j["identity"]["serial_lo"], 12345);
    EXPECT_EQ(j["settings"]["positions"], 21);
    EXPECT_EQ(j["edits"]["zero_left"], "310");
    EXPECT_NEAR(j["figures"]["z_scale_pct"].get<double>(), 2.0, 0.05);
    EXPECT_EQ(j["result"], "fail");
    EXPECT_EQ(j["failing"][0], "Z scale error");
    std::ifstream csv_file(dir / "check.csv");
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(csv_file, line))
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 22u);
    EXPECT_EQ(rows[0].rfind("position,stage_mm,profiles,mean_z_mm,residual_um", 0), 0u);
    EXPECT_EQ(rows[1].rfind("0,24.50,3,", 0), 0u);

    // A folder that is not there: refused with the file's name, nothing half-written.
    const std::string missing = (dir / "no" / "such.json").string();
    const TCalibrResult refused = WriteVerifyReport(missing, info, result);
    EXPECT_EQ(refused.status, TCalibrStatus::FileError);
    EXPECT_NE(refused.message.find("such.json"), std::string::npos);
}

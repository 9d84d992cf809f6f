#pragma once
// Checking a calibration: the stage carries the flat, striped target through the sensor's
// Z range again, the sensor measures it through its table, and the profiles are held
// against what the stage and the target say they must be.
//
// The table's own origin: the plate stands at Z = 0 where the calibration run made its first
// capture ("Begin, um:"), so at every stage position the expected height is the stage's travel
// from there. Every figure below is judged against a tolerance.
//
// Z: the mean height of the target's points at each stage position, fitted with a straight
//    line against the stage position. Linearity is the largest residual, the scale error
//    how far the slope is from 1, repeatability the spread of the profile means at one
//    position. The offset is the mean height at the near end against the expected height.
//    The field error comes from a map of the whole field: at each position the profiles are
//    averaged point by point, the points grouped in bins of 16 across X, and each bin's mean
//    height held against the expected height; the figure is the map's largest cell.
//    Flatness is the largest deviation of the averaged profile from its own line across X.
// X: the centres of the target's stripes in each profile, their spacing against the stripe
//    pitch (500 um); and every whole stripe of the averaged profile against its nominal X,
//    n pitches from the stripe nearest X = 0.
//
// Everything here is plain arithmetic on decoded profiles; VerificationRun.h drives the
// devices.

#include <cstdint>
#include <string>
#include <vector>

namespace zq455 {

// What the engineer accepts. Z linearity, offset, field error and flatness are in % of the
// Z range; the scale error in %.
struct TVerifyTolerances {
    double z_linearity_pct = 0.1;
    double z_scale_pct = 0.5;
    double z_repeatability_um = 20.0;
    double x_pitch_um = 50.0;
    double z_offset_pct = 0.1;
    double z_field_pct = 0.1;
    double x_field_um = 50.0;
    double flatness_pct = 0.1;
};

// The figure names, as reports and the verdict print them.
constexpr const char* FIGURE_Z_LINEARITY = "Z linearity";
constexpr const char* FIGURE_Z_SCALE = "Z scale error";
constexpr const char* FIGURE_Z_REPEATABILITY = "Z repeatability";
constexpr const char* FIGURE_FLATNESS = "Flatness";
constexpr const char* FIGURE_X_PITCH = "X pitch error";
constexpr const char* FIGURE_X_SCALE = "X scale error";
constexpr const char* FIGURE_Z_OFFSET = "Z offset";
constexpr const char* FIGURE_Z_FIELD = "Z field error";
constexpr const char* FIGURE_X_FIELD = "X field error";

// Profile points per bin of the Z error map.
constexpr unsigned VERIFY_MAP_BIN_POINTS = 16;

// One stage position.
struct TVerifyPosition {
    double stage_mm = 0;         // commanded stage position
    unsigned profiles = 0;       // profiles that had points of the target
    double mean_z_mm = 0;        // mean of the profile means
    double residual_um = 0;      // mean Z minus the straight-line fit
    double repeatability_um = 0; // standard deviation of the profile means
    double flatness_um = 0;      // largest deviation of the averaged profile from its own line
    unsigned spacings = 0;       // stripe spacings measured at this position
    double x_spacing_um = 0;     // their mean
    double x_pitch_error_um = 0; // their largest deviation from the pitch
    double expected_z_mm = 0;    // the stage's travel from the table's origin
    double offset_um = 0;        // mean Z minus the expected height
    double field_error_um = 0;   // the largest |cell| of this position's row of the map
    unsigned stripes = 0;        // whole stripes of the averaged profile
    double x_field_error_um = 0; // their largest deviation from their nominal X
};

// Where a field figure found its worst value.
struct TFieldPlace {
    bool found = false;
    double x_mm = 0;
    double z_mm = 0; // the expected height of the position
};

// The Z error map: one row per stage position (near end first), one cell per bin of
// VERIFY_MAP_BIN_POINTS profile points; a cell without points is NaN.
struct TZErrorMap {
    unsigned rows = 0;
    unsigned bins = 0;
    std::vector<double> error_um; // rows x bins, row-major
    std::vector<double> x_mm;     // the mean X of each cell's points (NaN without points)
    std::vector<double> z_mm;     // per row: the expected height
    double Error(unsigned row, unsigned bin) const { return error_um[size_t{row} * bins + bin]; }
    double X(unsigned row, unsigned bin) const { return x_mm[size_t{row} * bins + bin]; }
};

struct TVerifyFigures {
    double z_linearity_um = 0;
    double z_linearity_pct = 0; // of the Z range
    double z_scale_pct = 0;     // |slope| - 1, in %
    double z_repeatability_um = 0;
    double flatness_um = 0;
    double x_pitch_error_um = 0;
    double x_scale_pct = 0; // mean spacing / pitch - 1, in %
    double slope = 0;       // mm of measured Z per mm of stage travel
    double intercept_mm = 0;
    unsigned spacings = 0;
    double flatness_pct = 0;      // of the Z range
    double z_offset_um = 0;       // signed, at the near end
    double z_offset_pct = 0;      // |offset| in % of the Z range
    double z_field_error_um = 0;  // the map's largest |cell|
    double z_field_error_pct = 0; // of the Z range
    double x_field_error_um = 0;  // the largest |deviation| of a whole stripe
    unsigned stripes = 0;         // whole stripes measured, all positions
    TFieldPlace z_field_at;
    TFieldPlace x_field_at;
};

struct TVerifyResult {
    std::vector<TVerifyPosition> positions;
    TVerifyFigures figures;
    TZErrorMap map;
    bool passed = false;
    // The figures outside their tolerance, in the order they are printed.
    std::vector<std::string> failing;
    // Why no figure could be had (no target seen, too few positions); empty otherwise.
    std::string problem;
};

// "pass", or "fail (<figure>, ...)"; a field figure names its worst place:
// "Z field error at X 4.52 mm, Z 12.50 mm".
std::string VerdictText(const TVerifyResult& result);

// The reduction of one verification: positions in order, the profiles of each, then Finish.
class TVerificationReducer {
public:
    // `rz` and `xe`: "Measuring range Z" and "Measuring range Xemr" of the identity (mm);
    // `pitch_um`: the target's stripe pitch; `origin_mm`: the stage position where the table
    // has Z = 0 ("Begin, um:" of the run).
    TVerificationReducer(uint16_t rz, uint16_t xe, double pitch_um = 500.0, double origin_mm = 22.0);

    void BeginPosition(double stage_mm);
    // One profile as GetResult gives it: `pairs` (Z, X) pairs of 14-bit values. Pair 0 is
    // not a point, as for the live profile. Returns the number of target points it held.
    unsigned AddProfile(const uint16_t* values, uint32_t pairs);

    TVerifyResult Finish(const TVerifyTolerances& tolerances) const;

private:
    struct TPositionData {
        double stage_mm = 0;
        std::vector<double> means_mm;
        std::vector<double> spacings_um;
        // Per profile point: the sums of Z and X (mm) and the profiles that had it.
        std::vector<double> sum_z;
        std::vector<double> sum_x;
        std::vector<unsigned> hits;
    };
    // The averaged profile of one position: the points present, in order.
    struct TAveraged {
        std::vector<uint32_t> index;
        std::vector<double> x;
        std::vector<double> z;
    };
    static TAveraged Averaged(const TPositionData& d);
    static void MapRow(const TAveraged& a, double expected_mm, TVerifyPosition& p, TVerifyResult& result);
    void WholeStripes(const TAveraged& a, size_t profile_points, double expected_mm, TVerifyPosition& p,
                      TVerifyResult& result) const;

    double rz;
    double xe;
    double pitch_um;
    double origin_mm;
    std::vector<TPositionData> data;
};

} // namespace zq455

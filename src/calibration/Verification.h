#pragma once
// Checking a calibration: the stage carries the flat, striped target through the sensor's
// Z range again, the sensor measures it through its table, and the profiles are held
// against what the stage and the target say they must be.
//
// Z: the mean height of the target's points at each stage position, fitted with a straight
//    line against the stage position. Linearity is the largest residual, the scale error
//    how far the slope is from 1, repeatability the spread of the profile means at one
//    position, flatness the largest deviation of a profile from its own line across X.
// X: the centres of the target's stripes in each profile; their spacing against the stripe
//    pitch (500 um).
//
// Everything here is plain arithmetic on decoded profiles; VerificationRun.h drives the
// devices.

#include <cstdint>
#include <string>
#include <vector>

namespace zq455 {

// What the engineer accepts. Z linearity is in % of the Z range; the scale error in %.
struct TVerifyTolerances {
    double z_linearity_pct = 0.1;
    double z_scale_pct = 0.5;
    double z_repeatability_um = 20.0;
    double x_pitch_um = 50.0;
};

// The figure names, as reports and the verdict print them.
constexpr const char* FIGURE_Z_LINEARITY = "Z linearity";
constexpr const char* FIGURE_Z_SCALE = "Z scale error";
constexpr const char* FIGURE_Z_REPEATABILITY = "Z repeatability";
constexpr const char* FIGURE_FLATNESS = "Flatness";
constexpr const char* FIGURE_X_PITCH = "X pitch error";
constexpr const char* FIGURE_X_SCALE = "X scale error";

// One stage position.
struct TVerifyPosition {
    double stage_mm = 0;         // commanded stage position
    unsigned profiles = 0;       // profiles that had points of the target
    double mean_z_mm = 0;        // mean of the profile means
    double residual_um = 0;      // mean Z minus the straight-line fit
    double repeatability_um = 0; // standard deviation of the profile means
    double flatness_um = 0;      // largest deviation of a profile from its own line
    unsigned spacings = 0;       // stripe spacings measured at this position
    double x_spacing_um = 0;     // their mean
    double x_pitch_error_um = 0; // their largest deviation from the pitch
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
};

struct TVerifyResult {
    std::vector<TVerifyPosition> positions;
    TVerifyFigures figures;
    bool passed = false;
    // The figures outside their tolerance, in the order they are printed.
    std::vector<std::string> failing;
    // Why no figure could be had (no target seen, too few positions); empty otherwise.
    std::string problem;
};

// "pass", or "fail (<figure>, ...)".
std::string VerdictText(const TVerifyResult& result);

// The reduction of one verification: positions in order, the profiles of each, then Finish.
class TVerificationReducer {
public:
    // `rz` and `xe`: "Measuring range Z" and "Measuring range Xemr" of the identity (mm);
    // `pitch_um`: the target's stripe pitch.
    TVerificationReducer(uint16_t rz, uint16_t xe, double pitch_um = 500.0);

    void BeginPosition(double stage_mm);
    // One profile as GetResult gives it: `pairs` (Z, X) pairs of 14-bit values. Pair 0 is
    // not a point, as for the live profile. Returns the number of target points it held.
    unsigned AddProfile(const uint16_t* values, uint32_t pairs);

    TVerifyResult Finish(const TVerifyTolerances& tolerances) const;

private:
    struct TPositionData {
        double stage_mm = 0;
        std::vector<double> means_mm;
        double flatness_um = 0;
        std::vector<double> spacings_um;
    };

    double rz;
    double xe;
    double pitch_um;
    std::vector<TPositionData> data;
};

} // namespace zq455

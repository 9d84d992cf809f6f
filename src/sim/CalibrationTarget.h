#pragma once
// The calibration target the virtual stage carries: a flat plate with reflecting stripes
// across the laser line, 500 um apart in X with one stripe at X = 0, dark between them.
// The camera sees the line on the stripes only, so every column shows the raw line
// position of the plate (tenths of a row) on a stripe and 0 between stripes, with a little
// noise and now and then a stray reflection beside a stripe.
//
// The plate's height follows the stage: at STAGE_REFERENCE_UM it stands at the near end of
// the Z range (z = 0), and each micrometre of stage travel lifts it by one micrometre. The rig
// is set up so that this is where a run from the default "Begin, um:" makes its first
// capture: the Z table counts from there, so a calibration keeps absolute heights.

#include <cstdint>
#include <vector>

namespace zq455 {

class TSensorModel;

struct TCalibrationTarget {
    // Stage position that puts the plate at z = 0: the default "Begin, um:". A run of 500
    // steps then covers the range and about 10 % beyond its far end.
    static constexpr double STAGE_REFERENCE_UM = 22000.0;
    static constexpr double STRIPE_PITCH_MM = 0.5;
    static constexpr double STRIPE_WIDTH_MM = 0.25;
    // Noise of one frame's value: uniform in -NOISE..+NOISE tenths of a row.
    static constexpr int NOISE = 2;
    // About one gap column in OUTLIER_ODDS shows a stray reflection for a whole stage
    // position, OUTLIER_MIN..OUTLIER_MIN + OUTLIER_SPREAD tenths off the line.
    static constexpr uint32_t OUTLIER_ODDS = 400;
    static constexpr int OUTLIER_MIN = 600;
    static constexpr int OUTLIER_SPREAD = 400;

    // Height of the plate for a stage position in micrometres.
    static double PlateZ(double stage_um) { return (stage_um - STAGE_REFERENCE_UM) / 1000.0; }
    // X of stripe i (i = 0 is the zero stripe), mm.
    static double StripeX(int i) { return i * STRIPE_PITCH_MM; }
    // Whether X (mm) lies on a stripe.
    static bool OnStripe(double x_mm);

    // One calibration frame of the plate at z_mm: one value per camera column. `frame`
    // numbers the frames (it drives the noise); the stray reflections depend only on the
    // column and the plate's height, so the frames of one stage position agree on them.
    static void Frame(const TSensorModel& model, double z_mm, uint32_t frame,
                      std::vector<uint16_t>& positions);
};

} // namespace zq455

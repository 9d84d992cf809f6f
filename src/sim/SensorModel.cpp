#include "SensorModel.h"

#include <algorithm>
#include <cmath>

namespace zq455 {
namespace {

// Camera image: a dim background with a little fixed pattern, a bright line a few rows high.
constexpr double LINE_PEAK = 100.0;
constexpr double LINE_SIGMA_ROWS = 1.2;
constexpr int LINE_HALF_ROWS = 5;
constexpr unsigned HIT_ITERATIONS = 8;
constexpr double TARGET_BEYOND_RANGE = 1.25;

constexpr double HALF_WIDTH = (TSensorModel::COLUMNS - 1) / 2.0;

double ColumnOffset(const TSensorOptics& o, double column) {
    return (column - o.axis_column) / HALF_WIDTH;
}

// The height response and its derivative along u.
double Along(const TSensorOptics& o, double u) {
    if (o.triangulation > 0)
        return u * (1.0 + o.triangulation) / (1.0 + o.triangulation * u);
    return u * (1.0 + o.curvature * (1.0 - u));
}

double AlongSlope(const TSensorOptics& o, double u) {
    if (o.triangulation > 0) {
        const double d = 1.0 + o.triangulation * u;
        return (1.0 + o.triangulation) / (d * d);
    }
    return 1.0 + o.curvature * (1.0 - 2.0 * u);
}

double BendShape(const TSensorOptics& o, double s) {
    return o.bend * s * s * (1.0 + o.bend_quartic * s * s);
}

// A value in [-0.5, 0.5) from the shot and the point's index (a 64-bit mix), so a shot's
// noise is reproducible and neighbouring points do not correlate.
double NoiseUnit(uint32_t shot, uint32_t index, uint32_t draw) {
    uint64_t v = (static_cast<uint64_t>(shot) << 32 | index) * 0x9E3779B97F4A7C15ull + draw;
    v ^= v >> 30;
    v *= 0xBF58476D1CE4E5B9ull;
    v ^= v >> 27;
    v *= 0x94D049BB133111EBull;
    v ^= v >> 31;
    return static_cast<double>(v >> 11) / 9007199254740992.0 - 0.5;
}

} // namespace

double TSensorModel::LinePosition(double column, double z_mm) const {
    const TSensorOptics& o = geometry.optics;
    const double u = z_mm / geometry.range_z_mm;
    const double s = ColumnOffset(o, column);
    return o.position_near + (o.position_far - o.position_near) * Along(o, u) +
           BendShape(o, s) * (1.0 - o.bend_far * u) + o.tilt * s;
}

double TSensorModel::ColumnX(double column, double z_mm) const {
    const TSensorOptics& o = geometry.optics;
    const double u = z_mm / geometry.range_z_mm;
    const double s = ColumnOffset(o, column);
    const double width = geometry.xsmr_mm + (geometry.xemr_mm - geometry.xsmr_mm) * u;
    // Distorted towards the edges, but columns one half-width off the axis still see exactly
    // the range's ends.
    return s * (1.0 + o.x_distortion * s * s) / (1.0 + o.x_distortion) * width / 2.0;
}

double TSensorModel::SceneZ(double x_mm) const {
    double z = scene.plane_z_mm + std::tan(scene.tilt_rad) * x_mm;
    if (x_mm >= scene.step_from_mm && x_mm < scene.step_to_mm)
        z += scene.step_height_mm;
    return z;
}

bool TSensorModel::SceneHit(double column, double& x_mm, double& z_mm) const {
    // The column's ray and the surface meet where x = ColumnX(c, z) and z = SceneZ(x); X
    // changes slowly with z, so a few rounds settle it (at a step edge it settles on one side).
    double z = scene.plane_z_mm;
    double x = ColumnX(column, z);
    for (unsigned i = 0; i < HIT_ITERATIONS; ++i) {
        z = SceneZ(x);
        x = ColumnX(column, z);
    }
    x_mm = x;
    z_mm = z;
    // A column that does not settle looks at the step's wall: the camera sees no line there
    // (the shadow of a step, as a triangulating sensor has).
    if (std::abs(SceneZ(x) - z) > 1e-6)
        return false;
    return z >= 0.0 && z <= geometry.range_z_mm;
}

bool TSensorModel::TargetVisible(double target_z_mm) const {
    // From where its line enters the frame to a quarter of the range past the far end the
    // plate stands in the laser's path; beyond the frame's last row the camera sees no line
    // on it, but it still hides the scene.
    const double p = LinePosition(geometry.optics.axis_column, target_z_mm);
    return p >= 1.0 && target_z_mm <= TARGET_BEYOND_RANGE * geometry.range_z_mm;
}

bool TSensorModel::SurfaceZ(double column, std::optional<double> target_z_mm, double& z_mm) const {
    if (target_z_mm) {
        z_mm = *target_z_mm;
        return TCalibrationTarget::OnStripe(ColumnX(column, z_mm));
    }
    double x = 0;
    return SceneHit(column, x, z_mm);
}

void TSensorModel::Profile(unsigned points, std::vector<uint16_t>& values, uint32_t shot,
                           const TSensorTable& table, std::optional<double> target_z_mm) const {
    values.assign(2 * static_cast<size_t>(points), PROFILE_MISSING);
    for (unsigned i = 0; i < points; ++i) {
        const double column = (i + 0.5) * COLUMNS / points - 0.5;
        double z = 0;
        if (!SurfaceZ(column, target_z_mm, z))
            continue;
        // Two uniform draws: the scatter peaks at the surface and stays within noise_mm.
        z += (NoiseUnit(shot, i, 0) + NoiseUnit(shot, i, 1)) * scene.noise_mm;
        const double position = LinePosition(column, z);
        if (position < 0.0 || position > POSITION_MAX)
            continue;
        int32_t table_z = 0, table_x = 0;
        if (!table.Lookup(column, position, table_z, table_x))
            continue;
        values[2 * i] = static_cast<uint16_t>(static_cast<uint32_t>(table_z) & 0x3FFF);
        values[2 * i + 1] = static_cast<uint16_t>(static_cast<uint32_t>(table_x) & 0x3FFF);
    }
}

double TSensorModel::ZAtPosition(double column, double position, std::optional<double> guess) const {
    // Newton's method, from the caller's guess or the straight line between the two ends of
    // the range; the curve is smooth and steep, so a few rounds reach the last bit.
    const TSensorOptics& o = geometry.optics;
    const double range = geometry.range_z_mm;
    double z = guess ? *guess : (position - o.position_near) / (o.position_far - o.position_near) * range;
    const double s = ColumnOffset(o, column);
    for (int i = 0; i < 20; ++i) {
        const double u = z / range;
        const double slope =
            ((o.position_far - o.position_near) * AlongSlope(o, u) - o.bend_far * BendShape(o, s)) / range;
        const double step = (LinePosition(column, z) - position) / slope;
        z -= step;
        if (std::abs(step) < 1e-9 * range)
            break;
    }
    return z;
}

void TSensorModel::CalibrationFrame(std::optional<double> target_z_mm, std::vector<uint16_t>& positions,
                                    uint32_t frame) const {
    if (target_z_mm) {
        TCalibrationTarget::Frame(*this, *target_z_mm, frame, positions);
        return;
    }
    positions.assign(COLUMNS, 0);
    for (unsigned c = 0; c < COLUMNS; ++c) {
        double x = 0, z = 0;
        if (!SceneHit(c, x, z))
            continue;
        const double p = std::clamp(LinePosition(c, z), 1.0, static_cast<double>(POSITION_MAX));
        positions[c] = static_cast<uint16_t>(std::lround(p));
    }
}

void TSensorModel::Image(unsigned left, unsigned top, unsigned width, unsigned rows,
                         std::vector<uint8_t>& pixels, const TCameraLight& light,
                         std::optional<double> target_z_mm) const {
    const double exposure = std::max(0.0, light.exposure_us) / TCameraLight::REFERENCE_EXPOSURE_US;
    const double peak =
        LINE_PEAK * std::max(0.0, light.laser_intensity) / TCameraLight::REFERENCE_INTENSITY * exposure;
    pixels.resize(static_cast<size_t>(width) * rows);
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned c = 0; c < width; ++c) {
            const double level = (4 + ((left + c) * 31 + (top + r) * 17) % 5) * exposure;
            pixels[static_cast<size_t>(r) * width + c] =
                static_cast<uint8_t>(std::min(127.0, std::round(level)));
        }
    for (unsigned c = 0; c < width; ++c) {
        double z = 0;
        if (!SurfaceZ(left + c, target_z_mm, z))
            continue;
        const double row = LinePosition(left + c, z) / POSITION_SCALE;
        const int centre = static_cast<int>(std::lround(row));
        for (int r = centre - LINE_HALF_ROWS; r <= centre + LINE_HALF_ROWS; ++r) {
            if (r < static_cast<int>(top) || r >= static_cast<int>(top + rows))
                continue;
            const double d = (r - row) / LINE_SIGMA_ROWS;
            uint8_t& pixel = pixels[static_cast<size_t>(r - top) * width + c];
            const double level = pixel + peak * std::exp(-0.5 * d * d);
            pixel = static_cast<uint8_t>(std::min(127.0, level));
        }
    }
}

TSensorDesign SecondSensorDesign() {
    TSensorDesign d;
    d.identity = {455, 2, 23456, 0, 120, 30, 7, 9};
    TSensorOptics& o = d.optics;
    o.position_near = 420.0;
    o.position_far = 4650.0;
    o.triangulation = 0.8;
    o.bend = 150.0;
    o.bend_quartic = 0.5;
    o.bend_far = 0.2;
    o.tilt = 60.0;
    o.axis_column = 326.0;
    o.x_distortion = -0.04;
    return d;
}

} // namespace zq455

#pragma once
// The physics of the virtual sensor: where the camera sees the laser line for a surface at a
// given height, what X a camera column stands for, and the scene under the sensor (a tilted
// plane with a raised step). The simulator turns this into profile values, camera images
// and calibration frames; the calibration target that follows the stage is in
// CalibrationTarget.h. The profile goes through the table the sensor holds (SensorTable.h),
// as the firmware measures.

#include "sim/CalibrationTarget.h"

#include "sim/SensorTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq455 {

// How the camera sees the laser line: where it stands on the rows over the Z range, how it
// bends and tilts across the frame, and which column looks at X = 0. Positions are raw line
// positions (tenths of a row); u is the height as a fraction of the Z range and s the column's
// offset from the axis column, -1..1 over the frame.
struct TSensorOptics {
    double position_near = 300.0; // on the axis column at the near end of the range
    double position_far = 4800.0; // and at the far end
    // Height response: u (1 + curvature (1 - u)); or, when triangulation is above 0, the
    // triangulation curve u (1 + t) / (1 + t u). Both steepen towards the near end.
    double curvature = 0.25;
    double triangulation = 0.0;
    // Lens bend: bend (s^2 + bend_quartic s^4), shrinking by bend_far towards the far end.
    double bend = 80.0;
    double bend_quartic = 0.0;
    double bend_far = 0.3;
    double tilt = 0.0;          // positions the line rises from the axis to the right edge
    double axis_column = 319.5; // the column that sees X = 0
    double x_distortion = 0.03; // X grows as s (1 + d s^2) across the frame
};

// The sensor's measuring geometry: the ranges of its identity values (whole millimetres)
// and its optics.
struct TSensorGeometry {
    double base_mm = 80.0;
    double range_z_mm = 50.0;
    double xsmr_mm = 8.0;  // width of the X range at the near end of the Z range
    double xemr_mm = 10.0; // width of the X range at the far end
    TSensorOptics optics;
};

// A plane across X, tilted a little, with a step raised on part of it. Heights are measured
// from the near end of the Z range.
struct TScene {
    double plane_z_mm = 20.0; // height of the plane at x = 0
    double tilt_rad = 0.0215; // slope of the plane along X (about 1.23 degrees)
    double step_from_mm = 1.0;
    double step_to_mm = 3.5;
    double step_height_mm = 8.0;
    // The measured profile scatters in Z by at most this much around the surface, differently
    // on every shot (a few 14-bit units, as a real line's speckle gives).
    double noise_mm = 0.025;
};

// What sets the camera image's brightness: the laser's power ("Laser intensity", 0..31 in
// the user editor) and the exposure time in microseconds. The line grows with both, the
// dim background with the exposure only.
struct TCameraLight {
    static constexpr double REFERENCE_INTENSITY = 16.0;
    static constexpr double REFERENCE_EXPOSURE_US = 2550.0;
    double laser_intensity = REFERENCE_INTENSITY;
    double exposure_us = REFERENCE_EXPOSURE_US;
};

class TSensorModel {
public:
    static constexpr unsigned COLUMNS = 640;
    static constexpr unsigned ROWS = 512;
    // Raw line positions are tenths of a row.
    static constexpr double POSITION_SCALE = 10.0;
    static constexpr uint16_t POSITION_MAX = ROWS * 10 - 1;
    // Raw profile values: 14-bit two's complement, 4096 units for the whole range.
    static constexpr double PROFILE_UNITS = 4096.0;
    static constexpr uint16_t PROFILE_MISSING = 0x2000;

    void SetGeometry(const TSensorGeometry& value) { geometry = value; }
    const TSensorGeometry& Geometry() const { return geometry; }
    void SetScene(const TScene& value) { scene = value; }
    const TScene& Scene() const { return scene; }

    // Raw line position p(c, z) in tenths of a row for a surface at z_mm: grows smoothly
    // with z, bends towards the edges of the frame (lens distortion) and may be tilted.
    double LinePosition(double column, double z_mm) const;
    // X in millimetres that column `column` sees on a surface at z_mm: the X range widens
    // from Xsmr at the near end to Xemr at the far end.
    double ColumnX(double column, double z_mm) const;
    // The inverse of the two above: the true height and X of image point (column, position),
    // position in tenths of a row. LinePosition grows strictly with z over the camera's rows.
    // `guess` starts the search near the answer (the neighbouring position's height).
    double ZAtPosition(double column, double position, std::optional<double> guess = std::nullopt) const;
    double XAtPosition(double column, double position) const {
        return ColumnX(column, ZAtPosition(column, position));
    }
    // Height of the scene's surface at x_mm.
    double SceneZ(double x_mm) const;
    // Where column `column` meets the scene; false when that point lies outside the Z range.
    bool SceneHit(double column, double& x_mm, double& z_mm) const;
    // The angle of the measuring system the sensor finds when it rotates onto the scene.
    float SceneAngle() const { return static_cast<float>(scene.tilt_rad); }

    // Whether the calibration target at `target_z_mm` stands in the laser's path, from where
    // the camera first sees its line to a quarter of the range past the far end; while it
    // does, it hides the scene behind it.
    bool TargetVisible(double target_z_mm) const;
    // One measured profile of `points` pairs, (Z, X) each in 14-bit units of the ranges,
    // 0x2000 where no point was found; `values` gets 2 x points entries. Each point's raw line
    // position is looked up in `table`, as the sensor measures. The surface is the scene, or
    // the calibration target at `target_z_mm` when given (points on its stripes only). `shot`
    // numbers the measurement: the same shot gives the same noise.
    void Profile(unsigned points, std::vector<uint16_t>& values, uint32_t shot, const TSensorTable& table,
                 std::optional<double> target_z_mm = std::nullopt) const;
    // One raw line position per camera column (0 = no line): of the scene, or of the
    // calibration target at `target_z_mm` when given (`frame` numbers the frames for the
    // target's noise).
    void CalibrationFrame(std::optional<double> target_z_mm, std::vector<uint16_t>& positions,
                          uint32_t frame = 0) const;
    // Height of the calibration target for a stage position in micrometres.
    double TargetZ(double stage_um) const { return TCalibrationTarget::PlateZ(stage_um); }
    // The camera image (7-bit grey levels) of a window of the frame, line by line; levels
    // saturate at 127. The line lies on the scene, or on the target's stripes when given.
    void Image(unsigned left, unsigned top, unsigned width, unsigned rows, std::vector<uint8_t>& pixels,
               const TCameraLight& light = {}, std::optional<double> target_z_mm = std::nullopt) const;

private:
    // The height of the surface column `column` sees, without noise; false where it sees no line.
    bool SurfaceZ(double column, std::optional<double> target_z_mm, double& z_mm) const;

    TSensorGeometry geometry;
    TScene scene;
};

// A sensor as the factory builds it: its identity values (device type, modification, serial
// lo and hi, base distance, ranges Z, Xsmr and Xemr) and its optics.
struct TSensorDesign {
    std::array<uint16_t, 8> identity{};
    TSensorOptics optics;
};

// A second sensor of other optics: another base distance, a 30 mm Z range over 7..9 mm of X,
// a triangulation height response, a stronger bend with a quartic part, a tilted line, X = 0
// six columns right of the centre and barrel distortion. What holds for a calibration on both
// sensors does not lean on either one's model.
TSensorDesign SecondSensorDesign();

} // namespace zq455

#include "CalibrationTarget.h"

#include "SensorModel.h"

#include <cmath>

namespace zq455 {
namespace {

// A small integer hash: the noise and the reflections are the same in every run.
uint32_t Mix(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

} // namespace

bool TCalibrationTarget::OnStripe(double x_mm) {
    const double nearest = std::round(x_mm / STRIPE_PITCH_MM) * STRIPE_PITCH_MM;
    return std::abs(x_mm - nearest) <= STRIPE_WIDTH_MM / 2;
}

void TCalibrationTarget::Frame(const TSensorModel& model, double z_mm, uint32_t frame,
                               std::vector<uint16_t>& positions) {
    positions.assign(TSensorModel::COLUMNS, 0);
    const auto height = static_cast<uint32_t>(std::lround(z_mm * 1000.0) & 0xFFFFFFF);
    for (unsigned c = 0; c < TSensorModel::COLUMNS; ++c) {
        const double p = model.LinePosition(c, z_mm);
        // The line must fall on the camera's rows to be seen.
        if (p < 1.0 || p > TSensorModel::POSITION_MAX)
            continue;
        double value = p;
        if (OnStripe(model.ColumnX(c, z_mm))) {
            value += int(Mix(c, frame, 1) % (2 * NOISE + 1)) - NOISE;
        } else {
            const uint32_t h = Mix(c, height, 2);
            if (h % OUTLIER_ODDS != 0)
                continue;
            const int off = OUTLIER_MIN + int((h >> 10) % OUTLIER_SPREAD);
            // A reflection lands above or below the line, wherever the frame has room.
            value = p + off <= TSensorModel::POSITION_MAX ? p + off : p - off;
            if (value < 1.0)
                continue;
        }
        const long v = std::lround(value);
        positions[c] = static_cast<uint16_t>(v < 1                            ? 1
                                             : v > TSensorModel::POSITION_MAX ? TSensorModel::POSITION_MAX
                                                                              : v);
    }
}

} // namespace zq455

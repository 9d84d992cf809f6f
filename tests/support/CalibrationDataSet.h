#pragma once
// A calibration run as the sensor sees it, without the sensor: per step the line shows as
// short segments of a few columns, 500 um apart in X, zero between them; the line rises
// with the stage and bends a little across the columns; a little noise and an occasional
// outlier. Deterministic for a given seed.

#include "calibration/CalibrationState.h"

#include <cmath>
#include <cstdint>

namespace zq455::testdata {

inline void SynthesiseRun(TCalibrationState& s, uint32_t seed = 1) {
    uint32_t x = seed;
    auto next = [&x] { return (x = x * 1664525u + 1013904223u) >> 8; };
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        // The X range seen across the 640 columns widens from 40 to 60 mm over the run.
        const double range_mm = 40.0 + 20.0 * k / (CALIBR_STEPS - 1);
        const double pitch_cols = CALIBR_COLUMNS * 0.5 / range_mm;
        const double phase = 320.0 - std::floor(320.0 / pitch_cols) * pitch_cols; // a feature at 320
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
            const double u = (c - 320.0) / 320.0;
            const double line = 250.0 + 9.3 * k + 60.0 * u * u + 15.0 * u;
            const double offset = std::fmod(c + pitch_cols - phase + 0.5 * pitch_cols * 0.55, pitch_cols);
            const bool on_feature = offset < pitch_cols * 0.55;
            uint16_t v = 0;
            if (on_feature && c != 0) {
                v = static_cast<uint16_t>(line + int(next() % 7) - 3);
                if (next() % 400 == 0)
                    v = static_cast<uint16_t>(v + 300 + next() % 400); // a stray reflection
            }
            s.Calibr_Data[c][k] = v;
        }
    }
}

} // namespace zq455::testdata

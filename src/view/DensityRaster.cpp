#include "view/DensityRaster.h"

#include "view/ProfileAnalysis.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zq455 {

namespace {

// Anchors of the colour ramp, from the fewest to the most hits.
constexpr std::array<std::array<int, 3>, 5> RAMP = {{
    {30, 40, 160},   // dark blue
    {0, 140, 255},   // blue
    {0, 230, 230},   // cyan
    {255, 230, 0},   // yellow
    {255, 255, 255}, // white
}};

uint32_t RampColour(double t) {
    t = std::clamp(t, 0.0, 1.0) * (RAMP.size() - 1);
    const size_t k = std::min(static_cast<size_t>(t), RAMP.size() - 2);
    const double f = t - static_cast<double>(k);
    uint32_t argb = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
        const double v = RAMP[k][c] + (RAMP[k + 1][c] - RAMP[k][c]) * f;
        argb |= static_cast<uint32_t>(std::lround(v)) << (16 - 8 * c);
    }
    return argb;
}

} // namespace

void TDensityRaster::Shape(uint32_t new_columns, uint32_t new_rows, double new_x0, double new_x1,
                           double new_z0, double new_z1) {
    if (new_columns == columns && new_rows == rows && new_x0 == x0 && new_x1 == x1 && new_z0 == z0 &&
        new_z1 == z1)
        return;
    columns = new_columns;
    rows = new_rows;
    x0 = new_x0;
    x1 = new_x1;
    z0 = new_z0;
    z1 = new_z1;
    cells.assign(static_cast<size_t>(columns) * rows, 0);
    max_hits = 0;
    total_hits = 0;
    ++generation;
}

void TDensityRaster::Add(const TProfilePoint* points, size_t count) {
    if (columns == 0 || rows == 0 || !(x1 > x0) || !(z1 > z0))
        return;
    const double kx = columns / (x1 - x0);
    const double kz = rows / (z1 - z0);
    for (size_t i = 0; i < count; ++i) {
        const double fx = (points[i].x - x0) * kx;
        const double fz = (points[i].z - z0) * kz;
        // Written so that NaN fails too.
        if (!(fx >= 0 && fx < columns && fz >= 0 && fz < rows))
            continue;
        uint32_t& cell = cells[static_cast<size_t>(fz) * columns + static_cast<size_t>(fx)];
        if (cell == UINT32_MAX)
            continue; // an hour of one point in one cell is far below this; never wrap
        max_hits = std::max(max_hits, ++cell);
        ++total_hits;
    }
    ++generation;
}

void TDensityRaster::Clear() {
    std::fill(cells.begin(), cells.end(), 0u);
    max_hits = 0;
    total_hits = 0;
    ++generation;
}

void TDensityRaster::Render(uint32_t* argb) const {
    // One colour per hit count up to a few thousand; beyond that counts share the colour of
    // their logarithm's step.
    const double top = std::log(static_cast<double>(std::max<uint32_t>(max_hits, 2)));
    lookup.resize(std::min<uint32_t>(max_hits, 4096) + 1); // kept between pictures: no allocation
    for (size_t n = 1; n < lookup.size(); ++n)
        lookup[n] = RampColour(std::log(static_cast<double>(n)) / top);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t* in = cells.data() + static_cast<size_t>(r) * columns;
        uint32_t* out = argb + static_cast<size_t>(rows - 1 - r) * columns;
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t n = in[c];
            out[c] = n == 0              ? 0u
                     : n < lookup.size() ? lookup[n]
                                         : RampColour(std::log(static_cast<double>(n)) / top);
        }
    }
}

} // namespace zq455

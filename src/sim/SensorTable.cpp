#include "SensorTable.h"

#include "SensorModel.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace zq455 {
namespace {

constexpr int32_t EMPTY_SIGNED = -8192;
constexpr double UNITS = 4096.0;

int32_t Signed14(uint16_t v) {
    v &= 0x3FFF;
    return v >= 0x2000 ? int32_t(v) - 0x4000 : int32_t(v);
}

// Millimetres in units of a range, kept within the 14 bits (the empty cell excluded).
uint16_t Units(double mm, double range_mm) {
    const long units = std::clamp(std::lround(mm / range_mm * UNITS), -8191L, 8191L);
    return static_cast<uint16_t>(static_cast<unsigned long>(units) & 0x3FFF);
}

} // namespace

TSensorTable::TSensorTable(std::vector<uint16_t> values) : cells(std::move(values)) {
    cells.resize(VALUES, EMPTY);
}

TSensorTable TSensorTable::Factory(const TSensorModel& model) {
    TSensorTable table;
    const TSensorGeometry& g = model.Geometry();
    for (unsigned c = 0; c < COLUMNS; ++c) {
        std::optional<double> previous;
        for (unsigned r = 0; r < HALF_ROWS; ++r) {
            const double z = model.ZAtPosition(c, double(r) * SLOT_STEP, previous);
            previous = z;
            table.cells[size_t{r} * COLUMNS + c] = Units(z, g.range_z_mm);
            table.cells[size_t{HALF_ROWS + r} * COLUMNS + c] = Units(model.ColumnX(c, z), g.xemr_mm);
        }
    }
    return table;
}

bool TSensorTable::Lookup(double column, double position, int32_t& z, int32_t& x) const {
    if (!(position >= 0.0) || !std::isfinite(column))
        return false;
    column = std::clamp(column, 0.0, double(COLUMNS - 1));
    const auto c0 = static_cast<unsigned>(column);
    const double fc = column - c0;
    // A point on a whole column or slot needs no neighbour.
    const unsigned c1 = fc > 0 ? std::min(c0 + 1, COLUMNS - 1) : c0;
    const double t = std::min(position / SLOT_STEP, double(HALF_ROWS - 1));
    const auto r0 = static_cast<unsigned>(t);
    const double fr = t - r0;
    const unsigned r1 = fr > 0 ? std::min(r0 + 1, HALF_ROWS - 1) : r0;

    auto sample = [&](unsigned first_row, double& out) {
        const int32_t a = Signed14(cells[size_t{first_row + r0} * COLUMNS + c0]);
        const int32_t b = Signed14(cells[size_t{first_row + r0} * COLUMNS + c1]);
        const int32_t c = Signed14(cells[size_t{first_row + r1} * COLUMNS + c0]);
        const int32_t d = Signed14(cells[size_t{first_row + r1} * COLUMNS + c1]);
        if (a == EMPTY_SIGNED || b == EMPTY_SIGNED || c == EMPTY_SIGNED || d == EMPTY_SIGNED)
            return false;
        out = (a * (1 - fc) + b * fc) * (1 - fr) + (c * (1 - fc) + d * fc) * fr;
        return true;
    };
    double zv = 0, xv = 0;
    if (!sample(0, zv) || !sample(HALF_ROWS, xv))
        return false;
    z = static_cast<int32_t>(std::lround(zv));
    x = static_cast<int32_t>(std::lround(xv));
    // A value that rounds onto the empty cell's code would read as missing on the other side.
    return z != EMPTY_SIGNED && x != EMPTY_SIGNED;
}

} // namespace zq455

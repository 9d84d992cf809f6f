#pragma once
// The "Collect" view of the profile chart: every collected profile adds its points into a
// raster of hit counts over the chart's X and Z ranges, one cell per chart pixel. Memory and
// drawing cost follow the raster's size, never the number of profiles collected.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq455 {

struct TProfilePoint;

class TDensityRaster {
public:
    // Sets the cell grid (`columns` x `rows`) over X x0..x1 and Z z0..z1, in mm. A grid or
    // ranges different from the present ones empty the raster: old hits cannot be placed.
    void Shape(uint32_t columns, uint32_t rows, double x0, double x1, double z0, double z1);
    // Adds one hit per point that falls inside the ranges; points outside are not counted.
    void Add(const TProfilePoint* points, size_t count);
    void Clear();

    // The X and Z ranges the cells cover, in mm.
    double XLow() const { return x0; }
    double XHigh() const { return x1; }
    double ZLow() const { return z0; }
    double ZHigh() const { return z1; }
    uint32_t Columns() const { return columns; }
    uint32_t Rows() const { return rows; }
    // Row 0 is the lowest Z, column 0 the lowest X.
    uint32_t Hits(uint32_t column, uint32_t row) const {
        return cells[static_cast<size_t>(row) * columns + column];
    }
    uint32_t MaxHits() const { return max_hits; }
    uint64_t TotalHits() const { return total_hits; }
    bool Empty() const { return total_hits == 0; }
    // Bumped by every change, so a drawing can tell that its picture is out of date.
    uint64_t Generation() const { return generation; }

    // Colours the raster into 32-bit ARGB pixels, `columns` x `rows`, top line the highest Z:
    // empty cells transparent, the others on a ramp from dark blue (one hit) through cyan and
    // yellow to white (the most hits) on a logarithmic scale, so rare strays stay visible
    // beside a profile seen thousands of times.
    void Render(uint32_t* argb) const;

private:
    uint32_t columns = 0;
    uint32_t rows = 0;
    double x0 = 0, x1 = 0, z0 = 0, z1 = 0;
    std::vector<uint32_t> cells;
    uint32_t max_hits = 0;
    uint64_t total_hits = 0;
    uint64_t generation = 0;
    mutable std::vector<uint32_t> lookup; // Render's colour per hit count
};

} // namespace zq455

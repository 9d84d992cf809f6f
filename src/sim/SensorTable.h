#pragma once
// The table the virtual sensor measures through, as the firmware holds it: 1024 rows x 640
// columns of 14-bit two's complement values, row-major, the layout the table transfer sends.
//   rows    0..511: Z of image column c at raw line position 10 x r (units: Z range / 4096)
//   rows 512..1023: X of image column c at raw line position 10 x (r - 512) (units: Xemr / 4096)
// A cell holding the smallest 14-bit value (0x2000, the empty cell) has no value.
//
// A profile point is looked up at its image column and raw line position. Both are
// fractional: the model gives the line position in tenths of a row, and a profile of 1024
// points samples the 640 columns between whole columns. The value is the bilinear
// interpolation of the four cells around the point: the two sampled rows below and above
// the position (every tenth z-slot), in the two columns left and right of it. One empty cell
// among the four makes the point missing, as the firmware drops points outside its table.
// Positions at or beyond the last sampled slot (5110) take the last row; columns outside
// 0..639 take the edge column.

#include <cstdint>
#include <vector>

namespace zq455 {

class TSensorModel;

class TSensorTable {
public:
    static constexpr unsigned COLUMNS = 640;
    static constexpr unsigned HALF_ROWS = 512;
    static constexpr unsigned ROWS = 2 * HALF_ROWS;
    static constexpr uint32_t VALUES = ROWS * COLUMNS; // 655 360
    static constexpr unsigned SLOT_STEP = 10;          // raw line positions between two rows
    static constexpr uint16_t EMPTY = 0x2000;          // the empty cell as 14 bits

    TSensorTable() : cells(VALUES, EMPTY) {}
    explicit TSensorTable(std::vector<uint16_t> values);

    // The table a sensor leaves the factory with: the model's true Z and X of every sampled
    // image point, so that it measures correctly out of the box.
    static TSensorTable Factory(const TSensorModel& model);

    // Z and X (14-bit units, sign-extended) of the image point; false when it has no value.
    bool Lookup(double column, double position, int32_t& z, int32_t& x) const;

    const std::vector<uint16_t>& Cells() const { return cells; }
    std::vector<uint16_t>& Cells() { return cells; }

private:
    std::vector<uint16_t> cells;
};

} // namespace zq455

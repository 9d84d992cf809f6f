#pragma once
// One measurement tick's computation: the GetResult values turned into points in
// millimetres, the centre, the two window edges with their markers, the Z span and the
// level verdict. The window only draws what comes back.

#include <array>
#include <cstdint>
#include <vector>

namespace zq455 {

constexpr unsigned PROFILE_CAPACITY = 1024; // entries of the kept profile and of the working arrays
constexpr uint16_t MISSING_POINT = 0xE000;  // -8192 after sign extension: the pair holds no point

struct TProfilePoint {
    float x = 0;
    float z = 0;
};

// The control values a tick reads.
struct TProfileControls {
    bool auto_centre = false; // "Auto": centre on the first point of smallest Z
    int x0_mm = 0;            // "X0, mm."
    int dx_mm = 1;            // "dX, mm."
    int level_um = 0;         // "Level, um."
    uint16_t range_z = 0;     // "Measuring range Z", mm
    uint16_t range_xemr = 0;  // "Measuring range Xemr", mm
};

struct TProfileTick {
    uint16_t pair_count = 0; // announced by the reply, before missing points are dropped
    // Entry i - 1 holds reply pair i; (0, 0) where the pair held no point.
    std::array<TProfilePoint, PROFILE_CAPACITY> profile{};
    std::vector<TProfilePoint> points;      // the valid points in reply order
    std::vector<uint16_t> point_pairs;      // the reply pair number of each valid point
    std::vector<TProfilePoint> left_marker; // none, or the two ends of the left edge marker
    std::vector<TProfilePoint> right_marker;
    float marker_label_x = 0; // X of the point of smallest Z (the markers' label)
    unsigned centre = 0;
    unsigned left_edge = 0;
    unsigned right_edge = 0;
    float min_z = 0;
    float max_z = 0;
    bool over_level = false; // red when true, green otherwise
};

// 14-bit two's complement value to 16 bits.
inline uint16_t SignExtend14(uint16_t value) {
    return (value & 0x2000) ? static_cast<uint16_t>(value | 0xC000) : value;
}

// `values` holds 2 x pair_count values (Z then X per pair) of which `available` were
// delivered. Pair 0 is not used; at most the first 1025 pairs are, so that nothing lands
// beyond the 1024 entries of the profile and the working arrays.
void AnalyseProfile(const uint16_t* values, uint32_t available, uint16_t pair_count,
                    const TProfileControls& controls, TProfileTick& tick);

} // namespace zq455

#include "ProfileAnalysis.h"

#include <algorithm>
#include <cmath>

namespace zq455 {

// The arithmetic follows the device software's: 32-bit floats for the points, comparisons
// and the span in extended precision (long double).
void AnalyseProfile(const uint16_t* values, uint32_t available, uint16_t pair_count,
                    const TProfileControls& controls, TProfileTick& tick) {
    tick.pair_count = pair_count;
    tick.profile.fill(TProfilePoint{});
    tick.points.clear();
    tick.points.reserve(PROFILE_CAPACITY);
    tick.point_pairs.clear();
    tick.point_pairs.reserve(PROFILE_CAPACITY);
    tick.left_marker.clear();
    tick.right_marker.clear();

    const long double rz = controls.range_z;
    const int32_t xe = controls.range_xemr;
    const int32_t rzi = controls.range_z;
    float min_z = 10000.0f;
    float max_z = 0.0f;
    const float x0 = static_cast<float>(controls.x0_mm);
    unsigned centre_by_min = 0;
    unsigned centre_by_x0 = 0;
    float prev_x = 0;
    bool first = true;

    uint32_t pairs = std::min<uint32_t>(pair_count, PROFILE_CAPACITY + 1);
    pairs = std::min<uint32_t>(pairs, available / 2);
    for (uint32_t i = 1; i < pairs; ++i) {
        const uint16_t raw_z = SignExtend14(values[2 * i]);
        const uint16_t raw_x = SignExtend14(values[2 * i + 1]);
        if (raw_z == MISSING_POINT || raw_x == MISSING_POINT)
            continue;
        const int32_t sz = static_cast<int16_t>(raw_z);
        const int32_t sx = static_cast<int16_t>(raw_x);
        const float x = static_cast<float>(sx * xe) * 0.000244140625f;
        const float z = static_cast<float>(sz * rzi) * 0.000244140625f;
        tick.profile[i - 1] = {x, z};
        const unsigned k = static_cast<unsigned>(tick.points.size());
        tick.points.push_back({x, z});
        tick.point_pairs.push_back(static_cast<uint16_t>(i));
        if (first) {
            prev_x = x;
            first = false;
        }
        if (prev_x <= x0 && x0 <= x)
            centre_by_x0 = k;
        prev_x = x;
        if (z < min_z) {
            min_z = z;
            centre_by_min = k;
        }
    }

    const unsigned n = static_cast<unsigned>(tick.points.size());
    auto X = [&](unsigned j) { return j < n ? tick.points[j].x : 0.0f; };
    auto Z = [&](unsigned j) { return j < n ? tick.points[j].z : 0.0f; };
    tick.marker_label_x = X(centre_by_min);

    unsigned c;
    if (controls.auto_centre) {
        c = centre_by_min;
    } else {
        c = centre_by_x0;
        min_z = 10000.0f;
        max_z = 0.0f;
    }

    const long double half_window = static_cast<long double>(controls.dx_mm) * 0.5L;
    auto add_marker = [&](std::vector<TProfilePoint>& marker, unsigned j) {
        marker.push_back({X(j), static_cast<float>(Z(j) + rz * 0.1L)});
        marker.push_back({X(j), static_cast<float>(Z(j) - rz * 0.1L)});
    };

    unsigned j = c;
    while (j > 0) {
        if (std::fabs(static_cast<long double>(X(c)) - X(j)) >= half_window) {
            add_marker(tick.left_marker, j);
            break;
        }
        --j;
    }
    const unsigned left = j;

    j = c;
    while (j < n) {
        if (std::fabs(static_cast<long double>(X(c)) - X(j)) >= half_window) {
            add_marker(tick.right_marker, j);
            break;
        }
        ++j;
    }
    const unsigned right = j;

    for (unsigned m = left; m < right; ++m) {
        max_z = std::max(max_z, Z(m));
        if (!controls.auto_centre)
            min_z = std::min(min_z, Z(m));
    }

    tick.centre = c;
    tick.left_edge = left;
    tick.right_edge = right;
    tick.min_z = min_z;
    tick.max_z = max_z;
    tick.over_level =
        std::fabs(static_cast<long double>(max_z) * 1000 - static_cast<long double>(min_z) * 1000) >=
        static_cast<long double>(controls.level_um);
}

} // namespace zq455

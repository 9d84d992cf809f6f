// One measurement tick on arbitrary GetResult values and arbitrary control values.
//
//   byte 0        bit 0: "Auto"
//   bytes 1..12   X0, dX, Level as signed 32-bit little-endian (beyond the spin edits' limits)
//   bytes 13..18  Measuring range Z, Measuring range Xemr, the announced pair count (u16)
//   bytes 19..    the delivered values, u16 little-endian, in an array of exactly that size

#include "FuzzCheck.h"
#include "view/ProfileAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zq455;

namespace {

template <typename T> T Take(const uint8_t* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t HEADER = 19;
    if (size < HEADER)
        return 0;
    TProfileControls controls;
    controls.auto_centre = data[0] & 1;
    controls.x0_mm = Take<int32_t>(data + 1);
    controls.dx_mm = Take<int32_t>(data + 5);
    controls.level_um = Take<int32_t>(data + 9);
    controls.range_z = Take<uint16_t>(data + 13);
    controls.range_xemr = Take<uint16_t>(data + 15);
    const uint16_t pair_count = Take<uint16_t>(data + 17);
    const size_t available = (size - HEADER) / 2;
    std::vector<uint16_t> values(available);
    if (available)
        std::memcpy(values.data(), data + HEADER, available * 2);

    static TProfileTick tick;
    AnalyseProfile(values.data(), static_cast<uint32_t>(available), pair_count, controls, tick);

    const size_t n = tick.points.size();
    const size_t usable = std::min<size_t>({pair_count, PROFILE_CAPACITY + 1, available / 2});
    FUZZ_CHECK(tick.pair_count == pair_count);
    FUZZ_CHECK(n <= PROFILE_CAPACITY && n + 1 <= std::max<size_t>(usable, 1));
    // A value (14 bits from the sensor, any 16 bits here) times its range over 4096.
    const float limit_x = 8.0f * controls.range_xemr + 1;
    const float limit_z = 8.0f * controls.range_z + 1;
    for (const TProfilePoint& p : tick.points)
        FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.z) && std::fabs(p.x) <= limit_x &&
                   std::fabs(p.z) <= limit_z);
    // Every kept entry is a valid point of the reply, in order; no entry beyond the pairs used.
    size_t next = 0;
    for (size_t i = 0; i < PROFILE_CAPACITY; ++i) {
        const TProfilePoint& e = tick.profile[i];
        if (i + 1 >= usable) {
            FUZZ_CHECK(e.x == 0 && e.z == 0);
            continue;
        }
        const uint16_t raw_z = SignExtend14(values[2 * (i + 1)]);
        const uint16_t raw_x = SignExtend14(values[2 * (i + 1) + 1]);
        if (raw_z == MISSING_POINT || raw_x == MISSING_POINT) {
            FUZZ_CHECK(e.x == 0 && e.z == 0);
            continue;
        }
        FUZZ_CHECK(next < n && tick.points[next].x == e.x && tick.points[next].z == e.z);
        ++next;
    }
    FUZZ_CHECK(next == n);
    // The window's edges lie around the centre, inside the points.
    if (n == 0)
        FUZZ_CHECK(tick.centre == 0 && tick.left_edge == 0 && tick.right_edge == 0);
    else
        FUZZ_CHECK(tick.left_edge <= tick.centre && tick.centre < n && tick.centre <= tick.right_edge &&
                   tick.right_edge <= n);
    FUZZ_CHECK(tick.left_marker.size() == 0 || tick.left_marker.size() == 2);
    FUZZ_CHECK(tick.right_marker.size() == 0 || tick.right_marker.size() == 2);
    // A marker stands on its edge point, and an edge without a marker is the end of the points.
    if (tick.left_marker.empty())
        FUZZ_CHECK(tick.left_edge == 0);
    else
        FUZZ_CHECK(tick.left_edge > 0 && tick.left_marker[0].x == tick.points[tick.left_edge].x);
    if (tick.right_marker.empty())
        FUZZ_CHECK(tick.right_edge == n);
    else
        FUZZ_CHECK(tick.right_edge < n && tick.right_marker[0].x == tick.points[tick.right_edge].x);
    return 0;
}

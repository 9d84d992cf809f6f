// The frame view's region drag on arbitrary mouse sequences. Each 9-byte step is a kind
// (press, move, release) and a position; presses land on the frame (the paint box is the
// size of the frame), moves and releases anywhere a screen reaches, far outside included.
//
// After every release the region obeys the frame view's rules: within the frame, at least
// 64 x 51, its parameters within 100 %, and a frame rate that is not 0.

#include "FuzzCheck.h"
#include "view/FrameView.h"

#include <cstdlib>
#include <cstring>

using namespace zq455;

namespace {

bool FollowsTheRules(const TRoi& roi) {
    return roi.left >= 0 && roi.top >= 0 && roi.right <= FRAME_WIDTH && roi.bottom <= FRAME_HEIGHT &&
           roi.right - roi.left >= ROI_MIN_WIDTH && roi.bottom - roi.top >= ROI_MIN_HEIGHT;
}

// Widget coordinates never exceed 2^24 in either direction.
int32_t ScreenCoordinate(const uint8_t* bytes) {
    int32_t value;
    std::memcpy(&value, bytes, 4);
    return value % (1 << 24);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TRoiDrag drag;
    drag.fps = ComputeFrameRate(FRAME_WIDTH, FRAME_HEIGHT, 0);
    uint16_t left_width = 0xC000 | (100 << 7), top_height = 0x4000 | (100 << 7);
    for (size_t at = 0; at + 9 <= size; at += 9) {
        const uint8_t kind = data[at] % 3;
        int32_t x = ScreenCoordinate(data + at + 1);
        int32_t y = ScreenCoordinate(data + at + 5);
        const TRoi before = drag.roi;
        const bool was_dragging = drag.dragging;
        const uint16_t fps_before = drag.fps;
        if (kind == 0) {
            x = static_cast<int32_t>(static_cast<uint32_t>(x) % FRAME_WIDTH);
            y = static_cast<int32_t>(static_cast<uint32_t>(y) % FRAME_HEIGHT);
            drag.Press(x, y);
            FUZZ_CHECK(drag.dragging);
        } else if (kind == 1) {
            const bool running = drag.Move(x, y);
            FUZZ_CHECK(running == was_dragging);
            if (!running)
                FUZZ_CHECK(drag.roi == before && drag.fps == fps_before);
            else
                FUZZ_CHECK(drag.roi.right <= FRAME_WIDTH && drag.roi.bottom <= FRAME_HEIGHT);
        } else {
            uint16_t lw_cell = 0xFFFF, th_cell = 0xFFFF;
            const uint16_t lw_before = left_width, th_before = top_height;
            const bool ended = drag.Release(x, y, left_width, top_height, lw_cell, th_cell);
            FUZZ_CHECK(ended == was_dragging && !drag.dragging);
            if (!ended) {
                FUZZ_CHECK(drag.roi == before && left_width == lw_before && top_height == th_before &&
                           drag.fps == fps_before);
                continue;
            }
            FUZZ_CHECK(FollowsTheRules(drag.roi));
            FUZZ_CHECK(drag.fps >= ComputeFrameRate(FRAME_WIDTH, FRAME_HEIGHT, 0));
            // Start and extent in whole percent, together within the frame; bits 14, 15 kept.
            const unsigned lp = lw_cell & 0x7F, wp = lw_cell >> 7, tp = th_cell & 0x7F, hp = th_cell >> 7;
            FUZZ_CHECK(wp <= 100 && hp <= 100 && lp + wp <= 100 && tp + hp <= 100);
            FUZZ_CHECK(left_width == ((lw_before & 0xC000) | lw_cell) &&
                       top_height == ((th_before & 0xC000) | th_cell));
        }
    }
    return 0;
}

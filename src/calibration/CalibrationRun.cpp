#include "calibration/CalibrationRun.h"

#include <algorithm>
#include <cmath>

namespace zq455 {

// The arithmetic below is done in x87 extended precision (long double) wherever the
// stored values are not floats, so the motor moves come out exactly as the device's own
// tooling has always computed them.

float StepPitchUm(uint16_t rz) {
    const float range = static_cast<float>(1100 * static_cast<int32_t>(rz));
    const float s = static_cast<float>(range * 0.002L);
    const float sum = static_cast<float>(s + 6.25L);
    const float scaled = static_cast<float>(sum * 0.08L);
    const float steps = std::floor(scaled);
    return static_cast<float>(12.5L * steps);
}

int32_t StartSteps(int32_t begin_um) {
    return static_cast<int32_t>(begin_um * 0.08L);
}

int32_t MoveAfterCapture(uint16_t k, float step_um) {
    const long double next = static_cast<long double>(k + 1) * step_um;
    const long double here = static_cast<long double>(k) * step_um;
    return static_cast<int32_t>((next - here) * 0.08L);
}

void BeginCapture(TCalibrationState& state, uint16_t rz) {
    state.Calibr_Step_Um = StepPitchUm(rz);
    state.Calibr_Step_Index = 0;
    state.Calibr_Step_Count = CALIBR_STEPS;
}

void ClearStep(TCalibrationState& state, uint16_t k) {
    if (k >= CALIBR_STEPS)
        return;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
        state.Calibr_Data[c][k] = 0;
        state.Calibr_Hits[c] = 0;
    }
}

// The count a frame announces and the number of column values it actually carries.
static uint32_t FrameCount(const uint16_t* values, uint32_t count) {
    return count > 0 ? values[0] : 0;
}

void AccumulateFrame(TCalibrationState& state, uint16_t k, const uint16_t* values, uint32_t count) {
    if (k >= CALIBR_STEPS || count == 0)
        return;
    // Columns beyond 639, or beyond what the reply carried, have nowhere to go.
    const uint32_t n = std::min({FrameCount(values, count), count - 1, uint32_t{CALIBR_COLUMNS}});
    // Column 0 carries no line position; it is never accumulated.
    for (uint32_t j = 1; j < n; ++j) {
        // The wire carries 14 bits, so three values always fit the 16-bit sum.
        const uint16_t v = values[1 + j] & 0x3FFF;
        if (v != 0) {
            state.Calibr_Data[j][k] = static_cast<uint16_t>(state.Calibr_Data[j][k] + v);
            ++state.Calibr_Hits[j];
        }
    }
}

void FinishStep(TCalibrationState& state, uint16_t k, const uint16_t* last_values, uint32_t last_count,
                std::vector<TCalibrPoint>& points) {
    points.clear();
    if (k >= CALIBR_STEPS)
        return;
    const uint32_t n = std::min(FrameCount(last_values, last_count), uint32_t{CALIBR_COLUMNS});
    for (uint32_t j = 0; j < CALIBR_COLUMNS; ++j) {
        uint16_t& d = state.Calibr_Data[j][k];
        // A column that missed any of the three frames has no value at this step; a column
        // beyond the last frame's count missed that frame and must not keep a partial sum.
        if (j < n && state.Calibr_Hits[j] == CALIBR_FRAMES)
            d = static_cast<uint16_t>((d + 1) / 3);
        else
            d = 0;
        if (j < n)
            points.push_back({static_cast<uint16_t>(j), d});
    }
}

uint32_t CaptureStep(TCalibrationState& state, uint16_t k, const TCalibrFrameReader& read,
                     std::vector<TCalibrPoint>& points) {
    points.clear();
    if (k >= CALIBR_STEPS)
        return 0;
    ClearStep(state, k);
    uint16_t frame[CALIBR_FRAME_CAPACITY];
    uint32_t count = 0;
    for (uint8_t f = 0; f < CALIBR_FRAMES; ++f) {
        count = 0;
        const uint32_t result = read(frame, CALIBR_FRAME_CAPACITY, count);
        if (result != 0) {
            // Partial sums would later pass for line positions; the step has no values.
            ClearStep(state, k);
            return result;
        }
        AccumulateFrame(state, k, frame, std::min(count, CALIBR_FRAME_CAPACITY));
    }
    FinishStep(state, k, frame, std::min(count, CALIBR_FRAME_CAPACITY), points);
    return 0;
}

} // namespace zq455

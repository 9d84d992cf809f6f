#include "calibration/CalibrationRun.h"

#include <gtest/gtest.h>

#include <deque>

using namespace zq455;

TEST(StepPitch, RoundsToWholeMotorStepsAndEveryMoveIsThePitch) {
    struct Case {
        uint16_t rz;
        float um;
        int32_t steps;
    };
    // 110 % of RZ in 500 parts: 110 um -> 9 steps, 22 um -> 2 steps, 0 -> 0 steps.
    for (const Case c : {Case{50, 112.5f, 9}, Case{10, 25.0f, 2}, Case{0, 0.0f, 0}}) {
        const float um = StepPitchUm(c.rz);
        EXPECT_EQ(um, c.um) << "RZ " << c.rz;
        for (uint16_t k : {0, 1, 250, 498})
            EXPECT_EQ(MoveAfterCapture(k, um), c.steps) << "RZ " << c.rz << " step " << k;
    }
}

TEST(StepPitch, ApproachMoveTruncatesTheBeginDistance) {
    EXPECT_EQ(StartSteps(22000), 1760);
    EXPECT_EQ(StartSteps(10), 0);
    EXPECT_EQ(StartSteps(360000), 28800);
    EXPECT_EQ(StartSteps(137), 10); // 10.96
}

namespace {

// Hands out scripted frames (count N first, then the column values) and then a failure.
struct TScriptedSensor {
    std::deque<std::vector<uint16_t>> frames;
    uint32_t failure = 3;
    int reads = 0;

    uint32_t Read(uint16_t* values, uint32_t capacity, uint32_t& count) {
        ++reads;
        count = 0;
        if (frames.empty())
            return failure;
        const std::vector<uint16_t> f = frames.front();
        frames.pop_front();
        for (uint32_t i = 0; i < f.size() && i < capacity; ++i)
            values[count++] = f[i];
        return 0;
    }
    TCalibrFrameReader Reader() {
        return [this](uint16_t* v, uint32_t cap, uint32_t& n) { return Read(v, cap, n); };
    }
};

// A frame announcing `n` columns with `values` entries after the count.
std::vector<uint16_t> Frame(uint16_t n, size_t values,
                            std::initializer_list<std::pair<size_t, uint16_t>> set) {
    std::vector<uint16_t> f(1 + values, 0);
    f[0] = n;
    for (auto [column, v] : set)
        f[1 + column] = v;
    return f;
}

} // namespace

TEST(CaptureStep, AveragesThreeFramesAndDropsColumnsThatMissedOne) {
    TCalibrationState state;
    const uint16_t k = 42;
    state.Calibr_Data[300][k] = 999;    // older content of this step is replaced
    state.Calibr_Data[5][k + 1] = 1234; // other steps are not touched
    TScriptedSensor sensor;
    sensor.frames = {
        Frame(640, 640, {{0, 500}, {5, 100}, {6, 100}, {7, 100}, {8, 1}, {9, 1}, {639, 16383}}),
        Frame(640, 640, {{0, 500}, {5, 101}, {6, 100}, {8, 1}, {9, 2}, {639, 16383}}),
        Frame(640, 640, {{0, 500}, {5, 102}, {6, 101}, {7, 100}, {8, 2}, {9, 2}, {639, 16383}}),
    };
    std::vector<TCalibrPoint> points;
    ASSERT_EQ(CaptureStep(state, k, sensor.Reader(), points), 0u);
    EXPECT_EQ(sensor.reads, 3);
    EXPECT_EQ(state.Calibr_Data[0][k], 0);       // column 0 is never accumulated
    EXPECT_EQ(state.Calibr_Data[5][k], 101);     // (303 + 1) div 3
    EXPECT_EQ(state.Calibr_Data[6][k], 100);     // (301 + 1) div 3
    EXPECT_EQ(state.Calibr_Data[7][k], 0);       // missed the second frame
    EXPECT_EQ(state.Calibr_Data[8][k], 1);       // 4 -> 5 div 3
    EXPECT_EQ(state.Calibr_Data[9][k], 2);       // 5 -> 6 div 3
    EXPECT_EQ(state.Calibr_Data[639][k], 16383); // three 14-bit maxima fit the sum
    EXPECT_EQ(state.Calibr_Data[300][k], 0);
    EXPECT_EQ(state.Calibr_Data[5][k + 1], 1234);
    ASSERT_EQ(points.size(), 640u);
    EXPECT_EQ(points[0], (TCalibrPoint{0, 0}));
    EXPECT_EQ(points[5], (TCalibrPoint{5, 101}));
    EXPECT_EQ(points[7], (TCalibrPoint{7, 0}));
    EXPECT_EQ(points[639], (TCalibrPoint{639, 16383}));
}

TEST(CaptureStep, CountsBelowAndAboveTheColumnCount) {
    TCalibrationState state;
    std::vector<TCalibrPoint> points;
    {
        // N = 600: columns 600..639 keep the 0 of the cleared step, even where the reply
        // carried values past the count.
        TScriptedSensor sensor;
        for (int f = 0; f < 3; ++f)
            sensor.frames.push_back(Frame(600, 640, {{599, 700}, {600, 700}, {639, 700}}));
        state.Calibr_Data[620][3] = 55;
        ASSERT_EQ(CaptureStep(state, 3, sensor.Reader(), points), 0u);
        EXPECT_EQ(state.Calibr_Data[599][3], 700);
        EXPECT_EQ(state.Calibr_Data[600][3], 0);
        EXPECT_EQ(state.Calibr_Data[620][3], 0);
        EXPECT_EQ(state.Calibr_Data[639][3], 0);
        EXPECT_EQ(points.size(), 600u);
    }
    {
        // N = 700 with 700 values: nothing beyond column 639 is stored, the view has 640.
        ClearStep(state, 4);
        const auto f = Frame(700, 700, {{639, 800}, {640, 900}, {699, 900}});
        for (int i = 0; i < 3; ++i)
            AccumulateFrame(state, 4, f.data(), uint32_t(f.size()));
        FinishStep(state, 4, f.data(), uint32_t(f.size()), points);
        EXPECT_EQ(state.Calibr_Data[639][4], 800);
        EXPECT_EQ(state.Calibr_Data[0][5], 0);
        EXPECT_EQ(points.size(), 640u);
    }
    {
        // The count drops in the last frame: the columns past it missed that frame and
        // get 0, not the sum of the two frames that had them.
        TScriptedSensor sensor;
        sensor.frames = {Frame(640, 640, {{610, 1000}}), Frame(640, 640, {{610, 1000}}),
                         Frame(600, 640, {{610, 1000}})};
        ASSERT_EQ(CaptureStep(state, 6, sensor.Reader(), points), 0u);
        EXPECT_EQ(state.Calibr_Data[610][6], 0);
    }
    {
        // A reply shorter than its count: the columns it did not carry have no value.
        TScriptedSensor sensor;
        for (int f = 0; f < 3; ++f)
            sensor.frames.push_back(Frame(640, 10, {{9, 321}}));
        ASSERT_EQ(CaptureStep(state, 7, sensor.Reader(), points), 0u);
        EXPECT_EQ(state.Calibr_Data[9][7], 321);
        EXPECT_EQ(state.Calibr_Data[10][7], 0);
        EXPECT_EQ(points.size(), 640u);
    }
}

TEST(CaptureStep, FailedReadStopsAndLeavesTheStepWithoutValues) {
    TCalibrationState state;
    state.Calibr_Data[5][8] = 111;
    state.Calibr_Data[5][10] = 222;
    TScriptedSensor sensor;
    sensor.frames = {Frame(640, 640, {{5, 1000}})};
    sensor.failure = 8;
    std::vector<TCalibrPoint> points{{1, 1}};
    EXPECT_EQ(CaptureStep(state, 9, sensor.Reader(), points), 8u);
    EXPECT_EQ(sensor.reads, 2);            // stops at the failed frame
    EXPECT_EQ(state.Calibr_Data[5][9], 0); // no partial sum of one frame
    EXPECT_EQ(state.Calibr_Data[5][8], 111);
    EXPECT_EQ(state.Calibr_Data[5][10], 222);
    EXPECT_TRUE(points.empty());
}

TEST(CaptureStep, StepOutsideTheArrayReadsAndWritesNothing) {
    TCalibrationState state;
    TScriptedSensor sensor;
    sensor.frames = {Frame(640, 640, {{5, 1000}})};
    std::vector<TCalibrPoint> points;
    EXPECT_EQ(CaptureStep(state, 500, sensor.Reader(), points), 0u);
    EXPECT_EQ(sensor.reads, 0);
    EXPECT_TRUE(points.empty());
}

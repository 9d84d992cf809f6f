#include "calibration/TableEdits.h"
#include "calibration/TableComputation.h"

#include <gtest/gtest.h>

using namespace zq455;

TEST(TableEdits, DefaultsAndBoundaryValuesPass) {
    TTableParams p;
    p.zl = 1; // must be overwritten
    ASSERT_TRUE(ValidateTableEdits({}, 50, 60, p).Ok());
    EXPECT_EQ(p.xl, 0);
    EXPECT_EQ(p.xr, 0);
    EXPECT_EQ(p.zl, 310);
    EXPECT_EQ(p.zr, 340);
    EXPECT_EQ(p.rz, 50);
    EXPECT_EQ(p.xe, 60);

    ASSERT_TRUE(ValidateTableEdits({" 599 ", "40", "0", "+639"}, 1, 1, p).Ok());
    EXPECT_EQ(p.xl, 599);
    EXPECT_EQ(p.xr, 40);
    EXPECT_EQ(p.zl, 0);
    EXPECT_EQ(p.zr, 639);
    ASSERT_TRUE(ValidateTableEdits({"0", "639", "0", "0"}, 1, 1, p).Ok());
    ASSERT_TRUE(ValidateTableEdits({"639", "0", "0", "0"}, 1, 1, p).Ok());
}

TEST(TableEdits, RefusedInputsNameTheEditAndLeaveTheParams) {
    struct Case {
        TTableEditTexts texts;
        uint16_t rz, xe;
        const char* names;
    };
    const Case cases[] = {
        {{"abc", "0", "310", "340"}, 50, 60, "X Left"},
        {{"", "0", "310", "340"}, 50, 60, "X Left"},
        {{"1.5", "0", "310", "340"}, 50, 60, "X Left"},
        {{"-1", "0", "310", "340"}, 50, 60, "X Left"},
        {{"641", "0", "310", "340"}, 50, 60, "X Left"},
        {{"0x10", "0", "310", "340"}, 50, 60, "X Left"},
        {{"0", "641", "310", "340"}, 50, 60, "X Right"},
        {{"0", "99999999999999999999", "310", "340"}, 50, 60, "X Right"},
        {{"0", "640", "310", "340"}, 50, 60, "X Left"},  // 0 is not below 640 - 640
        {{"600", "40", "310", "340"}, 50, 60, "X Left"}, // 600 is not below 600
        {{"0", "0", "640", "340"}, 50, 60, "Zero Left"},
        {{"0", "0", "12 3", "340"}, 50, 60, "Zero Left"},
        {{"0", "0", "310", "-1"}, 50, 60, "Zero Right"},
        {{"0", "0", "310", "+-1"}, 50, 60, "Zero Right"},
        {{}, 0, 60, "Measuring range Z"},
        {{}, 50, 0, "Measuring range Xemr"},
    };
    for (const Case& c : cases) {
        TTableParams p;
        p.xl = 1234;
        const TCalibrResult r = ValidateTableEdits(c.texts, c.rz, c.xe, p);
        EXPECT_EQ(r.status, TCalibrStatus::InvalidInput) << c.texts.x_left << " " << c.texts.x_right;
        EXPECT_NE(r.message.find(c.names), std::string::npos) << r.message;
        EXPECT_EQ(p.xl, 1234);
    }
    uint16_t xl = 5, xr = 6;
    EXPECT_FALSE(ValidateXLimits("10", "x", xl, xr).Ok());
    EXPECT_EQ(xl, 5);
    EXPECT_TRUE(ValidateXLimits("10", "20", xl, xr).Ok());
    EXPECT_EQ(xl, 10);
    EXPECT_EQ(xr, 20);
}

TEST(TableEdits, CalculateRefusesZeroRangesBeforeTouchingAnyArray) {
    TCalibrationState s;
    s.Calibr_Data[300][0] = 4000; // an outlier Calculate would remove
    s.Calibr_Centres[5][5] = 77;
    s.Calibr_Table_Z[1][1] = 11;
    s.Calibr_Table_X[2][2] = 22;
    s.Calibr_Step_Um = 3.0f;
    for (const auto& [rz, xe] : {std::pair<uint16_t, uint16_t>{0, 60}, {50, 0}}) {
        TTableParams p;
        p.rz = rz;
        p.xe = xe;
        EXPECT_EQ(Calculate(s, p).status, TCalibrStatus::InvalidInput);
    }
    TTableParams bad_limits;
    bad_limits.rz = 50;
    bad_limits.xe = 60;
    bad_limits.xl = 700;
    EXPECT_EQ(Calculate(s, bad_limits).status, TCalibrStatus::InvalidInput);
    EXPECT_EQ(s.Calibr_Data[300][0], 4000);
    EXPECT_EQ(s.Calibr_Centres[5][5], 77);
    EXPECT_EQ(s.Calibr_Table_Z[1][1], 11);
    EXPECT_EQ(s.Calibr_Table_X[2][2], 22);
    EXPECT_EQ(s.Calibr_Step_Um, 3.0f);
}

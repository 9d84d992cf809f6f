#include "calibration/TableComputation.h"
#include "calibration/TransmitTable.h"

#include <gtest/gtest.h>

using namespace zq455;

namespace {

// Step k with the reference band (columns 0..149 and 490..639) at `level`.
void Band(TCalibrationState& s, unsigned k, uint16_t level) {
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        if (c < 150 || c >= 490)
            s.Calibr_Data[c][k] = level;
}

void Put(TCalibrationState& s, unsigned k, unsigned first, std::initializer_list<uint16_t> values) {
    for (uint16_t v : values)
        s.Calibr_Data[first++][k] = v;
}

int CountNotEmpty(const int16_t (*t)[CALIBR_ZSLOTS]) {
    int n = 0;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned z = 0; z < CALIBR_ZSLOTS; ++z)
            n += t[c][z] != EMPTY_CELL;
    return n;
}

} // namespace

TEST(CentreExtraction, SegmentsBecomeRoundedMeansAtTheirCentreColumn) {
    TCalibrationState s;
    const unsigned k = 7;
    Band(s, k, 1000);                               // reference level 1000; segments searched in 150..489
    Put(s, k, 200, {1000, 1010, 1005});             // max s+1, min s: only 1005 is left
    Put(s, k, 210, {1000, 1000, 1000, 1000, 1000}); // one column is max and min
    Put(s, k, 220, {1000, 1002});                   // two columns: the second value
    Put(s, k, 230, {1000});                         // one column: no centre
    Put(s, k, 240, {1000, 1004, 1009, 1001});       // (1004 + 1001 + 1) div 2
    Put(s, k, 250, {1181});                         // 181 above the reference: removed
    Put(s, k, 260, {1180, 1180, 1180});             // 180 above: stays
    Put(s, k, 270, {819});                          // 181 below: removed
    Put(s, k, 487, {1000, 1000, 1000});             // reaches 640 - XR = 490: dropped
    s.Calibr_Centres[400][k] = 55;                  // cleared before the first step
    s.Calibr_Centres[0][499] = 56;
    ExtractCentres(s, 150, 150);

    EXPECT_EQ(s.Calibr_Centres[202][k], 1005);
    EXPECT_EQ(s.Calibr_Centres[213][k], 1000);
    EXPECT_EQ(s.Calibr_Centres[221][k], 1002);
    EXPECT_EQ(s.Calibr_Centres[242][k], 1003);
    EXPECT_EQ(s.Calibr_Centres[262][k], 1180);
    EXPECT_EQ(s.Calibr_Data[250][k], 0);
    EXPECT_EQ(s.Calibr_Data[260][k], 1180);
    EXPECT_EQ(s.Calibr_Data[270][k], 0);
    EXPECT_EQ(s.Calibr_Data[100][k], 1000);
    const std::vector<TCalibrPoint> expected{{202, 1005}, {213, 1000}, {221, 1002}, {242, 1003}, {262, 1180}};
    EXPECT_EQ(CentrePoints(s), expected);
}

TEST(CentreExtraction, ReferenceLevelLimitsAndValuesAboveTenThousand) {
    TCalibrationState s;
    // No values in the band: the reference is 0, every value above 180 goes.
    Put(s, 1, 300, {181});
    Put(s, 1, 310, {180, 180});
    Put(s, 1, 320, {1000, 1000, 1000});
    // A segment that reaches column 639 with XR = 0 is dropped.
    Put(s, 2, 0, {100}); // reference from column 0 alone: 100
    Put(s, 2, 637, {100, 100, 100});
    Put(s, 2, 630, {100, 100, 100});
    // Values of 10000 and more have no minimum column: only the maximum is left out.
    Band(s, 3, 10000);
    Put(s, 3, 300, {10000, 10100, 10050});
    ExtractCentres(s, 150, 150);
    ExtractCentres(s, 0, 0); // clears the centres and recomputes every step with the full width

    EXPECT_EQ(s.Calibr_Data[300][1], 0);
    EXPECT_EQ(s.Calibr_Data[320][1], 0);
    EXPECT_EQ(s.Calibr_Centres[311][1], 180);
    EXPECT_EQ(s.Calibr_Centres[632][2], 100);
    EXPECT_EQ(s.Calibr_Centres[639][2], 0);
    EXPECT_EQ(s.Calibr_Centres[638][2], 0);
    // Recomputed with XL = 0: the band itself is one long segment of 10000s ending at 149
    // (150 columns: max = first column, no minimum).
    EXPECT_EQ(s.Calibr_Centres[302][3], 10025);
    EXPECT_EQ(s.Calibr_Centres[75][3], 10000);
}

TEST(ZTable, StageTravelPerStepAlongTheCentrePolyline) {
    TCalibrationState s;
    s.Calibr_Centres[100][1] = 2000; // (100, 2000) -> (110, 2010): slope 1
    s.Calibr_Centres[110][1] = 2010;
    s.Calibr_Centres[300][499] = 3000; // slope 2
    s.Calibr_Centres[305][499] = 3010;
    s.Calibr_Centres[500][250] = 1000; // a single centre draws nothing
    BuildZTable(s, 50);
    EXPECT_EQ(s.Calibr_Step_Um, 112.5f);
    for (int j = 0; j <= 10; ++j) {
        EXPECT_EQ(s.Calibr_Table_Z[100 + j][2000 + j], 9) << j; // trunc(460800 / 50000)
        EXPECT_EQ(s.Calibr_Table_Z[100 + j][2001 + j], EMPTY_CELL) << j;
    }
    for (int j = 0; j <= 5; ++j)
        EXPECT_EQ(s.Calibr_Table_Z[300 + j][3000 + 2 * j], 4598) << j; // trunc(229939200 / 50000)
    EXPECT_EQ(CountNotEmpty(s.Calibr_Table_Z.get()), 11 + 6);
}

TEST(ZTable, LaterStepsWinAndColumnsAreInterpolatedAlongZ) {
    TCalibrationState s;
    // Column 200 gets Z of step 1 (9) at slot 100 and of step 2 (18) at slot 110; step 3
    // lands on slot 110 of column 200 as well and replaces step 2.
    s.Calibr_Centres[200][1] = 100;
    s.Calibr_Centres[201][1] = 100;
    s.Calibr_Centres[200][2] = 110;
    s.Calibr_Centres[201][2] = 111;
    s.Calibr_Centres[199][3] = 110;
    s.Calibr_Centres[200][3] = 110;
    BuildZTable(s, 50);
    // Step 3 is trunc(3 * 460800 / 50000) = 27. Slots 100..110 of column 200 then run from
    // 9 to 27 with the float slope 1.8 (1.7999999523...).
    const int16_t expected[] = {9, 10, 12, 14, 16, 17, 19, 21, 23, 25, 26};
    for (int j = 0; j <= 10; ++j)
        EXPECT_EQ(s.Calibr_Table_Z[200][100 + j], expected[j]) << j;
    EXPECT_EQ(s.Calibr_Table_Z[200][99], EMPTY_CELL);
    EXPECT_EQ(s.Calibr_Table_Z[200][111], EMPTY_CELL);
    EXPECT_EQ(s.Calibr_Table_Z[199][110], 27);
    EXPECT_EQ(s.Calibr_Table_Z[199][109], EMPTY_CELL);
}

TEST(FillAlongZ, FloatSlopeTruncatesTowardsZeroAndRewritesTheEndCell) {
    std::vector<int16_t> col(CALIBR_ZSLOTS, EMPTY_CELL);
    col[100] = 0;
    col[110] = 9;  // slope float(0.9) = 0.89999997...: the end cell becomes 8
    col[120] = 18; // the next span starts from the cell as it now stands: (18 - 8) / 10 = 1
    FillAlongZ(col.data());
    const int16_t first[] = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 8};
    for (int j = 0; j <= 10; ++j)
        EXPECT_EQ(col[100 + j], first[j]) << j;
    for (int j = 0; j <= 10; ++j)
        EXPECT_EQ(col[110 + j], 8 + j) << j;
    EXPECT_EQ(col[99], EMPTY_CELL);
    EXPECT_EQ(col[121], EMPTY_CELL);

    std::vector<int16_t> neg(CALIBR_ZSLOTS, EMPTY_CELL);
    neg[200] = -10;
    neg[203] = 0; // slope 3.3333332...: -6.67 -> -6, -3.33 -> -3, -0.0000002 -> 0
    neg[5119] = 5;
    FillAlongZ(neg.data());
    EXPECT_EQ(neg[200], -10);
    EXPECT_EQ(neg[201], -6);
    EXPECT_EQ(neg[202], -3);
    EXPECT_EQ(neg[203], 0);
    // 203 (0) to 5119 (5): slope float(5 / 4916) = 0.00101708702...; 4916 of them make
    // 4.9999998, so the last slot of the column is rewritten to 4 as well.
    EXPECT_EQ(neg[204], 0);
    EXPECT_EQ(neg[5118], 4);
    EXPECT_EQ(neg[5119], 4);
    EXPECT_EQ(neg[199], EMPTY_CELL);
}

TEST(XTable, FallingPassCountsFeaturesDownFromTheZeroFeature) {
    TCalibrationState s;
    s.Calibr_Centres[340][5] = 2000;
    s.Calibr_Centres[330][5] = 2010;
    const int16_t expected[] = {0, -2, -4, -6, -8, -10, -12, -14, -16, -18, -20}; // -2.048 j
    // ZL = 400: no rising pass; then ZL = 310, where the rising pass draws the same cells
    // first and the falling pass replaces them.
    for (uint16_t zl : {400, 310}) {
        BuildXTable(s, zl, 340, 100);
        EXPECT_EQ(s.Calibr_Step_Um, 500.0f);
        for (int j = 0; j <= 10; ++j)
            EXPECT_EQ(s.Calibr_Table_X[340 - j][2000 + j], expected[j]) << "ZL " << zl << " j " << j;
        EXPECT_EQ(CountNotEmpty(s.Calibr_Table_X.get()), 11) << zl;
    }
}

TEST(XTable, RisingPassAddsTheFeaturePitchPerCentre) {
    TCalibrationState s;
    s.Calibr_Centres[309][6] = 1000; // below ZL: not part of the rising pass
    s.Calibr_Centres[310][6] = 1000; // the zero feature
    s.Calibr_Centres[320][6] = 1000;
    s.Calibr_Centres[330][6] = 1000;
    BuildXTable(s, 310, 0, 60); // falling pass from column 0 finds no centre
    // X in units of 60 mm / 4096: trunc(um * 4096 / 60000).
    EXPECT_EQ(s.Calibr_Table_X[310][1000], 0);
    EXPECT_EQ(s.Calibr_Table_X[315][1000], 17); // 250 um
    EXPECT_EQ(s.Calibr_Table_X[320][1000], 34); // 500 um
    EXPECT_EQ(s.Calibr_Table_X[325][1000], 51); // 750 um
    EXPECT_EQ(s.Calibr_Table_X[330][1000], 68); // 1000 um
    EXPECT_EQ(s.Calibr_Table_X[309][1000], EMPTY_CELL);
    EXPECT_EQ(s.Calibr_Table_X[331][1000], EMPTY_CELL);
}

TEST(Tables, CentresAndSlotsBeyondTheTableAreSkipped) {
    TCalibrationState s;
    s.Calibr_Centres[100][4] = 5115; // slope 1: slots 5115..5119 exist, 5120..5125 do not
    s.Calibr_Centres[110][4] = 5125;
    s.Calibr_Centres[200][5] = 65535;
    s.Calibr_Centres[201][5] = 65535;
    BuildZTable(s, 50);
    BuildXTable(s, 0, 639, 100);
    for (const auto* t : {s.Calibr_Table_Z.get(), s.Calibr_Table_X.get()}) {
        for (int j = 0; j <= 4; ++j)
            EXPECT_NE(t[100 + j][5115 + j], EMPTY_CELL) << j;
        // A write past slot 5119 of a column would land at the start of the next one.
        for (unsigned c = 101; c <= 111; ++c)
            for (unsigned z = 0; z < 20; ++z)
                EXPECT_EQ(t[c][z], EMPTY_CELL) << c << " " << z;
        EXPECT_EQ(CountNotEmpty(t), 5);
    }
    EXPECT_EQ(s.Calibr_Table_Z[104][5119], 36); // trunc(4 * 460800 / 50000)
}

TEST(TransmitTable, SamplesEveryTenthSlotInsideTheXLimits) {
    TCalibrationState s;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned z = 0; z < CALIBR_ZSLOTS; ++z) {
            s.Calibr_Table_Z[c][z] = int16_t(z + 1);
            s.Calibr_Table_X[c][z] = int16_t(-int(c) - 1);
        }
    const auto& T = s.Calibr_Table_Trans;
    AssembleTransmitTable(s, 0, 0);
    for (unsigned r = 0; r < CALIBR_TRANS_ROWS; ++r)
        EXPECT_EQ(T[r][0], 0xE000) << r;
    EXPECT_EQ(T[0][1], 1);
    EXPECT_EQ(T[511][1], 5111);
    EXPECT_EQ(T[512][1], 0xFFFE);
    EXPECT_EQ(T[1023][639], uint16_t(-640));
    EXPECT_EQ(T[300][639], 3001);

    AssembleTransmitTable(s, 10, 20);
    for (unsigned r : {0u, 511u, 512u, 1023u}) {
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
            const bool empty = c <= 10 || c >= 620;
            EXPECT_EQ(T[r][c] == 0xE000, empty) << r << " " << c;
        }
    }
    EXPECT_EQ(T[700][11], uint16_t(-12));
    EXPECT_EQ(T[100][619], 1001);
}

TEST(StepViewer, StaysInsideTheArray) {
    TCalibrationState s;
    s.Calibr_Data[639][499] = 1234;
    s.Calibr_Data[3][499] = 77;
    EXPECT_TRUE(StepViewPoints(s, -1).empty());
    EXPECT_TRUE(StepViewPoints(s, 500).empty());
    const auto view = StepViewPoints(s, 499);
    ASSERT_EQ(view.size(), 640u);
    EXPECT_EQ(view[639], (TCalibrPoint{639, 1234}));
    EXPECT_EQ(view[0], (TCalibrPoint{0, 0}));

    std::vector<TCalibrPoint> redrawn;
    EXPECT_FALSE(ResetPoint(s, 640, 499, redrawn));
    EXPECT_FALSE(ResetPoint(s, 639, 500, redrawn));
    EXPECT_FALSE(ResetPoint(s, -1, 0, redrawn));
    EXPECT_TRUE(redrawn.empty());
    EXPECT_EQ(s.Calibr_Data[639][499], 1234);
    ASSERT_TRUE(ResetPoint(s, 639, 499, redrawn));
    EXPECT_EQ(s.Calibr_Data[639][499], 0);
    ASSERT_EQ(redrawn.size(), 640u);
    EXPECT_EQ(redrawn[639].value, 0);
    EXPECT_EQ(redrawn[3].value, 77);
}

// The production passes against the plain cell-by-cell reference, bit for bit, on
// realistic runs and on hostile data (values up to 65535, dense noise, every limit).

#include "ReferenceTables.h"
#include "support/CalibrationDataSet.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace zq455;

namespace {

struct TCase {
    const char* what;
    uint32_t seed;
    int kind; // 0 realistic run, 1 random values, 2 sparse random with large values
    TTableParams params;
};

void PrintTo(const TCase& c, std::ostream* os) {
    *os << c.what;
}

TTableParams Params(uint16_t xl, uint16_t xr, uint16_t zl, uint16_t zr, uint16_t rz, uint16_t xe) {
    TTableParams p;
    p.xl = xl;
    p.xr = xr;
    p.zl = zl;
    p.zr = zr;
    p.rz = rz;
    p.xe = xe;
    return p;
}

void Generate(TCalibrationState& s, const TCase& c) {
    if (c.kind == 0) {
        testdata::SynthesiseRun(s, c.seed);
        return;
    }
    uint32_t x = c.seed;
    auto next = [&x] { return (x = x * 1103515245u + 12345u) >> 7; };
    for (unsigned col = 0; col < CALIBR_COLUMNS; ++col)
        for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
            uint16_t v = 0;
            if (c.kind == 1)
                v = next() % 3 == 0 ? 0 : uint16_t(2000 + next() % 300);
            else if (next() % 4 != 0)
                v = uint16_t(next() % 8 == 0 ? next() : 5000 + next() % 200);
            s.Calibr_Data[col][k] = v;
        }
}

template <typename T> bool SameArray(const T& a, const T& b, size_t bytes) {
    return std::memcmp(&a[0][0], &b[0][0], bytes) == 0;
}

} // namespace

class AgainstReference : public ::testing::TestWithParam<TCase> {};

TEST_P(AgainstReference, CalculateIsBitForBitTheSame) {
    const TCase& c = GetParam();
    auto fast = std::make_unique<TCalibrationState>();
    auto plain = std::make_unique<TCalibrationState>();
    Generate(*fast, c);
    Generate(*plain, c);
    ASSERT_TRUE(Calculate(*fast, c.params, TTableMethod::Classic).Ok());
    reference::ExtractCentres(*plain, c.params.xl, c.params.xr);
    reference::BuildZTable(*plain, c.params.rz);
    reference::BuildXTable(*plain, c.params.zl, c.params.zr, c.params.xe);

    EXPECT_TRUE(SameArray(fast->Calibr_Data, plain->Calibr_Data, CALIBR_DATA_BYTES)) << c.what;
    EXPECT_TRUE(SameArray(fast->Calibr_Centres, plain->Calibr_Centres, CALIBR_DATA_BYTES)) << c.what;
    const size_t table_bytes = 2 * size_t{CALIBR_COLUMNS} * CALIBR_ZSLOTS;
    for (unsigned col = 0; col < CALIBR_COLUMNS; ++col) {
        ASSERT_EQ(
            std::memcmp(fast->Calibr_Table_Z[col], plain->Calibr_Table_Z[col], table_bytes / CALIBR_COLUMNS),
            0)
            << c.what << ": Z column " << col;
        ASSERT_EQ(
            std::memcmp(fast->Calibr_Table_X[col], plain->Calibr_Table_X[col], table_bytes / CALIBR_COLUMNS),
            0)
            << c.what << ": X column " << col;
    }
    EXPECT_EQ(fast->Calibr_Step_Um, 500.0f); // the X pass runs last

    // The passes run on their own read the centres back from Calibr_Centres.
    BuildZTable(*fast, c.params.rz);
    EXPECT_TRUE(SameArray(fast->Calibr_Table_Z, plain->Calibr_Table_Z, table_bytes)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, AgainstReference,
    ::testing::Values(TCase{"realistic, page defaults", 1, 0, Params(0, 0, 310, 340, 50, 60)},
                      TCase{"realistic, narrow band", 7, 0, Params(40, 60, 200, 450, 120, 180)},
                      TCase{"realistic, tiny XE wraps X", 3, 0, Params(0, 0, 0, 639, 10, 1)},
                      TCase{"realistic, RZ 1 (zero pitch)", 4, 0, Params(5, 0, 639, 0, 1, 65535)},
                      TCase{"dense random", 11, 1, Params(0, 0, 310, 340, 50, 60)},
                      TCase{"dense random, limits", 12, 1, Params(300, 300, 320, 320, 3, 7)},
                      TCase{"large values", 13, 2, Params(0, 0, 310, 340, 50, 60)},
                      TCase{"large values, odd ranges", 14, 2, Params(17, 33, 100, 500, 65535, 13)}),
    [](const auto& info) { return zq455::test::CamelName(info.param.what); });

#include "calibration/OfflineCompute.h"

#include "calibration/DataFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zq455;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t index) {
    return uint16_t(b[2 * index] | (b[2 * index + 1] << 8));
}

} // namespace

TEST(OfflineCompute, WritesTheTransmitTableAndBothTablesFromADataFile) {
    const test::TTempFolder folder("compute");
    const fs::path dir = folder.Dir();
    {
        // Step 1: reference 2000 outside 150..489, centres (202, 2000) and (212, 2010).
        TCalibrationState run;
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
            if (c < 150 || c >= 490)
                run.Calibr_Data[c][1] = 2000;
        for (unsigned c = 200; c < 203; ++c)
            run.Calibr_Data[c][1] = 2000;
        for (unsigned c = 210; c < 213; ++c)
            run.Calibr_Data[c][1] = 2010;
        ASSERT_TRUE(SaveDataFile(run, (dir / "run.dtf").string()).Ok());
    }
    TOfflineCompute request;
    request.dtf_path = (dir / "run.dtf").string();
    request.rz = "50";
    request.xe = "100";
    request.edits = {"150", "150", "202", "0"};
    request.out_path = (dir / "table.bin").string();
    request.tables_path = (dir / "zx.bin").string();
    request.method = TTableMethod::Classic;
    TCalibrationState state;
    const TCalibrResult r = ComputeOffline(request, state);
    ASSERT_TRUE(r.Ok()) << r.message;

    const auto table = Bytes(request.out_path);
    ASSERT_EQ(table.size(), 1024u * 640 * 2);
    EXPECT_EQ(Le16(table, 200 * 640 + 202), 9);          // Z row 200 = slot 2000
    EXPECT_EQ(Le16(table, 201 * 640 + 212), 9);          // slot 2010
    EXPECT_EQ(Le16(table, (512 + 201) * 640 + 212), 20); // X 500 um in 100 mm / 4096
    EXPECT_EQ(Le16(table, 200 * 640 + 150), 0xE000);     // c <= XL
    EXPECT_EQ(Le16(table, 200 * 640 + 203), 0xE000);     // no value there

    const auto zx = Bytes(request.tables_path);
    const size_t cells = 640 * 5120;
    ASSERT_EQ(zx.size(), 2 * cells * 2);
    EXPECT_EQ(Le16(zx, 202 * 5120 + 2000), 9);
    EXPECT_EQ(Le16(zx, 207 * 5120 + 2005), 9);
    EXPECT_EQ(Le16(zx, cells + 212 * 5120 + 2010), 20);
    EXPECT_EQ(Le16(zx, cells + 207 * 5120 + 2005), 10); // 250 um = 10.24
    EXPECT_EQ(Le16(zx, cells + 207 * 5120 + 2004), 0xE000);
}

TEST(OfflineCompute, RefusesBeforeWritingAnything) {
    const test::TTempFolder folder("compute");
    const fs::path dir = folder.Dir();
    TCalibrationState state;
    ASSERT_TRUE(SaveDataFile(state, (dir / "run.dtf").string()).Ok());
    std::ofstream(dir / "short.dtf") << "abc";
    struct Case {
        std::string dtf, rz, xe, xl;
        const char* says;
    };
    const Case cases[] = {
        {"run.dtf", "0", "100", "0", "Measuring range Z"},
        {"run.dtf", "50", "0", "0", "Measuring range Xemr"},
        {"run.dtf", "fifty", "100", "0", "--rz"},
        {"run.dtf", "50", "100", "x", "X Left"},
        {"missing.dtf", "50", "100", "0", "missing.dtf"},
        {"short.dtf", "50", "100", "0", "3 of 640000"},
    };
    for (const Case& c : cases) {
        TOfflineCompute request;
        request.dtf_path = (dir / c.dtf).string();
        request.rz = c.rz;
        request.xe = c.xe;
        request.edits.x_left = c.xl;
        request.out_path = (dir / "table.bin").string();
        const TCalibrResult r = ComputeOffline(request, state);
        EXPECT_FALSE(r.Ok()) << c.says;
        EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
        EXPECT_FALSE(fs::exists(request.out_path)) << c.says;
    }
}

#include "calibration/DataFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zq455;
namespace fs = std::filesystem;

namespace {

class DataFile : public ::testing::Test {
protected:
    static std::vector<uint8_t> Bytes(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static void Fill(TCalibrationState& s, uint16_t value) {
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
            for (unsigned k = 0; k < CALIBR_STEPS; ++k)
                s.Calibr_Data[c][k] = value;
    }
    static bool Same(const TCalibrationState& a, const TCalibrationState& b) {
        return std::memcmp(&a.Calibr_Data[0][0], &b.Calibr_Data[0][0], CALIBR_DATA_BYTES) == 0;
    }

    const test::TTempFolder folder{"dtf"};
    const fs::path dir = folder.Dir();
};

} // namespace

TEST_F(DataFile, SaveThenLoadIsBitForBitAndColumnMajorLittleEndian) {
    TCalibrationState saved;
    uint32_t x = 12345;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            saved.Calibr_Data[c][k] = uint16_t((x = x * 1103515245u + 12345u) >> 16);
    saved.Calibr_Data[2][3] = 0x1234;
    saved.Calibr_Data[639][499] = 0xBEEF;
    const fs::path file = dir / "run.dtf";
    ASSERT_TRUE(SaveDataFile(saved, file.string()).Ok());

    const auto bytes = Bytes(file);
    ASSERT_EQ(bytes.size(), 640000u);
    EXPECT_EQ(bytes[1000 * 2 + 2 * 3], 0x34);
    EXPECT_EQ(bytes[1000 * 2 + 2 * 3 + 1], 0x12);
    EXPECT_EQ(bytes[639998], 0xEF);
    EXPECT_EQ(bytes[639999], 0xBE);

    TCalibrationState loaded;
    Fill(loaded, 7);
    size_t n = 0;
    const TCalibrResult r = LoadDataFile(loaded, file.string(), n);
    EXPECT_TRUE(r.Ok()) << r.message;
    EXPECT_EQ(n, 640000u);
    EXPECT_TRUE(Same(saved, loaded));

    // Saving over an existing, longer file replaces it.
    Write(file, std::vector<uint8_t>(700000, 0xAA));
    ASSERT_TRUE(SaveDataFile(saved, file.string()).Ok());
    EXPECT_EQ(fs::file_size(file), 640000u);
}

TEST_F(DataFile, ShortFileReplacesOnlyItsPartAndSaysHowMuch) {
    TCalibrationState s;
    Fill(s, 7);
    std::vector<uint8_t> column0(1000);
    for (size_t i = 0; i < 500; ++i) {
        column0[2 * i] = uint8_t(i);
        column0[2 * i + 1] = 0x10;
    }
    const fs::path file = dir / "short.dtf";
    Write(file, column0);
    size_t n = 0;
    TCalibrResult r = LoadDataFile(s, file.string(), n);
    EXPECT_EQ(r.status, TCalibrStatus::PartialLoad);
    EXPECT_EQ(n, 1000u);
    EXPECT_NE(r.message.find("1000 of 640000"), std::string::npos) << r.message;
    EXPECT_EQ(s.Calibr_Data[0][0], 0x1000);
    EXPECT_EQ(s.Calibr_Data[0][499], 0x1000 + (499 & 0xFF));
    EXPECT_EQ(s.Calibr_Data[1][0], 7);
    EXPECT_EQ(s.Calibr_Data[639][499], 7);

    // One byte more replaces only the low byte of column 1, step 0.
    Fill(s, 0x0707);
    column0.push_back(0x55);
    Write(file, column0);
    r = LoadDataFile(s, file.string(), n);
    EXPECT_EQ(n, 1001u);
    EXPECT_EQ(s.Calibr_Data[1][0], 0x0755);
    EXPECT_EQ(s.Calibr_Data[1][1], 0x0707);

    // Bytes beyond 640 000 are not read.
    Write(file, std::vector<uint8_t>(640002, 0x01));
    r = LoadDataFile(s, file.string(), n);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(n, 640000u);
}

TEST_F(DataFile, FailuresNameTheFileAndLeaveTheDataAsItWas) {
    TCalibrationState s;
    Fill(s, 9);
    TCalibrationState before;
    Fill(before, 9);
    size_t n = 99;

    const std::string missing = (dir / "missing.dtf").string();
    TCalibrResult r = LoadDataFile(s, missing, n);
    EXPECT_EQ(r.status, TCalibrStatus::FileError);
    EXPECT_NE(r.message.find(missing), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("No such file"), std::string::npos) << r.message;
    EXPECT_EQ(n, 0u);

    // A directory opens but cannot be read.
    r = LoadDataFile(s, dir.string(), n);
    EXPECT_EQ(r.status, TCalibrStatus::FileError);
    EXPECT_NE(r.message.find("Cannot read"), std::string::npos) << r.message;
    EXPECT_TRUE(Same(s, before));

    const std::string nowhere = (dir / "no_such_dir" / "x.dtf").string();
    r = SaveDataFile(s, nowhere);
    EXPECT_EQ(r.status, TCalibrStatus::FileError);
    EXPECT_NE(r.message.find("Cannot create"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(nowhere), std::string::npos) << r.message;
}

TEST_F(DataFile, FullDiskIsAFailedSave) {
    // Only the kernel's device: a plain file of that name would simply be overwritten.
    if (!fs::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full device on this machine";
    TCalibrationState s;
    const TCalibrResult r = SaveDataFile(s, "/dev/full");
    EXPECT_EQ(r.status, TCalibrStatus::FileError);
    EXPECT_NE(r.message.find("Cannot write"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("of 640000 bytes"), std::string::npos) << r.message;
}

TEST_F(DataFile, DataDirectoryIsCreatedOneLevelDeep) {
    EXPECT_EQ(CalibrDataDirectory(dir.string()), (dir / "DataFiles").string());
    EXPECT_TRUE(fs::is_directory(dir / "DataFiles"));
    EXPECT_EQ(CalibrDataDirectory(dir.string()), (dir / "DataFiles").string()); // already there
    // Only one level: a missing start directory is not created.
    CalibrDataDirectory((dir / "a" / "b").string());
    EXPECT_FALSE(fs::exists(dir / "a"));
}

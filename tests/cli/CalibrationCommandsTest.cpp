// zq455 compute and zq455 calibrate: the options reach the computation, the files come out
// in their layouts, and a headless run against the virtual sensor and stage saves a .dtf.

#include "calibration/DataFile.h"
#include "calibration/TableComputation.h"
#include "calibration/TransmitTable.h"
#include "cli/Cli.h"
#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"
#include "support/CalibrationDataSet.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

using namespace zq455;
using namespace zq455::cli;

namespace {

std::vector<uint16_t> ReadLe16(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint16_t> values;
    for (uint8_t b[2]; f.read(reinterpret_cast<char*>(b), 2);)
        values.push_back(static_cast<uint16_t>(b[0] | b[1] << 8));
    return values;
}

class CalibrationCommands : public ::testing::Test {
protected:
    void SetUp() override {
        dir = folder.Path();
        dtf = dir + "cli_run.dtf";
        testdata::SynthesiseRun(raw);
        ASSERT_TRUE(SaveDataFile(raw, dtf).Ok());
    }
    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return RunCli(args, environment);
    }
    // The transmit table "Calculate" and "Transmitt table" give for these inputs.
    std::vector<uint16_t> Expected(const TTableParams& params) {
        TCalibrationState s;
        size_t loaded = 0;
        EXPECT_TRUE(LoadDataFile(s, dtf, loaded).Ok());
        EXPECT_TRUE(Calculate(s, params).Ok());
        AssembleTransmitTable(s, params.xl, params.xr);
        return std::vector<uint16_t>(&s.Calibr_Table_Trans[0][0],
                                     &s.Calibr_Table_Trans[0][0] + CALIBR_TRANS_VALUES);
    }

    zq455::test::TTempFolder folder{"calibration-cli"};
    std::string dir, dtf;
    TCalibrationState raw;
    std::ostringstream out, err;
    TCliEnvironment environment{&out, &err, [](uint32_t) {}};
};

} // namespace

TEST_F(CalibrationCommands, ComputeWritesTheTransmitTableAndTheTwoTables) {
    const std::string table = dir + "cli_table.bin";
    const std::string zx = dir + "cli_zx.bin";
    ASSERT_EQ(Run({"compute", dtf, "--rz", "50", "--xe", "60", "--out", table, "--tables", zx}), 0)
        << err.str();
    TTableParams defaults;
    defaults.rz = 50;
    defaults.xe = 60;
    EXPECT_EQ(ReadLe16(table), Expected(defaults));
    // Z then X, each column-major as in memory.
    TCalibrationState s;
    size_t loaded = 0;
    ASSERT_TRUE(LoadDataFile(s, dtf, loaded).Ok());
    ASSERT_TRUE(Calculate(s, defaults).Ok());
    const std::vector<uint16_t> tables = ReadLe16(zx);
    ASSERT_EQ(tables.size(), size_t{2} * CALIBR_COLUMNS * CALIBR_ZSLOTS);
    EXPECT_EQ(int16_t(tables[size_t{300} * CALIBR_ZSLOTS + 2000]), s.Calibr_Table_Z[300][2000]);
    EXPECT_EQ(int16_t(tables[size_t{CALIBR_COLUMNS} * CALIBR_ZSLOTS + 400 * CALIBR_ZSLOTS + 3000]),
              s.Calibr_Table_X[400][3000]);

    // Every edit option reaches the computation.
    TTableParams edited = defaults;
    edited.xl = 12;
    edited.xr = 20;
    edited.zl = 300;
    edited.zr = 350;
    ASSERT_EQ(Run({"compute", dtf, "--rz", "50", "--xe", "60", "--xl", "12", "--xr", "20", "--zl", "300",
                   "--zr", "350", "--out", table}),
              0);
    const std::vector<uint16_t> t = ReadLe16(table);
    EXPECT_EQ(t, Expected(edited));
    const size_t row = 250 * CALIBR_COLUMNS;       // z-slot 2500, inside the run
    EXPECT_EQ(t[row + 12], uint16_t(EMPTY_CELL));  // column XL is outside
    EXPECT_EQ(t[row + 620], uint16_t(EMPTY_CELL)); // and so is 640 - XR
    EXPECT_NE(t[row + 320], uint16_t(EMPTY_CELL));
}

TEST_F(CalibrationCommands, ComputeRefusesBadInputsWithoutWritingATable) {
    const std::string table = dir + "cli_refused.bin";
    std::remove(table.c_str());
    EXPECT_EQ(Run({"compute", dtf, "--xe", "60", "--out", table}), EXIT_USAGE); // no --rz
    EXPECT_EQ(Run({"compute", dtf, "--rz", "0", "--xe", "60", "--out", table}), EXIT_USAGE);
    EXPECT_NE(err.str().find("Measuring range Z is 0"), std::string::npos) << err.str();
    EXPECT_EQ(Run({"compute", dtf, "--rz", "50", "--xe", "60", "--zl", "640", "--out", table}), EXIT_USAGE);
    EXPECT_NE(err.str().find("Zero Left"), std::string::npos) << err.str();
    EXPECT_EQ(Run({"compute", dir + "none.dtf", "--rz", "50", "--xe", "60", "--out", table}), EXIT_NO_INPUT);
    EXPECT_EQ(Run({"compute", dtf, "--rz", "50", "--xe", "60", "--out", table, "--bogus", "1"}), EXIT_USAGE);
    EXPECT_FALSE(std::ifstream(table).good());
}

TEST_F(CalibrationCommands, CalibrateRunsTheCaptureHeadlessAndSavesTheData) {
    TStageSettings settings;
    settings.fast = true;
    TStageSimulator stage(settings);
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator sensor(timing);
    sensor.SetStagePositionSource([&] { return stage.PositionUm(); });
    std::vector<uint32_t> pauses;
    environment.sleep = [&](uint32_t ms) { pauses.push_back(ms); };
    const std::string saved = dir + "cli_calibrated.dtf";
    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "calibrate", "--begin", "22000", "--dtf", saved,
                   "--motor-port", stage.SlavePath()}),
              0)
        << err.str();
    EXPECT_EQ(pauses, std::vector<uint32_t>{2000}); // the settling pause, through the seam
    EXPECT_NE(out.str().find("step 500 of 500"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("pitch 112.5 um"), std::string::npos) << out.str();
    TCalibrationState s;
    size_t loaded = 0;
    ASSERT_TRUE(LoadDataFile(s, saved, loaded).Ok());
    EXPECT_NE(s.Calibr_Data[320][0], 0);
    EXPECT_NE(s.Calibr_Data[320][450], 0);
    EXPECT_EQ(stage.Requests().size(), 500u);
    EXPECT_EQ(stage.PositionSteps(), 1760 + 499 * 9);

    // A sensor that stops answering stops the run; no file is written.
    const std::string failed = dir + "cli_failed.dtf";
    std::remove(failed.c_str());
    sensor.InjectFault(TSensorFault::WRONG_CHECKSUM, TFaultMode::EVERY_REPLY);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "calibrate", "--begin", "10", "--dtf", failed,
                   "--motor-port", stage.SlavePath()}),
              8);
    EXPECT_FALSE(std::ifstream(failed).good());
    EXPECT_EQ(Run({"calibrate", "--begin", "5", "--dtf", failed}), EXIT_USAGE);
    EXPECT_EQ(Run({"calibrate", "--dtf", failed}), EXIT_USAGE);
}

TEST_F(CalibrationCommands, VerifyPrintsTheFiguresAndExitsOnTheVerdict) {
    TStageSettings settings;
    settings.fast = true;
    TStageSimulator stage(settings);
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator sensor(timing);
    sensor.SetStagePositionSource([&] { return stage.PositionUm(); });
    const std::string report = dir + "cli_verify_" + std::to_string(getpid()) + ".json";
    const std::string csv = dir + "cli_verify_" + std::to_string(getpid()) + ".csv";
    const std::vector<std::string> command = {
        "--port", sensor.SlavePath(), "verify",         "--profiles", "3", "--report",
        report,   "--motor-port",     stage.SlavePath()};

    // The factory table: every figure within its tolerance.
    ASSERT_EQ(Run(command), 0) << err.str();
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 10u) << out.str();
    const char* heads[] = {
        "Z linearity: ",   "Z scale error: ", "Z repeatability: ", "Flatness: ",      "X pitch error: ",
        "X scale error: ", "Z offset: ",      "Z field error: ",   "X field error: ", "Result: pass"};
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(lines[i].rfind(heads[i], 0), 0u) << lines[i];
    EXPECT_NE(lines[0].find(" um ("), std::string::npos);
    std::ifstream summary(report);
    EXPECT_TRUE(summary.good());
    std::ifstream rows(csv);
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(rows), std::istreambuf_iterator<char>(), '\n'), 22);

    // A table whose Z is 2 % too large: exit 1, naming the figure.
    std::vector<uint16_t> table = sensor.FactoryTable().Cells();
    for (size_t i = 0; i < table.size() / 2; ++i) {
        const int v = table[i] & 0x2000 ? int(table[i]) - 0x4000 : int(table[i]);
        table[i] = static_cast<uint16_t>(std::lround(v * 1.02)) & 0x3FFF;
    }
    const std::string table_file = dir + "cli_verify_table_" + std::to_string(getpid()) + ".bin";
    {
        std::ofstream f(table_file, std::ios::binary);
        for (uint16_t v : table) {
            const char bytes[2] = {char(v & 0xFF), char(v >> 8)};
            f.write(bytes, 2);
        }
    }
    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "table", "send", table_file}), 0) << err.str();
    EXPECT_EQ(Run(command), 1);
    EXPECT_NE(out.str().find("Z scale error: 2."), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Result: fail (Z scale error, Z field error at X "), std::string::npos)
        << out.str();
    // Looser tolerances let the same table pass: 2 % of 50 mm is 1 mm at the far end.
    std::vector<std::string> loose = command;
    loose.insert(loose.end(), {"--max-scale", "2.5", "--max-field-error", "2.5"});
    EXPECT_EQ(Run(loose), 0) << out.str();

    // Usage errors, and devices that are not there.
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "verify", "--positions", "1"}), EXIT_USAGE);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "verify", "--max-scale", "1,5"}), EXIT_USAGE);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "verify", "--profiles"}), EXIT_USAGE);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "verify", "--motor-port", dir + "no-such-tty"}), 2);
    EXPECT_EQ(err.str().rfind("Motor driver: Port not openned.", 0), 0u) << err.str();
    sensor.InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
    EXPECT_EQ(Run(command), 3);
    std::remove(report.c_str());
    std::remove(csv.c_str());
    std::remove(table_file.c_str());
}

// The whole calibration in one command, then the archive it left: a pass is stored with a
// certificate that reads back as text; a check that fails stores nothing; a restore sends an
// entry again as a new one.
TEST_F(CalibrationCommands, CalibrateSendCheckSaveStoresOnlyAPassAndArchivesEverySend) {
    TStageSettings settings;
    settings.fast = true;
    TStageSimulator stage(settings);
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator sensor(timing);
    sensor.SetStagePositionSource([&] { return stage.PositionUm(); });
    const std::string data = dir + "data";
    const std::vector<std::string> base = {"--port",
                                           sensor.SlavePath(),
                                           "--data",
                                           data,
                                           "calibrate",
                                           "--begin",
                                           "22000",
                                           "--dtf",
                                           dtf,
                                           "--send",
                                           "--check",
                                           "--save",
                                           "--profiles",
                                           "2",
                                           "--settle",
                                           "0",
                                           "--motor-port",
                                           stage.SlavePath()};
    ASSERT_EQ(Run(base), 0) << err.str();
    for (const char* line : {"run\n", "send: 160 blocks in ", "Result: pass\n",
                             ", sent whole, stored in FLASH at ", "certificate: "})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    EXPECT_EQ(sensor.Counters().table_saves, 1u);
    const std::string certificate = out.str().substr(out.str().find("certificate: ") + 13);
    const std::string pdf = certificate.substr(0, certificate.find('\n'));
    const std::string text_file = dir + "certificate.txt";
    ASSERT_EQ(std::system(("pdftotext -layout '" + pdf + "' '" + text_file + "'").c_str()), 0);
    std::ifstream text_in(text_file);
    const std::string text((std::istreambuf_iterator<char>(text_in)), std::istreambuf_iterator<char>());
    for (const char* words :
         {"Calibration certificate", "serial number 12345", "Computation:", "fitted", "K = 21 positions",
          "N = 2 profiles", "x_left 0", "Z field error", "max 0.10 %", "Result: pass", "stored in FLASH at"})
        EXPECT_NE(text.find(words), std::string::npos) << words << "\n" << text;

    // Too tight a field tolerance: exit 1, the entry says fail, nothing more is stored.
    std::vector<std::string> strict = base;
    strict.insert(strict.end(), {"--max-field-error", "0.001"});
    EXPECT_EQ(Run(strict), 1) << err.str();
    EXPECT_NE(err.str().find("not stored"), std::string::npos) << err.str();
    EXPECT_EQ(sensor.Counters().table_saves, 1u);

    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "--data", data, "archive", "list"}), 0) << err.str();
    std::istringstream listing(out.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(listing, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << out.str();
    EXPECT_NE(lines[1].find("  pass  "), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("stored 20"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("  fail  "), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("not stored"), std::string::npos) << lines[2];

    const std::string first = lines[1].substr(0, lines[1].find(' '));
    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "--data", data, "archive", "restore", first}), 0)
        << err.str();
    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "--data", data, "archive", "list"}), 0);
    EXPECT_NE(out.str().find(": 3 entries"), std::string::npos) << out.str();
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "--data", data, "archive", "show", "nope"}), EXIT_NO_INPUT);
    EXPECT_EQ(Run({"calibrate", "--begin", "22000", "--dtf", dtf, "--save"}), EXIT_USAGE); // no check
}

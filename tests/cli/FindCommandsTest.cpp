// zq455 list and --serial on a fake sysfs tree, and zq455 scan against a virtual sensor whose
// bit rate and address were changed.

#include "cli/Cli.h"
#include "sim/SensorSimulator.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zq455;
using namespace zq455::cli;
namespace fs = std::filesystem;

namespace {

class FindCommands : public test::FakeSysfs {
protected:
    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return RunCli(args, environment);
    }
    std::ostringstream out, err;
    TCliEnvironment environment{&out, &err, [](uint32_t) {}};
};

TEST_F(FindCommands, ListNamesEachAdapterAndSerialOpensTheOneWithThatNumber) {
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator sensor(timing);
    fs::create_symlink(sensor.SlavePath(), root / "dev/ttyUSB0");
    TUsbDeviceDirectory::SetSysfsRoot(root.string(), (root / "dev").string());
    const std::string dev = (root / "dev").string();

    ASSERT_EQ(Run({"list"}), 0) << err.str();
    EXPECT_NE(out.str().find("sensor  " + dev + "/ttyUSB0  FTttyUSB0  D2XX Recovery PID for XP\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("motor  " + dev + "/ttyUSB1  FTttyUSB1  VELMOR MOTOR DRIVER INTERFACE\n"),
              std::string::npos);
    EXPECT_EQ(out.str().find("ttyS0"), std::string::npos); // not a USB device

    ASSERT_EQ(Run({"--serial", "FTttyUSB0", "identify"}), 0) << err.str();
    EXPECT_NE(out.str().find("12345"), std::string::npos) << out.str();
    EXPECT_EQ(Run({"--serial", "FT999", "identify"}), EXIT_NO_INPUT);
    EXPECT_NE(err.str().find("FT999"), std::string::npos);
    EXPECT_EQ(Run({"--serial", "FTttyUSB0", "--port", dev + "/ttyUSB0", "identify"}), EXIT_USAGE);

    // Nothing found is no error.
    TUsbDeviceDirectory::SetSysfsRoot((root / "none").string(), dev);
    EXPECT_EQ(Run({"list"}), 0);
}

TEST_F(FindCommands, ScanFindsTheSensorAtItsRateAndAddressAndNowhereElse) {
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator sensor(timing);
    TSensorStore store = sensor.Store();
    store.working.factory[USER_FIRST_FACTORY + USER_NETWORK_ADDRESS] = 5;
    store.working.factory[USER_FIRST_FACTORY + USER_UART_BAUDRATE] = 0x42; // 19200
    sensor.SetStore(store);

    ASSERT_EQ(Run({"--port", sensor.SlavePath(), "scan", "--all"}), 0) << err.str();
    std::istringstream lines(out.str());
    std::vector<std::string> found;
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("found: "))
            found.push_back(line);
    ASSERT_EQ(found.size(), 1u) << out.str();
    EXPECT_EQ(found[0],
              "found: 19200 bit/s, address 5: device type 455, modification 1, serial number 12345");
    // Fast rates first: 921600, then down; 19200 is the sixth rate tried.
    EXPECT_LT(out.str().find("trying 921600"), out.str().find("trying 460800"));
    EXPECT_LT(out.str().find("trying 38400"), out.str().find("trying 19200"));

    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "scan", "--rates", "921600,9600"}), 1);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "scan", "--rates", "19200", "--addresses", "5"}), 0);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "scan", "--rates", "19201"}), EXIT_USAGE);
    EXPECT_EQ(Run({"--port", sensor.SlavePath(), "scan", "--addresses", "9-3"}), EXIT_USAGE);
}

} // namespace

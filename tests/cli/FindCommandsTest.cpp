// zq455 list and --serial on a fake sysfs tree, and zq455 scan against a virtual sensor whose
// bit rate and address were changed.

#include "cli/Cli.h"
#include "sim/SensorSimulator.h"
#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

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
    TSensorSimulator sensor(timing), second(timing);
    auto identity = TSensorSimulator::DEFAULT_IDENTITY;
    identity[IDENTITY_SERIAL_LO] = 777;
    second.SetIdentity(identity);
    AddUsbTty("ttyUSB2", "1-3", "D2XX Recovery PID for XP");
    Plug("ttyUSB0", sensor.SlavePath());
    Plug("ttyUSB2", second.SlavePath());
    Use();
    const std::string dev = (root / "dev").string();

    ASSERT_EQ(Run({"list"}), 0) << err.str();
    EXPECT_NE(out.str().find("sensor  " + dev + "/ttyUSB0  FTttyUSB0  D2XX Recovery PID for XP\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("motor  " + dev + "/ttyUSB1  FTttyUSB1  VELMOR MOTOR DRIVER INTERFACE\n"),
              std::string::npos);
    EXPECT_EQ(out.str().find("ttyS0"), std::string::npos); // not a USB device

    for (const auto& [serial, number] : {std::pair{"FTttyUSB0", "12345"}, {"FTttyUSB2", "777"}}) {
        ASSERT_EQ(Run({"--serial", serial, "identify"}), 0) << err.str();
        EXPECT_NE(out.str().find(number), std::string::npos) << out.str();
    }
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

namespace {

// Three virtual sensors, each at its own serial, address and rate; one replugged comes back
// under a new path with the same identity.
TEST(CliSimulateSensors, EachSensorHasItsOwnIdentityAndAReplugBringsItBackElsewhere) {
    std::ostringstream out, err;
    std::mutex lock;
    std::string printed;
    std::vector<std::string> typed;
    std::atomic<bool> stop{false};
    TCliEnvironment environment{&out, &err, [](uint32_t) {}};
    environment.stop_requested = [&] {
        std::lock_guard<std::mutex> guard(lock);
        printed = out.str();
        return stop.load();
    };
    environment.next_line = [&](std::string& line) {
        std::lock_guard<std::mutex> guard(lock);
        if (typed.empty())
            return false;
        line = typed.front();
        typed.erase(typed.begin());
        return true;
    };
    int status = -1;
    std::thread serve([&] { status = RunCli({"simulate", "--unpaced", "--sensors", "3"}, environment); });
    // The path of sensor `k` as last printed, once `lines` lines are out.
    auto path_of = [&](const std::string& tail, size_t lines) {
        for (int i = 0; i < 300; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::lock_guard<std::mutex> guard(lock);
            if (size_t(std::count(printed.begin(), printed.end(), '\n')) < lines)
                continue;
            std::istringstream in(printed);
            std::string found;
            for (std::string line; std::getline(in, line);)
                if (line.starts_with("sensor ") && line.ends_with(tail))
                    found = line.substr(7, line.size() - 7 - tail.size());
            return found;
        }
        return std::string();
    };
    const std::string second = path_of(" (serial 12347, address 2, 230400 bit/s)", 4);
    const std::string first = path_of(" (serial 12346, address 1, 460800 bit/s)", 4);
    ASSERT_FALSE(second.empty()) << printed;
    std::ostringstream client_out, client_err;
    TCliEnvironment client{&client_out, &client_err, [](uint32_t) {}};
    ASSERT_EQ(RunCli({"--port", second, "scan"}, client), 0) << client_err.str();
    EXPECT_NE(client_out.str().find("found: 230400 bit/s, address 2: device type 455, modification 1, serial "
                                    "number 12347"),
              std::string::npos)
        << client_out.str();

    {
        std::lock_guard<std::mutex> guard(lock);
        typed.push_back("replug 1");
    }
    const std::string again = path_of(" (serial 12346, address 1, 460800 bit/s)", 5);
    EXPECT_NE(again, first);
    client_out.str("");
    EXPECT_EQ(RunCli({"--port", again, "--baud", "460800", "--address", "1", "identify"}, client), 0)
        << client_err.str();
    EXPECT_NE(client_out.str().find("12346"), std::string::npos) << client_out.str();
    EXPECT_NE(RunCli({"--port", first, "--baud", "460800", "--address", "1", "identify"}, client), 0);
    stop = true;
    serve.join();
    EXPECT_EQ(status, 0);
}

} // namespace

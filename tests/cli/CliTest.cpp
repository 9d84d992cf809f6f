// The command-line tool against the virtual sensor: output lines and exit status.

#include "cli/Cli.h"
#include "link/Interface.h"
#include "link/ResultCodes.h"
#include "sensor/Protocol.h"
#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"
#include "support/TempFolder.h"
#include "view/ProfileRecording.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

using namespace zq455;
using namespace zq455::cli;

namespace {

TSensorTiming Unpaced() {
    TSensorTiming timing;
    timing.paced = false;
    timing.rate_change_ms = 10;
    return timing;
}

class Cli : public ::testing::Test {
protected:
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {"--port", sim.SlavePath()});
        return RunCli(args, environment);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream text(out.str());
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }
    // A load has no reply; the next command's open empties the queues, so wait until the
    // sensor has taken the request.
    int RunLoad(std::vector<std::string> args) {
        const uint32_t before = sim.Counters().answered;
        const int status = Run(std::move(args));
        EXPECT_TRUE(sim.WaitAnswered(before + 1));
        return status;
    }
    std::string TempFile(const std::string& name, const std::string& contents) {
        const std::string path = folder + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    zq455::test::TTempFolder temp{"cli"};
    const std::string& folder = temp.Path();
    TSensorSimulator sim{Unpaced()};
    std::ostringstream out, err;
    TCliEnvironment environment{&out, &err,
                                [](uint32_t ms) { SleepMilliseconds(std::min<uint32_t>(ms, 20)); }};
};

} // namespace

TEST_F(Cli, IdentifyPrintsTheEightIdentityLines) {
    ASSERT_EQ(Run({"identify"}), 0) << err.str();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Device type: 455", "Device modification: 1",
                                                 "Device serial lo: 12345", "Device serial hi: 0",
                                                 "Base distance: 80", "Measuring range Z: 50",
                                                 "Measuring range Xsmr: 8", "Measuring range Xemr: 10"}));
    EXPECT_EQ(err.str(), "");
}

TEST_F(Cli, UserParametersReadLoadStoreAndRestore) {
    ASSERT_EQ(Run({"user", "read"}), 0);
    ASSERT_EQ(Lines().size(), 13u);
    EXPECT_EQ(Lines()[0], "Sensor On/Off = 1");
    EXPECT_EQ(Lines()[8], "ROI left width = 12800");
    ASSERT_EQ(RunLoad({"user", "load", "11", "1234"}), 0);
    EXPECT_EQ(out.str(), "");
    ASSERT_EQ(Run({"user", "read", "11"}), 0);
    EXPECT_EQ(out.str(), "Exposure = 1234\n");
    ASSERT_EQ(Run({"user", "write"}), 0);
    EXPECT_EQ(Lines()[11], "Exposure = 1234");
    EXPECT_EQ(sim.Store().flash.User(11), 1234);
    ASSERT_EQ(Run({"user", "restore"}), 0);
    EXPECT_EQ(Lines()[11], "Exposure = 500");
}

TEST_F(Cli, FactoryBlockFromArgumentsOrFile) {
    ASSERT_EQ(Run({"factory", "read"}), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 48u);
    EXPECT_EQ(lines[0], "SEQUENCER = 1");
    EXPECT_EQ(lines[47], "LAS_POL = 0");

    std::vector<std::string> args = {"factory", "load"};
    std::string file;
    for (unsigned i = 0; i < 48; ++i) {
        args.push_back(std::to_string(i == 25 ? 456 : i));
        file += std::to_string(i == 25 ? 457 : i) + (i % 8 == 7 ? "\n" : " \t");
    }
    ASSERT_EQ(RunLoad(args), 0) << err.str();
    ASSERT_EQ(Run({"identify"}), 0);
    EXPECT_EQ(Lines()[0], "Device type: 456");
    ASSERT_EQ(RunLoad({"factory", "load", "--file", TempFile("factory.txt", file)}), 0) << err.str();
    ASSERT_EQ(Run({"identify"}), 0);
    EXPECT_EQ(Lines()[0], "Device type: 457");

    args.pop_back();
    EXPECT_EQ(Run(args), EXIT_USAGE);
    EXPECT_EQ(Run({"factory", "load", "--file", TempFile("short.txt", "1 2 3")}), EXIT_DATA);
    EXPECT_NE(err.str().find("3 values, 48 expected"), std::string::npos) << err.str();
    EXPECT_EQ(Run({"factory", "load", "--file", folder + "missing.txt"}), EXIT_NO_INPUT);
}

TEST_F(Cli, AngleAndCalibrationFrame) {
    ASSERT_EQ(Run({"angle", "read"}), 0);
    EXPECT_EQ(out.str(), "Angle = 0.000\u00B0\n");
    ASSERT_EQ(Run({"angle", "rotate"}), 0);
    EXPECT_EQ(out.str(), "Angle = 1.230\u00B0\n"); // 0.0215 rad = 1.2319 degrees
    ASSERT_EQ(Run({"angle", "write"}), 0);
    EXPECT_EQ(out.str(), "Angle = 1.230\u00B0\n");
    ASSERT_EQ(Run({"angle", "restore"}), 0);
    EXPECT_EQ(out.str(), "Angle = 0.000\u00B0\n");

    ASSERT_EQ(Run({"calibr-frame"}), 0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 641u);
    EXPECT_EQ(lines[0], "640");
    EXPECT_NE(lines[320], "0");
}

TEST_F(Cli, TableSendAndSave) {
    std::string bytes(1310720, '\0');
    bytes[2 * 4100] = 0x34; // value 4100 = 0x1234, little-endian
    bytes[2 * 4100 + 1] = 0x12;
    ASSERT_EQ(Run({"table", "send", TempFile("table.bin", bytes)}), 0) << err.str();
    EXPECT_EQ(sim.TableMemory()[4100], 0x1234);
    ASSERT_EQ(Run({"table", "save"}), 0) << err.str();
    EXPECT_EQ(sim.Counters().table_saves, 1u);
    EXPECT_EQ(Run({"table", "send", TempFile("odd.bin", "abc")}), EXIT_DATA);
}

TEST_F(Cli, ProfilePrintsThePointsInMillimetresAndWritesTheProfileFile) {
    TScene still;
    still.noise_mm = 0; // the two commands below read the same profile
    sim.SetScene(still);
    ASSERT_EQ(Run({"profile"}), 0) << err.str();
    const std::vector<std::string> lines = Lines();
    // 1024 pairs: pair 0 is not used, a few lie in the step's shadow.
    ASSERT_GT(lines.size(), 950u);
    ASSERT_LT(lines.size(), 1024u);
    unsigned last_pair = 0;
    double last_x = -1e9;
    std::map<unsigned, std::pair<std::string, std::string>> by_pair;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        unsigned pair = 0;
        std::string x, z;
        ASSERT_TRUE(fields >> pair >> x >> z) << line;
        ASSERT_GT(pair, last_pair);
        ASSERT_LE(pair, 1023u);
        last_pair = pair;
        by_pair[pair] = {x, z};
        // Millimetres from the identity's ranges (Z 50, Xemr 10): the step's top at about 28 mm,
        // the plane at about 20 mm. X grows by less than the printed hundredth between points.
        const double xv = std::stod(x), zv = std::stod(z);
        EXPECT_GE(xv, last_x);
        last_x = xv;
        EXPECT_GE(xv, -5.0);
        EXPECT_LE(xv, 5.0);
        if (xv > still.step_from_mm + 0.5 && xv < still.step_to_mm - 0.5) {
            EXPECT_NEAR(zv, 28.0, 0.5) << line;
        } else if (xv < still.step_from_mm - 0.3) {
            EXPECT_NEAR(zv, 20.0 + std::tan(still.tilt_rad) * xv, 0.02) << line; // the tilted plane
        }
    }

    const std::string file = folder + "cli-profile.txt";
    ASSERT_EQ(Run({"profile", "--txt", file}), 0) << err.str();
    EXPECT_EQ(out.str(), "");
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rows(text);
    std::string row;
    ASSERT_TRUE(std::getline(rows, row));
    EXPECT_EQ(row, "N         X                   Z\r");
    unsigned n = 0;
    for (; std::getline(rows, row); ++n) {
        ASSERT_TRUE(row.ends_with('\r'));
        auto point = by_pair.find(n + 1);
        const std::string x = point == by_pair.end() ? "0.00" : point->second.first;
        const std::string z = point == by_pair.end() ? "0.00" : point->second.second;
        std::string expected = std::to_string(n + 1);
        expected.resize(10, ' ');
        expected += x;
        expected.resize(30, ' ');
        ASSERT_EQ(row, expected + z + "\r");
    }
    EXPECT_EQ(n, 1024u); // the last row has no pair behind it and reads zeros
    EXPECT_TRUE(text.ends_with("\r\n"));
    std::remove(file.c_str());

    // Sensor off: no points, a file with the header alone.
    ASSERT_EQ(RunLoad({"user", "load", "0", "0"}), 0);
    ASSERT_EQ(Run({"profile"}), 0);
    EXPECT_EQ(out.str(), "");
    ASSERT_EQ(Run({"profile", "--txt", file}), 0);
    std::ifstream header(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>()),
              "N         X                   Z\r\n");
    std::remove(file.c_str());

    // A file that cannot be written names itself and the reason; a stray word is a usage error.
    const std::string nowhere = folder + "no-such-folder/p.txt";
    EXPECT_EQ(Run({"profile", "--txt", nowhere}), EXIT_CANT_CREATE);
    EXPECT_NE(err.str().find(nowhere), std::string::npos);
    EXPECT_NE(err.str().find("No such file or directory"), std::string::npos);
    EXPECT_EQ(Run({"profile", "--csv", file}), EXIT_USAGE);
    EXPECT_EQ(Run({"profile", "--txt"}), EXIT_USAGE);
}

TEST_F(Cli, ProfilesAreRecordedAndWrittenAsAPointCloud) {
    const std::string csv = folder + "run.csv", ply = folder + "part.ply";
    ASSERT_EQ(Run({"profile", "--count", "5", "--csv", csv, "--ply", ply, "--pitch", "0.25"}), 0)
        << err.str();
    EXPECT_EQ(out.str(), "5 profiles, " + csv + ", " + ply + "\n");
    TRecording recording;
    std::string message;
    ASSERT_TRUE(ReadProfileRecording(csv, recording, message)) << message;
    ASSERT_EQ(recording.profiles.size(), 5u);
    size_t points = 0;
    for (const TRecordedProfile& p : recording.profiles) {
        EXPECT_GT(p.points.size(), 950u); // the scene: all but pair 0 and the step's shadow
        points += p.points.size();
    }
    EXPECT_EQ(RecordingControls(recording).range_xemr, 10);
    std::ifstream cloud(ply);
    std::string text((std::istreambuf_iterator<char>(cloud)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("element vertex " + std::to_string(points) + "\n"), std::string::npos);
    EXPECT_NE(text.find(" 1.000 "), std::string::npos); // y of the fifth profile: 4 x 0.25
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"profile", "--count", "0", "--csv", csv},
                                               {"profile", "--count", "3"},
                                               {"profile", "--count", "3", "--ply", ply, "--pitch", "-1"},
                                               {"profile", "--csv", csv}})
        EXPECT_EQ(Run(bad), EXIT_USAGE) << testing::PrintToString(bad);
    EXPECT_EQ(Run({"profile", "--count", "2", "--csv", folder + "no/such.csv"}), EXIT_CANT_CREATE);
}

TEST_F(Cli, FrameIsSavedAsTheWindowsBitmap) {
    // Left 10 % width 11 %, top 30 % height 20 %: 70 x 102 pixels at (64, 153), lines padded to 72.
    ASSERT_EQ(RunLoad({"user", "load", "8", std::to_string(10 + 11 * 128)}), 0);
    ASSERT_EQ(RunLoad({"user", "load", "9", std::to_string(30 + 20 * 128)}), 0);
    const std::string path = folder + "cli_frame.bmp";
    std::remove(path.c_str());
    ASSERT_EQ(Run({"frame", "--bmp", path}), 0) << err.str();
    EXPECT_EQ(out.str(), "Frame 70 x 102 at left 64, top 153\n");
    std::ifstream file(path, std::ios::binary);
    const std::string bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t offset = 14 + 40 + 1024;
    ASSERT_EQ(bmp.size(), offset + 72 * 102);
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int k = 3; k >= 0; --k)
            v = v << 8 | static_cast<uint8_t>(bmp[at + static_cast<size_t>(k)]);
        return v;
    };
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(le32(10), offset);
    EXPECT_EQ(le32(18), 70u);
    EXPECT_EQ(le32(22), 102u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 8);
    EXPECT_EQ(le32(46), 256u);
    EXPECT_EQ(le32(54 + 4 * 200), 200u << 16); // entry 200 is red 200
    // The pixels are the sensor's frame, doubled, bottom line first.
    TZQ455Interface sensor;
    TSensorConnection record;
    record.mode = LINK_MODE_COM;
    record.name = sim.SlavePath();
    record.baud = 921600;
    ASSERT_EQ(sensor.Open(record), RESULT_OK);
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    ASSERT_EQ(width, 70);
    int brightest = 0;
    for (size_t r = 0; r < 102; ++r)
        for (size_t c = 0; c < 72; ++c) {
            const int stored = static_cast<uint8_t>(bmp[offset + (101 - r) * 72 + c]);
            ASSERT_EQ(stored, c < 70 ? 2 * pixels[r * 70 + c] : 0) << c << " " << r;
            brightest = std::max(brightest, stored);
        }
    EXPECT_GT(brightest, 150); // the laser line crosses the frame
    sensor.Close();            // the port is for one program at a time

    EXPECT_EQ(Run({"frame"}), EXIT_USAGE);
    EXPECT_EQ(Run({"frame", "--png", path}), EXIT_USAGE);
    EXPECT_EQ(Run({"frame", "--bmp", folder + "no such folder/f.bmp"}), 73);
    EXPECT_NE(err.str().find("no such folder/f.bmp"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("No such file or directory"), std::string::npos) << err.str();
}

TEST_F(Cli, UsageAndDeviceErrorsGiveTheirExitStatus) {
    const std::vector<std::vector<std::string>> usage = {
        {},
        {"bogus"},
        {"user"},
        {"user", "read", "13"},
        {"user", "load", "1"},
        {"user", "load", "1", "65536"},
        {"angle"},
        {"table", "send"},
        {"identify", "now"},
    };
    for (const auto& args : usage) {
        EXPECT_EQ(Run(args), EXIT_USAGE) << testing::PrintToString(args);
        EXPECT_EQ(err.str().rfind("usage: zq455", 0), 0u) << err.str();
    }
    out.str("");
    EXPECT_EQ(RunCli({"--baud", "1234", "identify"}, environment), EXIT_USAGE);
    EXPECT_EQ(RunCli({"--address", "32", "identify"}, environment), EXIT_USAGE);
    EXPECT_EQ(RunCli({"--help"}, environment), 0);
    for (const char* word :
         {"identify", "user read [INDEX]", "factory load V0 ... V47", "angle read", "calibr-frame",
          "table send FILE", "table save", "simulate", "--port PATH", "--usb DESCRIPTION",
          "motor [--motor-port PATH", "wait [SECONDS]", "frame --bmp FILE", "profile --txt FILE"})
        EXPECT_NE(out.str().find(word), std::string::npos) << word;

    // The version, a command's own help, and options that do not go together or lack a value.
    out.str("");
    EXPECT_EQ(RunCli({"--version"}, environment), 0);
    EXPECT_EQ(out.str(), std::string("zq455 ") + ZQ455_VERSION + "\n");
    out.str("");
    EXPECT_EQ(RunCli({"verify", "--help"}, environment), 0);
    EXPECT_EQ(out.str().rfind("usage: zq455 [options] verify [--positions K]", 0), 0u) << out.str();
    EXPECT_EQ(out.str().find("identify"), std::string::npos); // not the whole list
    out.str("");
    EXPECT_EQ(RunCli({"--port", "x", "table", "send", "--help"}, environment), 0);
    EXPECT_EQ(out.str().rfind("usage: zq455 [options] table send FILE", 0), 0u) << out.str();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--port", "a", "--usb", "b", "identify"},
                                               {"--port"},
                                               {"--bogus", "1", "identify"},
                                               {"--port", "a"}}) {
        err.str("");
        EXPECT_EQ(RunCli(args, environment), EXIT_USAGE) << testing::PrintToString(args);
        EXPECT_EQ(err.str().rfind("usage: zq455", 0), 0u) << err.str();
    }

    err.str("");
    EXPECT_EQ(RunCli({"--port", "/nonexistent/tty", "identify"}, environment),
              static_cast<int>(RESULT_PORT_NOT_OPENED));
    EXPECT_EQ(err.str(), "Port not openned.\n/nonexistent/tty does not exist.\n");
    sim.InjectFault(TSensorFault::WRONG_CHECKSUM);
    EXPECT_EQ(Run({"identify"}), static_cast<int>(RESULT_PACKET_ERROR));
    EXPECT_EQ(err.str(), "Packet error.\n");
    EXPECT_EQ(out.str(), "");
    sim.InjectFault(TSensorFault::WRONG_FLASH_CONFIRMATION);
    EXPECT_EQ(Run({"factory", "write"}), static_cast<int>(RESULT_FLASH_ERROR));
    EXPECT_EQ(err.str(), "FLASH error.\n");
}

// A port another program holds: 2 at once, and the reason on the line after the message.
TEST_F(Cli, APortInUseGivesCode2AndSaysSo) {
    TInterface holder;
    TLinkSettings settings;
    settings.name = sim.SlavePath();
    settings.baud = 921600;
    ASSERT_EQ(holder.Open(settings), RESULT_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({"identify"}), static_cast<int>(RESULT_PORT_NOT_OPENED));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(err.str(), "Port not openned.\n" + sim.SlavePath() + " is in use by another program.\n");
    EXPECT_EQ(out.str(), "");
    holder.Close();
    EXPECT_EQ(Run({"identify"}), 0) << err.str();
}

// The same between two runs of the tool: one waits out a table save on the port, the other
// asks for the identity.
TEST_F(Cli, ASecondToolOnAHeldPortExitsWith2AtOnce) {
    const std::string tool = ZQ455_TOOL_PATH;
    if (::access(tool.c_str(), X_OK) != 0)
        GTEST_SKIP() << tool << " has not been built";
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(tool.c_str(), tool.c_str(), "--port", sim.SlavePath().c_str(), "table", "save", nullptr);
        ::_exit(127);
    }
    // The holder has the port once its request has reached the sensor.
    const auto start = std::chrono::steady_clock::now();
    auto saw_save = [&] {
        const auto seen = sim.Commands();
        return std::find(seen.begin(), seen.end(), protocol::CMD_SAVE_TABLE) != seen.end();
    };
    while (!saw_save() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(saw_save());

    const auto asked = std::chrono::steady_clock::now();
    FILE* second = ::popen((tool + " --port " + sim.SlavePath() + " identify 2>&1").c_str(), "r");
    ASSERT_NE(second, nullptr);
    std::string output;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, second))
        output.append(buffer, n);
    const int status = ::pclose(second);
    const auto took = std::chrono::steady_clock::now() - asked;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(RESULT_PORT_NOT_OPENED));
    EXPECT_EQ(output, "Port not openned.\n" + sim.SlavePath() + " is in use by another program.\n");
    EXPECT_LT(took, std::chrono::seconds(1));
}

TEST(CliSimulate, ServesTheVirtualSensorAndStageUntilStopped) {
    std::ostringstream out, err;
    std::mutex lock;
    std::string printed;
    std::atomic<bool> stop{false};
    TCliEnvironment environment;
    environment.out = &out;
    environment.err = &err;
    // Asked on the serving thread, which writes `out`; a copy crosses over under the lock.
    environment.stop_requested = [&] {
        std::lock_guard<std::mutex> guard(lock);
        printed = out.str();
        return stop.load();
    };
    int status = -1;
    std::thread serve([&] { status = RunCli({"simulate", "--unpaced"}, environment); });
    std::string sensor_path, motor_path;
    for (int i = 0; i < 200 && motor_path.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard<std::mutex> guard(lock);
        std::istringstream lines(printed);
        std::string first, second;
        if (std::getline(lines, first) && std::getline(lines, second) && printed.back() == '\n' &&
            first.rfind("sensor /dev/", 0) == 0 && second.rfind("motor /dev/", 0) == 0) {
            sensor_path = first.substr(7);
            motor_path = second.substr(6);
        }
    }
    ASSERT_FALSE(motor_path.empty()) << printed;
    std::ostringstream client_out, client_err;
    TCliEnvironment client{&client_out, &client_err};
    EXPECT_EQ(RunCli({"--port", sensor_path, "identify"}, client), 0) << client_err.str();
    EXPECT_EQ(client_out.str().substr(0, 17), "Device type: 455\n");

    // The stage starts at its home end, moves, and reports busy bits clear when done.
    auto motor = [&](std::vector<std::string> args) {
        client_out.str("");
        client_err.str("");
        args.insert(args.begin(), {"motor", "--motor-port", motor_path});
        return RunCli(args, client);
    };
    EXPECT_EQ(motor({"status"}), 0) << client_err.str();
    EXPECT_EQ(client_out.str(), "Status: 0x10\n");
    EXPECT_EQ(motor({"forward", "3200"}), 0) << client_err.str();
    EXPECT_EQ(client_out.str(), "");
    EXPECT_EQ(motor({"wait"}), 0) << client_err.str();
    EXPECT_EQ(client_out.str().rfind("Status: 0x", 0), 0u);
    EXPECT_EQ(motor({"status"}), 0);
    EXPECT_EQ(client_out.str(), "Status: 0x00\n");
    EXPECT_EQ(motor({"init"}), 0);
    EXPECT_EQ(motor({"wait", "10"}), 0);
    EXPECT_EQ(motor({"status2"}), 0);
    EXPECT_EQ(client_out.str(), "Status: 0x10\n");
    stop = true;
    serve.join();
    EXPECT_EQ(status, 0);
}

TEST(CliMotor, UsageAndDeviceErrors) {
    std::ostringstream out, err;
    TCliEnvironment environment{&out, &err};
    for (const auto& args : std::vector<std::vector<std::string>>{{"motor"},
                                                                  {"motor", "forward"},
                                                                  {"motor", "forward", "-3"},
                                                                  {"motor", "backward", "1", "2"},
                                                                  {"motor", "status", "now"},
                                                                  {"motor", "--motor-bus", "x", "status"},
                                                                  {"motor", "wait", "forever"},
                                                                  {"motor", "spin"}}) {
        err.str("");
        EXPECT_EQ(RunCli(args, environment), EXIT_USAGE) << testing::PrintToString(args);
        EXPECT_EQ(err.str().rfind("usage: zq455", 0), 0u) << err.str();
    }
    err.str("");
    EXPECT_EQ(RunCli({"motor", "--motor-port", "/nonexistent/tty", "status"}, environment),
              static_cast<int>(RESULT_PORT_NOT_OPENED));
    EXPECT_EQ(err.str(), "Port not openned.\n/nonexistent/tty does not exist.\n");
    // Nothing registered and no such USB device: the default description is not found either.
    err.str("");
    EXPECT_EQ(RunCli({"motor", "--motor-usb", "NO SUCH DRIVER", "init"}, environment),
              static_cast<int>(RESULT_PORT_NOT_OPENED));

    // A drive that never clears its busy bits: `wait` gives up and says so.
    TStageSettings settings;
    settings.fast = true;
    TStageSimulator stage(settings);
    stage.SetFault(TStageFault::NEVER_IDLE);
    EXPECT_EQ(RunCli({"motor", "--motor-port", stage.SlavePath(), "forward", "10"}, environment), 0);
    err.str("");
    EXPECT_EQ(RunCli({"motor", "--motor-port", stage.SlavePath(), "wait", "1"}, environment), 75);
    EXPECT_NE(err.str().find("still busy"), std::string::npos);
    // A short reply times out with the link's code (by description: one read call, 1060 ms).
    stage.RegisterUsb("CLI TEST DRIVER");
    stage.SetFault(TStageFault::SHORT_REPLY);
    err.str("");
    EXPECT_EQ(RunCli({"motor", "--motor-usb", "CLI TEST DRIVER", "status"}, environment),
              static_cast<int>(RESULT_READ_TIMEOUT));
    EXPECT_EQ(err.str(), "Read timeout.\n");
}

// Settings files: the format round-trips; every kind of bad file is refused with the file,
// the field and the reason, before anything reaches the sensor; diff and apply against the
// virtual sensor send exactly the Loads of the differing values and nothing else.

#include "cli/Cli.h"
#include "sensor/Protocol.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsSync.h"
#include "sim/SensorSimulator.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace zq455;

namespace {

TSensorSettings Example() {
    TSensorSettings s;
    s.device_type = 455;
    s.device_modification = 1;
    s.serial_number = 12345 + (2u << 16);
    s.date_time = "2026-12-09 10:00:00";
    for (unsigned i = 0; i < USER_COUNT; ++i)
        s.user[i] = static_cast<uint16_t>(UserWidth(i) == 1 ? 100 + i : 16000 + i);
    s.angle_rad = 0.0214999993f;
    s.has_factory = true;
    for (unsigned i = 0; i < FACTORY_COUNT; ++i)
        s.factory[i] = static_cast<uint16_t>(FactoryWidth(i) == 1 ? 127 : 16383 - i);
    return s;
}

void ExpectSame(const TSensorSettings& a, const TSensorSettings& b) {
    EXPECT_EQ(a.device_type, b.device_type);
    EXPECT_EQ(a.device_modification, b.device_modification);
    EXPECT_EQ(a.serial_number, b.serial_number);
    EXPECT_EQ(a.date_time, b.date_time);
    EXPECT_EQ(a.user, b.user);
    EXPECT_EQ(a.angle_rad, b.angle_rad); // the same float, bit for bit
    EXPECT_EQ(a.has_factory, b.has_factory);
    if (a.has_factory) {
        EXPECT_EQ(a.factory, b.factory);
    }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(SettingsFile, RoundTripsWithAndWithoutTheFactoryBlock) {
    TSensorSettings read;
    const TSensorSettings full = Example();
    ASSERT_TRUE(ParseSettings(FormatSettings(full), "x.json", read).ok);
    ExpectSame(full, read);
    TSensorSettings user_only = Example();
    user_only.has_factory = false;
    const std::string text = FormatSettings(user_only);
    EXPECT_EQ(text.find("factory_parameters"), std::string::npos);
    EXPECT_NE(text.find("\"Exposure\": 16011"), std::string::npos) << text; // by name
    ASSERT_TRUE(ParseSettings(text, "x.json", read).ok);
    ExpectSame(user_only, read);

    // Through a file, written whole; a folder that is not there leaves nothing behind.
    test::TTempFolder folder{"settings-file"};
    const std::string path = folder.Path() + "sensor.json";
    ASSERT_TRUE(WriteSettingsFile(path, full).ok);
    ASSERT_TRUE(ReadSettingsFile(path, read).ok);
    ExpectSame(full, read);
    const TSettingsResult refused = WriteSettingsFile((folder.Path() + "no/such.json"), full);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("such.json"), std::string::npos);
    const TSettingsResult missing = ReadSettingsFile((folder.Path() + "none.json"), read);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("none.json: cannot be read"), std::string::npos) << missing.message;
}

TEST(SettingsFile, BadFilesAreRefusedNamingTheFieldAndTheReason) {
    const std::string good = FormatSettings(Example());
    struct TCase {
        std::string text;
        const char* expected; // after "bad.json: "
    };
    const TCase cases[] = {
        {"", "not a settings file (not JSON"},
        {"[1, 2]", "not a settings file (not a JSON object)"},
        {Replace(good, "\"format\": 1", "\"format\": 2"),
         "format: version 2 is not the version this program reads"},
        {Replace(good, "\"format\": 1,", ""), "format: missing"},
        {Replace(good, "\"device_type\": 455,", ""), "identity.device_type: missing"},
        {Replace(good, "\"Exposure\": 16011,", ""), "user_parameters.Exposure: missing"},
        {Replace(good, "\"Exposure\": 16011", "\"Exposure\": 16384"),
         "user_parameters.Exposure: 16384 is above 16383"},
        {Replace(good, "\"Laser intensity\": 104", "\"Laser intensity\": 128"),
         "user_parameters.Laser intensity: 128 is above 127"},
        {Replace(good, "\"Laser intensity\": 104", "\"Laser intensity\": -1"),
         "user_parameters.Laser intensity: -1 is below 0"},
        {Replace(good, "\"Laser intensity\": 104", "\"Laser intensity\": \"16\""),
         "user_parameters.Laser intensity: not a whole number"},
        {Replace(good, "\"Laser intensity\": 104", "\"Laser intensity\": 1.5"),
         "user_parameters.Laser intensity: not a whole number"},
        {Replace(good, "\"Sensor On/Off\": 100,", "\"Sensor On/Off\": 100, \"Gain\": 3,"),
         "user_parameters.Gain: no such parameter"},
        {Replace(good, "\"SEQUENCER\": 16383", "\"SEQUENCER\": 70000"),
         "factory_parameters.SEQUENCER: 70000 is above 16383"},
        {Replace(good, "\"angle_rad\": ", "\"angle_rad\": 7.0, \"x\": "), "angle_rad: 7.0 is not an angle"},
    };
    for (const TCase& c : cases) {
        TSensorSettings s = Example();
        s.user[0] = 99;
        const TSettingsResult r = ParseSettings(c.text, "bad.json", s);
        EXPECT_FALSE(r.ok) << c.expected;
        EXPECT_EQ(r.message.rfind(std::string("bad.json: ") + c.expected, 0), 0u) << r.message;
        EXPECT_EQ(s.user[0], 99); // untouched
    }
}

class SettingsOnSensor : public ::testing::Test {
protected:
    void SetUp() override {
        path = (folder.Path() + "sensor.json");
        sensor_file = (folder.Path() + "saved.json");
    }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {"--port", sim.SlavePath()});
        return cli::RunCli(args, environment);
    }
    std::vector<uint8_t> CommandsSince(size_t from) const {
        const std::vector<uint8_t> all = sim.Commands();
        return std::vector<uint8_t>(all.begin() + static_cast<long>(from), all.end());
    }

    test::TTempFolder folder{"settings-sensor"};
    std::string path, sensor_file;
    TSensorSimulator sim{TSensorTiming{false, 0, 0, 100}};
    std::ostringstream out, err;
    cli::TCliEnvironment environment{&out, &err, [](uint32_t) {}};
};

TEST_F(SettingsOnSensor, DiffAndApplySendExactlyTheDifferingLoads) {
    ASSERT_EQ(Run({"settings", "save", sensor_file, "--factory"}), 0) << err.str();
    EXPECT_EQ(Run({"settings", "diff", sensor_file}), 0);
    EXPECT_EQ(out.str(), "");

    // The file wants another intensity, exposure and one factory value.
    TSensorSettings file;
    ASSERT_TRUE(ReadSettingsFile(sensor_file, file).ok);
    file.user[USER_LASER_INTENSITY] = 20;
    file.user[USER_EXPOSURE] = 600;
    file.factory[3] = 222;
    ASSERT_TRUE(WriteSettingsFile(path, file).ok);
    EXPECT_EQ(Run({"settings", "diff", path}), 1);
    EXPECT_EQ(out.str(), "Laser intensity: sensor 16, file 20\nExposure: sensor 500, file 600\n"
                         "INT_TIME: sensor 100, file 222\n");

    const size_t before = sim.Commands().size();
    ASSERT_EQ(Run({"settings", "apply", path}), 0) << err.str();
    // Reads first (identity, 13 user values, angle, factory block), then the factory load
    // and the two user loads, then the read-back.
    std::vector<uint8_t> sent = CommandsSince(before);
    std::vector<uint8_t> loads;
    std::vector<uint8_t> flashes;
    for (uint8_t c : sent) {
        if (c == protocol::CMD_LOAD_USER_PARAMETER || c == protocol::CMD_LOAD_FACTORY)
            loads.push_back(c);
        if (c == protocol::CMD_FLASH_USER_PARAMETERS || c == protocol::CMD_FLASH_FACTORY)
            flashes.push_back(c);
    }
    EXPECT_EQ(loads, (std::vector<uint8_t>{protocol::CMD_LOAD_FACTORY, protocol::CMD_LOAD_USER_PARAMETER,
                                           protocol::CMD_LOAD_USER_PARAMETER}));
    EXPECT_TRUE(flashes.empty()); // FLASH only on --write
    EXPECT_NE(out.str().find("loaded Laser intensity: 16 -> 20\n"), std::string::npos) << out.str();
    const TSensorStore store = sim.Store();
    EXPECT_EQ(store.working.User(USER_LASER_INTENSITY), 20);
    EXPECT_EQ(store.working.User(USER_EXPOSURE), 600);
    EXPECT_EQ(store.working.factory[3], 222);
    EXPECT_EQ(store.flash.User(USER_EXPOSURE), 500);
    EXPECT_EQ(Run({"settings", "diff", path}), 0);

    // Back to the saved file, stored to FLASH this time.
    ASSERT_EQ(Run({"settings", "apply", sensor_file, "--write"}), 0) << err.str();
    EXPECT_NE(out.str().find("written to FLASH"), std::string::npos);
    EXPECT_EQ(sim.Store().flash.User(USER_EXPOSURE), 500);
    EXPECT_EQ(sim.Store().working.factory[3], 100);
}

TEST_F(SettingsOnSensor, BadOrForeignFilesSendNothing) {
    ASSERT_EQ(Run({"settings", "save", sensor_file}), 0) << err.str();
    std::ifstream in(sensor_file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string good = text.str();
    auto write = [&](const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    };

    const size_t before = sim.Commands().size();
    write(Replace(good, "\"Exposure\": 500", "\"Exposure\": 99999"));
    EXPECT_EQ(Run({"settings", "apply", path}), cli::EXIT_DATA);
    EXPECT_NE(err.str().find(path + ": user_parameters.Exposure: 99999 is above 16383"), std::string::npos)
        << err.str();
    write("not json");
    EXPECT_EQ(Run({"settings", "apply", path}), cli::EXIT_DATA);
    EXPECT_EQ(sim.Commands().size(), before); // the sensor heard nothing

    // Another device type: refused, unless --force.
    write(Replace(Replace(good, "\"device_type\": 455", "\"device_type\": 456"), "\"Exposure\": 500",
                  "\"Exposure\": 700"));
    EXPECT_EQ(Run({"settings", "apply", path}), cli::EXIT_DATA);
    EXPECT_NE(err.str().find("device type 456, the sensor is type 455"), std::string::npos) << err.str();
    for (uint8_t c : CommandsSince(before))
        EXPECT_NE(c, protocol::CMD_LOAD_USER_PARAMETER);
    EXPECT_EQ(Run({"settings", "apply", path, "--force"}), 0) << err.str();
    EXPECT_EQ(sim.Store().working.User(USER_EXPOSURE), 700);

    EXPECT_EQ(Run({"settings", "apply", (folder.Path() + "none.json")}), cli::EXIT_NO_INPUT);
    EXPECT_EQ(Run({"settings", "save", (folder.Path() + "no/such/dir.json")}), cli::EXIT_CANT_CREATE);
    EXPECT_EQ(Run({"settings"}), cli::EXIT_USAGE);
    EXPECT_EQ(Run({"settings", "diff", path, "--write"}), cli::EXIT_USAGE);
}

// zq455 settings save | diff | apply: the sensor's settings as a file, compared with the
// sensor, and applied to it by loading only what differs.

#include "Cli.h"

#include "settings/SettingsFile.h"
#include "settings/SettingsSync.h"

#include <cstdio>
#include <sstream>

namespace zq455::cli {
namespace {

constexpr const char* SETTINGS_SYNOPSIS =
    "settings save FILE [--factory] | settings diff FILE [--force] | settings apply FILE [--write] [--force]";
// diff's exit status when the sensor and the file differ, as diff(1) has it.
constexpr int EXIT_DIFFERENT = 1;

std::string ValueText(const TSettingDifference& d, bool file) {
    if (d.kind == TSettingKind::ANGLE) {
        char text[32];
        std::snprintf(text, sizeof text, "%.7g rad", double(file ? d.file_angle : d.sensor_angle));
        std::string s(text);
        for (char& c : s)
            if (c == ',')
                c = '.'; // whatever the locale
        return s;
    }
    return std::to_string(file ? d.file : d.sensor);
}

int Save(TCliSession& session, const std::vector<std::string>& args) {
    const bool factory = args.size() == 3 && args[2] == "--factory";
    if (args.size() != 2 && !factory)
        return session.Usage(SETTINGS_SYNOPSIS);
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    TSensorSettings settings;
    if (uint32_t code = ReadSensorSettings(session.Sensor(), factory, settings))
        return session.Fail(code);
    const TSettingsResult written = WriteSettingsFile(args[1], settings);
    if (!written.ok) {
        session.Err() << written.message << "\n";
        return EXIT_CANT_CREATE;
    }
    session.Out() << "saved " << args[1] << " (" << IdentityText(settings) << ")\n";
    return 0;
}

// Reads the file and the sensor, and checks that they belong together. 0 to go on, else
// the exit status (its message printed).
int Prepare(TCliSession& session, const std::string& path, bool force, TSensorSettings& file,
            TSensorSettings& sensor) {
    const TSettingsResult read = ReadSettingsFile(path, file);
    if (!read.ok) {
        session.Err() << read.message << "\n";
        return read.message.find("cannot be read") != std::string::npos ? EXIT_NO_INPUT : EXIT_DATA;
    }
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    if (uint32_t code = ReadSensorSettings(session.Sensor(), file.has_factory, sensor))
        return session.Fail(code);
    if (file.device_type != sensor.device_type && !force) {
        session.Err() << path << ": identity.device_type: the file is from device type " << file.device_type
                      << ", the sensor is type " << sensor.device_type << " (--force to go on)\n";
        return EXIT_DATA;
    }
    return 0;
}

int Diff(TCliSession& session, const std::vector<std::string>& args) {
    const bool force = args.size() == 3 && args[2] == "--force";
    if (args.size() != 2 && !force)
        return session.Usage(SETTINGS_SYNOPSIS);
    TSensorSettings file, sensor;
    if (int status = Prepare(session, args[1], force, file, sensor))
        return status;
    const std::vector<TSettingDifference> differences = CompareSettings(sensor, file);
    for (const TSettingDifference& d : differences)
        session.Out() << d.name << ": sensor " << ValueText(d, false) << ", file " << ValueText(d, true)
                      << "\n";
    return differences.empty() ? 0 : EXIT_DIFFERENT;
}

int Apply(TCliSession& session, const std::vector<std::string>& args) {
    bool write = false, force = false;
    if (args.size() < 2)
        return session.Usage(SETTINGS_SYNOPSIS);
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--write")
            write = true;
        else if (args[i] == "--force")
            force = true;
        else
            return session.Usage(SETTINGS_SYNOPSIS);
    }
    TSensorSettings file, sensor;
    if (int status = Prepare(session, args[1], force, file, sensor))
        return status;
    const TApplyOutcome outcome = ApplySettings(session.Sensor(), sensor, file, write);
    for (const TSettingDifference& d : outcome.loaded)
        session.Out() << "loaded " << d.name << ": " << ValueText(d, false) << " -> " << ValueText(d, true)
                      << "\n";
    if (outcome.result != 0)
        return session.Fail(outcome.result);
    for (const TSettingDifference& d : outcome.not_loaded)
        session.Out() << "not loaded " << d.name << ": sensor " << ValueText(d, false) << ", file "
                      << ValueText(d, true) << " (the sensor takes its angle from angle rotate)\n";
    if (outcome.loaded.empty())
        session.Out() << "nothing to load: the sensor holds the file's values\n";
    for (const TSettingDifference& d : outcome.still)
        session.Err() << "read back " << d.name << ": sensor " << ValueText(d, false) << ", file "
                      << ValueText(d, true) << "\n";
    if (!outcome.still.empty())
        return EXIT_DIFFERENT;
    if (outcome.stored)
        session.Out() << "written to FLASH\n";
    return 0;
}

int Settings(TCliSession& session, const std::vector<std::string>& args) {
    if (args.empty())
        return session.Usage(SETTINGS_SYNOPSIS);
    if (args[0] == "save")
        return Save(session, args);
    if (args[0] == "diff")
        return Diff(session, args);
    if (args[0] == "apply")
        return Apply(session, args);
    return session.Usage(SETTINGS_SYNOPSIS);
}

} // namespace

TCliCommand SettingsCommand() {
    return {"settings",
            {"settings save FILE [--factory]   the sensor's settings as a JSON file (--factory: the",
             "                              48 factory values too)",
             "settings diff FILE [--force]  one line per differing parameter, \"<name>: sensor <value>,",
             "                              file <value>\"; exit 0 when they match, 1 when they differ",
             "settings apply FILE [--write] [--force]",
             "                              load only what differs, read back; --write stores it",
             "                              to FLASH. A file from another device type needs --force"},
            Settings};
}

} // namespace zq455::cli

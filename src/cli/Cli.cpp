#include "Cli.h"

#include <CLI/CLI.hpp>

#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "sensor/AngleText.h"
#include "sensor/ParameterMap.h"
#include "sim/SensorSimulator.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <thread>

namespace zq455::cli {
namespace {

constexpr const char* OPTIONS_SYNOPSIS = "zq455 [--port PATH | --usb DESCRIPTION | --serial SERIAL] [--baud "
                                         "N] [--address N] [--data DIR] COMMAND ...";
constexpr uint32_t TABLE_FILE_BYTES = TABLE_VALUES * 2;
// ReadCalibrData gets all a reply can hold: 16383 bytes of two groups a value.
constexpr uint32_t CALIBR_CAPACITY = protocol::PACKET_DATA_SIZE / 2;

using TArgs = std::vector<std::string>;

void PrintValues(TCliSession& session, const uint16_t* values, unsigned count,
                 const char* (*name)(unsigned)) {
    for (unsigned i = 0; i < count; ++i)
        session.Out() << name(i) << " = " << values[i] << "\n";
}

// Reads the whole file; false when it cannot be opened or read.
bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

int Identify(TCliSession& session, const TArgs& args) {
    if (!args.empty())
        return session.Usage("identify");
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    uint16_t values[IDENTITY_COUNT];
    if (uint32_t code = session.Sensor().ReadIdentity(values))
        return session.Fail(code);
    for (unsigned i = 0; i < IDENTITY_COUNT; ++i)
        session.Out() << IdentityName(i) << ": " << values[i] << "\n";
    return 0;
}

int PrintUser(TCliSession& session) {
    uint16_t values[USER_COUNT];
    if (uint32_t code = session.Sensor().ReadUserParameters(values))
        return session.Fail(code);
    PrintValues(session, values, USER_COUNT, UserName);
    return 0;
}

int User(TCliSession& session, const TArgs& args) {
    const std::string synopsis = "user read [INDEX] | user load INDEX VALUE | user write | user restore";
    if (args.empty())
        return session.Usage(synopsis);
    const std::string& verb = args[0];
    uint32_t index = 0, value = 0;
    const bool read_one = verb == "read" && args.size() == 2;
    if (read_one && !ParseDecimal(args[1], USER_COUNT - 1, index))
        return session.Usage("user read [INDEX]   (INDEX 0.." + std::to_string(USER_COUNT - 1) + ")");
    if (verb == "load" && (args.size() != 3 || !ParseDecimal(args[1], USER_COUNT - 1, index) ||
                           !ParseDecimal(args[2], 0xFFFF, value)))
        return session.Usage("user load INDEX VALUE   (INDEX 0..12, VALUE 0..65535)");
    const bool known = (verb == "read" && args.size() <= 2) || verb == "load" ||
                       ((verb == "write" || verb == "restore") && args.size() == 1);
    if (!known)
        return session.Usage(synopsis);

    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    TZQ455Interface& sensor = session.Sensor();
    if (read_one) {
        uint16_t one = 0;
        if (uint32_t code = sensor.ReadUserParameter(static_cast<uint8_t>(index), one))
            return session.Fail(code);
        session.Out() << UserName(index) << " = " << one << "\n";
        return 0;
    }
    if (verb == "read")
        return PrintUser(session);
    if (verb == "load") {
        if (uint32_t code =
                sensor.LoadUserParameter(static_cast<uint8_t>(index), static_cast<uint16_t>(value)))
            return session.Fail(code);
        return 0;
    }
    if (uint32_t code = sensor.FlashUserParameters(verb == "restore"))
        return session.Fail(code);
    return PrintUser(session);
}

int PrintFactory(TCliSession& session) {
    uint16_t values[FACTORY_COUNT];
    if (uint32_t code = session.Sensor().ReadFactoryParameters(values))
        return session.Fail(code);
    PrintValues(session, values, FACTORY_COUNT, FactoryName);
    return 0;
}

// The 48 values of `factory load`, from the arguments or from --file.
int FactoryValues(TCliSession& session, const TArgs& args, uint16_t* values) {
    const std::string synopsis = "factory load V0 ... V47 | factory load --file F";
    std::vector<std::string> words(args.begin() + 1, args.end());
    if (!words.empty() && words[0] == "--file") {
        if (words.size() != 2)
            return session.Usage(synopsis);
        const std::string source = words[1];
        std::string bytes;
        if (!ReadFile(source, bytes)) {
            session.Err() << source << ": cannot be read.\n";
            return EXIT_NO_INPUT;
        }
        std::istringstream text(bytes);
        words.clear();
        for (std::string word; text >> word;)
            words.push_back(word);
        if (words.size() != FACTORY_COUNT) {
            session.Err() << source << ": " << words.size() << " values, " << FACTORY_COUNT << " expected.\n";
            return EXIT_DATA;
        }
        for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
            uint32_t value = 0;
            if (!ParseDecimal(words[i], 0xFFFF, value)) {
                session.Err() << source << ": value " << i << " (\"" << words[i]
                              << "\") is not a number 0..65535.\n";
                return EXIT_DATA;
            }
            values[i] = static_cast<uint16_t>(value);
        }
        return 0;
    }
    if (words.size() != FACTORY_COUNT)
        return session.Usage(synopsis + "   (48 values 0..65535)");
    for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
        uint32_t value = 0;
        if (!ParseDecimal(words[i], 0xFFFF, value))
            return session.Usage(synopsis + "   (48 values 0..65535)");
        values[i] = static_cast<uint16_t>(value);
    }
    return 0;
}

int Factory(TCliSession& session, const TArgs& args) {
    const std::string synopsis =
        "factory read | factory load V0 ... V47 | factory load --file F | factory write | "
        "factory restore";
    if (args.empty())
        return session.Usage(synopsis);
    const std::string& verb = args[0];
    uint16_t values[FACTORY_COUNT] = {};
    if (verb == "load") {
        if (int code = FactoryValues(session, args, values))
            return code;
    } else if ((verb != "read" && verb != "write" && verb != "restore") || args.size() != 1) {
        return session.Usage(synopsis);
    }
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    TZQ455Interface& sensor = session.Sensor();
    if (verb == "read")
        return PrintFactory(session);
    if (verb == "load") {
        if (uint32_t code = sensor.LoadFactoryParameters(values))
            return session.Fail(code);
        return 0;
    }
    if (uint32_t code = sensor.FlashFactoryParameters(verb == "restore"))
        return session.Fail(code);
    return PrintFactory(session);
}

int Angle(TCliSession& session, const TArgs& args) {
    const std::string synopsis = "angle read | angle rotate | angle write | angle restore";
    if (args.size() != 1 ||
        (args[0] != "read" && args[0] != "rotate" && args[0] != "write" && args[0] != "restore"))
        return session.Usage(synopsis);
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    TZQ455Interface& sensor = session.Sensor();
    uint32_t bits = 0;
    uint32_t code = 0;
    if (args[0] == "rotate") {
        code = sensor.RotateSystem(bits);
    } else {
        if (args[0] != "read")
            code = sensor.FlashAngle(args[0] == "restore");
        if (code == 0)
            code = sensor.ReadAngle(bits);
    }
    if (code)
        return session.Fail(code);
    session.Out() << AngleTextOfBits(bits) << "\n";
    return 0;
}

int CalibrFrame(TCliSession& session, const TArgs& args) {
    if (!args.empty())
        return session.Usage("calibr-frame");
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    std::vector<uint16_t> values(CALIBR_CAPACITY);
    uint32_t count = 0;
    if (uint32_t code = session.Sensor().ReadCalibrData(values.data(), CALIBR_CAPACITY, count))
        return session.Fail(code);
    // The first value announces how many follow; print no more than arrived.
    const uint32_t announced = count > 0 ? values[0] : 0;
    session.Out() << announced << "\n";
    for (uint32_t i = 1; i < count && i <= announced; ++i)
        session.Out() << values[i] << "\n";
    return 0;
}

int Table(TCliSession& session, const TArgs& args) {
    const std::string synopsis = "table send FILE | table save";
    const bool send = args.size() == 2 && args[0] == "send";
    const bool save = args.size() == 1 && args[0] == "save";
    if (!send && !save)
        return session.Usage(synopsis);
    std::vector<uint16_t> values;
    if (send) {
        std::string bytes;
        if (!ReadFile(args[1], bytes)) {
            session.Err() << args[1] << ": cannot be read.\n";
            return EXIT_NO_INPUT;
        }
        if (bytes.size() != TABLE_FILE_BYTES) {
            session.Err() << args[1] << ": " << bytes.size() << " bytes, " << TABLE_FILE_BYTES
                          << " expected (1024 x 640 values, 16-bit little-endian).\n";
            return EXIT_DATA;
        }
        values.resize(TABLE_VALUES);
        for (uint32_t i = 0; i < TABLE_VALUES; ++i)
            values[i] = static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                              static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    }
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    const uint32_t code =
        send ? session.Sensor().TransmitTable(values.data(), TABLE_VALUES) : session.Sensor().SaveTable();
    return code ? session.Fail(code) : 0;
}

void PrintHelp(const std::vector<TCliCommand>& commands, std::ostream& out) {
    out << "usage: " << OPTIONS_SYNOPSIS << "\n\n"
        << "options (before the command):\n"
        << "  --port PATH          open a serial port or pseudo-terminal by its path\n"
        << "  --usb DESCRIPTION    open a USB serial device by its description (default \""
        << SENSOR_USB_DESCRIPTION << "\")\n"
        << "  --serial SERIAL      open the USB serial device with this FTDI serial number (see list)\n"
        << "  --baud N             bit rate: 4800, 9600, 19200, 38400, 115200, 230400, 460800, 921600 "
           "(default "
           "921600)\n"
        << "  --address N          network address of the sensor, 0..31 (default 0)\n"
        << "  --data DIR           the data folder, where the table archive lives (default\n"
        << "                       $XDG_DATA_HOME/zq455, or ~/.local/share/zq455)\n"
        << "  --help               this text; COMMAND --help: that command's\n"
        << "  --version            the tool's version\n\n"
        << "commands:\n";
    for (const auto& command : commands)
        for (const auto& line : command.help)
            out << "  " << line << "\n";
    out << "\nexit status: 0 on success; the result code (1..10) on a device error, with its message on\n"
        << "stderr and, on the next line, why the link failed when it knows; 64 for a usage error; 65\n"
        << "for a file with the wrong size or contents; 66 for a file that cannot be read.\n";
}

void PrintCommandHelp(const TCliCommand& command, std::ostream& out) {
    out << "usage: zq455 [options] " << (command.help.empty() ? command.name : command.help.front()) << "\n";
    for (size_t i = 1; i < command.help.size(); ++i)
        out << command.help[i] << "\n";
    out << "\noptions before the command: see zq455 --help\n";
}

} // namespace

bool ParseDecimal(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    uint64_t parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed > max)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

TCliSession::TCliSession(const TCliOptions& options_value, TCliEnvironment& environment_value)
    : options(options_value), environment(environment_value), sensor(std::make_unique<TZQ455Interface>()) {
    sensor->Sleep = environment.sleep;
}

TCliSession::~TCliSession() {
    sensor->Close();
}

std::ostream& TCliSession::Out() {
    return environment.out ? *environment.out : std::cout;
}

std::ostream& TCliSession::Err() {
    return environment.err ? *environment.err : std::cerr;
}

uint32_t TCliSession::OpenSensor() {
    if (sensor->IsOpen())
        return RESULT_OK;
    TSensorConnection record;
    record.mode = options.mode;
    record.name = options.device;
    record.baud = options.baud;
    record.address = options.address;
    return sensor->Open(record);
}

int TCliSession::Fail(uint32_t code) {
    return Fail(code, sensor->link.Reason());
}

int TCliSession::Fail(uint32_t code, const std::string& reason) {
    const char* message = ResultMessage(code);
    Err() << (*message ? message : "Unknown result code " + std::to_string(code) + ".") << "\n";
    if (!reason.empty())
        Err() << reason << "\n";
    return static_cast<int>(code);
}

std::string TCliSession::DataDirectory() const {
    if (!options.data_dir.empty())
        return options.data_dir;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/')
        return std::string(xdg) + "/zq455";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/zq455";
}

int TCliSession::Usage(const std::string& synopsis) {
    Err() << "usage: zq455 [options] " << synopsis << "\n";
    return EXIT_USAGE;
}

std::vector<TCliCommand> SensorCommands() {
    return {
        {"identify", {"identify                      the 8 identity values, \"Name: value\""}, Identify},
        {"user",
         {"user read [INDEX]             user parameters (INDEX 0..12), \"Name = value\"",
          "user load INDEX VALUE         load one user parameter",
          "user write | user restore     store to FLASH or restore defaults, then read back"},
         User},
        {"factory",
         {"factory read                  the 48 factory parameters",
          "factory load V0 ... V47       load them (or --file F with 48 whitespace-separated decimals)",
          "factory write | factory restore"},
         Factory},
        {"angle",
         {"angle read | rotate | write | restore   prints \"Angle = 12.300\" and the degree sign"},
         Angle},
        {"calibr-frame",
         {"calibr-frame                  one calibration frame: the count, then the values"},
         CalibrFrame},
        {"table",
         {"table send FILE               send a 1024 x 640 table, 16-bit little-endian, row-major (1 310 720 "
          "bytes)",
          "table save                    store the sent table in FLASH (takes 40 s)"},
         Table},
    };
}

TCliCommand SimulateCommand(std::vector<TSimulatedDevice> devices) {
    TCliCommand command;
    command.name = "simulate";
    command.help = {
        "simulate [--unpaced] [--sensors N] [--motors N]",
        "                              start the virtual devices on pseudo-terminals, print",
        "                              \"<device> PATH\" for each, serve until interrupted;",
        "                              --sensors N (1..8): N sensors, each further one with its own",
        "                              serial number, address and bit rate; the line \"replug K\" on",
        "                              standard input unplugs sensor K (0 first) and brings it back",
        "                              under a new path with the same identity; --motors N (1..8):",
        "                              N motor drivers, the sensors' frames follow the first"};
    command.run = [devices = std::move(devices)](TCliSession& session, const TArgs& args) -> int {
        constexpr const char* synopsis = "simulate [--unpaced] [--sensors N] [--motors N]";
        TSimulateOptions options;
        uint32_t sensors = 1;
        uint32_t motors = 1;
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--unpaced")
                options.paced = false;
            else if (args[i] == "--sensors" && i + 1 < args.size() && ParseDecimal(args[i + 1], 8, sensors) &&
                     sensors >= 1)
                ++i;
            else if (args[i] == "--motors" && i + 1 < args.size() && ParseDecimal(args[i + 1], 8, motors) &&
                     motors >= 1)
                ++i;
            else
                return session.Usage(synopsis);
        }
        struct TRunning {
            const TSimulatedDevice* device;
            unsigned index;
            std::shared_ptr<void> object;
        };
        std::vector<TRunning> running;
        // Starts one device and prints where it is; false when no pseudo-terminal was had.
        auto start = [&](TRunning& r) {
            TSimulateOptions own = options;
            own.index = r.index;
            std::string path;
            r.object = r.device->start(own, path);
            if (!r.object) {
                session.Err() << "The virtual " << r.device->label
                              << " could not be started (no pseudo-terminal).\n";
                return false;
            }
            session.Out() << r.device->label << " " << path;
            if (r.device->label == "sensor" && r.index > 0) {
                const TSimulatedSensorSettings s = SimulatedSensorSettings(r.index);
                session.Out() << " (serial " << s.serial << ", address " << int(s.address) << ", " << s.baud
                              << " bit/s)";
            }
            session.Out() << "\n";
            session.Out().flush();
            return true;
        };
        for (const auto& device : devices)
            for (unsigned k = 0; k < (device.label == "sensor" ? sensors : motors); ++k) {
                running.push_back({&device, k, nullptr});
                if (!start(running.back()))
                    return RESULT_PORT_NOT_OPENED;
            }
        std::string line;
        while (!session.Environment().stop_requested()) {
            const auto& next_line = session.Environment().next_line;
            uint32_t k = 0;
            if (next_line && next_line(line) && line.starts_with("replug ") &&
                ParseDecimal(line.substr(7), 7, k)) {
                // Unplugged and back: the same sensor on a new pseudo-terminal (made before the old
                // one goes, so the kernel cannot hand out the same number), the old one closed.
                for (TRunning& r : running)
                    if (r.device->label == "sensor" && r.index == k) {
                        std::shared_ptr<void> unplugged = std::move(r.object);
                        if (!start(r))
                            return RESULT_PORT_NOT_OPENED;
                    }
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    };
    return command;
}

std::vector<TCliCommand> DefaultCommands() {
    std::vector<TCliCommand> commands = SensorCommands();
    commands.push_back(FrameCommand());
    commands.push_back(MotorCommand());
    commands.push_back(ComputeCommand());
    commands.push_back(CalibrateCommand());
    commands.push_back(VerifyCommand());
    commands.push_back(ArchiveCommand());
    commands.push_back(ListCommand());
    commands.push_back(ScanCommand());
    commands.push_back(SettingsCommand());
    commands.push_back(ProfileCommand());
    commands.push_back(SimulateCommand(SimulatedSensorAndStage()));
    return commands;
}

// The command line goes through CLI11: the options before the command, then the command,
// whose words are its own (each command parses them as it always has, so its usage lines and
// exit statuses stay the same). `zq455 COMMAND --help` prints that command's help.
int RunCli(const std::vector<TCliCommand>& commands, const std::vector<std::string>& args,
           TCliEnvironment& environment) {
    TCliOptions options;
    TCliSession probe(options, environment);
    CLI::App app{"the ZQ455 laser profile sensor's operations from the command line", "zq455"};
    app.set_help_flag();
    bool help = false;
    bool version = false;
    std::string port, usb, baud, address;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    CLI::Option* port_option = app.add_option("--port", port);
    CLI::Option* usb_option = app.add_option("--usb", usb);
    std::string serial;
    CLI::Option* serial_option = app.add_option("--serial", serial);
    CLI::Option* baud_option = app.add_option("--baud", baud);
    CLI::Option* address_option = app.add_option("--address", address);
    app.add_option("--data", options.data_dir);
    std::vector<CLI::App*> subcommands;
    for (const auto& command : commands) {
        CLI::App* sub = app.add_subcommand(command.name, command.help.empty() ? "" : command.help.front());
        sub->set_help_flag();
        sub->prefix_command(); // every word after the command's name is the command's
        sub->allow_extras();
        subcommands.push_back(sub);
    }
    app.require_subcommand(0, 1);
    // The help flag wins wherever it stands, before any other complaint.
    const auto first_command = std::find_if(args.begin(), args.end(), [&](const std::string& a) {
        return std::any_of(commands.begin(), commands.end(),
                           [&](const TCliCommand& c) { return c.name == a; });
    });
    const bool help_anywhere = std::any_of(args.begin(), args.end(),
                                           [](const std::string& a) { return a == "--help" || a == "-h"; });
    if (help_anywhere && first_command == args.end()) {
        PrintHelp(commands, probe.Out());
        return 0;
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extras = app.remaining();
        const std::string what = extras.empty() ? std::string() : extras.front();
        if (!what.starts_with("-"))
            return probe.Usage("COMMAND ...   (unknown command " + what + "; see --help)");
        return probe.Usage("COMMAND ...   (bad option " + what + "; see --help)");
    } catch (const CLI::ParseError& e) {
        return probe.Usage("COMMAND ...   (" + std::string(e.what()) + "; see --help)");
    }

    for (size_t k = 0; k < subcommands.size(); ++k) {
        if (!subcommands[k]->parsed())
            continue;
        const TArgs words = subcommands[k]->remaining();
        if (std::any_of(words.begin(), words.end(),
                        [](const std::string& a) { return a == "--help" || a == "-h"; })) {
            PrintCommandHelp(commands[k], probe.Out());
            return 0;
        }
        break;
    }
    if (version) {
        probe.Out() << "zq455 " << ZQ455_VERSION << "\n";
        return 0;
    }
    if (help) {
        PrintHelp(commands, probe.Out());
        return 0;
    }

    // The options' values, checked as they always were.
    if (port_option->count() && usb_option->count())
        return probe.Usage("COMMAND ...   (--port and --usb exclude each other; see --help)");
    if ((port_option->count() || usb_option->count()) && serial_option->count())
        return probe.Usage("COMMAND ...   (--serial excludes --port and --usb; see --help)");
    if (serial_option->count()) {
        // Two sensors on one PC: the FTDI serial number tells them apart, whatever tty each got.
        const auto ttys = TUsbDeviceDirectory::ListUsbTtys(TUsbDeviceDirectory::SysfsRoot(),
                                                           TUsbDeviceDirectory::DevRoot());
        const auto it =
            std::find_if(ttys.begin(), ttys.end(), [&](const TUsbTty& t) { return t.serial == serial; });
        if (it == ttys.end()) {
            probe.Err() << "No USB serial device with the serial number " << serial
                        << " (zq455 list shows them).\n";
            return EXIT_NO_INPUT;
        }
        port = it->tty;
        port_option = serial_option;
    }
    if (port_option->count()) {
        options.mode = LINK_MODE_COM;
        options.device = port;
    } else if (usb_option->count()) {
        options.mode = LINK_MODE_USB;
        options.device = usb;
    }
    uint32_t number = 0;
    uint8_t code = 0;
    if (baud_option->count()) {
        if (!ParseDecimal(baud, UINT32_MAX, number) || !CodeOfBaud(number, code))
            return probe.Usage("COMMAND ...   (bad option --baud " + baud + "; see --help)");
        options.baud = number;
    }
    if (address_option->count()) {
        if (!ParseDecimal(address, 31, number))
            return probe.Usage("COMMAND ...   (bad option --address " + address + "; see --help)");
        options.address = static_cast<uint8_t>(number);
    }
    for (size_t k = 0; k < subcommands.size(); ++k)
        if (subcommands[k]->parsed()) {
            TCliSession session(options, environment);
            return commands[k].run(session, subcommands[k]->remaining());
        }
    return probe.Usage("COMMAND ...   (see --help)");
}

int RunCli(const std::vector<std::string>& args, TCliEnvironment& environment) {
    return RunCli(DefaultCommands(), args, environment);
}

} // namespace zq455::cli

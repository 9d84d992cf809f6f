#pragma once
// The `zq455` command-line tool as a library: a table of subcommands over the sensor's
// protocol object, run with string arguments and streams, so the thin main, the tests and
// later tools (the motor driver, the virtual stage) share it.
//
//   zq455 [--port PATH | --usb DESCRIPTION] [--baud N] [--address N] COMMAND ...
//
// Exit status: 0 on success; the result code (1..10) on a device error, its message on
// stderr; 64 for a usage error; 65 for a file with the wrong size or contents; 66 for a file
// that cannot be read; 73 for a file that cannot be written.

#include "calibration/CalibrationWorkflow.h"
#include "calibration/VerificationRun.h"
#include "link/Pause.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace zq455::cli {

constexpr int EXIT_USAGE = 64;
constexpr int EXIT_DATA = 65;
constexpr int EXIT_NO_INPUT = 66;
constexpr int EXIT_CANT_CREATE = 73;

// The options before the command.
struct TCliOptions {
    uint32_t mode = LINK_MODE_USB;
    std::string device = SENSOR_USB_DESCRIPTION; // tty path (--port) or USB description (--usb)
    uint32_t baud = 921600;
    uint8_t address = 0;
    std::string data_dir; // --data: where the table archive lives; "" for the user's XDG data folder
};

// Where the tool writes and how it waits; tests hand in their own streams and pauses.
struct TCliEnvironment {
    std::ostream* out = nullptr;              // standard output when null
    std::ostream* err = nullptr;              // standard error when null
    TSleepFunction sleep = SleepMilliseconds; // the sensor's fixed pauses
    // `simulate` serves until this returns true; it is asked from the serving thread about
    // every 50 ms, after the device paths have been printed.
    std::function<bool()> stop_requested = [] { return false; };
    // `simulate` asks this about every 50 ms for a line typed to it ("replug K"); false when
    // none is waiting. The program reads its standard input here; tests hand lines in.
    std::function<bool(std::string& line)> next_line;
};

// One run of one command: the options, the streams and the sensor link, opened on first use.
class TCliSession {
public:
    TCliSession(const TCliOptions& options, TCliEnvironment& environment);
    ~TCliSession();
    TCliSession(const TCliSession&) = delete;
    TCliSession& operator=(const TCliSession&) = delete;

    std::ostream& Out();
    std::ostream& Err();
    const TCliOptions& Options() const { return options; }
    TCliEnvironment& Environment() { return environment; }

    // Opens the sensor link with the options if it is not open yet; 0 or the link's code.
    uint32_t OpenSensor();
    TZQ455Interface& Sensor() { return *sensor; }
    // Prints the code's message on stderr, and on the next line why the sensor link failed
    // when it knows; returns the code as the exit status.
    int Fail(uint32_t code);
    // The same with the reason another link gives (the motor driver's).
    int Fail(uint32_t code, const std::string& reason);
    // The data folder: --data, else $XDG_DATA_HOME/zq455, else ~/.local/share/zq455.
    std::string DataDirectory() const;
    // Prints "usage: zq455 [options] <synopsis>" on stderr and returns 64.
    int Usage(const std::string& synopsis);

private:
    TCliOptions options;
    TCliEnvironment& environment;
    std::unique_ptr<TZQ455Interface> sensor;
};

using TCommandRun = std::function<int(TCliSession& session, const std::vector<std::string>& args)>;

// One entry of the command table: its first word, the lines --help shows, and the handler,
// which gets the words after the first one.
struct TCliCommand {
    std::string name;
    std::vector<std::string> help;
    TCommandRun run;
};

// One virtual device that `simulate` starts: `start` creates it, sets `path` to the
// pseudo-terminal the program should open and returns the object to keep while serving
// (null when it could not be started). `simulate` prints "<label> <path>".
struct TSimulateOptions {
    bool paced = true;  // --unpaced turns the wire-time pacing off
    unsigned index = 0; // which of several sensors (--sensors N): 0 is the demo's own
};

// Sensor k of `simulate --sensors N`: the first keeps the defaults (serial 12345, address 0,
// 921600 bit/s); each further one has a serial, an address and a bit rate of its own.
struct TSimulatedSensorSettings {
    uint32_t serial = 12345;
    uint8_t address = 0;
    uint32_t baud = 921600;
};
TSimulatedSensorSettings SimulatedSensorSettings(unsigned index);
struct TSimulatedDevice {
    std::string label;
    std::function<std::shared_ptr<void>(const TSimulateOptions& options, std::string& path)> start;
};

// identify, user, factory, angle, calibr-frame, table.
std::vector<TCliCommand> SensorCommands();
// simulate [--unpaced]: starts the devices, prints their paths, serves until stopped.
TCliCommand SimulateCommand(std::vector<TSimulatedDevice> devices);
// motor [--motor-port PATH | --motor-usb DESCRIPTION] COMMAND: the stage's motor driver.
TCliCommand MotorCommand();
// compute DTF ...: the tables of "Calculate" from a .dtf file, written to files.
TCliCommand ComputeCommand();
// calibrate --begin UM --dtf FILE: a whole calibration run with the sensor and the stage.
TCliCommand CalibrateCommand();
// verify [--positions K] [--profiles N] [--report FILE] ...: the calibration check.
TCliCommand VerifyCommand();
// archive list | show ID | restore ID [--save]: the tables kept for the connected sensor.
TCliCommand ArchiveCommand();
// list: the serial devices; scan: a sensor at an unknown bit rate and address.
TCliCommand ListCommand();
TCliCommand ScanCommand();
// settings save | diff | apply: the sensor's settings as a file.
TCliCommand SettingsCommand();
// profile [--txt FILE]: one profile in mm, or written as the window's profile text file.
TCliCommand ProfileCommand();
// frame --bmp FILE: one camera frame as the window's bitmap file.
TCliCommand FrameCommand();
// The virtual sensor and the virtual stage for `simulate`, the sensor's calibration frames
// following the stage's position.
std::vector<TSimulatedDevice> SimulatedSensorAndStage();
// The sensor and motor commands, and `simulate` with the virtual sensor and stage.
std::vector<TCliCommand> DefaultCommands();

// Runs one command line (without the program name) against a table of commands.
int RunCli(const std::vector<TCliCommand>& commands, const std::vector<std::string>& args,
           TCliEnvironment& environment);
int RunCli(const std::vector<std::string>& args, TCliEnvironment& environment);

// The stage's commands: `--motor-port PATH` (a tty) or `--motor-usb DESCRIPTION`. True when
// `option` was one of them, with `open` set from its value.
bool TakeMotorOption(const std::string& option, const std::string& value, TMotorOpenSettings& open);
// What a run with the stage needs first: the sensor link, its identity and the motor
// driver. 0, or the exit status of the first failure, its message printed.
int OpenSensorAndMotor(TCliSession& session, const TMotorOpenSettings& open,
                       uint16_t (&identity)[IDENTITY_COUNT], TMotorInterface& motor);

// One option of the check (positions, profiles, begin, settle, the tolerances); false when
// `option` is none of them. `ok` is false when it was one but its value was refused.
bool TakeVerifyOption(const std::string& option, const std::string& value, TVerifySettings& settings,
                      bool& ok);
// The check's lines, "Stopped at position ..." or the motor's fault; 0, 1 (failed) or the code.
int ReportVerifyOutcome(TCliSession& session, const TVerifySettings& settings, const TVerifyOutcome& outcome);
constexpr int EXIT_CHECK_FAILED = 1;

// The sensor of the session and `motor` as the calibration workflow's devices.
TWorkflowDevices WorkflowDevices(TCliSession& session, TMotorInterface& motor);
// Prints each phase as it starts and writes the map picture and the certificate.
TWorkflowHooks WorkflowHooks(TCliSession& session, const TTableArchive& archive);
// The phase's lines and the exit status: 0 done (stored when asked), 1 check failed, the
// result code of a device error, 73 for a file that could not be written.
int ReportWorkflowOutcome(TCliSession& session, const TTableArchive& archive,
                          const TWorkflowOutcome& outcome);

// Whole decimal numbers only, within [0, max].
bool ParseDecimal(const std::string& text, uint32_t max, uint32_t& value);

} // namespace zq455::cli

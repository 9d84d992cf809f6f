// zq455 compute: what "Calculate" and "Transmitt table" compute, from a .dtf file to table
// files. zq455 calibrate: the CALIBRATION page's run without a window, from the approach
// move to the saved .dtf file.

#include "Cli.h"

#include "calibration/CalibrationSequencer.h"
#include "calibration/CalibrationWorkflow.h"
#include "calibration/DataFile.h"
#include "calibration/OfflineCompute.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zq455::cli {
namespace {

using TArgs = std::vector<std::string>;

constexpr const char* COMPUTE_SYNOPSIS =
    "compute DTF --rz N --xe N [--xl N] [--xr N] [--zl N] [--zr N] --out TABLE [--tables ZX] [--classic]";
constexpr const char* CALIBRATE_SYNOPSIS =
    "calibrate --begin UM --dtf FILE [--send [--check [--save]]] [--classic] [--xl N] [--xr N] [--zl N]\n"
    "       [--zr N] [--max-... as verify] [--motor-port PATH | --motor-usb DESCRIPTION]";
// The limits of "Begin, um:" on the page.
constexpr uint32_t BEGIN_MIN_UM = 10;
constexpr uint32_t BEGIN_MAX_UM = 360000;
// The window's motor timer ticks every millisecond.
constexpr auto TICK = std::chrono::milliseconds(1);

int Compute(TCliSession& session, const TArgs& args) {
    TOfflineCompute request;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!a.starts_with("--")) {
            if (!request.dtf_path.empty())
                return session.Usage(COMPUTE_SYNOPSIS);
            request.dtf_path = a;
            continue;
        }
        if (a == "--classic") {
            request.method = TTableMethod::Classic;
            continue;
        }
        if (i + 1 >= args.size())
            return session.Usage(COMPUTE_SYNOPSIS);
        const std::string& value = args[++i];
        if (a == "--rz")
            request.rz = value;
        else if (a == "--xe")
            request.xe = value;
        else if (a == "--xl")
            request.edits.x_left = value;
        else if (a == "--xr")
            request.edits.x_right = value;
        else if (a == "--zl")
            request.edits.zero_left = value;
        else if (a == "--zr")
            request.edits.zero_right = value;
        else if (a == "--out")
            request.out_path = value;
        else if (a == "--tables")
            request.tables_path = value;
        else
            return session.Usage(COMPUTE_SYNOPSIS);
    }
    if (request.dtf_path.empty() || request.rz.empty() || request.xe.empty() || request.out_path.empty())
        return session.Usage(COMPUTE_SYNOPSIS);
    TCalibrationState state;
    const TCalibrResult r = ComputeOffline(request, state);
    if (r.Ok())
        return 0;
    session.Err() << r.message << "\n";
    switch (r.status) {
    case TCalibrStatus::InvalidInput:
        return EXIT_USAGE;
    case TCalibrStatus::FileError:
        return EXIT_NO_INPUT;
    default:
        return EXIT_DATA;
    }
}

// The whole calibration: run, tables, archive, send, check, store on a pass, certificate.
int CalibrateAndStore(TCliSession& session, const TWorkflowSettings& settings, const TMotorOpenSettings& open,
                      const std::string& dtf) {
    uint16_t identity[IDENTITY_COUNT] = {};
    TMotorInterface motor;
    if (int status = OpenSensorAndMotor(session, open, identity, motor))
        return status;
    std::array<uint16_t, 8> id{};
    std::copy(std::begin(identity), std::end(identity), id.begin());
    TTableArchive archive(session.DataDirectory(), id);
    TCalibrationState state;
    TWorkingTable working;
    TWorkflowOutcome outcome =
        RunCalibrationWorkflow(settings, id, state, archive, WorkflowDevices(session, motor),
                               WorkflowHooks(session, archive), working);
    if (outcome.phase > TWorkflowPhase::Run) {
        if (const TCalibrResult saved = SaveDataFile(state, dtf); !saved.Ok()) {
            session.Err() << saved.message << "\n";
            return EXIT_CANT_CREATE;
        }
        session.Out() << "run: pitch " << StepPitchUm(identity[IDENTITY_RANGE_Z]) << " um, saved " << dtf
                      << "\n";
    }
    return ReportWorkflowOutcome(session, archive, outcome);
}

int Calibrate(TCliSession& session, const TArgs& args) {
    TMotorOpenSettings open;
    uint32_t begin_um = 0;
    bool have_begin = false;
    std::string dtf;
    TWorkflowSettings workflow;
    workflow.send = workflow.check = workflow.save = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool* flag = a == "--send"    ? &workflow.send
                     : a == "--check" ? &workflow.check
                     : a == "--save"  ? &workflow.save
                                      : nullptr;
        if (flag || a == "--classic") {
            if (flag)
                *flag = true;
            else
                workflow.method = TTableMethod::Classic;
            continue;
        }
        if (i + 1 >= args.size())
            return session.Usage(CALIBRATE_SYNOPSIS);
        const std::string& value = args[++i];
        bool ok = true;
        if (a == "--begin") {
            if (!ParseDecimal(value, BEGIN_MAX_UM, begin_um) || begin_um < BEGIN_MIN_UM)
                return session.Usage("calibrate --begin UM   (UM 10..360000, as \"Begin, um:\")");
            have_begin = true;
        } else if (a == "--dtf") {
            dtf = value;
        } else if (a == "--xl" || a == "--xr" || a == "--zl" || a == "--zr") {
            std::string& edit = a == "--xl"   ? workflow.edits.x_left
                                : a == "--xr" ? workflow.edits.x_right
                                : a == "--zl" ? workflow.edits.zero_left
                                              : workflow.edits.zero_right;
            edit = value;
        } else if (!TakeVerifyOption(a, value, workflow.verify, ok) && !TakeMotorOption(a, value, open)) {
            return session.Usage(CALIBRATE_SYNOPSIS);
        }
        if (!ok)
            return session.Usage(CALIBRATE_SYNOPSIS);
    }
    // A check needs a table that was sent, a store a check that passed.
    if (!have_begin || dtf.empty() || (workflow.check && !workflow.send) ||
        (workflow.save && !workflow.check))
        return session.Usage(CALIBRATE_SYNOPSIS);
    if (workflow.send) {
        workflow.begin_um = static_cast<int32_t>(begin_um);
        workflow.now = NowText();
        return CalibrateAndStore(session, workflow, open, dtf);
    }

    // The pitch comes from the sensor's Z range, as the window has it from the connect.
    uint16_t identity[IDENTITY_COUNT] = {};
    TMotorInterface motor;
    if (int status = OpenSensorAndMotor(session, open, identity, motor))
        return status;
    TZQ455Interface& sensor = session.Sensor();

    TCalibrationState state;
    TCalibrationSequencer run(
        state, motor,
        [&sensor](uint16_t* values, uint32_t capacity, uint32_t& count) {
            return sensor.ReadCalibrData(values, capacity, count);
        },
        [&identity] { return identity[IDENTITY_RANGE_Z]; });
    run.Sleep = session.Environment().sleep;
    bool rearm = run.StartCalibration(static_cast<int32_t>(begin_um));
    TCalibrTick tick;
    uint16_t reported = 0;
    while (rearm) {
        std::this_thread::sleep_for(TICK);
        tick = run.Tick();
        rearm = tick.rearm;
        if (tick.captured && state.Calibr_Step_Index % 100 == 0 && state.Calibr_Step_Index != reported) {
            reported = state.Calibr_Step_Index;
            session.Out() << "step " << reported << " of " << state.Calibr_Step_Count << "\n";
        }
    }
    if (tick.sensor_result != 0) {
        session.Err() << "Stopped at step " << state.Calibr_Step_Index << " of " << state.Calibr_Step_Count
                      << "; nothing was saved: ";
        return session.Fail(tick.sensor_result);
    }
    if (run.Motor_Result != 0 || state.Calibr_Step_Index < CALIBR_STEPS) {
        session.Err() << "Motor driver stopped the run at step " << state.Calibr_Step_Index << " of "
                      << state.Calibr_Step_Count << "; nothing was saved: ";
        return session.Fail(run.Motor_Result ? run.Motor_Result : RESULT_UNKNOWN_ERROR);
    }
    const TCalibrResult saved = SaveDataFile(state, dtf);
    if (!saved.Ok()) {
        session.Err() << saved.message << "\n";
        return EXIT_NO_INPUT;
    }
    session.Out() << "pitch " << state.Calibr_Step_Um << " um, saved " << dtf << "\n";
    return 0;
}

} // namespace

bool TakeMotorOption(const std::string& option, const std::string& value, TMotorOpenSettings& open) {
    if (option == "--motor-port")
        open.port_kind = LINK_MODE_COM;
    else if (option == "--motor-usb")
        open.port_kind = LINK_MODE_USB;
    else
        return false;
    open.device_name = value;
    return true;
}

int OpenSensorAndMotor(TCliSession& session, const TMotorOpenSettings& open,
                       uint16_t (&identity)[IDENTITY_COUNT], TMotorInterface& motor) {
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    if (uint32_t code = session.Sensor().ReadIdentity(identity))
        return session.Fail(code);
    if (uint32_t code = motor.Open(open)) {
        session.Err() << "Motor driver: ";
        return session.Fail(code);
    }
    return 0;
}

TCliCommand ComputeCommand() {
    return {"compute",
            {std::string(COMPUTE_SYNOPSIS),
             "                              the tables \"Calculate\" computes from a .dtf file, with the",
             "                              edits' defaults (xl 0, xr 0, zl 310, zr 340): TABLE gets the",
             "                              1024 x 640 transmit table, ZX the Z then the X table",
             "                              (640 x 5120 each, column-major), 16-bit little-endian;",
             "                              --classic: the \"Classic computation\" of the page"},
            Compute};
}

TCliCommand CalibrateCommand() {
    return {"calibrate",
            {std::string(CALIBRATE_SYNOPSIS),
             "                              a calibration run: home first (unless the stage is there),",
             "                              the approach by UM, 500 captures, the raw data saved as a",
             "                              .dtf file (motor as for `motor`); --send: then the tables",
             "                              (the edits as --xl --xr --zl --zr, --classic), an entry in",
             "                              the archive, the transfer; --check: the check as `verify`",
             "                              (its options); --save: the store in FLASH, only after a",
             "                              passing check, and the certificate. Exit 0 when stored (or",
             "                              done), 1 when the check failed, the result code on a device",
             "                              error"},
            Calibrate};
}

} // namespace zq455::cli

// zq455 archive: the tables the tool kept for the connected sensor, and sending one back.
// Also what `calibrate --send` and `archive restore` share: the devices of the workflow,
// its phase lines and its documents.

#include "Cli.h"

#include "app/Certificate.h"
#include "app/ErrorMapPicture.h"
#include "calibration/CalibrationWorkflow.h"
#include "calibration/TableArchive.h"
#include "link/ResultCodes.h"

#include <chrono>

namespace zq455::cli {
namespace {

constexpr const char* ARCHIVE_SYNOPSIS = "archive list | show ID | restore ID [--save] [--max-... as verify] "
                                         "[--motor-port PATH | --motor-usb DESCRIPTION]";

std::string FieldText(const TArchiveEntry& e) {
    return e.z_field_error_um < 0 ? "-" : FixedText(e.z_field_error_um) + " um";
}

int OpenArchive(TCliSession& session, std::array<uint16_t, 8>& id) {
    uint16_t identity[IDENTITY_COUNT] = {};
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    if (uint32_t code = session.Sensor().ReadIdentity(identity))
        return session.Fail(code);
    std::copy(std::begin(identity), std::end(identity), id.begin());
    return 0;
}

int Archive(TCliSession& session, const std::vector<std::string>& args) {
    if (args.empty())
        return session.Usage(ARCHIVE_SYNOPSIS);
    const std::string& verb = args[0];
    if (!(verb == "list" && args.size() == 1) && !((verb == "show" || verb == "restore") && args.size() >= 2))
        return session.Usage(ARCHIVE_SYNOPSIS);
    if (verb == "show" && args.size() != 2)
        return session.Usage(ARCHIVE_SYNOPSIS);
    TWorkflowSettings settings;
    TMotorOpenSettings open;
    for (size_t i = 2; i < args.size(); ++i) {
        bool ok = true;
        if (args[i] == "--save")
            continue;
        if (i + 1 >= args.size() ||
            (!TakeVerifyOption(args[i], args[i + 1], settings.verify, ok) &&
             !TakeMotorOption(args[i], args[i + 1], open)) ||
            !ok)
            return session.Usage(ARCHIVE_SYNOPSIS);
        ++i;
    }
    settings.save = std::find(args.begin() + 2, args.end(), "--save") != args.end();

    std::array<uint16_t, 8> id{};
    if (int status = OpenArchive(session, id))
        return status;
    TTableArchive archive(session.DataDirectory(), id);
    std::vector<TArchiveEntry> entries;
    if (TCalibrResult r = archive.List(entries); !r.Ok()) {
        session.Err() << r.message << "\n";
        return EXIT_DATA;
    }
    if (verb == "list") {
        session.Out() << archive.Folder() << ": " << entries.size() << " entries\n";
        for (const TArchiveEntry& e : entries)
            session.Out() << e.id << "  " << e.created << "  "
                          << (e.verdict.empty() ? "not checked" : e.verdict) << "  Z field error "
                          << FieldText(e) << "  " << DeliveryText(e) << "  "
                          << (e.stored_at.empty() ? "not stored" : "stored " + e.stored_at) << "\n";
        return 0;
    }
    const auto found =
        std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.id == args[1]; });
    if (found == entries.end()) {
        session.Err() << archive.Folder() << ": no entry " << args[1] << ".\n";
        return EXIT_NO_INPUT;
    }
    if (verb == "show") {
        const TArchiveEntry& e = *found;
        session.Out() << "entry: " << e.id << "\ncreated: " << e.created << "\ncomputation: " << e.method
                      << "\nsteps: " << e.steps << " of 500\nsent: " << DeliveryText(e)
                      << "\ncheck: " << (e.verdict.empty() ? "not checked" : e.verdict)
                      << "\nZ field error: " << FieldText(e)
                      << "\nstored: " << (e.stored_at.empty() ? "no" : e.stored_at) << "\n";
        for (const auto& [name, value] : e.edits)
            session.Out() << name << ": " << value << "\n";
        if (!e.restored_from.empty())
            session.Out() << "restored from: " << e.restored_from << "\n";
        session.Out() << "folder: " << archive.EntryFolder(e.id) << "\n";
        return 0;
    }

    // restore: the send, then the check and the store with --save.
    TMotorInterface motor;
    if (settings.save) {
        if (uint32_t code = motor.Open(open)) {
            session.Err() << "Motor driver: ";
            return session.Fail(code);
        }
    }
    TCalibrationState state;
    TWorkingTable working;
    const TWorkflowDevices devices = WorkflowDevices(session, motor);
    const TWorkflowHooks hooks = WorkflowHooks(session, archive);
    // Without --save the motor is not open: the send's start of the stage home then does nothing.
    TWorkflowOutcome outcome =
        RestoreArchivedTable(args[1], NowText(), state, archive, devices, hooks, working);
    if (settings.save && !outcome.Failed()) {
        settings.begin_um = settings.verify.begin_um;
        CheckAndStore(settings, id, archive, devices, hooks, working, outcome);
    }
    return ReportWorkflowOutcome(session, archive, outcome);
}

} // namespace

TWorkflowDevices WorkflowDevices(TCliSession& session, TMotorInterface& motor) {
    TZQ455Interface* sensor = &session.Sensor();
    TWorkflowDevices devices;
    devices.motor = &motor;
    devices.read_frame = [sensor](uint16_t* values, uint32_t capacity, uint32_t& count) {
        return sensor->ReadCalibrData(values, capacity, count);
    };
    devices.read_profile = [sensor](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
        uint8_t result_status = 0;
        return sensor->GetResult(result_status, pairs, values, capacity);
    };
    devices.transmit = [sensor](const uint16_t* values, uint32_t count, const TTransferProgress& progress) {
        return sensor->TransmitTable(values, count, progress);
    };
    devices.save_table = [sensor] { return sensor->SaveTable(); };
    devices.sleep = session.Environment().sleep;
    return devices;
}

TWorkflowHooks WorkflowHooks(TCliSession& session, const TTableArchive& archive) {
    TWorkflowHooks hooks;
    // The phase and its start, shared by the copies std::function makes.
    struct TPhaseClock {
        TWorkflowPhase phase = TWorkflowPhase::Done;
        unsigned reported = 0;
        std::chrono::steady_clock::time_point start;
    };
    auto clock = std::make_shared<TPhaseClock>();
    hooks.progress = [&session, clock](TWorkflowPhase phase, unsigned done, unsigned total) {
        const auto now = std::chrono::steady_clock::now();
        if (phase != clock->phase) {
            if (clock->phase == TWorkflowPhase::Send)
                session.Out() << "send: 160 blocks in "
                              << FixedText(std::chrono::duration<double>(now - clock->start).count())
                              << " s\n";
            clock->phase = phase;
            clock->reported = 0;
            clock->start = now;
            session.Out() << WorkflowPhaseName(phase) << "\n";
        }
        if (phase == TWorkflowPhase::Run && done % 100 == 0 && done != clock->reported) {
            clock->reported = done;
            session.Out() << "run: step " << done << " of " << total << "\n";
        }
        return true;
    };
    hooks.write_documents = [&archive](const std::string& report, const TVerifyReportInfo& info,
                                       const TVerifyResult& result, TArchiveEntry& entry) {
        const double field_um = info.settings.tolerances.z_field_pct / 100.0 * info.identity[5] * 1000.0;
        TCalibrResult r =
            WriteErrorMapPng(VerifySiblingPath(report, VERIFY_MAP_PNG_ENDING), result, field_um);
        if (!r.Ok())
            return r;
        r = WriteCertificatePdf(archive.EntryFile(entry.id, ARCHIVE_CERTIFICATE_FILE),
                                {info, entry.method, entry.id, entry.stored_at}, result);
        if (r.Ok())
            entry.certificate = ARCHIVE_CERTIFICATE_FILE;
        return r;
    };
    return hooks;
}

int ReportWorkflowOutcome(TCliSession& session, const TTableArchive& archive,
                          const TWorkflowOutcome& outcome) {
    const TArchiveEntry& e = outcome.entry;
    if (outcome.checked)
        for (const std::string& line : VerifyFigureLines(outcome.check.result))
            session.Out() << line << "\n";
    if (outcome.archived)
        session.Out() << "archive: " << archive.EntryFolder(e.id) << ", " << DeliveryText(e) << ", "
                      << (e.stored_at.empty() ? "not stored in FLASH" : "stored in FLASH at " + e.stored_at)
                      << "\n";
    if (outcome.Failed()) {
        session.Err() << "Stopped in the " << WorkflowPhaseName(outcome.phase) << " phase: ";
        if (outcome.sensor_result)
            return session.Fail(outcome.sensor_result);
        if (outcome.motor_result) {
            session.Err() << "motor driver: ";
            return session.Fail(outcome.motor_result, "");
        }
        if (outcome.stage_stuck) {
            session.Err() << "the stage did not come to rest.\n";
            return int(RESULT_READ_TIMEOUT);
        }
        if (outcome.cancelled) {
            session.Err() << "cancelled.\n";
            return int(RESULT_UNKNOWN_ERROR);
        }
        session.Err() << outcome.message << "\n";
        return EXIT_CANT_CREATE;
    }
    if (!e.certificate.empty())
        session.Out() << "certificate: " << archive.EntryFile(e.id, e.certificate) << "\n";
    if (outcome.checked && !outcome.check.result.passed) {
        session.Err() << "The check failed: the table was not stored in FLASH.\n";
        return EXIT_CHECK_FAILED;
    }
    return 0;
}

TCliCommand ArchiveCommand() {
    return {"archive",
            {std::string(ARCHIVE_SYNOPSIS),
             "                              the tables kept for the connected sensor (one entry per send,",
             "                              in DIR/archive/<type>-<serial>, DIR as --data): list them, show",
             "                              one, or restore one (sends it again as a new entry; --save:",
             "                              the check, then the store in FLASH only when it passed)"},
            Archive};
}

} // namespace zq455::cli

#include "calibration/CalibrationWorkflow.h"

#include "calibration/CalibrationSequencer.h"
#include "calibration/TransmitTable.h"
#include "link/ResultCodes.h"

namespace zq455 {
namespace {

constexpr uint32_t TABLE_BLOCKS = size_t{CALIBR_TRANS_ROWS} * CALIBR_COLUMNS / 4096;
constexpr uint8_t HOME_BIT = 0x10;

bool Continue(const TWorkflowHooks& hooks, TWorkflowPhase phase, unsigned done, unsigned total) {
    return !hooks.progress || hooks.progress(phase, done, total);
}

// Keeps what happened in the index; a failed write of the index is reported, but the sensor
// side is what it is: the message says the entry may be behind.
void Record(TTableArchive& archive, TWorkflowOutcome& outcome) {
    if (!outcome.archived)
        return;
    const TCalibrResult r = archive.Update(outcome.entry);
    if (!r.Ok() && outcome.message.empty())
        outcome.message =
            r.message + " The archive entry " + outcome.entry.id + " may not say all that happened.";
}

// Starts the stage on its way home without waiting: the drive runs on its own link while the
// table goes to the sensor, and the check that follows finds it there. A fault here is left
// for the check to meet.
void StartHome(TMotorInterface* motor) {
    uint8_t status = 0;
    uint8_t status2 = 0;
    if (!motor || motor->GetStatus(status) || (status & HOME_BIT) != 0)
        return;
    if (motor->GetStatus2(status2) == 0)
        motor->Init();
}

void SendPhase(TCalibrationState& state, TTableArchive& archive, const TWorkflowDevices& devices,
               const TWorkflowHooks& hooks, TWorkingTable& working, TWorkflowOutcome& outcome) {
    outcome.phase = TWorkflowPhase::Send;
    StartHome(devices.motor);
    uint32_t done = 0;
    working = {};
    Continue(hooks, TWorkflowPhase::Send, 0, TABLE_BLOCKS);
    const uint32_t code = devices.transmit(&state.Calibr_Table_Trans[0][0], TABLE_BLOCKS * 4096,
                                           [&](uint32_t blocks, uint32_t total) {
                                               done = blocks;
                                               Continue(hooks, TWorkflowPhase::Send, blocks, total);
                                           });
    // Blocks that went out before a failure stay in the sensor: it holds part of the new table.
    outcome.entry.delivery = code == 0 ? TTableDelivery::Whole : TTableDelivery::Partly;
    outcome.entry.blocks_sent = code == 0 ? TABLE_BLOCKS : done;
    working.delivery = outcome.entry.delivery;
    working.blocks_sent = outcome.entry.blocks_sent;
    working.whole_run = outcome.entry.steps >= CALIBR_STEPS;
    working.archive_id = outcome.entry.id;
    outcome.sensor_result = code;
    Record(archive, outcome);
}

} // namespace

std::string SaveTableConcern(const TWorkingTable& table) {
    switch (table.delivery) {
    case TTableDelivery::NotSent:
        return "No table was sent since Connect: the sensor would store whatever table it holds.";
    case TTableDelivery::Partly:
        return "The last transfer failed after " + std::to_string(table.blocks_sent) +
               " of 160 blocks: the sensor holds part of the new table and part of the old one.";
    case TTableDelivery::Whole:
        break;
    }
    if (!table.whole_run)
        return "The table was computed from a run that did not reach its 500th step.";
    if (table.verdict.empty())
        return "The table that was sent has not been checked.";
    if (table.verdict != "pass")
        return "The table that was sent failed its check.";
    return {};
}

const char* WorkflowPhaseName(TWorkflowPhase phase) {
    constexpr const char* names[] = {"run",   "compute", "archive",     "send",
                                     "check", "save",    "certificate", "done"};
    return names[size_t(phase)];
}

void CheckAndStore(const TWorkflowSettings& settings, const std::array<uint16_t, 8>& identity,
                   TTableArchive& archive, const TWorkflowDevices& devices, const TWorkflowHooks& hooks,
                   TWorkingTable& working, TWorkflowOutcome& outcome) {
    outcome.phase = TWorkflowPhase::Check;
    TVerifySettings verify = settings.verify;
    verify.begin_um = settings.begin_um;
    outcome.check = RunVerification(
        verify, identity[5], identity[7], *devices.motor, devices.read_profile, devices.sleep,
        [&](unsigned done, unsigned total) { return Continue(hooks, TWorkflowPhase::Check, done, total); });
    outcome.sensor_result = outcome.check.sensor_result;
    outcome.motor_result = outcome.check.motor_result;
    outcome.stage_stuck = outcome.check.stage_stuck;
    outcome.cancelled = outcome.check.cancelled;
    if (!outcome.check.Finished())
        return;
    outcome.checked = true;

    const TVerifyResult& result = outcome.check.result;
    TVerifyReportInfo info;
    info.identity = identity;
    info.date_time = NowText();
    info.settings = verify;
    info.edits = outcome.entry.edits;
    const std::string report = archive.EntryFile(outcome.entry.id, ARCHIVE_REPORT_FILE);
    outcome.entry.verdict = result.passed ? "pass" : "fail";
    outcome.entry.z_field_error_um = result.figures.z_field_error_um;
    working.verdict = outcome.entry.verdict;
    if (TCalibrResult r = WriteVerifyReport(report, info, result); r.Ok())
        outcome.entry.report = ARCHIVE_REPORT_FILE;
    else
        outcome.message = r.message;
    Record(archive, outcome);

    if (settings.save && result.passed && outcome.message.empty()) {
        outcome.phase = TWorkflowPhase::Save;
        Continue(hooks, TWorkflowPhase::Save, 0, 1);
        outcome.sensor_result = devices.save_table();
        if (outcome.sensor_result != 0)
            return;
        outcome.stored = true;
        outcome.entry.stored_at = NowText();
        Record(archive, outcome);
    }
    if (hooks.write_documents && outcome.message.empty()) {
        outcome.phase = TWorkflowPhase::Certificate;
        Continue(hooks, TWorkflowPhase::Certificate, 0, 1);
        if (TCalibrResult r = hooks.write_documents(report, info, result, outcome.entry); !r.Ok())
            outcome.message = r.message;
        Record(archive, outcome);
    }
    if (outcome.message.empty())
        outcome.phase = TWorkflowPhase::Done;
}

TWorkflowOutcome RunCalibrationWorkflow(const TWorkflowSettings& settings,
                                        const std::array<uint16_t, 8>& identity, TCalibrationState& state,
                                        TTableArchive& archive, const TWorkflowDevices& devices,
                                        const TWorkflowHooks& hooks, TWorkingTable& working) {
    TWorkflowOutcome outcome;

    // Home, the approach and 500 captures, as the page's motor timer runs them.
    TCalibrationSequencer run(state, *devices.motor, devices.read_frame, [&identity] { return identity[5]; });
    run.Sleep = devices.sleep;
    bool rearm = run.StartCalibration(settings.begin_um);
    TCalibrTick tick;
    while (rearm) {
        if (!Continue(hooks, TWorkflowPhase::Run, state.Calibr_Step_Index, CALIBR_STEPS)) {
            outcome.cancelled = true; // the move under way ends by itself
            return outcome;
        }
        devices.sleep(1);
        tick = run.Tick();
        rearm = tick.rearm;
    }
    outcome.sensor_result = tick.sensor_result;
    outcome.motor_result = run.Motor_Result;
    if (outcome.sensor_result || outcome.motor_result)
        return outcome;
    if (state.Calibr_Step_Index < CALIBR_STEPS || run.Tag != CALIBR_TAG_CAPTURE) {
        outcome.message = "The run ended at step " + std::to_string(state.Calibr_Step_Index) + " of 500.";
        return outcome;
    }

    outcome.phase = TWorkflowPhase::Compute;
    Continue(hooks, TWorkflowPhase::Compute, 0, 1);
    TTableParams params;
    TCalibrResult r = ValidateTableEdits(settings.edits, identity[5], identity[7], params);
    if (r.Ok())
        r = Calculate(state, params, settings.method);
    if (!r.Ok()) {
        outcome.message = r.message;
        return outcome;
    }
    AssembleTransmitTable(state, params.xl, params.xr);

    outcome.phase = TWorkflowPhase::Archive;
    outcome.entry.method = TableMethodName(settings.method);
    outcome.entry.edits = {{"x_left", settings.edits.x_left},
                           {"x_right", settings.edits.x_right},
                           {"zero_left", settings.edits.zero_left},
                           {"zero_right", settings.edits.zero_right}};
    outcome.entry.steps = state.Calibr_Step_Index;
    if (r = archive.Add(state, settings.now, outcome.entry); !r.Ok()) {
        outcome.message = r.message + " Nothing was sent to the sensor.";
        return outcome;
    }
    outcome.archived = true;
    if (!settings.send) {
        outcome.phase = TWorkflowPhase::Done;
        return outcome;
    }

    SendPhase(state, archive, devices, hooks, working, outcome);
    if (outcome.Failed() || !settings.check) {
        if (!outcome.Failed())
            outcome.phase = TWorkflowPhase::Done;
        return outcome;
    }
    CheckAndStore(settings, identity, archive, devices, hooks, working, outcome);
    return outcome;
}

TWorkflowOutcome RestoreArchivedTable(const std::string& id, const std::string& now, TCalibrationState& state,
                                      TTableArchive& archive, const TWorkflowDevices& devices,
                                      const TWorkflowHooks& hooks, TWorkingTable& working) {
    TWorkflowOutcome outcome;
    outcome.phase = TWorkflowPhase::Archive;
    const std::optional<TArchiveEntry> old = archive.Find(id);
    if (!old) {
        outcome.message = archive.Folder() + ": no entry " + id + ".";
        return outcome;
    }
    if (TCalibrResult r = archive.LoadTable(id, state); !r.Ok()) {
        outcome.message = r.message + " Nothing was sent to the sensor.";
        return outcome;
    }
    outcome.entry.method = old->method;
    outcome.entry.edits = old->edits;
    outcome.entry.steps = old->steps;
    outcome.entry.restored_from = id;
    if (TCalibrResult r = archive.Add(state, now, outcome.entry); !r.Ok()) {
        outcome.message = r.message + " Nothing was sent to the sensor.";
        return outcome;
    }
    outcome.archived = true;
    SendPhase(state, archive, devices, hooks, working, outcome);
    if (!outcome.Failed())
        outcome.phase = TWorkflowPhase::Done;
    return outcome;
}

} // namespace zq455

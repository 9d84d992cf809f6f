#pragma once
// The whole calibration of one sensor as one sequence: home and the run, the tables, the
// archive entry, the transfer, the check and, only when the check passed, the store in
// FLASH. `zq455 calibrate --send --check --save` and the window's "Calibrate..." run it. It
// knows neither Qt nor the window: the devices come as calls, the pictures (map, certificate)
// as a hook.
//
// What reaches the sensor is written into the archive entry as it happens, so after a fault
// in any phase the entry says whether the sensor holds nothing new, part of the table or the
// whole of it, and nothing is marked stored that the sensor did not confirm.

#include "calibration/CalibrationRun.h"
#include "calibration/TableArchive.h"
#include "calibration/TableComputation.h"
#include "calibration/TableEdits.h"
#include "calibration/VerificationReport.h"
#include "calibration/VerificationRun.h"
#include "link/Pause.h"
#include "motor/Motorinterface.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace zq455 {

// What the tool knows of the sensor's working table since Connect. The sensor cannot be
// asked, so this is all there is to judge a "Save table" by.
struct TWorkingTable {
    TTableDelivery delivery = TTableDelivery::NotSent;
    uint32_t blocks_sent = 0;
    std::string verdict;    // the check since the last transfer: "", "pass" or "fail"
    bool whole_run = true;  // the table came from the data of a whole run
    std::string archive_id; // its archive entry, "" when it was not archived
};

// "" when "Save table" may store the working table without asking; otherwise why not, as
// one sentence for the question the window asks.
std::string SaveTableConcern(const TWorkingTable& table);

enum class TWorkflowPhase : uint8_t { Run, Compute, Archive, Send, Check, Save, Certificate, Done };

// "run", "compute", "archive", "send", "check", "save", "certificate", "done".
const char* WorkflowPhaseName(TWorkflowPhase phase);

struct TWorkflowSettings {
    int32_t begin_um = 22000;
    TTableEditTexts edits;
    TTableMethod method = TTableMethod::Fitted;
    bool send = true;
    bool check = true;
    bool save = true; // stores only after a passing check
    TVerifySettings verify;
    std::string now; // the entry's time, as TVerifyReportInfo::date_time
};

struct TWorkflowDevices {
    TMotorInterface* motor = nullptr;
    TCalibrFrameReader read_frame;
    TProfileReader read_profile;
    std::function<uint32_t(const uint16_t* values, uint32_t count,
                           const std::function<void(uint32_t done, uint32_t total)>& progress)>
        transmit;
    std::function<uint32_t()> save_table; // the 40 s store, sleeping through `sleep`
    TSleepFunction sleep = SleepMilliseconds;
};

struct TWorkflowHooks {
    // Called often in every phase; false asks to stop (the stage stops after its move; a
    // transfer or a store under way ends first).
    std::function<bool(TWorkflowPhase phase, unsigned done, unsigned total)> progress;
    // Writes the map picture and the certificate for a check whose report is at
    // `report_path` into the entry folder; sets entry.certificate.
    std::function<TCalibrResult(const std::string& report_path, const TVerifyReportInfo& info,
                                const TVerifyResult& result, TArchiveEntry& entry)>
        write_documents;
};

struct TWorkflowOutcome {
    TWorkflowPhase phase = TWorkflowPhase::Run; // where it ended (Done when all went through)
    uint32_t sensor_result = 0;
    uint32_t motor_result = 0;
    bool stage_stuck = false;
    bool cancelled = false;
    std::string message; // a file or an input refused, naming it
    bool archived = false;
    TArchiveEntry entry;
    TVerifyOutcome check;
    bool checked = false; // the check ran to its end and judged
    bool stored = false;
    bool Failed() const {
        return sensor_result != 0 || motor_result != 0 || stage_stuck || cancelled || !message.empty();
    }
};

// "Stopped in the send phase: ..." style lines are the caller's; this runs the phases.
// `identity`: Device_Identity as read at Connect. `state` holds the run and the tables
// afterwards; `working` follows what reached the sensor.
TWorkflowOutcome RunCalibrationWorkflow(const TWorkflowSettings& settings,
                                        const std::array<uint16_t, 8>& identity, TCalibrationState& state,
                                        TTableArchive& archive, const TWorkflowDevices& devices,
                                        const TWorkflowHooks& hooks, TWorkingTable& working);

// Sends an archived table again: loads it, archives the send as a new entry that names the
// old one, and sends it. The check and the store are the caller's (they are the same as
// after a calibration).
TWorkflowOutcome RestoreArchivedTable(const std::string& id, const std::string& now, TCalibrationState& state,
                                      TTableArchive& archive, const TWorkflowDevices& devices,
                                      const TWorkflowHooks& hooks, TWorkingTable& working);

// The check and, on a pass and when asked, the store of the working table, for an entry
// already sent: both the workflow's last phases and what a restore runs after its send.
void CheckAndStore(const TWorkflowSettings& settings, const std::array<uint16_t, 8>& identity,
                   TTableArchive& archive, const TWorkflowDevices& devices, const TWorkflowHooks& hooks,
                   TWorkingTable& working, TWorkflowOutcome& outcome);

} // namespace zq455

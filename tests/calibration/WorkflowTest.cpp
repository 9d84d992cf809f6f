// The whole calibration against the virtual sensor and stage, unpaced, with a device killed in
// each phase: where it stops, what the archive entry says reached the sensor, and that nothing
// is marked stored that the sensor did not confirm. Also a folder the archive cannot write.

#include "calibration/CalibrationWorkflow.h"
#include "calibration/TableArchive.h"
#include "support/ClosedLoopRig.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace zq455;
using namespace zq455::test;

namespace {

enum class TKill : uint8_t { None, Sensor, Motor };

struct TPhaseFault {
    const char* name;
    TKill kill;
    TWorkflowPhase at; // the device dies when this phase reports its first progress
    TWorkflowPhase ends;
    bool archived;
    TTableDelivery delivery;
    const char* verdict;
    bool stored;
};

class Workflow : public ::testing::TestWithParam<TPhaseFault> {};

TEST_P(Workflow, EndsInThePhaseAndTheEntrySaysWhatReachedTheSensor) {
    const TPhaseFault& f = GetParam();
    TClosedLoopRig rig;
    TTempFolder folder("workflow");
    std::array<uint16_t, 8> identity = TSensorSimulator::DEFAULT_IDENTITY;
    TTableArchive archive(folder.Path() + "data", identity);
    const std::vector<uint16_t> table_before = rig.sim.TableMemory();

    TWorkflowSettings settings;
    settings.verify.positions = 5;
    settings.verify.profiles = 2;
    settings.verify.settle_ms = 0;
    settings.now = "2026-12-10 10:42:07";
    const TWorkflowDevices devices = rig.Devices();
    TWorkflowHooks hooks;
    bool killed = false;
    hooks.progress = [&](TWorkflowPhase phase, unsigned done, unsigned) {
        // Mid-phase: the run after some steps, the transfer after some blocks.
        const bool midway = phase == TWorkflowPhase::Run    ? done >= 120
                            : phase == TWorkflowPhase::Send ? done >= 40
                                                            : true;
        if (!killed && f.kill != TKill::None && phase == f.at && midway) {
            killed = true;
            if (f.kill == TKill::Sensor)
                rig.sim.InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
            else
                rig.stage.SetFault(TStageFault::NO_REPLY);
        }
        return true;
    };
    unsigned documents = 0;
    hooks.write_documents = [&](const std::string&, const TVerifyReportInfo&, const TVerifyResult&,
                                TArchiveEntry& entry) {
        ++documents;
        entry.certificate = ARCHIVE_CERTIFICATE_FILE;
        return TCalibrResult{};
    };
    TCalibrationState state;
    TWorkingTable working;
    const TWorkflowOutcome outcome =
        RunCalibrationWorkflow(settings, identity, state, archive, devices, hooks, working);

    EXPECT_EQ(outcome.phase, f.ends) << WorkflowPhaseName(outcome.phase);
    EXPECT_EQ(outcome.Failed(), f.kill != TKill::None);
    EXPECT_EQ(outcome.sensor_result != 0, f.kill == TKill::Sensor);
    EXPECT_EQ(outcome.motor_result != 0, f.kill == TKill::Motor);
    EXPECT_EQ(outcome.stored, f.stored);
    std::vector<TArchiveEntry> entries;
    ASSERT_TRUE(archive.List(entries).Ok());
    ASSERT_EQ(entries.size(), f.archived ? 1u : 0u);
    if (f.archived) {
        const TArchiveEntry& e = entries[0];
        EXPECT_EQ(e.id, "20261210-104207");
        EXPECT_EQ(e.delivery, f.delivery);
        EXPECT_EQ(e.verdict, f.verdict);
        EXPECT_EQ(e.stored_at.empty(), !f.stored);
        EXPECT_EQ(e.certificate.empty(), documents == 0);
        if (f.delivery == TTableDelivery::Partly)
            EXPECT_GE(e.blocks_sent, 40u);
        // The entry holds what went out: loading it gives the table sent.
        TCalibrationState kept;
        ASSERT_TRUE(archive.LoadTable(e.id, kept).Ok());
        EXPECT_EQ(std::memcmp(&kept.Calibr_Table_Trans[0][0], &state.Calibr_Table_Trans[0][0],
                              size_t{CALIBR_TRANS_VALUES} * 2),
                  0);
    }
    // A sensor that stops answering during the store may have stored: its confirmation is
    // what marks the entry, and it did not come.
    EXPECT_EQ(rig.sim.Counters().table_saves, f.stored || f.at == TWorkflowPhase::Save ? 1u : 0u);
    // The window's "Save table" would store without asking only a whole table that passed.
    EXPECT_EQ(SaveTableConcern(working).empty(), std::string(f.verdict) == "pass");
    if (f.delivery == TTableDelivery::NotSent)
        EXPECT_EQ(rig.sim.TableMemory(), table_before);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, Workflow,
    ::testing::Values(TPhaseFault{"AllThrough", TKill::None, TWorkflowPhase::Done, TWorkflowPhase::Done, true,
                                  TTableDelivery::Whole, "pass", true},
                      TPhaseFault{"SensorInRun", TKill::Sensor, TWorkflowPhase::Run, TWorkflowPhase::Run,
                                  false, TTableDelivery::NotSent, "", false},
                      TPhaseFault{"MotorInRun", TKill::Motor, TWorkflowPhase::Run, TWorkflowPhase::Run, false,
                                  TTableDelivery::NotSent, "", false},
                      TPhaseFault{"SensorInSend", TKill::Sensor, TWorkflowPhase::Send, TWorkflowPhase::Send,
                                  true, TTableDelivery::Partly, "", false},
                      TPhaseFault{"SensorInCheck", TKill::Sensor, TWorkflowPhase::Check,
                                  TWorkflowPhase::Check, true, TTableDelivery::Whole, "", false},
                      TPhaseFault{"MotorInCheck", TKill::Motor, TWorkflowPhase::Check, TWorkflowPhase::Check,
                                  true, TTableDelivery::Whole, "", false},
                      TPhaseFault{"SensorInSave", TKill::Sensor, TWorkflowPhase::Save, TWorkflowPhase::Save,
                                  true, TTableDelivery::Whole, "pass", false}),
    [](const ::testing::TestParamInfo<TPhaseFault>& info) { return std::string(info.param.name); });

// An archive that cannot be written stops the workflow before anything reaches the sensor.
TEST(WorkflowArchive, AFolderThatCannotBeWrittenSendsNothingAndNamesIt) {
    TClosedLoopRig rig;
    const std::vector<uint16_t> before = rig.sim.TableMemory();
    TTableArchive archive("/dev/null/data", TSensorSimulator::DEFAULT_IDENTITY);
    TCalibrationState state;
    TWorkingTable working;
    TWorkflowSettings settings;
    settings.now = "2026-12-10 10:42:07";
    const TWorkflowDevices devices = rig.Devices();
    const TWorkflowOutcome outcome = RunCalibrationWorkflow(settings, TSensorSimulator::DEFAULT_IDENTITY,
                                                            state, archive, devices, {}, working);
    EXPECT_EQ(outcome.phase, TWorkflowPhase::Archive);
    EXPECT_NE(outcome.message.find("/dev/null"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find("Nothing was sent"), std::string::npos);
    EXPECT_EQ(rig.sim.TableMemory(), before);
    EXPECT_EQ(working.delivery, TTableDelivery::NotSent);
}

} // namespace

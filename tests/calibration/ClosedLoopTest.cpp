// The loop closed against the virtual devices: the sensor measures through the table it
// holds, so a calibration run, Calculate, the table transfer and save, then a check with the
// stage, tell whether the table is right; and a table with a known error is caught by the
// figure that carries it, with the right size.

#include "calibration/CalibrationSequencer.h"
#include "calibration/TableComputation.h"
#include "calibration/TransmitTable.h"
#include "calibration/VerificationRun.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"
#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace zq455;

namespace {

constexpr uint16_t RZ = 50;
constexpr uint16_t XE = 10;

int32_t Signed14(uint16_t v) {
    v &= 0x3FFF;
    return v >= 0x2000 ? int32_t(v) - 0x4000 : int32_t(v);
}

class ClosedLoop : public ::testing::Test {
protected:
    void SetUp() override {
        sim.SetStagePositionSource([this] { return stage.PositionUm(); });
        TSensorConnection connection;
        connection.mode = LINK_MODE_COM;
        connection.name = sim.SlavePath();
        ASSERT_EQ(sensor.Open(connection), 0u);
        sensor.Sleep = [](uint32_t) {};
        TMotorOpenSettings open;
        open.port_kind = LINK_MODE_COM;
        open.device_name = stage.SlavePath();
        ASSERT_EQ(motor.Open(open), 0u);
    }

    TVerifyOutcome Check() {
        TVerifySettings settings;
        return RunVerification(
            settings, RZ, XE, motor,
            [this](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
                uint8_t status = 0;
                return sensor.GetResult(status, pairs, values, capacity);
            },
            [](uint32_t) {});
    }

    // Sends the factory table with `change` applied to each cell (row, column, signed value).
    void
    SendChangedFactoryTable(const std::function<int32_t(unsigned row, unsigned column, int32_t v)>& change) {
        std::vector<uint16_t> table = sim.FactoryTable().Cells();
        for (unsigned r = 0; r < 1024; ++r)
            for (unsigned c = 0; c < 640; ++c) {
                uint16_t& cell = table[size_t{r} * 640 + c];
                cell = static_cast<uint16_t>(static_cast<uint32_t>(change(r, c, Signed14(cell))) & 0x3FFF);
            }
        ASSERT_EQ(sensor.TransmitTable(table.data(), static_cast<uint32_t>(table.size())), 0u);
    }

    TSensorSimulator sim{TSensorTiming{false, 0, 0, 100}};
    TStageSimulator stage{TStageSettings{STAGE_STEPS_PER_SECOND, STAGE_TRAVEL_STEPS, 0, true}};
    TZQ455Interface sensor;
    TMotorInterface motor;
};

} // namespace

TEST_F(ClosedLoop, TheFactoryTableMeasuresTheTruth) {
    const TVerifyOutcome outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    const TVerifyResult& r = outcome.result;
    EXPECT_TRUE(r.passed) << VerdictText(r);
    ASSERT_EQ(r.positions.size(), 21u);
    // Each position's mean is the plate's true height, and the spread is the same as a fit's.
    double largest_error_um = 0;
    for (const TVerifyPosition& p : r.positions) {
        ASSERT_EQ(p.profiles, 10u);
        const double truth = TCalibrationTarget::PlateZ(p.stage_mm * 1000.0);
        largest_error_um = std::max(largest_error_um, std::abs(p.mean_z_mm - truth) * 1000.0);
    }
    EXPECT_LT(largest_error_um, 5.0);
    EXPECT_LT(r.figures.z_linearity_um, 5.0);
    EXPECT_NEAR(r.figures.slope, 1.0, 0.0005);
    EXPECT_NEAR(r.positions.front().mean_z_mm, 0.0, 0.01); // the near end of the range
    EXPECT_NEAR(r.positions.back().mean_z_mm, 50.0, 0.01); // the far end
    EXPECT_LT(r.figures.x_pitch_error_um, 20.0);
    // Home first, then forwards only: the same side for every position.
    const std::vector<TStageRequest> moves = stage.Requests();
    ASSERT_EQ(moves.size(), 21u); // at home already: no Init
    for (const TStageRequest& m : moves)
        EXPECT_EQ(m.command, MOTOR_MOVE_FORWARD);
    EXPECT_EQ(stage.PositionSteps(), VerifyPositionSteps(TVerifySettings{}, RZ, 20));
}

TEST_F(ClosedLoop, ADemoCalibrationWithTheDefaultEditsPassesTheCheck) {
    TCalibrationState state;
    TCalibrationSequencer run(
        state, motor,
        [this](uint16_t* values, uint32_t capacity, uint32_t& count) {
            return sensor.ReadCalibrData(values, capacity, count);
        },
        [] { return RZ; });
    run.Sleep = [](uint32_t) {};
    bool rearm = run.StartCalibration(22000);
    TCalibrTick tick;
    while (rearm) {
        tick = run.Tick();
        rearm = tick.rearm;
    }
    ASSERT_EQ(tick.sensor_result, 0u);
    ASSERT_EQ(state.Calibr_Step_Index, 500);

    TTableParams params; // the page's edits: XL 0, XR 0, ZL 310, ZR 340
    params.rz = RZ;
    params.xe = XE;
    ASSERT_TRUE(Calculate(state, params).Ok());
    AssembleTransmitTable(state, params.xl, params.xr);
    ASSERT_EQ(sensor.TransmitTable(&state.Calibr_Table_Trans[0][0], CALIBR_TRANS_VALUES), 0u);
    ASSERT_EQ(sensor.SaveTable(), 0u);
    EXPECT_EQ(sim.SavedTable(), sim.TableMemory());

    // The stage stands at the end of the run: the check takes it home first.
    const TVerifyOutcome outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    EXPECT_TRUE(outcome.result.passed) << VerdictText(outcome.result);
    EXPECT_EQ(stage.Requests()[500].command, MOTOR_INIT);
    // Z counts from the run's first capture, 2.5 mm before the range; the scale is right.
    EXPECT_NEAR(outcome.result.positions.front().mean_z_mm, 2.5, 0.05);
    EXPECT_NEAR(outcome.result.figures.slope, 1.0, 0.002);
}

TEST_F(ClosedLoop, AWrongTableIsCaughtByItsFigure) {
    // Z scaled by 1.02 (a wrong step pitch would do that).
    SendChangedFactoryTable([](unsigned r, unsigned, int32_t v) {
        return r < 512 ? static_cast<int32_t>(std::lround(v * 1.02)) : v;
    });
    TVerifyOutcome outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    EXPECT_NEAR(outcome.result.figures.z_scale_pct, 2.0, 0.2);
    EXPECT_EQ(outcome.result.failing, std::vector<std::string>{"Z scale error"});

    // A bump of 0.3 mm where the table says 21..24 mm: the position at 22.5 mm stands out.
    const int32_t low = 21 * 4096 / RZ, high = 24 * 4096 / RZ;
    const int32_t bump = static_cast<int32_t>(std::lround(0.3 * 4096 / RZ));
    SendChangedFactoryTable(
        [&](unsigned r, unsigned, int32_t v) { return r < 512 && v >= low && v <= high ? v + bump : v; });
    outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    EXPECT_NEAR(outcome.result.figures.z_linearity_um, 300.0, 0.3 * 300.0);
    ASSERT_FALSE(outcome.result.failing.empty());
    EXPECT_EQ(outcome.result.failing[0], "Z linearity");
    EXPECT_EQ(std::count(outcome.result.failing.begin(), outcome.result.failing.end(), "X pitch error"), 0);

    // The columns left of the zero stripe one pitch off, as two different zero stripes of
    // the two X passes give: the spacing there reads 0 instead of 500 um.
    const int32_t pitch = static_cast<int32_t>(std::lround(0.5 * 4096 / XE));
    SendChangedFactoryTable(
        [&](unsigned r, unsigned c, int32_t v) { return r >= 512 && c <= 302 ? v + pitch : v; });
    outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    EXPECT_NEAR(outcome.result.figures.x_pitch_error_um, 500.0, 50.0);
    EXPECT_EQ(outcome.result.failing, std::vector<std::string>{"X pitch error"});
}

TEST_F(ClosedLoop, TheStoredTableOutlivesARestartAndTheWorkingOneDoesNot) {
    const std::vector<uint16_t> factory = sim.FactoryTable().Cells();
    EXPECT_EQ(sim.TableMemory(), factory);
    EXPECT_EQ(sim.SavedTable(), factory);
    std::vector<uint16_t> stored(factory);
    stored[12345] = 0x0123;
    ASSERT_EQ(sensor.TransmitTable(stored.data(), static_cast<uint32_t>(stored.size())), 0u);
    ASSERT_EQ(sensor.SaveTable(), 0u);
    std::vector<uint16_t> unsaved(stored);
    unsaved[12346] = 0x0456;
    ASSERT_EQ(sensor.TransmitTable(unsaved.data(), static_cast<uint32_t>(unsaved.size())), 0u);
    EXPECT_EQ(sim.TableMemory(), unsaved);
    sensor.Close();

    // The same device switched off and on: it comes back with what it had stored.
    TSensorSimulator again(TSensorTiming{false, 0, 0, 100}, sim.TableFlash());
    EXPECT_EQ(again.TableMemory(), stored);
    // A new device of another geometry leaves the factory with its own table.
    TSensorSimulator other(TSensorTiming{false, 0, 0, 100});
    std::array<uint16_t, IDENTITY_COUNT> identity = TSensorSimulator::DEFAULT_IDENTITY;
    identity[IDENTITY_RANGE_XSMR] = 6;
    other.SetIdentity(identity);
    EXPECT_NE(other.TableMemory(), factory);
    EXPECT_EQ(other.TableMemory(), other.FactoryTable().Cells());
}

TEST_F(ClosedLoop, ACheckStopsAtTheFirstDeviceFaultAndJudgesNothing) {
    // The sensor stops answering at the third position: its code, the positions done.
    unsigned profiles = 0;
    TVerifySettings settings;
    settings.profiles = 2;
    auto read = [&](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
        if (++profiles == 5)
            sim.InjectFault(TSensorFault::WRONG_CHECKSUM, TFaultMode::EVERY_REPLY);
        uint8_t status = 0;
        return sensor.GetResult(status, pairs, values, capacity);
    };
    TVerifyOutcome outcome = RunVerification(settings, RZ, XE, motor, read, [](uint32_t) {});
    EXPECT_EQ(outcome.sensor_result, 8u);
    EXPECT_EQ(outcome.completed, 2u);
    EXPECT_FALSE(outcome.Finished());
    EXPECT_FALSE(outcome.result.passed);
    sim.ClearFaults();

    // A drive that never comes to rest: the check gives up instead of polling for ever.
    stage.SetFault(TStageFault::NEVER_IDLE);
    outcome = RunVerification(settings, RZ, XE, motor, read, [](uint32_t) {});
    EXPECT_TRUE(outcome.stage_stuck);
    EXPECT_EQ(outcome.motor_result, 0u);
    EXPECT_FALSE(outcome.result.passed);

    // A drive that does not answer: its code.
    stage.SetFault(TStageFault::NO_REPLY);
    outcome = RunVerification(settings, RZ, XE, motor, read, [](uint32_t) {});
    EXPECT_EQ(outcome.motor_result, 3u);
    EXPECT_EQ(outcome.completed, 0u);
}

// The loop closed against the virtual devices: the sensor measures through the table it
// holds, so a calibration run, Calculate, the table transfer, then a check with the stage,
// tell whether the table is right. On both designs of sensor the check's verdict is pass
// exactly when the table's true error (which the simulator knows) is within tolerance, and a
// table with a known error fails on the figure that carries it, at its place.

#include "support/ClosedLoopRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace zq455;
using zq455::test::TClosedLoopRig;
using zq455::test::TTrueError;

namespace {

class ClosedLoopFirst : public ::testing::Test, public TClosedLoopRig {};

struct TDesignCase {
    const char* name;
    bool second;
};

class ClosedLoopDesigns : public ::testing::TestWithParam<TDesignCase> {};

bool Has(const std::vector<std::string>& failing, const char* figure) {
    return std::find(failing.begin(), failing.end(), figure) != failing.end();
}

} // namespace

TEST_P(ClosedLoopDesigns, TheVerdictIsPassExactlyWhenTheTrueErrorIsWithinTolerance) {
    TClosedLoopRig rig(GetParam().second ? std::optional<TSensorDesign>(SecondSensorDesign()) : std::nullopt);
    const double half_field_mm = rig.model.ColumnX(639, 0);
    // Where the worst cell must lie: 0 anywhere, -1 the left edge, +1 the right edge, 2 the far
    // end of the range.
    enum TWhere { ANYWHERE, LEFT, RIGHT, EITHER_EDGE, FAR_END };
    struct TTableCase {
        const char* what;
        std::function<void()> load;
        const char* figure; // the figure that must fail, or nullptr for a table that must pass
        TWhere where;
    };
    TCalibrationState state;
    auto change = [&rig](std::function<int32_t(unsigned, unsigned, int32_t)> f) {
        return [&rig, f] { rig.SendChangedFactoryTable(f); };
    };
    const int32_t offset = rig.ZUnits(0.2), bump = rig.ZUnits(0.3);
    const TTableCase cases[] = {
        {"factory table", [] {}, nullptr, ANYWHERE},
        // Started right after a check: the run finds the stage where the check left it.
        {"fitted calibration after a check",
         [&] {
             ASSERT_TRUE(rig.Check().Finished());
             ASSERT_TRUE(rig.Calibrate(TTableMethod::Fitted, state));
         },
         nullptr, ANYWHERE},
        {"classic calibration", [&] { ASSERT_TRUE(rig.Calibrate(TTableMethod::Classic, state)); },
         FIGURE_Z_FIELD, EITHER_EDGE},
        {"offset 0.2 mm", change([=](unsigned r, unsigned, int32_t v) { return r < 512 ? v + offset : v; }),
         FIGURE_Z_OFFSET, ANYWHERE},
        // One unit of the table: 12 um of 50 mm, 7 um of 30 mm.
        {"offset of one table unit",
         change([](unsigned r, unsigned, int32_t v) { return r < 512 ? v + 1 : v; }), nullptr, ANYWHERE},
        {"scale 1.02",
         change([](unsigned r, unsigned, int32_t v) { return r < 512 ? int32_t(std::lround(v * 1.02)) : v; }),
         FIGURE_Z_FIELD, FAR_END},
        // 0.3 mm at column 0, nothing from column 40 on.
        {"left edge bent over 40 columns", change([=](unsigned r, unsigned c, int32_t v) {
             return r < 512 && c < 40 ? v + int32_t(std::lround(bump * (40.0 - c) / 40.0)) : v;
         }),
         FIGURE_Z_FIELD, LEFT},
        // X 3 % too wide right of the middle.
        {"X stretched on the right", change([](unsigned r, unsigned c, int32_t v) {
             return r >= 512 && c > 320 && v > 0 ? int32_t(std::lround(v * 1.03)) : v;
         }),
         FIGURE_X_FIELD, RIGHT},
    };
    for (const TTableCase& c : cases) {
        SCOPED_TRACE(c.what);
        c.load();
        const TVerifyOutcome outcome = rig.Check();
        ASSERT_TRUE(outcome.Finished());
        EXPECT_TRUE(outcome.homed);
        const TVerifyResult& r = outcome.result;
        const TTrueError truth = rig.Truth();
        EXPECT_EQ(r.passed, rig.WithinTolerance(truth))
            << VerdictText(r) << "; true Z field error " << truth.z_field_um << " um, offset "
            << truth.z_offset_um << " um, X " << truth.x_field_um << " um";
        EXPECT_EQ(r.passed, c.figure == nullptr) << VerdictText(r);
        if (c.figure == nullptr)
            continue;
        EXPECT_TRUE(Has(r.failing, c.figure)) << VerdictText(r);
        const TFieldPlace& at =
            std::string(c.figure) == FIGURE_X_FIELD ? r.figures.x_field_at : r.figures.z_field_at;
        ASSERT_TRUE(at.found || std::string(c.figure) == FIGURE_Z_OFFSET);
        switch (c.where) {
        case LEFT:
            EXPECT_LT(at.x_mm, -0.75 * half_field_mm) << VerdictText(r);
            break;
        case RIGHT:
            EXPECT_GT(at.x_mm, 0.5 * half_field_mm) << VerdictText(r);
            break;
        case EITHER_EDGE:
            EXPECT_GT(std::abs(at.x_mm), 0.75 * half_field_mm) << VerdictText(r);
            break;
        case FAR_END:
            EXPECT_NEAR(at.z_mm, rig.rz, 1e-9);
            break;
        case ANYWHERE:
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Designs, ClosedLoopDesigns,
                         ::testing::Values(TDesignCase{"first", false}, TDesignCase{"second", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClosedLoopFirst, AFactoryCheckGoesHomeMovesForwardsOnlyAndReadsAbsoluteHeights) {
    const TVerifyOutcome outcome = Check();
    ASSERT_TRUE(outcome.Finished());
    const TVerifyResult& r = outcome.result;
    ASSERT_EQ(r.positions.size(), 21u);
    // Each position's mean is the plate's true height.
    for (const TVerifyPosition& p : r.positions) {
        ASSERT_EQ(p.profiles, 10u);
        EXPECT_NEAR(p.mean_z_mm, TCalibrationTarget::PlateZ(p.stage_mm * 1000.0), 0.005);
        EXPECT_NEAR(p.mean_z_mm, p.expected_z_mm, 0.005);
    }
    EXPECT_NEAR(r.positions.front().mean_z_mm, 0.0, 0.01); // the near end of the range
    EXPECT_NEAR(r.positions.back().mean_z_mm, 50.0, 0.01); // the far end
    EXPECT_NEAR(r.figures.slope, 1.0, 0.0005);
    // Home already: forwards only to the 21 positions, then home again.
    const std::vector<TStageRequest> moves = stage.Requests();
    ASSERT_EQ(moves.size(), 22u);
    for (size_t i = 0; i < 21; ++i)
        EXPECT_EQ(moves[i].command, MOTOR_MOVE_FORWARD);
    EXPECT_EQ(moves.back().command, MOTOR_INIT);
    EXPECT_EQ(stage.PositionSteps(), 0);
    // The map: a row per position, a cell per 16 profile points, all small.
    EXPECT_EQ(r.map.rows, 21u);
    EXPECT_EQ(r.map.bins, 64u);
    EXPECT_LT(r.figures.z_field_error_um, 20.0);
}

TEST_F(ClosedLoopFirst, TheStoredTableOutlivesARestartAndTheWorkingOneDoesNot) {
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

TEST_F(ClosedLoopFirst, ACheckStopsAtTheFirstDeviceFaultAndJudgesNothing) {
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
    TVerifyOutcome outcome = RunVerification(settings, rz, xe, motor, read, [](uint32_t) {});
    EXPECT_EQ(outcome.sensor_result, 8u);
    EXPECT_EQ(outcome.completed, 2u);
    EXPECT_FALSE(outcome.Finished());
    EXPECT_FALSE(outcome.result.passed);
    sim.ClearFaults();

    // A drive that never comes to rest: the check gives up instead of polling for ever.
    stage.SetFault(TStageFault::NEVER_IDLE);
    outcome = RunVerification(settings, rz, xe, motor, read, [](uint32_t) {});
    EXPECT_TRUE(outcome.stage_stuck);
    EXPECT_EQ(outcome.motor_result, 0u);
    EXPECT_FALSE(outcome.result.passed);

    // A drive that does not answer: its code.
    stage.SetFault(TStageFault::NO_REPLY);
    outcome = RunVerification(settings, rz, xe, motor, read, [](uint32_t) {});
    EXPECT_EQ(outcome.motor_result, 3u);
    EXPECT_EQ(outcome.completed, 0u);
}

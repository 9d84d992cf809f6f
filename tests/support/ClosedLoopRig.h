#pragma once
// The loop closed against the virtual devices, unpaced: a sensor of a given design measuring
// through the table it holds, the stage carrying the target, the steps of a calibration (run,
// Calculate, send) and of a check; and what the simulator knows that the check does not: the
// true error of the sensor's table over the field, without noise.

#include "calibration/CalibrationSequencer.h"
#include "calibration/CalibrationWorkflow.h"
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
#include <optional>

namespace zq455::test {

inline int32_t Signed14(uint16_t v) {
    v &= 0x3FFF;
    return v >= 0x2000 ? int32_t(v) - 0x4000 : int32_t(v);
}

// The largest errors of a table over the field at the check's positions: per bin of 16
// profile points the mean error of Z and of X against the model, and the mean Z error at
// the near end.
struct TTrueError {
    double z_field_um = 0;
    double z_field_x_mm = 0; // where it is largest
    double z_field_z_mm = 0;
    double z_offset_um = 0;
    double x_field_um = 0;
};

class TClosedLoopRig {
public:
    static constexpr uint32_t PROFILE_PAIRS = 1024; // the sensor's default "Result length"

    explicit TClosedLoopRig(const std::optional<TSensorDesign>& design = std::nullopt) {
        if (design)
            sim.SetDesign(*design);
        const auto identity = design ? design->identity : TSensorSimulator::DEFAULT_IDENTITY;
        rz = identity[IDENTITY_RANGE_Z];
        xe = identity[IDENTITY_RANGE_XEMR];
        TSensorGeometry geometry{double(identity[IDENTITY_BASE_DISTANCE]), double(rz),
                                 double(identity[IDENTITY_RANGE_XSMR]), double(xe), sim.Optics()};
        model.SetGeometry(geometry);
        sim.SetStagePositionSource([this] { return stage.PositionUm(); });
        TSensorConnection connection;
        connection.mode = LINK_MODE_COM;
        connection.name = sim.SlavePath();
        EXPECT_EQ(sensor.Open(connection), 0u);
        sensor.Sleep = [](uint32_t) {};
        TMotorOpenSettings open;
        open.port_kind = LINK_MODE_COM;
        open.device_name = stage.SlavePath();
        EXPECT_EQ(motor.Open(open), 0u);
    }

    // The sensor and the stage as the calibration workflow's devices, without pauses.
    TWorkflowDevices Devices() {
        TWorkflowDevices devices;
        devices.motor = &motor;
        devices.read_frame = [this](uint16_t* v, uint32_t capacity, uint32_t& count) {
            return sensor.ReadCalibrData(v, capacity, count);
        };
        devices.read_profile = [this](uint16_t* v, uint32_t capacity, uint16_t& pairs) {
            uint8_t status = 0;
            return sensor.GetResult(status, pairs, v, capacity);
        };
        devices.transmit = [this](const uint16_t* v, uint32_t count, const TTransferProgress& progress) {
            return sensor.TransmitTable(v, count, progress);
        };
        devices.save_table = [this] { return sensor.SaveTable(); };
        devices.sleep = [](uint32_t) {};
        return devices;
    }

    TVerifyOutcome Check(TVerifySettings settings = {}) {
        return RunVerification(
            settings, rz, xe, motor,
            [this](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
                uint8_t status = 0;
                return sensor.GetResult(status, pairs, values, capacity);
            },
            [](uint32_t) {});
    }

    // A whole run from wherever the stage stands, Calculate with the page's edits, and the
    // table sent to the sensor. False when a device call failed.
    bool Calibrate(TTableMethod method, TCalibrationState& state, int32_t begin_um = 22000) {
        TCalibrationSequencer run(
            state, motor,
            [this](uint16_t* values, uint32_t capacity, uint32_t& count) {
                return sensor.ReadCalibrData(values, capacity, count);
            },
            [this] { return rz; });
        run.Sleep = [](uint32_t) {};
        bool rearm = run.StartCalibration(begin_um);
        TCalibrTick tick;
        while (rearm) {
            tick = run.Tick();
            rearm = tick.rearm;
        }
        if (tick.sensor_result != 0 || state.Calibr_Step_Index != CALIBR_STEPS)
            return false;
        TTableParams params;
        params.rz = rz;
        params.xe = xe;
        if (!Calculate(state, params, method).Ok())
            return false;
        AssembleTransmitTable(state, params.xl, params.xr);
        return sensor.TransmitTable(&state.Calibr_Table_Trans[0][0], CALIBR_TRANS_VALUES) == 0;
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

    // Millimetres in table units: of the Z range, or of Xemr.
    int32_t ZUnits(double mm) const { return int32_t(std::lround(mm * 4096.0 / rz)); }
    int32_t XUnits(double mm) const { return int32_t(std::lround(mm * 4096.0 / xe)); }

    // The truth of the sensor's table at the check's positions, noise-free, every profile point.
    TTrueError Truth(const TVerifySettings& settings = {}) const {
        const TSensorTable table(sim.TableMemory());
        TTrueError t;
        const unsigned positions = settings.positions;
        for (unsigned k = 0; k < positions; ++k) {
            const double z = rz * double(k) / (positions - 1);
            double offset_sum = 0;
            unsigned offset_points = 0;
            for (uint32_t first = 1; first < PROFILE_PAIRS; first += VERIFY_MAP_BIN_POINTS) {
                double dz = 0, dx = 0, x_sum = 0;
                unsigned n = 0;
                for (uint32_t i = first; i < std::min(first + VERIFY_MAP_BIN_POINTS, PROFILE_PAIRS); ++i) {
                    const double column = (i + 0.5) * 640 / PROFILE_PAIRS - 0.5;
                    int32_t tz = 0, tx = 0;
                    if (!table.Lookup(column, model.LinePosition(column, z), tz, tx))
                        continue;
                    const double x = model.ColumnX(column, z);
                    dz += tz * double(rz) / 4096 - z;
                    dx += tx * double(xe) / 4096 - x;
                    x_sum += x;
                    ++n;
                }
                if (n == 0)
                    continue;
                offset_sum += dz;
                offset_points += n;
                const double z_um = std::abs(dz / n) * 1000;
                if (z_um > t.z_field_um) {
                    t.z_field_um = z_um;
                    t.z_field_x_mm = x_sum / n;
                    t.z_field_z_mm = z;
                }
                t.x_field_um = std::max(t.x_field_um, std::abs(dx / n) * 1000);
            }
            if (k == 0 && offset_points > 0)
                t.z_offset_um = offset_sum / offset_points * 1000;
        }
        return t;
    }

    // Whether the truth is within the tolerances the check judges it by.
    bool WithinTolerance(const TTrueError& t, const TVerifyTolerances& tol = {}) const {
        const double range_um = rz * 1000.0;
        return t.z_field_um <= tol.z_field_pct / 100 * range_um &&
               std::abs(t.z_offset_um) <= tol.z_offset_pct / 100 * range_um && t.x_field_um <= tol.x_field_um;
    }

    TSensorSimulator sim{TSensorTiming{false, 0, 0, 100}};
    TStageSimulator stage{TStageSettings{STAGE_STEPS_PER_SECOND, STAGE_TRAVEL_STEPS, 0, true}};
    TZQ455Interface sensor;
    TMotorInterface motor;
    TSensorModel model;
    uint16_t rz = 0;
    uint16_t xe = 0;
};

} // namespace zq455::test

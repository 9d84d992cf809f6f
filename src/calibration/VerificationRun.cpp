#include "VerificationRun.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zq455 {
namespace {

constexpr double UM_PER_STEP = 12.5;
constexpr double STEPS_PER_UM = 0.08;
// The motor timer polls every millisecond; so does the run.
constexpr uint32_t POLL_MS = 1;
// A drive that stays busy this long past the slowest sensible speed (1 000 steps/s) is stuck.
constexpr uint32_t STUCK_MARGIN_MS = 10000;
// Init may have the whole travel to go; the drive counts positions in 16 bits.
constexpr uint32_t HOME_TRAVEL_STEPS = 65535;
// Room for the largest profile the sensor sends (2048 pairs).
constexpr uint32_t PROFILE_CAPACITY_VALUES = 2 * 2048;

} // namespace

int32_t VerifyPositionSteps(const TVerifySettings& settings, uint16_t rz, unsigned k) {
    const double range_um = rz * 1000.0;
    const double near_um = settings.begin_um;
    const unsigned last = std::max(settings.positions, 2u) - 1;
    const double um = near_um + range_um * double(k) / double(last);
    return static_cast<int32_t>(std::lround(um * STEPS_PER_UM));
}

TVerifyOutcome RunVerification(const TVerifySettings& settings, uint16_t rz, uint16_t xe,
                               TMotorInterface& motor, const TProfileReader& read,
                               const TSleepFunction& sleep, const TVerifyProgress& progress) {
    TVerifyOutcome outcome;
    const unsigned total = settings.positions;
    bool stop_asked = false;
    auto report = [&](unsigned done) {
        if (progress && !progress(done, total))
            stop_asked = true;
    };

    // Polls until the drive is idle; false when a call failed or it never became idle.
    auto wait_idle = [&](uint32_t steps) {
        const uint32_t limit_ms = steps + STUCK_MARGIN_MS;
        for (uint32_t waited = 0;; waited += POLL_MS) {
            uint8_t status = 0;
            if ((outcome.motor_result = motor.GetStatus(status)))
                return false;
            if ((status & MOTOR_BUSY_MASK) == 0)
                return true;
            if (waited > limit_ms) {
                outcome.stage_stuck = true;
                return false;
            }
            report(outcome.completed);
            sleep(POLL_MS);
        }
    };

    // Home: unless the drive is there already, Init and wait for it to rest. A drive still
    // on its way (home, when the table transfer sent it there) is let finish first.
    auto go_home = [&] {
        uint8_t status = 0;
        if ((outcome.motor_result = motor.GetStatus(status)))
            return false;
        if ((status & MOTOR_BUSY_MASK) != 0) {
            if (!wait_idle(HOME_TRAVEL_STEPS) || (outcome.motor_result = motor.GetStatus(status)))
                return false;
        }
        if ((status & MOTOR_HOME_BIT) != 0)
            return true;
        uint8_t status2 = 0;
        if ((outcome.motor_result = motor.GetStatus2(status2)) || (outcome.motor_result = motor.Init()))
            return false;
        return wait_idle(HOME_TRAVEL_STEPS);
    };
    // After the last position, a cancel or a failed profile the stage goes home again, so a
    // calibration run that follows starts from there. A motor fault leaves it where it stands.
    auto finish = [&] {
        if (outcome.motor_result == 0 && !outcome.stage_stuck) {
            const uint32_t sensor_result = outcome.sensor_result;
            outcome.homed = go_home();
            outcome.sensor_result = sensor_result;
        }
        return outcome;
    };

    // Home first, so every position is approached forwards from a known place.
    if (!go_home())
        return outcome;

    TVerificationReducer reducer(rz, xe, settings.pitch_um, settings.begin_um / 1000.0);
    std::vector<uint16_t> values(PROFILE_CAPACITY_VALUES);
    int32_t at = 0;
    for (unsigned k = 0; k < total; ++k) {
        if (stop_asked) {
            outcome.cancelled = true;
            return finish();
        }
        const int32_t target = VerifyPositionSteps(settings, rz, k);
        const uint32_t move = static_cast<uint32_t>(std::max(0, target - at));
        if ((outcome.motor_result = motor.MoveForward(move)))
            return outcome;
        if (!wait_idle(move))
            return outcome;
        at = target;
        // The move is over; a cancel asked for during it ends the run here.
        if (stop_asked) {
            outcome.cancelled = true;
            return finish();
        }
        sleep(settings.settle_ms);

        reducer.BeginPosition(at * UM_PER_STEP / 1000.0);
        for (unsigned n = 0; n < settings.profiles; ++n) {
            uint16_t pairs = 0;
            if ((outcome.sensor_result = read(values.data(), PROFILE_CAPACITY_VALUES, pairs)))
                return finish();
            reducer.AddProfile(values.data(), std::min<uint32_t>(pairs, PROFILE_CAPACITY_VALUES / 2));
            report(outcome.completed);
        }
        ++outcome.completed;
        report(outcome.completed);
    }
    outcome.result = reducer.Finish(settings.tolerances);
    return finish();
}

} // namespace zq455

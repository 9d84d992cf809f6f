#pragma once
// The verification run: the stage goes home, then forward to K positions spread evenly over
// the sensor's Z range (always approached forwards, so the drive's backlash is the same at
// each), settles, and the sensor takes N profiles at each; at the end, or when cancelled,
// the stage goes home again, where the next calibration run starts. The window's "Check
// calibration" and `zq455 verify` both run it; it knows neither Qt nor the window.
//
// Where the range lies on the stage: a calibration run makes its first capture at "Begin,
// um:", where the plate stands at the near end of the range and the Z table puts 0, and
// travels 110 % of the Z range from there. The check takes the same "Begin, um:" and spreads
// its positions from there to the far end.

#include "calibration/Verification.h"
#include "link/Pause.h"
#include "motor/Motorinterface.h"

#include <cstdint>
#include <functional>

namespace zq455 {

struct TVerifySettings {
    unsigned positions = 21;   // K, 2..1000
    unsigned profiles = 10;    // N per position, 1..1000
    int32_t begin_um = 22000;  // "Begin, um:" of the calibration run
    uint32_t settle_ms = 2000; // the target stands still this long before its profiles
    double pitch_um = 500.0;   // the target's stripe pitch
    TVerifyTolerances tolerances;
};

constexpr unsigned VERIFY_MAX_POSITIONS = 1000;
constexpr unsigned VERIFY_MAX_PROFILES = 1000;

// Reads one profile: `values` gets 2 x `pairs` values (Z, X), at most `capacity`.
// TZQ455Interface::GetResult has this shape, less its status byte.
using TProfileReader = std::function<uint32_t(uint16_t* values, uint32_t capacity, uint16_t& pairs)>;

// Called after every profile and while the stage moves; `done` counts finished positions.
// Returning false asks the run to stop: it does once the current move is over.
using TVerifyProgress = std::function<bool(unsigned done, unsigned total)>;

struct TVerifyOutcome {
    uint32_t sensor_result = 0; // a failed profile: the sensor's code, and the run stopped
    uint32_t motor_result = 0;  // a failed motor call: its code, and the run stopped
    bool stage_stuck = false;   // the drive stayed busy far longer than the move takes
    bool cancelled = false;
    bool homed = false;     // the stage went home again at the end
    unsigned completed = 0; // positions measured
    TVerifyResult result;   // figures; meaningful only when Finished()
    bool Finished() const { return sensor_result == 0 && motor_result == 0 && !stage_stuck && !cancelled; }
};

// Stage position (motor steps from home) of position k of `count`, for a Z range of `rz` mm.
int32_t VerifyPositionSteps(const TVerifySettings& settings, uint16_t rz, unsigned k);

// The whole run. `rz`, `xe`: the identity's "Measuring range Z" and "Measuring range Xemr".
TVerifyOutcome RunVerification(const TVerifySettings& settings, uint16_t rz, uint16_t xe,
                               TMotorInterface& motor, const TProfileReader& read,
                               const TSleepFunction& sleep, const TVerifyProgress& progress = {});

} // namespace zq455

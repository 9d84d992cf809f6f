#pragma once
// Settings between a file and the sensor: read what the sensor holds, and apply a file by
// loading exactly the values that differ (the sensor's Load commands), then reading back.
// Storing to FLASH is a separate step the caller asks for.

#include "sensor/Zq455interface.h"
#include "settings/SettingsFile.h"

#include <vector>

namespace zq455 {

// Identity, user parameters and angle; the factory block too when `factory`.
uint32_t ReadSensorSettings(TZQ455Interface& sensor, bool factory, TSensorSettings& settings);

struct TApplyOutcome {
    uint32_t result = 0;                        // the first failed command's code
    std::vector<TSettingDifference> loaded;     // what was sent, in order
    std::vector<TSettingDifference> not_loaded; // what has no Load command (the angle)
    std::vector<TSettingDifference> still;      // what still differs after the read-back
    bool stored = false;                        // written to FLASH
};

// Loads the differing user parameters one by one (the network address and the bit rate
// last: the link follows them) and, when factory values differ, the factory block with the
// sensor's own values elsewhere; reads back; with `write`, stores what was loaded to FLASH.
// `sensor_now` is what ReadSensorSettings gave just before.
TApplyOutcome ApplySettings(TZQ455Interface& sensor, const TSensorSettings& sensor_now,
                            const TSensorSettings& file, bool write);

} // namespace zq455

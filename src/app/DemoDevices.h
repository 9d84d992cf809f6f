#pragma once
// The demo mode's devices: the virtual sensor and the virtual stage, started inside the
// program and registered under the two USB descriptions, so Connect and Motor Connect find
// them as they would find the real devices. The sensor's calibration target follows the stage.

#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"

#include <memory>

namespace zq455 {

class TDemoDevices {
public:
    // `paced`: replies take the wire time of the bit rate, as the device's do; tests turn it off.
    explicit TDemoDevices(bool paced = true);
    ~TDemoDevices();
    TDemoDevices(const TDemoDevices&) = delete;
    TDemoDevices& operator=(const TDemoDevices&) = delete;

    bool IsValid() const { return sensor->IsValid() && stage->IsValid(); }

    std::unique_ptr<TStageSimulator> stage;
    std::unique_ptr<TSensorSimulator> sensor;
};

} // namespace zq455

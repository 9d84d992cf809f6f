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
    // The sensor switched off and on again: a new virtual sensor on a new pseudo-terminal,
    // under the same description, with the table it had stored. Working values are lost.
    void RestartSensor();

    std::unique_ptr<TStageSimulator> stage;
    std::unique_ptr<TSensorSimulator> sensor;

private:
    void StartSensor();

    bool paced;
    std::shared_ptr<TSensorTableFlash> table_flash = std::make_shared<TSensorTableFlash>();
};

} // namespace zq455

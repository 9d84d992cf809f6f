#include "DemoDevices.h"

#include "motor/Motorinterface.h"
#include "sensor/Zq455interface.h"

namespace zq455 {

TDemoDevices::TDemoDevices(bool paced) {
    TStageSettings stage_settings;
    stage_settings.fast = !paced;
    stage = std::make_unique<TStageSimulator>(stage_settings);
    TSensorTiming timing;
    timing.paced = paced;
    if (!paced)
        timing.rate_change_ms = 0;
    sensor = std::make_unique<TSensorSimulator>(timing);
    TStageSimulator* carriage = stage.get();
    sensor->SetStagePositionSource([carriage] { return carriage->PositionUm(); });
    sensor->RegisterAs(SENSOR_USB_DESCRIPTION);
    stage->RegisterUsb(MOTOR_USB_DESCRIPTION);
}

// The sensor goes first: it reads the stage's position.
TDemoDevices::~TDemoDevices() {
    sensor.reset();
    stage.reset();
}

} // namespace zq455

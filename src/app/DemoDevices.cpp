#include "DemoDevices.h"

#include "motor/Motorinterface.h"
#include "sensor/Zq455interface.h"

namespace zq455 {

TDemoDevices::TDemoDevices(bool paced_value) : paced(paced_value) {
    TStageSettings stage_settings;
    stage_settings.fast = !paced;
    stage = std::make_unique<TStageSimulator>(stage_settings);
    StartSensor();
    stage->RegisterUsb(MOTOR_USB_DESCRIPTION);
}

void TDemoDevices::StartSensor() {
    TSensorTiming timing;
    timing.paced = paced;
    if (!paced)
        timing.rate_change_ms = 0;
    sensor = std::make_unique<TSensorSimulator>(timing, table_flash);
    TStageSimulator* carriage = stage.get();
    sensor->SetStagePositionSource([carriage] { return carriage->PositionUm(); });
    sensor->RegisterAs(SENSOR_USB_DESCRIPTION);
}

void TDemoDevices::RestartSensor() {
    // The new one registers first, so the description never goes missing in between.
    std::unique_ptr<TSensorSimulator> old = std::move(sensor);
    StartSensor();
    old.reset();
}

// The sensor goes first: it reads the stage's position.
TDemoDevices::~TDemoDevices() {
    sensor.reset();
    stage.reset();
}

} // namespace zq455

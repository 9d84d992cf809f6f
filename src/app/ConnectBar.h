#pragma once
// The connect bar: the bit rate and the network address the sensor is asked at, Connect, and
// which device: the first USB device whose description is the sensor's (one sensor, one
// click), a sensor picked by its adapter's tty and FTDI serial number (read from sysfs each
// time the list opens), or a serial port path typed in. "Find..." asks every rate and address
// of the chosen device for the identity and sets the bar to the pair that answered.

#include "DeviceList.h"
#include "sensor/SensorScan.h"
#include "sensor/Zq455interface.h"

#include <QFrame>
#include <functional>

class QCheckBox;
class QComboBox;
class QTimer;
class QDialog;
class QLabel;
class QProgressDialog;
class QPushButton;

namespace zq455 {

class TConnectBar : public QFrame {
public:
    struct THost {
        std::function<bool()> sensor_connected;
        std::function<void(QProgressDialog&)> show_progress;
        std::function<int(QDialog&)> show_modal;
        // The awaited sensor answers on `path` (the bar is set to it): connect and go on.
        std::function<void(const std::string& path)> reconnect;
    };

    TConnectBar(THost host, QWidget* parent);

    // The 32 addresses, 0 selected.
    void FillNetAddressList();
    // The device, bit rate and address the bar says (Connect opens this).
    TSensorConnection Selection() const;
    // The device list anew: the default entry, every sensor sysfs knows, the typed paths kept.
    void RefreshDevices();
    void Button_Connect_FindClick();
    // The device list and Find, off while a sensor is connected (as the rate and address are).
    void SetDeviceChoiceEnabled(bool enabled);
    // After an unplug, with "Reconnect" ticked: looks every half second on every sensor tty,
    // USB device and the virtual sensor for the one with this serial number, at the rate and
    // address it had. Unticking, Connect or Disconnect ends the wait.
    void WaitForSensor(uint32_t serial, uint32_t baud, uint8_t address);
    void StopWaiting();
    bool Waiting() const;

    QLabel* Label_Connect_Baud = nullptr;
    QComboBox* ComboBox_Connect_Baud = nullptr;
    QLabel* Label_Connect_NetAddress = nullptr;
    QComboBox* ComboBox_Connect_NetAddress = nullptr;
    QPushButton* Button_Connect = nullptr;
    QLabel* Label_Connect_Device = nullptr;
    TDeviceList* ComboBox_Connect_Device = nullptr;
    QPushButton* Button_Connect_Find = nullptr;
    QCheckBox* CheckBox_Connect_Reconnect = nullptr; // "Reconnect", on by default
    QTimer* Timer_Reconnect = nullptr;

    // The scan goes through here; tests put a shorter one.
    std::function<TScanResult(const TSensorConnection&, const TScanProgress&)> Scan;

private:
    THost host;
    uint32_t awaited_serial = 0;
    uint32_t awaited_baud = 0;
    uint8_t awaited_address = 0;
    void LookForSensor();
};

} // namespace zq455

#pragma once
// The connect bar: the bit rate and the network address the sensor is asked at, Connect, and
// which device: the first USB device whose description is the sensor's (one sensor, one
// click), a sensor picked by its adapter's tty and FTDI serial number (read from sysfs each
// time the list opens), or a serial port path typed in. "Find..." asks every rate and address
// of the chosen device for the identity and sets the bar to the pair that answered.

#include "sensor/SensorScan.h"
#include "sensor/Zq455interface.h"

#include <QFrame>
#include <functional>

class QComboBox;
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

    QLabel* Label_Connect_Baud = nullptr;
    QComboBox* ComboBox_Connect_Baud = nullptr;
    QLabel* Label_Connect_NetAddress = nullptr;
    QComboBox* ComboBox_Connect_NetAddress = nullptr;
    QPushButton* Button_Connect = nullptr;
    QLabel* Label_Connect_Device = nullptr;
    QComboBox* ComboBox_Connect_Device = nullptr; // item data: the tty path, empty for the default
    QPushButton* Button_Connect_Find = nullptr;

    // The scan goes through here; tests put a shorter one.
    std::function<TScanResult(const TSensorConnection&, const TScanProgress&)> Scan;

private:
    THost host;
};

} // namespace zq455

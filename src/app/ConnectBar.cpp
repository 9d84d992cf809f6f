#include "ConnectBar.h"

#include "Main.h"
#include "WidgetMaking.h"
#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

namespace zq455 {
namespace {

// The Part's way: the first USB device whose description is the sensor's.
QString DefaultEntry() {
    return "First sensor on USB";
}

} // namespace

TConnectBar::TConnectBar(THost host_value, QWidget* parent) : QFrame(parent), host(std::move(host_value)) {
    setObjectName("Panel_Connect");
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    Label_Connect_Baud = MakeLabel(this, "Label_Connect_Baud", "Baud rate:", 10, 8);
    ComboBox_Connect_Baud = Named(new QComboBox(this), "ComboBox_Connect_Baud");
    for (const TBaudCode& entry : BAUD_CODES)
        ComboBox_Connect_Baud->addItem(QString::number(entry.baud));
    ComboBox_Connect_Baud->setGeometry(10, 25, 97, 22);
    Label_Connect_NetAddress = MakeLabel(this, "Label_Connect_NetAddress", "Net number of device:", 122, 8);
    ComboBox_Connect_NetAddress = Named(new QComboBox(this), "ComboBox_Connect_NetAddress");
    ComboBox_Connect_NetAddress->setGeometry(122, 25, 121, 22);
    ComboBox_Connect_NetAddress->setMaxVisibleItems(16);
    Button_Connect = MakeButton(this, "Button_Connect", "Connect", QRect(262, 16, 105, 28));
    // Right of the window's measuring buttons: which device, and Find.
    Label_Connect_Device = MakeLabel(this, "Label_Connect_Device", "Device:", 620, 8);
    ComboBox_Connect_Device =
        Named(new TDeviceList(this, SENSOR_USB_DESCRIPTION, DefaultEntry()), "ComboBox_Connect_Device");
    ComboBox_Connect_Device->setToolTip("The sensor to connect: the first by its USB description, one by its "
                                        "tty and FTDI serial number, or a serial port path typed in");
    ComboBox_Connect_Device->setGeometry(620, 25, 170, 22);
    Button_Connect_Find = MakeButton(this, "Button_Connect_Find", "Find...", QRect(798, 24, 72, 24));
    Button_Connect_Find->setToolTip("Try every bit rate and address for a sensor that does not answer");
    CheckBox_Connect_Reconnect = Named(new QCheckBox("Reconnect", this), "CheckBox_Connect_Reconnect");
    CheckBox_Connect_Reconnect->setGeometry(700, 5, 100, 18);
    CheckBox_Connect_Reconnect->setChecked(true);
    CheckBox_Connect_Reconnect->setToolTip(
        "After an unplug, wait for the same sensor (by its serial number) on "
        "any port and connect to it again");
    Timer_Reconnect = Named(new QTimer(this), "Timer_Reconnect");
    Timer_Reconnect->setInterval(500);
    connect(Timer_Reconnect, &QTimer::timeout, this, [this] { LookForSensor(); });
    connect(CheckBox_Connect_Reconnect, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            StopWaiting();
    });
    connect(Button_Connect_Find, &QPushButton::clicked, this, [this] { Button_Connect_FindClick(); });
    Scan = [](const TSensorConnection& base, const TScanProgress& progress) {
        std::vector<uint32_t> rates;
        for (const TBaudCode& b : BAUD_CODES)
            rates.push_back(b.baud);
        std::vector<uint8_t> addresses;
        for (uint8_t a = 0; a < 32; ++a)
            addresses.push_back(a);
        return ScanForSensor(base, rates, addresses, true, progress);
    };
}

void TConnectBar::FillNetAddressList() {
    ComboBox_Connect_NetAddress->clear();
    for (int k = 0; k < 32; ++k)
        ComboBox_Connect_NetAddress->addItem(QString::number(k));
    ComboBox_Connect_NetAddress->setCurrentIndex(0);
}

void TConnectBar::RefreshDevices() {
    ComboBox_Connect_Device->Refresh();
}

TSensorConnection TConnectBar::Selection() const {
    TSensorConnection record;
    record.baud = ComboBox_Connect_Baud->currentText().toUInt();
    record.address = static_cast<uint8_t>(ComboBox_Connect_NetAddress->currentText().toUInt() & 0xFF);
    const TDeviceList::TChoice choice = ComboBox_Connect_Device->Choice();
    record.mode = choice.mode;
    record.name = choice.name;
    return record;
}

void TConnectBar::SetDeviceChoiceEnabled(bool enabled) {
    ComboBox_Connect_Device->setEnabled(enabled);
    Button_Connect_Find->setEnabled(enabled);
}

void TConnectBar::WaitForSensor(uint32_t serial, uint32_t baud, uint8_t address) {
    awaited_serial = serial;
    awaited_baud = baud;
    awaited_address = address;
    Timer_Reconnect->start();
}

void TConnectBar::StopWaiting() {
    Timer_Reconnect->stop();
}

bool TConnectBar::Waiting() const {
    return Timer_Reconnect->isActive();
}

void TConnectBar::LookForSensor() {
    const std::vector<std::string> paths = TDeviceList::Paths(SENSOR_USB_DESCRIPTION);
    for (const std::string& path : paths) {
        TZQ455Interface probe;
        TSensorConnection record;
        record.mode = LINK_MODE_COM;
        record.name = path;
        record.baud = awaited_baud;
        record.address = awaited_address;
        record.reply_timeout_ms = ScanReplyTimeoutMs(awaited_baud);
        record.short_replies = true;
        uint16_t identity[IDENTITY_COUNT] = {};
        if (probe.Open(record) || probe.ReadIdentity(identity))
            continue;
        if (identity[IDENTITY_SERIAL_LO] + (uint32_t(identity[IDENTITY_SERIAL_HI]) << 16) != awaited_serial)
            continue;
        probe.Close();
        StopWaiting();
        ComboBox_Connect_Baud->setCurrentText(QString::number(awaited_baud));
        ComboBox_Connect_NetAddress->setCurrentIndex(awaited_address);
        ComboBox_Connect_Device->SelectPath(QString::fromStdString(path));
        host.reconnect(path);
        return;
    }
}

void TConnectBar::Button_Connect_FindClick() {
    if (host.sensor_connected()) {
        QMessageBox box(QMessageBox::Information, APPLICATION_TITLE,
                        "Disconnect first: Find asks the device on its own.", QMessageBox::Ok, this);
        host.show_modal(box);
        return;
    }
    const TSensorConnection base = Selection();
    QProgressDialog dialog("Finding the sensor", "Cancel", 0, 256, window());
    PrepareProgressDialog(dialog, "ProgressDialog_Find");
    host.show_progress(dialog);
    QApplication::processEvents();
    const TScanResult result =
        Scan(base, [&dialog](uint32_t baud, uint8_t address, unsigned done, unsigned total) {
            dialog.setMaximum(int(total));
            dialog.setValue(int(done));
            dialog.setLabelText(QString("Finding the sensor: %1 bit/s, address %2 (%3 of %4)")
                                    .arg(baud)
                                    .arg(address)
                                    .arg(done)
                                    .arg(total));
            QApplication::processEvents();
            return !dialog.wasCanceled();
        });
    dialog.close();
    QString text;
    if (result.open_result)
        text = QString("%1 could not be opened: %2")
                   .arg(QString::fromStdString(base.name), ResultMessage(result.open_result));
    else if (result.hits.empty())
        text = result.stopped ? "Find was cancelled; no sensor answered so far."
                              : "No sensor answered at any bit rate and address.";
    else {
        const TScanHit& hit = result.hits.front();
        ComboBox_Connect_Baud->setCurrentText(QString::number(hit.baud));
        ComboBox_Connect_NetAddress->setCurrentIndex(hit.address);
        const uint32_t serial =
            hit.identity[IDENTITY_SERIAL_LO] + (uint32_t(hit.identity[IDENTITY_SERIAL_HI]) << 16);
        text =
            QString("Found the sensor %1 (serial number %2) at %3 bit/s, address %4: Connect uses them now.")
                .arg(hit.identity[IDENTITY_DEVICE_TYPE])
                .arg(serial)
                .arg(hit.baud)
                .arg(hit.address);
    }
    QMessageBox box(result.hits.empty() ? QMessageBox::Warning : QMessageBox::Information, APPLICATION_TITLE,
                    text, QMessageBox::Ok, this);
    host.show_modal(box);
}

} // namespace zq455

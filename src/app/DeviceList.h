#pragma once
// A device list for a USB adapter of one description: the default entry (the first device
// with that description, as the tool always opened it), every tty sysfs knows for that
// description with its FTDI serial number, the virtual device of --simulate, and any serial
// port path typed in. sysfs is read again each time the list opens, so a device plugged in
// since shows up.

#include <QComboBox>
#include <string>

namespace zq455 {

class TDeviceList : public QComboBox {
public:
    // `description` is the adapter's USB product string; `default_entry` the caption of the
    // first-device entry.
    TDeviceList(QWidget* parent, std::string description, QString default_entry);

    void Refresh();
    // The choice as a link opens it: the USB mode and the description for the default entry,
    // the COM mode and the tty (or the typed path) otherwise.
    struct TChoice {
        uint8_t mode = 0;
        std::string name;
    };
    TChoice Choice() const;
    // Adds `path` as a typed entry and selects it.
    void SelectPath(const QString& path);
    // The ttys of every adapter with this description, the virtual ones first.
    static std::vector<std::string> Paths(const std::string& description);
    void showPopup() override;

private:
    std::string description;
    QString default_entry;
};

} // namespace zq455

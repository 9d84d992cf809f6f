#include "DeviceList.h"

#include "link/Interface.h"
#include "link/UsbDirectory.h"

#include <QAbstractItemView>

namespace zq455 {
namespace {
// Item data of a path the user typed (a listed tty carries its path).
const QString TYPED = "typed";
} // namespace

TDeviceList::TDeviceList(QWidget* parent, std::string description_value, QString default_caption)
    : QComboBox(parent), description(std::move(description_value)),
      default_entry(std::move(default_caption)) {
    setEditable(true);
    setInsertPolicy(QComboBox::InsertAtBottom);
    view()->setMinimumWidth(280); // tty and serial number in full
    Refresh();
}

void TDeviceList::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

void TDeviceList::Refresh() {
    const QString current = currentText();
    QStringList typed;
    for (int i = 0; i < count(); ++i)
        if (itemData(i).toString() == TYPED)
            typed << itemText(i);
    clear();
    addItem(default_entry, QString());
    for (const TUsbTty& tty :
         TUsbDeviceDirectory::ListUsbTtys(TUsbDeviceDirectory::SysfsRoot(), TUsbDeviceDirectory::DevRoot()))
        if (tty.product == description)
            addItem(QString::fromStdString(tty.tty + "  " + (tty.serial.empty() ? "-" : tty.serial)),
                    QString::fromStdString(tty.tty));
    // The virtual devices of --simulate, by the pseudo-terminals they serve.
    for (const auto& [registered, path] : TUsbDeviceDirectory::ListRegistered())
        if (registered == description)
            addItem(QString::fromStdString(path + "  virtual"), QString::fromStdString(path));
    for (const QString& path : typed)
        addItem(path, TYPED);
    const int keep = findText(current);
    setCurrentIndex(keep >= 0 ? keep : 0);
    if (keep < 0 && !current.isEmpty() && current != default_entry)
        setEditText(current);
}

TDeviceList::TChoice TDeviceList::Choice() const {
    TChoice choice;
    const QString text = currentText().trimmed();
    const int index = findText(text);
    const QString data = index >= 0 ? itemData(index).toString() : QString();
    if (text.isEmpty() || text == default_entry) {
        choice.mode = LINK_MODE_USB;
        choice.name = description;
    } else {
        choice.mode = LINK_MODE_COM;
        choice.name = (data.isEmpty() || data == TYPED ? text : data).toStdString();
    }
    return choice;
}

void TDeviceList::SelectPath(const QString& path) {
    int index = findText(path);
    if (index < 0) {
        addItem(path, TYPED);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

std::vector<std::string> TDeviceList::Paths(const std::string& description) {
    std::vector<std::string> paths;
    for (const auto& [registered, path] : TUsbDeviceDirectory::ListRegistered())
        if (registered == description)
            paths.push_back(path);
    for (const TUsbTty& tty :
         TUsbDeviceDirectory::ListUsbTtys(TUsbDeviceDirectory::SysfsRoot(), TUsbDeviceDirectory::DevRoot()))
        if (tty.product == description)
            paths.push_back(tty.tty);
    return paths;
}

} // namespace zq455

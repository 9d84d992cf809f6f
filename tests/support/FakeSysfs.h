#pragma once
// A sysfs tree as the kernel lays it out for USB serial adapters, in a folder of the test's own:
// ttyUSB0 the sensor's adapter, ttyUSB1 the motor driver's (FTDI serial numbers "FTttyUSB0",
// "FTttyUSB1"), a platform serial port and a tty without a device.

#include "link/UsbDirectory.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zq455::test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A sysfs tree as the kernel lays it out for two FTDI adapters, a platform serial port and a
// tty without a device; Use() points the device directory at it until the tree goes.
class TFakeSysfsTree {
public:
    TFakeSysfsTree() {
        root = folder.Dir();
        AddUsbTty("ttyUSB0", "1-1", "D2XX Recovery PID for XP");
        AddUsbTty("ttyUSB1", "1-2", "VELMOR MOTOR DRIVER INTERFACE");
        fs::create_directories(root / "devices/platform/serial8250/tty/ttyS0");
        fs::create_directories(root / "class/tty/ttyS0");
        fs::create_directory_symlink(root / "devices/platform/serial8250/tty/ttyS0",
                                     root / "class/tty/ttyS0/device");
        fs::create_directories(root / "class/tty/tty1");
        fs::create_directories(root / "dev");
    }
    ~TFakeSysfsTree() { TUsbDeviceDirectory::SetSysfsRoot("/sys", "/dev"); }
    void AddUsbTty(const std::string& name, const std::string& port, const std::string& product) {
        const fs::path usb = root / "devices/pci0000:00/usb1" / port;
        WriteFile(usb / "idVendor", "0403\n");
        WriteFile(usb / "product", product + "\n");
        WriteFile(usb / "serial", "FT" + name + "\n");
        const fs::path iface = usb / (port + ":1.0") / name;
        WriteFile(iface / "latency_timer", "16\n");
        fs::create_directories(root / "class/tty" / name);
        fs::create_directory_symlink(iface, root / "class/tty" / name / "device");
    }
    // The adapter's device node, standing for the pseudo-terminal at `target`.
    std::string Plug(const std::string& name, const std::string& target) {
        fs::create_symlink(target, root / "dev" / name);
        return (root / "dev" / name).string();
    }
    void Use() { TUsbDeviceDirectory::SetSysfsRoot(root.string(), (root / "dev").string()); }

    const TTempFolder folder{"sysfs"};
    fs::path root;
};

class FakeSysfs : public ::testing::Test, public TFakeSysfsTree {};

} // namespace zq455::test

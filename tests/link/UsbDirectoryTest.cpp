#include "link/UsbDirectory.h"
#include "link/Interface.h"
#include "link/PseudoTerminal.h"
#include "link/ResultCodes.h"
#include "support/BytePeer.h"
#include "support/FakeSysfs.h"
#include "support/FtdiDouble.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace zq455;
using zq455::test::FakeSysfs;

namespace {} // namespace

TEST_F(FakeSysfs, FindsTheTtyWhoseUsbDeviceReportsTheProduct) {
    const std::string dev = (root / "dev").string();
    auto sensor = TUsbDeviceDirectory::FindTtyByProduct("D2XX Recovery PID for XP", root.string(), dev);
    ASSERT_EQ(sensor.size(), 1u);
    EXPECT_EQ(sensor[0], dev + "/ttyUSB0");
    auto motor = TUsbDeviceDirectory::FindTtyByProduct("VELMOR MOTOR DRIVER INTERFACE", root.string(), dev);
    ASSERT_EQ(motor.size(), 1u);
    EXPECT_EQ(motor[0], dev + "/ttyUSB1");
    EXPECT_TRUE(TUsbDeviceDirectory::FindTtyByProduct("D2XX Recovery", root.string(), dev).empty());
    EXPECT_TRUE(TUsbDeviceDirectory::FindTtyByProduct("", root.string(), dev).empty());
    EXPECT_TRUE(
        TUsbDeviceDirectory::FindTtyByProduct("D2XX Recovery PID for XP", (root / "nowhere").string(), dev)
            .empty());
}

TEST_F(FakeSysfs, UsbModeOpensTheTtyFoundInSysfsAndLowersItsLatencyTimer) {
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    fs::create_symlink(pty.SlavePath(), root / "dev/ttyUSB0");
    TUsbDeviceDirectory::SetSysfsRoot(root.string(), (root / "dev").string());

    TInterface link;
    TLinkSettings settings;
    settings.mode = LINK_MODE_USB;
    settings.name = "D2XX Recovery PID for XP";
    settings.baud = 921600;
    settings.read_interval_ms = 10;
    settings.read_total_ms = 100;
    ASSERT_EQ(link.Open(settings), 0u);
    EXPECT_EQ(link.DevicePath(), (root / "dev/ttyUSB0").string());
    EXPECT_EQ(link.settings.usb_flags & 2u, 2u);
    std::ifstream latency(root / "class/tty/ttyUSB0/device/latency_timer");
    int value = 0;
    latency >> value;
    EXPECT_EQ(value, 1);
    EXPECT_EQ(pty.SlaveBaud(), 921600u);
}

namespace {

TLinkSettings SensorUsbSettings() {
    TLinkSettings settings;
    settings.mode = LINK_MODE_USB;
    settings.name = "D2XX Recovery PID for XP";
    settings.baud = 921600;
    settings.read_interval_ms = 10;
    settings.read_total_ms = 100;
    return settings;
}

} // namespace

// A glitch on the bus: the sensor goes away and comes back as ttyUSB2. The next Connect finds
// it there, without the program being started again.
TEST_F(FakeSysfs, AfterReenumerationTheNextOpenFindsTheNewTty) {
    zq455::test::TBytePeer before, after;
    fs::create_symlink(before.Path(), root / "dev/ttyUSB0");
    TUsbDeviceDirectory::SetSysfsRoot(root.string(), (root / "dev").string());
    TInterface link;
    ASSERT_EQ(link.Open(SensorUsbSettings()), RESULT_OK) << link.Reason();
    EXPECT_EQ(link.DevicePath(), (root / "dev/ttyUSB0").string());
    before.Pty().CloseMaster();
    std::vector<uint8_t> data(1);
    TIoBuffer io{data.data(), 1, nullptr};
    EXPECT_EQ(link.Read(io), RESULT_READ_ERROR);

    fs::remove_all(root / "class/tty/ttyUSB0");
    fs::remove(root / "dev/ttyUSB0");
    fs::remove_all(root / "devices/pci0000:00/usb1/1-1");
    AddUsbTty("ttyUSB2", "1-3", "D2XX Recovery PID for XP");
    fs::create_symlink(after.Path(), root / "dev/ttyUSB2");
    ASSERT_EQ(link.Open(SensorUsbSettings()), RESULT_OK) << link.Reason();
    EXPECT_EQ(link.DevicePath(), (root / "dev/ttyUSB2").string());
    after.SendAfter(1, {0x5A});
    uint8_t request = 0;
    EXPECT_EQ(link.Write({&request, 1, nullptr}), RESULT_OK);
    EXPECT_EQ(link.Read(io), RESULT_OK);
    EXPECT_EQ(data[0], 0x5A);
}

// The sensor's tty is held by another program: the link says so, and does not go round the
// tty to take the chip from the kernel's driver through libftdi1.
TEST_F(FakeSysfs, ATtyInUseIsNotTakenFromItsHolderThroughTheUsbBus) {
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    fs::create_symlink(pty.SlavePath(), root / "dev/ttyUSB0");
    TUsbDeviceDirectory::SetSysfsRoot(root.string(), (root / "dev").string());
    zq455::test::TFtdiDouble ftdi;
    zq455::test::TFtdiDevicePlan plan;
    plan.product = "D2XX Recovery PID for XP";
    plan.kernel_driver = true;
    const int chip = ftdi.AddDevice(plan);

    TInterface holder, link;
    ASSERT_EQ(holder.Open(SensorUsbSettings()), RESULT_OK);
    EXPECT_EQ(link.Open(SensorUsbSettings()), RESULT_PORT_NOT_OPENED);
    EXPECT_EQ(link.Reason(), (root / "dev/ttyUSB0").string() + " is in use by another program.");
    EXPECT_FALSE(ftdi.IsOpen(chip));
    EXPECT_FALSE(ftdi.KernelDriverDetached(chip));
}

TEST(UsbDirectory, RegisteredDevicesComeFirstAndCanBeRemoved) {
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    TUsbDeviceDirectory::Register("TEST DEVICE", pty.SlavePath());
    TInterface link;
    TLinkSettings settings;
    settings.mode = LINK_MODE_USB;
    settings.name = "TEST DEVICE";
    settings.baud = 230400;
    EXPECT_EQ(link.Open(settings), 0u);
    EXPECT_EQ(link.DevicePath(), pty.SlavePath());
    EXPECT_EQ(pty.SlaveBaud(), 230400u);
    link.Close();

    TUsbDeviceDirectory::Unregister("TEST DEVICE");
    EXPECT_FALSE(TUsbDeviceDirectory::FindRegistered("TEST DEVICE"));
    EXPECT_EQ(link.Open(settings), 2u);
    EXPECT_FALSE(link.IsOpen());
}

TEST(UsbDirectory, ADeviceStartedAnewKeepsItsEntryWhenTheOldOneGoes) {
    TUsbDeviceDirectory::Register("RESTARTED DEVICE", "/dev/pts/old");
    TUsbDeviceDirectory::Register("RESTARTED DEVICE", "/dev/pts/new");
    TUsbDeviceDirectory::Unregister("RESTARTED DEVICE", "/dev/pts/old");
    EXPECT_EQ(TUsbDeviceDirectory::FindRegistered("RESTARTED DEVICE"), "/dev/pts/new");
    TUsbDeviceDirectory::Unregister("RESTARTED DEVICE", "/dev/pts/new");
    EXPECT_FALSE(TUsbDeviceDirectory::FindRegistered("RESTARTED DEVICE"));
}

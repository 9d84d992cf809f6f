#pragma once
// The USB device directory: where mode 1 of the port link looks a description string up.
// It holds the one piece of process-wide state below the window: the devices registered in
// this process (the virtual sensor and stage register the slave path of their
// pseudo-terminal), the sysfs root that the tty lookup reads (tests point it at a fake
// tree) and the libftdi1 calls of the USB bus lookup (tests put a model of the chip there).

#include <optional>

#include <string>
#include <utility>
#include <vector>

namespace zq455 {

struct TFtdiCalls;

// A tty of a USB serial device, as sysfs describes it.
struct TUsbTty {
    std::string tty;     // <dev_root>/<name>
    std::string product; // the USB device's product string
    std::string serial;  // its serial number (the FTDI chip's), "" when it has none
};

class TUsbDeviceDirectory {
public:
    static void Register(const std::string& description, const std::string& tty_path);
    static void Unregister(const std::string& description);
    // Takes the entry out only while it still names `tty_path`: a device replaced under the same
    // description (a virtual device started anew) keeps its entry when the old one goes.
    static void Unregister(const std::string& description, const std::string& tty_path);
    static std::optional<std::string> FindRegistered(const std::string& description);

    // tty device paths whose USB device reports `description` as its product string:
    // <sysfs>/class/tty/<name>/device, then up through its parents to the directory that holds
    // `product`. The paths are <dev_root>/<name>.
    static std::vector<std::string> FindTtyByProduct(const std::string& description,
                                                     const std::string& sysfs_root,
                                                     const std::string& dev_root);
    static std::vector<std::string> FindTtyByProduct(const std::string& description);
    // Every tty of a USB device under <sysfs>/class/tty, sorted by path.
    static std::vector<TUsbTty> ListUsbTtys(const std::string& sysfs_root, const std::string& dev_root);
    // The devices registered in this process: description and tty path.
    static std::vector<std::pair<std::string, std::string>> ListRegistered();

    static void SetSysfsRoot(const std::string& sysfs_root, const std::string& dev_root = "/dev");
    static std::string SysfsRoot();
    static std::string DevRoot();

    // The libftdi1 calls the link makes; null puts the real library back.
    static void SetFtdiCalls(const TFtdiCalls* calls);
    static const TFtdiCalls& FtdiCalls();

    // The FTDI latency timer file of a tty, if its driver has one.
    static std::string LatencyTimerPath(const std::string& tty_path);
};

} // namespace zq455

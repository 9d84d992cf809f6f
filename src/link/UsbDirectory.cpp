#include "UsbDirectory.h"

#include "FtdiCalls.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace zq455 {
namespace {

struct TDirectoryState {
    std::mutex lock;
    std::map<std::string, std::string> registered;
    std::string sysfs_root = "/sys";
    std::string dev_root = "/dev";
    const TFtdiCalls* ftdi_calls = nullptr;
};

TDirectoryState& State() {
    static TDirectoryState state;
    return state;
}

std::string ReadFirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

} // namespace

void TUsbDeviceDirectory::Register(const std::string& description, const std::string& tty_path) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().registered[description] = tty_path;
}

void TUsbDeviceDirectory::Unregister(const std::string& description) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().registered.erase(description);
}

void TUsbDeviceDirectory::Unregister(const std::string& description, const std::string& tty_path) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().registered.find(description);
    if (it != State().registered.end() && it->second == tty_path)
        State().registered.erase(it);
}

std::optional<std::string> TUsbDeviceDirectory::FindRegistered(const std::string& description) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().registered.find(description);
    if (it == State().registered.end())
        return std::nullopt;
    return it->second;
}

std::vector<TUsbTty> TUsbDeviceDirectory::ListUsbTtys(const std::string& sysfs_root,
                                                      const std::string& dev_root) {
    namespace fs = std::filesystem;
    std::vector<TUsbTty> found;
    std::error_code ec;
    const fs::path tty_class = fs::path(sysfs_root) / "class" / "tty";
    const fs::path root = fs::weakly_canonical(fs::path(sysfs_root), ec);
    for (fs::directory_iterator it(tty_class, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        fs::path device = fs::canonical(it->path() / "device", ec);
        if (ec) {
            ec.clear();
            continue;
        }
        // Walk up from the interface to the USB device, which carries idVendor and product.
        for (fs::path dir = device; !dir.empty() && dir != root && dir != dir.root_path();
             dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "product", ec)) {
                found.push_back({(fs::path(dev_root) / name).string(), ReadFirstLine(dir / "product"),
                                 fs::exists(dir / "serial", ec) ? ReadFirstLine(dir / "serial") : ""});
                break;
            }
        }
        ec.clear();
    }
    std::sort(found.begin(), found.end(), [](const TUsbTty& a, const TUsbTty& b) { return a.tty < b.tty; });
    return found;
}

std::vector<std::string> TUsbDeviceDirectory::FindTtyByProduct(const std::string& description,
                                                               const std::string& sysfs_root,
                                                               const std::string& dev_root) {
    std::vector<std::string> found;
    for (const TUsbTty& tty : ListUsbTtys(sysfs_root, dev_root))
        if (tty.product == description)
            found.push_back(tty.tty);
    return found;
}

std::vector<std::pair<std::string, std::string>> TUsbDeviceDirectory::ListRegistered() {
    std::lock_guard<std::mutex> guard(State().lock);
    return {State().registered.begin(), State().registered.end()};
}

std::vector<std::string> TUsbDeviceDirectory::FindTtyByProduct(const std::string& description) {
    return FindTtyByProduct(description, SysfsRoot(), DevRoot());
}

void TUsbDeviceDirectory::SetSysfsRoot(const std::string& sysfs_root, const std::string& dev_root) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().sysfs_root = sysfs_root;
    State().dev_root = dev_root;
}

std::string TUsbDeviceDirectory::SysfsRoot() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().sysfs_root;
}

std::string TUsbDeviceDirectory::DevRoot() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().dev_root;
}

void TUsbDeviceDirectory::SetFtdiCalls(const TFtdiCalls* calls) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().ftdi_calls = calls;
}

const TFtdiCalls& TUsbDeviceDirectory::FtdiCalls() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().ftdi_calls ? *State().ftdi_calls : RealFtdiCalls();
}

std::string TUsbDeviceDirectory::LatencyTimerPath(const std::string& tty_path) {
    namespace fs = std::filesystem;
    const std::string name = fs::path(tty_path).filename().string();
    return (fs::path(SysfsRoot()) / "class" / "tty" / name / "device" / "latency_timer").string();
}

} // namespace zq455

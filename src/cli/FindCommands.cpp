// zq455 list: the serial devices a sensor or a motor driver may be on. zq455 scan: a sensor
// whose bit rate or address was forgotten, found by asking every pair for its identity.

#include "Cli.h"

#include "link/UsbDirectory.h"
#include "sensor/SensorScan.h"

#include <sstream>

namespace zq455::cli {
namespace {

constexpr const char* SCAN_SYNOPSIS = "scan [--rates R,...] [--addresses A-B] [--all]";
constexpr int EXIT_NOTHING_FOUND = 1;

const char* KindOf(const std::string& product) {
    if (product == SENSOR_USB_DESCRIPTION)
        return "sensor";
    if (product == MOTOR_USB_DESCRIPTION)
        return "motor";
    return "serial";
}

int List(TCliSession& session, const std::vector<std::string>& args) {
    if (!args.empty())
        return session.Usage("list");
    for (const TUsbTty& tty :
         TUsbDeviceDirectory::ListUsbTtys(TUsbDeviceDirectory::SysfsRoot(), TUsbDeviceDirectory::DevRoot()))
        session.Out() << KindOf(tty.product) << "  " << tty.tty << "  "
                      << (tty.serial.empty() ? "-" : tty.serial) << "  " << tty.product << "\n";
    for (const auto& [description, path] : TUsbDeviceDirectory::ListRegistered())
        session.Out() << KindOf(description) << "  " << path << "  -  " << description << " (virtual)\n";
    return 0;
}

// "19200,9600": each one of the eight rates.
bool ParseRates(const std::string& text, std::vector<uint32_t>& rates) {
    rates.clear();
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        uint32_t baud = 0;
        uint8_t code = 0;
        if (!ParseDecimal(item, UINT32_MAX, baud) || !CodeOfBaud(baud, code))
            return false;
        rates.push_back(baud);
    }
    return !rates.empty();
}

// "0-31" or "5".
bool ParseAddresses(const std::string& text, std::vector<uint8_t>& addresses) {
    const size_t dash = text.find('-');
    uint32_t first = 0, last = 0;
    if (!ParseDecimal(text.substr(0, dash), 31, first))
        return false;
    last = first;
    if (dash != std::string::npos && !ParseDecimal(text.substr(dash + 1), 31, last))
        return false;
    if (last < first)
        return false;
    addresses.clear();
    for (uint32_t a = first; a <= last; ++a)
        addresses.push_back(uint8_t(a));
    return true;
}

int Scan(TCliSession& session, const std::vector<std::string>& args) {
    std::vector<uint32_t> rates;
    for (const TBaudCode& b : BAUD_CODES)
        rates.push_back(b.baud);
    std::vector<uint8_t> addresses;
    ParseAddresses("0-31", addresses);
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--all") {
            all = true;
            continue;
        }
        if (i + 1 >= args.size())
            return session.Usage(SCAN_SYNOPSIS);
        const std::string& value = args[++i];
        if (!(args[i - 1] == "--rates"       ? ParseRates(value, rates)
              : args[i - 1] == "--addresses" ? ParseAddresses(value, addresses)
                                             : false))
            return session.Usage(SCAN_SYNOPSIS);
    }
    TSensorConnection base;
    base.mode = session.Options().mode;
    base.name = session.Options().device;
    uint32_t current = 0;
    const TScanResult result = ScanForSensor(
        base, rates, addresses, !all, [&](uint32_t baud, uint8_t, unsigned done, unsigned total) {
            if (baud != current) {
                current = baud;
                session.Out() << "trying " << baud << " bit/s (" << done - 1 << " of " << total
                              << " tried)\n";
            }
            return true;
        });
    if (result.open_result)
        return session.Fail(result.open_result);
    for (const TScanHit& hit : result.hits) {
        const uint32_t serial =
            hit.identity[IDENTITY_SERIAL_LO] + (uint32_t(hit.identity[IDENTITY_SERIAL_HI]) << 16);
        session.Out() << "found: " << hit.baud << " bit/s, address " << int(hit.address) << ": device type "
                      << hit.identity[IDENTITY_DEVICE_TYPE] << ", modification "
                      << hit.identity[IDENTITY_DEVICE_MODIFICATION] << ", serial number " << serial << "\n";
    }
    if (result.hits.empty()) {
        session.Err() << "No sensor answered at " << rates.size() << " bit rates and " << addresses.size()
                      << " addresses.\n";
        return EXIT_NOTHING_FOUND;
    }
    return 0;
}

} // namespace

TCliCommand ListCommand() {
    return {"list",
            {"list                          one line per serial device: kind (sensor, motor, serial),",
             "                              tty, FTDI serial number, USB product string"},
            List};
}

TCliCommand ScanCommand() {
    return {"scan",
            {std::string(SCAN_SYNOPSIS),
             "                              finds a sensor whose bit rate or address is not known: every",
             "                              rate (921600 first, then fast to slow) and address (default",
             "                              0-31) asked for the identity; stops at the first that answers",
             "                              (--all: tries every pair); exit 1 when none answered"},
            Scan};
}

} // namespace zq455::cli

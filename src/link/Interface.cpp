#include "Interface.h"

#include "FtdiCalls.h"
#include "ResultCodes.h"
#include "UsbDirectory.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zq455 {
namespace {

using TClock = std::chrono::steady_clock;

// Attribute bit that makes the USB open match the device by its description string.
constexpr uint32_t USB_OPEN_BY_DESCRIPTION = 2;
// COM mode joins up to three read calls for one counted read; USB mode makes one.
constexpr int COM_READ_CALLS = 3;

struct TSpeedEntry {
    uint32_t baud;
    speed_t speed;
};

constexpr TSpeedEntry SPEEDS[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
    {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

int MillisecondsUntil(TClock::time_point limit) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(limit - TClock::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>((left + 999) / 1000);
}

// Ten bits a byte on the wire; used to bound writes that the peer never drains.
uint32_t WireMilliseconds(uint32_t bytes, uint32_t baud) {
    if (baud == 0)
        baud = 9600;
    return static_cast<uint32_t>((static_cast<uint64_t>(bytes) * 10 * 1000 + baud - 1) / baud);
}

// A write may take twice its wire time plus a second before it counts as not finished.
std::chrono::milliseconds WriteBound(uint32_t bytes, uint32_t baud) {
    return std::chrono::milliseconds(1000 + 2 * static_cast<uint64_t>(WireMilliseconds(bytes, baud)));
}

// Control requests to the chip (purge, bit rate, latency timer) use libftdi1's write time-out.
constexpr int FTDI_CONTROL_TIMEOUT_MS = 1000;
// What libftdi1's calls return when libusb has lost the device (LIBUSB_ERROR_NO_DEVICE), and
// what they return when the context holds no device at all.
constexpr int FTDI_NO_DEVICE = LIBUSB_ERROR_NO_DEVICE;
constexpr int FTDI_NO_CONTEXT_DEVICE = -666;

std::string GroupOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "";
    group entry{}, *found = nullptr;
    char buffer[1024];
    if (getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::to_string(st.st_gid);
    return found->gr_name;
}

// The operator's line for a tty that could not be opened.
std::string TtyReason(const std::string& path, int error) {
    switch (error) {
    case ENOENT:
        return path + " does not exist.";
    case EACCES:
    case EPERM: {
        const std::string group = GroupOf(path);
        if (group.empty())
            return "Permission denied on " + path + ".";
        return "Permission denied on " + path + " (group " + group + "): add your user to group " + group +
               " (sudo usermod -aG " + group + " $USER, then log in again).";
    }
    case EBUSY:
    case EWOULDBLOCK:
        return path + " is in use by another program.";
    case ENODEV:
    case ENXIO:
    case EIO:
        return path + " was unplugged.";
    case ENOTTY:
        return path + " is not a serial port.";
    default:
        return path + ": " + std::strerror(error) + ".";
    }
}

std::string UsbNode(const TFtdiCalls& calls, libusb_device* device) {
    char name[32];
    std::snprintf(name, sizeof name, "/bus/usb/%03u/%03u", calls.get_bus_number(device),
                  calls.get_device_address(device));
    return TUsbDeviceDirectory::DevRoot() + name;
}

// Whether a failed libusb_open (inside libftdi1) was refused for want of permission: the
// errno it leaves, or the device node itself.
bool UsbAccessDenied(const std::string& node, int error) {
    if (error == EACCES || error == EPERM)
        return true;
    return ::access(node.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

std::string UsbPermissionReason(const std::string& node) {
    return "Permission denied on USB device " + node +
           ": install the udev rule from the README (/etc/udev/rules.d/60-zq455.rules, group plugdev) "
           "and add your user to group plugdev.";
}

// ftdi_read_data asks for a whole chunk (4096 bytes, 64 packets of 64) in one bulk transfer,
// which ends on a short packet or a full chunk. The chip sends a packet when it holds 62
// bytes, or whatever it holds when its latency timer runs out, so a transfer lasts at most
// packets x min(62 byte times, latency) + latency. libftdi1 1.5 drops what a transfer that
// times out has received; its time-out is twice that longest transfer, with room for the host.
int UsbReadTimeoutMs(uint32_t baud, unsigned latency_ms, unsigned chunk, unsigned packet) {
    if (packet <= 2)
        packet = 64;
    if (baud == 0)
        baud = 9600;
    const double packets = std::max(1u, chunk / packet);
    const double fill_ms = (packet - 2) * 10.0 * 1000.0 / baud;
    const double longest = packets * std::min(fill_ms, static_cast<double>(latency_ms)) + latency_ms;
    return static_cast<int>(2 * longest) + 50;
}

} // namespace

speed_t BaudToSpeed(uint32_t baud) {
    for (const auto& entry : SPEEDS)
        if (entry.baud == baud)
            return entry.speed;
    return 0;
}

uint32_t SpeedToBaud(speed_t speed) {
    for (const auto& entry : SPEEDS)
        if (entry.speed == speed)
            return entry.baud;
    return 0;
}

TInterface::TInterface() = default;

TInterface::~TInterface() {
    if (opened)
        Close();
}

uint32_t TInterface::Open(const TLinkSettings& link_settings) {
    if (opened)
        Close();
    unplugged = false;
    settings = link_settings;

    reason.clear();

    bool ok = false;
    if (settings.mode == LINK_MODE_COM) {
        if (const int error = OpenTty(settings.name))
            reason = TtyReason(settings.name, error);
        else
            ok = true;
    } else if (settings.mode == LINK_MODE_USB) {
        settings.usb_flags |= USB_OPEN_BY_DESCRIPTION;
        ok = OpenUsb(settings.name);
    } else {
        // Any other mode opens nothing: the link stays closed and says so.
        reason = "Unknown link mode " + std::to_string(settings.mode) + ".";
    }
    if (!ok) {
        handle = -1;
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }

    timeouts.read_interval_ms = settings.read_interval_ms;
    timeouts.read_total_multiplier_ms =
        settings.read_per_byte_ms >= 0 ? uint32_t(settings.read_per_byte_ms) : settings.read_interval_ms;
    timeouts.read_total_constant_ms = settings.read_total_ms;
    ApplyLineSettings();

    // The queues are emptied once when the device is opened. On a tty only the receive
    // queue: a transmit flush on a pseudo-terminal would discard what an earlier user of the
    // port wrote and the peer has not read yet (a Load, which has no reply), and on a real
    // tty the earlier writes have drained.
    if (handle >= 0)
        tcflush(handle, TCIFLUSH);
    else if (ftdi)
        ftdi_calls->tcioflush(ftdi);

    opened = true;
    status = RESULT_OK;
    return status;
}

// Opens a tty for this program alone; 0, or the errno that says why not.
int TInterface::OpenTty(const std::string& path) {
    if (path.empty())
        return ENOENT;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (!isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    // Two programs on one device would interleave their packets. TIOCEXCL turns away every
    // later open but root's; the lock turns away every other program of ours, root or not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    ioctl(fd, TIOCEXCL);
    handle = fd;
    device_path = path;

    // FTDI adapters deliver received bytes in bursts of their latency timer (16 ms by
    // default), which would break a reply at the 10 ms inter-byte gap; ask for 1 ms. A
    // pseudo-terminal has neither knob, so failures are ignored.
    std::ofstream latency(TUsbDeviceDirectory::LatencyTimerPath(path));
    if (latency)
        latency << "1\n";
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    return 0;
}

// A description is looked up among the devices of this process, then among the ttys of the
// kernel's drivers, then on the USB bus. A tty that exists but cannot be opened ends the
// search: the same chip on the bus belongs to that tty's driver, and perhaps to whoever holds it.
bool TInterface::OpenUsb(const std::string& description) {
    if (auto path = TUsbDeviceDirectory::FindRegistered(description)) {
        const int error = OpenTty(*path);
        if (error == 0)
            return true;
        reason = TtyReason(*path, error);
        if (error != ENOENT && error != ENODEV && error != ENXIO)
            return false;
    }
    const auto ttys = TUsbDeviceDirectory::FindTtyByProduct(description);
    int first_error = 0;
    for (const auto& path : ttys) {
        const int error = OpenTty(path);
        if (error == 0)
            return true;
        if (first_error == 0) {
            first_error = error;
            reason = TtyReason(path, error);
        }
    }
    if (first_error != 0)
        return false;
    return OpenFtdi(description);
}

bool TInterface::OpenFtdi(const std::string& description) {
    const TFtdiCalls& calls = TUsbDeviceDirectory::FtdiCalls();
    ftdi_context* context = calls.new_context();
    if (!context) {
        reason = "libusb could not be started; no USB device can be reached.";
        return false;
    }
    // Never take the chip from the kernel's FTDI driver: its tty may be open elsewhere.
    context->module_detach_mode = DONT_DETACH_SIO_MODULE;
    libusb_device** list = nullptr;
    bool ok = false;
    std::string denied, busy, gone;
    const ssize_t count = calls.get_device_list(context->usb_ctx, &list);
    for (ssize_t i = 0; i < count && !ok; ++i) {
        libusb_device_descriptor descriptor{};
        if (calls.get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != 0x0403)
            continue;
        const std::string node = UsbNode(calls, list[i]);
        char product[128] = {0};
        errno = 0;
        if (calls.usb_get_strings2(context, list[i], nullptr, 0, product, sizeof product, nullptr, 0) < 0) {
            // The product string is read from the device itself: one we may not open could be ours.
            if (denied.empty() && UsbAccessDenied(node, errno))
                denied = node;
            continue;
        }
        if (description != product)
            continue;
        errno = 0;
        const int result = calls.usb_open_dev(context, list[i]);
        const int error = errno;
        ok = result == 0;
        if (ok)
            break;
        if (result == -4 && UsbAccessDenied(node, error))
            denied = node;
        else if (result == -4 && error == ENODEV)
            gone = node;
        else
            busy = node;
    }
    if (list)
        calls.free_device_list(list, 1);
    if (!ok) {
        calls.free_context(context);
        if (!busy.empty())
            reason = "USB device " + busy + " (\"" + description +
                     "\") is in use by another program or by the kernel's FTDI driver.";
        else if (!gone.empty())
            reason = "USB device " + gone + " (\"" + description + "\") was unplugged.";
        else if (!denied.empty())
            reason = UsbPermissionReason(denied);
        else
            reason = "No device \"" + description + "\" on the USB bus or in " +
                     TUsbDeviceDirectory::SysfsRoot() + "/class/tty.";
        return false;
    }
    ftdi = context;
    ftdi_calls = &calls;
    context->usb_write_timeout = FTDI_CONTROL_TIMEOUT_MS;
    calls.set_latency_timer(context, 1);
    unsigned char latency = 0;
    latency_ms = calls.get_latency_timer(context, &latency) == 0 && latency > 0 ? latency : 16;
    device_path.clear();
    return true;
}

void TInterface::SetUsbReadTimeout() {
    if (ftdi)
        ftdi->usb_read_timeout =
            UsbReadTimeoutMs(settings.baud, latency_ms, ftdi->readbuffer_chunksize, ftdi->max_packet_size);
}

void TInterface::ApplyLineSettings() {
    if (handle >= 0) {
        if (tcgetattr(handle, &dcb) != 0)
            return;
        cfmakeraw(&dcb);
        dcb.c_cflag |= CLOCAL | CREAD;
        dcb.c_cflag &= ~(CSIZE | CRTSCTS | HUPCL);
        dcb.c_cflag |= CS8;
        if (settings.parity == 0)
            dcb.c_cflag &= ~(PARENB | PARODD);
        else if (settings.parity == 1)
            dcb.c_cflag |= PARENB | PARODD;
        else if (settings.parity == 2)
            dcb.c_cflag = (dcb.c_cflag | PARENB) & ~PARODD;
        // One and a half stop bits do not exist in termios; they take two, as UARTs do at 8 bits.
        if (settings.stop_bits == 0)
            dcb.c_cflag &= ~CSTOPB;
        else if (settings.stop_bits == 1 || settings.stop_bits == 2)
            dcb.c_cflag |= CSTOPB;
        dcb.c_iflag &= ~(IXON | IXOFF | IXANY);
        dcb.c_cc[VMIN] = 0;
        dcb.c_cc[VTIME] = 0;
        if (speed_t speed = BaudToSpeed(settings.baud)) {
            cfsetispeed(&dcb, speed);
            cfsetospeed(&dcb, speed);
        }
        tcsetattr(handle, TCSANOW, &dcb);
        // DTR and RTS are raised on a serial port and left low on the USB device.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ioctl(handle, settings.mode == LINK_MODE_COM ? TIOCMBIS : TIOCMBIC, &lines);
    } else if (ftdi) {
        ftdi_parity_type parity = settings.parity == 1 ? ODD : settings.parity == 2 ? EVEN : NONE;
        ftdi_stopbits_type stop = settings.stop_bits == 0   ? STOP_BIT_1
                                  : settings.stop_bits == 1 ? STOP_BIT_15
                                                            : STOP_BIT_2;
        ftdi_calls->set_line_property(ftdi, BITS_8, stop, parity);
        ftdi_calls->set_baudrate(ftdi, static_cast<int>(settings.baud));
        ftdi_calls->setflowctrl(ftdi, SIO_DISABLE_FLOW_CTRL);
        ftdi_calls->setdtr_rts(ftdi, 0, 0);
        SetUsbReadTimeout();
    }
}

void TInterface::OpenMemory(const uint8_t* data, size_t size) {
    if (opened)
        Close();
    memory = true;
    memory_data = data;
    memory_size = size;
    memory_position = 0;
    memory_written.clear();
    opened = true;
    status = RESULT_OK;
}

uint32_t TInterface::SetBaudRate(uint32_t baud) {
    if (!opened) {
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }
    settings.baud = baud;
    if (handle >= 0) {
        if (tcgetattr(handle, &dcb) == 0) {
            if (speed_t speed = BaudToSpeed(baud)) {
                cfsetispeed(&dcb, speed);
                cfsetospeed(&dcb, speed);
            }
            tcsetattr(handle, TCSANOW, &dcb);
        }
    } else if (ftdi) {
        ftdi_calls->set_baudrate(ftdi, static_cast<int>(baud));
        SetUsbReadTimeout();
    }
    status = RESULT_OK;
    return status;
}

uint32_t TInterface::Close() {
    // The serial port's break before closing has no use on a tty here (the devices ignore
    // it, and it would hold the line for a quarter of a second), so it is skipped.
    if (opened) {
        if (handle >= 0) {
            // The exclusive mark outlives the descriptor while anyone else holds the tty (the
            // pseudo-terminal pair of the virtual devices does); the lock goes with the close.
            ioctl(handle, TIOCNXCL);
            ::close(handle);
        }
        if (ftdi) {
            ftdi_calls->usb_close(ftdi);
            ftdi_calls->free_context(ftdi);
        }
    }
    handle = -1;
    ftdi = nullptr;
    ftdi_calls = nullptr;
    device_path.clear();
    memory = false;
    memory_data = nullptr;
    memory_size = memory_position = 0;
    opened = false;
    status = RESULT_OK;
    return status;
}

// One timed read call: ends when all bytes are there, when more than the interval passes
// between two bytes after the first, or when interval x length + total have passed.
uint32_t TInterface::ReadCall(uint8_t* data, uint32_t length, uint32_t& received) {
    received = 0;
    const auto start = TClock::now();
    const auto total_limit =
        start + std::chrono::milliseconds(static_cast<uint64_t>(timeouts.read_total_multiplier_ms) * length +
                                          timeouts.read_total_constant_ms);
    auto last_byte = start;
    while (received < length) {
        auto limit = total_limit;
        if (received > 0 && timeouts.read_interval_ms > 0)
            limit = std::min(limit, last_byte + std::chrono::milliseconds(timeouts.read_interval_ms));
        const int wait = MillisecondsUntil(limit);
        pollfd pfd{handle, POLLIN, 0};
        int ready = ::poll(&pfd, 1, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return RESULT_READ_ERROR;
        }
        if (ready == 0) {
            if (TClock::now() >= limit)
                break;
            continue;
        }
        if (pfd.revents & POLLIN) {
            ssize_t n = ::read(handle, data + received, length - received);
            if (n > 0) {
                received += static_cast<uint32_t>(n);
                last_byte = TClock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            reason = device_path + " hung up: the device was unplugged.";
            unplugged = true;
            return RESULT_READ_ERROR;
        }
        // The other end went away (a pulled cable, a closed pseudo-terminal master).
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            reason = device_path + " hung up: the device was unplugged.";
            unplugged = true;
            return RESULT_READ_ERROR;
        }
    }
    return RESULT_OK;
}

uint32_t TInterface::ReadCallFtdi(uint8_t* data, uint32_t length, uint32_t& received) {
    received = 0;
    const auto start = TClock::now();
    const auto total_limit =
        start + std::chrono::milliseconds(static_cast<uint64_t>(timeouts.read_total_multiplier_ms) * length +
                                          timeouts.read_total_constant_ms);
    auto last_byte = start;
    while (received < length) {
        auto limit = total_limit;
        if (received > 0 && timeouts.read_interval_ms > 0)
            limit = std::min(limit, last_byte + std::chrono::milliseconds(timeouts.read_interval_ms));
        if (TClock::now() >= limit)
            break;
        // ftdi_read_data copies what its buffer holds and then makes bulk transfers for the
        // rest; a transfer that fails returns the error and nothing of what was copied. Asking
        // for what the buffer holds, or for one byte when it is empty, makes every call either
        // a copy or a single transfer, so a failure never takes bytes of an earlier one along.
        const uint32_t want = length - received;
        const uint32_t ask = ftdi->readbuffer_remaining > 0 ? std::min(want, ftdi->readbuffer_remaining) : 1;
        int n = ftdi_calls->read_data(ftdi, data + received, static_cast<int>(ask));
        if (n < 0) {
            if (n == FTDI_NO_DEVICE || n == FTDI_NO_CONTEXT_DEVICE)
                reason = "The USB device was unplugged.";
            return RESULT_READ_ERROR;
        }
        if (n > 0) {
            received += static_cast<uint32_t>(n);
            last_byte = TClock::now();
        } else {
            // Only the chip's status bytes: the line is quiet for one latency period.
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    return RESULT_OK;
}

uint32_t TInterface::Read(const TIoBuffer& io) {
    if (!opened) {
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }
    reason.clear();
    if (memory) {
        const size_t left = memory_size - memory_position;
        const size_t take = std::min<size_t>(left, io.length);
        if (take > 0)
            std::memcpy(io.data, memory_data + memory_position, take);
        memory_position += take;
        status = take < io.length ? RESULT_READ_TIMEOUT : RESULT_OK;
        return status;
    }
    uint32_t have = 0;
    const int calls = settings.mode == LINK_MODE_COM ? COM_READ_CALLS : 1;
    for (int call = 0; call < calls && have < io.length; ++call) {
        uint32_t got = 0;
        uint32_t code = ftdi ? ReadCallFtdi(io.data + have, io.length - have, got)
                             : ReadCall(io.data + have, io.length - have, got);
        have += got;
        if (code != RESULT_OK) {
            status = code;
            return status;
        }
    }
    status = have < io.length ? RESULT_READ_TIMEOUT : RESULT_OK;
    return status;
}

uint32_t TInterface::WriteTty(const uint8_t* data, uint32_t length) {
    // Writes are not timed on the device, but a peer that never drains its side would hold
    // the window for ever: give up after twice the wire time plus a second, counted over the
    // whole write, the wait for the bytes to leave included.
    const auto limit = TClock::now() + WriteBound(length, settings.baud);
    uint32_t sent = 0;
    while (sent < length) {
        ssize_t n = ::write(handle, data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (errno == EIO || errno == ENODEV || errno == ENXIO)
                reason = device_path + " hung up: the device was unplugged.";
            unplugged = true;
            return RESULT_WRITE_ERROR;
        }
        const int wait = MillisecondsUntil(limit);
        if (wait == 0)
            return RESULT_WRITE_TIMEOUT;
        pollfd pfd{handle, POLLOUT, 0};
        if (::poll(&pfd, 1, wait) < 0 && errno != EINTR)
            return RESULT_WRITE_ERROR;
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            reason = device_path + " hung up: the device was unplugged.";
            unplugged = true;
            return RESULT_WRITE_ERROR;
        }
    }
    // Wait until the bytes have left (tcdrain has no bound of its own). A write that cannot
    // leave in time is dropped, so that it does not go out in front of the next request.
    for (;;) {
        int queued = 0;
        if (ioctl(handle, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return RESULT_OK;
        if (MillisecondsUntil(limit) == 0) {
            tcflush(handle, TCOFLUSH);
            return RESULT_WRITE_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// ftdi_write_data (libftdi1 1.5) returns -1 for every failed bulk transfer, its own time-out
// included, and forgets what that transfer had sent. The write goes out a chunk at a time,
// each with the time left of the write's bound, so a failure that comes when the bound has run
// out is the time-out (5) and one that comes earlier is a failed call (6).
uint32_t TInterface::WriteFtdi(const uint8_t* data, uint32_t length) {
    const auto limit = TClock::now() + WriteBound(length, settings.baud);
    const uint32_t chunk = ftdi->writebuffer_chunksize > 0 ? ftdi->writebuffer_chunksize : 4096;
    uint32_t sent = 0;
    uint32_t code = RESULT_OK;
    while (sent < length) {
        const int left_ms = MillisecondsUntil(limit);
        if (left_ms == 0) {
            code = RESULT_WRITE_TIMEOUT;
            break;
        }
        ftdi->usb_write_timeout = left_ms;
        const uint32_t piece = std::min(chunk, length - sent);
        const int n = ftdi_calls->write_data(ftdi, data + sent, static_cast<int>(piece));
        if (n < 0) {
            if (n == FTDI_NO_CONTEXT_DEVICE || TClock::now() < limit) {
                code = RESULT_WRITE_ERROR;
                reason = "The USB device did not take the data; it may have been unplugged.";
            } else {
                code = RESULT_WRITE_TIMEOUT;
            }
            break;
        }
        sent += static_cast<uint32_t>(n);
        if (n == 0 && MillisecondsUntil(limit) == 0) {
            code = RESULT_WRITE_TIMEOUT;
            break;
        }
    }
    ftdi->usb_write_timeout = FTDI_CONTROL_TIMEOUT_MS;
    return code;
}

uint32_t TInterface::Write(const TIoBuffer& io) {
    if (!opened) {
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }
    reason.clear();
    // Drop whatever the device sent that nobody read, so it cannot pass for the next reply.
    // Only the receive queue: after the previous write drained there is nothing of ours in
    // the transmit queue, and on a pseudo-terminal a transmit flush would discard bytes the
    // peer has not read yet (the motor's one-byte requests would lose bytes).
    if (memory) {
        memory_written.insert(memory_written.end(), io.data, io.data + io.length);
        status = RESULT_OK;
    } else if (handle >= 0) {
        tcflush(handle, TCIFLUSH);
        status = WriteTty(io.data, io.length);
    } else {
        ftdi_calls->tciflush(ftdi);
        status = WriteFtdi(io.data, io.length);
    }
    return status;
}

} // namespace zq455

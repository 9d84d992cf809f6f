#include "Interface.h"

#include "ResultCodes.h"
#include "UsbDirectory.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <libftdi1/ftdi.h>
#include <libusb-1.0/libusb.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
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
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
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
    settings = link_settings;

    bool ok = false;
    if (settings.mode == LINK_MODE_COM) {
        ok = OpenTty(settings.name);
    } else if (settings.mode == LINK_MODE_USB) {
        settings.usb_flags |= USB_OPEN_BY_DESCRIPTION;
        if (auto path = TUsbDeviceDirectory::FindRegistered(settings.name))
            ok = OpenTty(*path);
        if (!ok)
            for (const auto& path : TUsbDeviceDirectory::FindTtyByProduct(settings.name))
                if ((ok = OpenTty(path)))
                    break;
        if (!ok)
            ok = OpenFtdi(settings.name);
    } else {
        // Any other mode opens nothing; the link stays closed.
        return status;
    }
    if (!ok) {
        handle = -1;
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }

    timeouts.read_interval_ms = settings.read_interval_ms;
    timeouts.read_total_multiplier_ms = settings.read_interval_ms;
    timeouts.read_total_constant_ms = settings.read_total_ms;
    ApplyLineSettings();

    // The queues are emptied once when the device is opened. On a tty only the receive
    // queue: a transmit flush on a pseudo-terminal would discard what an earlier user of the
    // port wrote and the peer has not read yet (a Load, which has no reply), and on a real
    // tty the earlier writes have drained.
    if (handle >= 0)
        tcflush(handle, TCIFLUSH);
    else if (ftdi)
        ftdi_tcioflush(ftdi);

    opened = true;
    status = RESULT_OK;
    return status;
}

bool TInterface::OpenTty(const std::string& path) {
    if (path.empty())
        return false;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!isatty(fd)) {
        ::close(fd);
        return false;
    }
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
    return true;
}

bool TInterface::OpenFtdi(const std::string& description) {
    ftdi_context* context = ftdi_new();
    if (!context)
        return false;
    libusb_device** list = nullptr;
    bool ok = false;
    ssize_t count = context->usb_ctx ? libusb_get_device_list(context->usb_ctx, &list) : 0;
    for (ssize_t i = 0; i < count && !ok; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != 0x0403)
            continue;
        char product[128] = {0};
        if (ftdi_usb_get_strings2(context, list[i], nullptr, 0, product, sizeof product, nullptr, 0) < 0)
            continue;
        if (description != product)
            continue;
        ok = ftdi_usb_open_dev(context, list[i]) == 0;
    }
    if (list)
        libusb_free_device_list(list, 1);
    if (!ok) {
        ftdi_free(context);
        return false;
    }
    context->usb_read_timeout = 2;
    ftdi_set_latency_timer(context, 1);
    ftdi = context;
    device_path.clear();
    return true;
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
        ftdi_stopbits_type stop = settings.stop_bits == 0 ? STOP_BIT_1
                                  : settings.stop_bits == 1 ? STOP_BIT_15
                                                            : STOP_BIT_2;
        ftdi_set_line_property(ftdi, BITS_8, stop, parity);
        ftdi_set_baudrate(ftdi, static_cast<int>(settings.baud));
        ftdi_setflowctrl(ftdi, SIO_DISABLE_FLOW_CTRL);
        ftdi_setdtr_rts(ftdi, 0, 0);
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
        ftdi_set_baudrate(ftdi, static_cast<int>(baud));
    }
    status = RESULT_OK;
    return status;
}

uint32_t TInterface::Close() {
    // The serial port's break before closing has no use on a tty here (the devices ignore
    // it, and it would hold the line for a quarter of a second), so it is skipped.
    if (opened) {
        if (handle >= 0)
            ::close(handle);
        if (ftdi) {
            ftdi_usb_close(ftdi);
            ftdi_free(ftdi);
        }
    }
    handle = -1;
    ftdi = nullptr;
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
            return RESULT_READ_ERROR;
        }
        // The other end went away (a pulled cable, a closed pseudo-terminal master).
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return RESULT_READ_ERROR;
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
        int n = ftdi_read_data(ftdi, data + received, static_cast<int>(length - received));
        if (n < 0)
            return RESULT_READ_ERROR;
        if (n > 0) {
            received += static_cast<uint32_t>(n);
            last_byte = TClock::now();
        } else {
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
    // the window for ever: give up after twice the wire time plus a second.
    const auto limit =
        TClock::now() + std::chrono::milliseconds(1000 + 2 * WireMilliseconds(length, settings.baud));
    uint32_t sent = 0;
    while (sent < length) {
        ssize_t n = ::write(handle, data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return RESULT_WRITE_ERROR;
        const int wait = MillisecondsUntil(limit);
        if (wait == 0)
            return RESULT_WRITE_TIMEOUT;
        pollfd pfd{handle, POLLOUT, 0};
        if (::poll(&pfd, 1, wait) < 0 && errno != EINTR)
            return RESULT_WRITE_ERROR;
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))
            return RESULT_WRITE_ERROR;
    }
    tcdrain(handle);
    return RESULT_OK;
}

uint32_t TInterface::WriteFtdi(const uint8_t* data, uint32_t length) {
    int n = ftdi_write_data(ftdi, data, static_cast<int>(length));
    if (n < 0)
        return RESULT_WRITE_ERROR;
    return static_cast<uint32_t>(n) < length ? RESULT_WRITE_TIMEOUT : RESULT_OK;
}

uint32_t TInterface::Write(const TIoBuffer& io) {
    if (!opened) {
        status = RESULT_PORT_NOT_OPENED;
        return status;
    }
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
        ftdi_tciflush(ftdi);
        status = WriteFtdi(io.data, io.length);
    }
    return status;
}

} // namespace zq455

#include "support/FtdiDouble.h"

#include "link/UsbDirectory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zq455::test {

using TClock = std::chrono::steady_clock;
using TTime = TClock::time_point;

namespace {

constexpr unsigned PACKET = 64;      // full-speed bulk packet of the FT232R
constexpr unsigned STATUS_BYTES = 2; // modem and line status at the head of every packet
constexpr unsigned PACKET_DATA = PACKET - STATUS_BYTES;
constexpr unsigned TX_BUFFER = 128;         // the chip's transmit buffer
constexpr unsigned DEFAULT_LATENCY_MS = 16; // the latency timer after a reset
constexpr unsigned CHUNK = 4096;            // ftdi_init's readbuffer and writebuffer chunk sizes

std::chrono::nanoseconds ByteTime(uint32_t baud) {
    return std::chrono::nanoseconds(10LL * 1000000000LL / std::max<uint32_t>(baud, 1));
}

speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return 0;
    }
}

} // namespace

struct TFtdiDouble::TDevice {
    TFtdiDevicePlan plan;
    uint8_t address = 0;
    int uart = -1; // the far side, seen from the chip
    std::atomic<bool> unplugged{false};
    std::atomic<bool> stall_writes{false};
    bool detached = false;
    ftdi_context* owner = nullptr; // the context that has claimed the interface
    uint32_t baud = 9600;
    unsigned latency_ms = DEFAULT_LATENCY_MS;
    // Received bytes in the chip, each with the moment its stop bit is in.
    std::deque<std::pair<uint8_t, TTime>> rx;
    TTime rx_wire_free{};
    TTime last_packet{};
    TTime tx_wire_free{};
};

struct TFtdiDouble::TState {
    std::vector<std::unique_ptr<TDevice>> devices;
    std::map<ftdi_context*, TDevice*> opened;
    TFtdiStats stats;
    TFtdiCalls calls{};
};

namespace {

TFtdiDouble::TState* current = nullptr;

TFtdiDouble::TDevice* DeviceOf(libusb_device* device) {
    for (auto& d : current->devices)
        if (reinterpret_cast<libusb_device*>(d.get()) == device)
            return d.get();
    return nullptr;
}

TFtdiDouble::TDevice* DeviceOf(ftdi_context* ftdi) {
    auto it = current->opened.find(ftdi);
    return it == current->opened.end() ? nullptr : it->second;
}

int ErrorReturn(ftdi_context* ftdi, int code, const char* text) {
    if (ftdi)
        ftdi->error_str = text;
    return code;
}

// Takes what the far side has sent into the chip, one byte every ten bit times. A hang-up of
// the far side is the cable pulled out.
void Pump(TFtdiDouble::TDevice& d) {
    if (d.uart < 0 || d.unplugged)
        return;
    uint8_t bytes[4096];
    for (;;) {
        const ssize_t n = ::read(d.uart, bytes, sizeof bytes);
        if (n > 0) {
            const TTime now = TClock::now();
            for (ssize_t i = 0; i < n; ++i) {
                d.rx_wire_free = std::max(d.rx_wire_free, now) + ByteTime(d.baud);
                d.rx.emplace_back(bytes[i], d.rx_wire_free);
            }
            continue;
        }
        // A raw tty without VMIN reads 0 when it holds nothing, and so does one hung up.
        pollfd pfd{d.uart, POLLIN, 0};
        const bool hung_up = (n < 0 && errno != EAGAIN && errno != EINTR) ||
                             (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)));
        if (hung_up)
            d.unplugged = true;
        return;
    }
}

// The bytes ready by `t`, at most `limit` (a packet's worth): the queue may hold a whole
// frame when the reader lags, and counting all of it for every packet would cost its square.
size_t ReadyAt(const TFtdiDouble::TDevice& d, TTime t, size_t limit) {
    size_t count = 0;
    while (count < d.rx.size() && count < limit && d.rx[count].second <= t)
        ++count;
    return count;
}

// libusb_bulk_transfer on the IN endpoint: packets as the chip sends them, until a short one,
// a full buffer or the time-out.
int BulkIn(TFtdiDouble::TDevice& d, unsigned char* buffer, int size, int* transferred, int timeout_ms) {
    *transferred = 0;
    ++current->stats.transfers_in;
    const TTime start = TClock::now();
    const TTime deadline = timeout_ms > 0 ? start + std::chrono::milliseconds(timeout_ms) : TTime::max();
    const auto latency = std::chrono::milliseconds(d.latency_ms);
    for (;;) {
        Pump(d);
        if (d.unplugged)
            return LIBUSB_ERROR_NO_DEVICE;
        const TTime now = TClock::now();
        for (;;) {
            const TTime full = d.rx.size() >= PACKET_DATA ? d.rx[PACKET_DATA - 1].second : TTime::max();
            const TTime at = std::max(start, std::min(full, d.last_packet + latency));
            if (at > now || at > deadline)
                break;
            const size_t take = ReadyAt(d, at, PACKET_DATA);
            if (*transferred + static_cast<int>(STATUS_BYTES + take) > size)
                return 0; // no room for another packet: the buffer is full
            unsigned char* packet = buffer + *transferred;
            packet[0] = 0x01; // modem status: the FT232R's fixed low bits
            packet[1] = 0x60; // line status: transmitter empty
            for (size_t i = 0; i < take; ++i)
                packet[STATUS_BYTES + i] = d.rx[i].first;
            d.rx.erase(d.rx.begin(), d.rx.begin() + static_cast<long>(take));
            *transferred += static_cast<int>(STATUS_BYTES + take);
            d.last_packet = at;
            if (take == PACKET_DATA) {
                ++current->stats.full_packets;
                if (*transferred == size)
                    return 0;
                continue;
            }
            ++current->stats.short_packets;
            if (take == 0)
                ++current->stats.status_only_packets;
            return 0;
        }
        if (now >= deadline) {
            ++current->stats.timed_out_transfers;
            return LIBUSB_ERROR_TIMEOUT;
        }
        // Sleep until the next packet could be due, or until the far side sends.
        TTime next = std::min(deadline, d.last_packet + latency);
        if (d.rx.size() >= PACKET_DATA)
            next = std::min(next, d.rx[PACKET_DATA - 1].second);
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - TClock::now());
        if (wait.count() > 0) {
            pollfd pfd{d.uart, POLLIN, 0};
            const timespec ts{static_cast<time_t>(wait.count() / 1000000),
                              static_cast<long>(wait.count() % 1000000) * 1000};
            if (d.uart >= 0 && d.rx.size() < PACKET_DATA)
                ::ppoll(&pfd, 1, &ts, nullptr);
            else
                std::this_thread::sleep_for(wait);
        }
    }
}

// libusb_bulk_transfer on the OUT endpoint: the chip takes bytes while its transmit buffer
// has room, and sends them on at the bit rate.
int BulkOut(TFtdiDouble::TDevice& d, const unsigned char* data, int size, int* transferred, int timeout_ms) {
    *transferred = 0;
    if (d.unplugged)
        return LIBUSB_ERROR_NO_DEVICE;
    const TTime start = TClock::now();
    const TTime deadline = timeout_ms > 0 ? start + std::chrono::milliseconds(timeout_ms) : TTime::max();
    const auto byte_time = ByteTime(d.baud);
    int accepted = size;
    TTime done = start;
    if (d.stall_writes) {
        accepted = std::min<int>(size, TX_BUFFER);
        done = TTime::max();
    } else {
        const TTime wire_start = std::max(start, d.tx_wire_free);
        d.tx_wire_free = wire_start + byte_time * size;
        done = std::max(start, d.tx_wire_free - byte_time * TX_BUFFER);
    }
    const TTime until = std::min(done, deadline);
    while (TClock::now() < until && !d.unplugged)
        std::this_thread::sleep_for(
            std::min<TClock::duration>(until - TClock::now(), std::chrono::milliseconds(2)));
    if (d.unplugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (done > deadline) {
        // What went in before the time-out still reaches the wire.
        if (!d.stall_writes) {
            const auto elapsed = deadline - start;
            accepted = std::min<int>(size, static_cast<int>(elapsed / byte_time) + TX_BUFFER);
        }
    }
    for (int sent = 0; sent < accepted && d.uart >= 0;) {
        const ssize_t n = ::write(d.uart, data + sent, static_cast<size_t>(accepted - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{d.uart, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
        } else {
            d.unplugged = true;
            return LIBUSB_ERROR_NO_DEVICE;
        }
    }
    *transferred = accepted;
    return done > deadline ? LIBUSB_ERROR_TIMEOUT : 0;
}

void ApplyBaudToUart(TFtdiDouble::TDevice& d) {
    termios tio{};
    if (d.uart < 0 || tcgetattr(d.uart, &tio) != 0)
        return;
    if (speed_t speed = SpeedOf(d.baud)) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(d.uart, TCSANOW, &tio);
    }
}

// ---- the table ---------------------------------------------------------------------------

ftdi_context* NewContext() {
    auto* ftdi = static_cast<ftdi_context*>(std::calloc(1, sizeof(ftdi_context)));
    if (!ftdi)
        return nullptr;
    // As ftdi_init leaves a context.
    ftdi->usb_ctx = reinterpret_cast<libusb_context*>(current);
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->type = TYPE_BM;
    ftdi->baudrate = -1;
    ftdi->writebuffer_chunksize = CHUNK;
    ftdi->readbuffer_chunksize = CHUNK;
    ftdi->readbuffer = static_cast<unsigned char*>(std::malloc(CHUNK));
    ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;
    ftdi->interface = 0;
    return ftdi;
}

int UsbClose(ftdi_context* ftdi);

void FreeContext(ftdi_context* ftdi) {
    if (!ftdi)
        return;
    if (ftdi->usb_dev)
        UsbClose(ftdi);
    std::free(ftdi->readbuffer);
    std::free(ftdi);
}

ssize_t GetDeviceList(libusb_context*, libusb_device*** list) {
    std::vector<libusb_device*> present;
    for (auto& d : current->devices) {
        // A device whose far side has hung up has left the bus.
        pollfd pfd{d->uart, POLLIN, 0};
        if (d->uart >= 0 && ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            d->unplugged = true;
        if (!d->unplugged)
            present.push_back(reinterpret_cast<libusb_device*>(d.get()));
    }
    auto** array = static_cast<libusb_device**>(std::calloc(present.size() + 1, sizeof(libusb_device*)));
    std::copy(present.begin(), present.end(), array);
    *list = array;
    return static_cast<ssize_t>(present.size());
}

void FreeDeviceList(libusb_device** list, int) {
    std::free(list);
}

int GetDeviceDescriptor(libusb_device* device, libusb_device_descriptor* descriptor) {
    TFtdiDouble::TDevice* d = DeviceOf(device);
    if (!d)
        return LIBUSB_ERROR_NO_DEVICE;
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->idVendor = 0x0403;
    descriptor->idProduct = d->plan.product_id;
    descriptor->bcdDevice = 0x0600; // FT232R
    descriptor->bNumConfigurations = 1;
    return 0;
}

uint8_t GetBusNumber(libusb_device*) {
    return 1;
}

uint8_t GetDeviceAddress(libusb_device* device) {
    TFtdiDouble::TDevice* d = DeviceOf(device);
    return d ? d->address : 0;
}

int GetStrings2(ftdi_context* ftdi, libusb_device* device, char* manufacturer, int mnf_len, char* description,
                int desc_len, char* serial, int serial_len) {
    TFtdiDouble::TDevice* d = DeviceOf(device);
    if (!ftdi || !d)
        return -1;
    if (d->unplugged) {
        errno = ENODEV;
        return ErrorReturn(ftdi, -4, "libusb_open() failed");
    }
    if (d->plan.access_denied) {
        errno = EACCES;
        return ErrorReturn(ftdi, -4, "libusb_open() failed");
    }
    auto copy = [](char* to, int length, const std::string& text) {
        if (to && length > 0) {
            std::strncpy(to, text.c_str(), static_cast<size_t>(length) - 1);
            to[length - 1] = 0;
        }
    };
    copy(manufacturer, mnf_len, "FTDI");
    copy(description, desc_len, d->plan.product);
    copy(serial, serial_len, "ZQ000001");
    return 0;
}

int UsbOpenDev(ftdi_context* ftdi, libusb_device* device) {
    TFtdiDouble::TDevice* d = DeviceOf(device);
    if (!ftdi)
        return -8;
    if (!d || d->unplugged) {
        errno = ENODEV;
        return ErrorReturn(ftdi, -4, "libusb_open() failed");
    }
    if (d->plan.access_denied) {
        errno = EACCES;
        return ErrorReturn(ftdi, -4, "libusb_open() failed");
    }
    if (d->plan.kernel_driver && ftdi->module_detach_mode == AUTO_DETACH_SIO_MODULE) {
        d->plan.kernel_driver = false;
        d->detached = true;
    }
    if (d->plan.kernel_driver || d->owner)
        return ErrorReturn(ftdi, -5,
                           "unable to claim usb device. Make sure the default FTDI driver is not in use");
    d->owner = ftdi;
    current->opened[ftdi] = d;
    ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(d);
    ftdi->type = TYPE_R;
    ftdi->max_packet_size = PACKET;
    // ftdi_usb_reset, then 9600 bit/s.
    Pump(*d);
    d->rx.clear();
    d->baud = 9600;
    ftdi->baudrate = 9600;
    ApplyBaudToUart(*d);
    return ErrorReturn(ftdi, 0, "all fine");
}

int UsbClose(ftdi_context* ftdi) {
    if (!ftdi)
        return -3;
    int result = 0;
    if (TFtdiDouble::TDevice* d = DeviceOf(ftdi)) {
        if (d->unplugged)
            result = -1; // libusb_release_interface fails on a device that is gone
        d->owner = nullptr;
        current->opened.erase(ftdi);
    }
    ftdi->usb_dev = nullptr;
    return result;
}

// Control requests: NO_DEVICE after the unplug, otherwise they take effect at once.
TFtdiDouble::TDevice* ControlTarget(ftdi_context* ftdi) {
    if (!ftdi || !ftdi->usb_dev)
        return nullptr;
    TFtdiDouble::TDevice* d = DeviceOf(ftdi);
    return d && !d->unplugged ? d : nullptr;
}

int SetLineProperty(ftdi_context* ftdi, ftdi_bits_type, ftdi_stopbits_type, ftdi_parity_type) {
    return ControlTarget(ftdi) ? 0 : ErrorReturn(ftdi, -1, "Setting new line property failed");
}

int SetBaudrate(ftdi_context* ftdi, int baud) {
    TFtdiDouble::TDevice* d = ControlTarget(ftdi);
    if (baud <= 0)
        return ErrorReturn(ftdi, -1, "Silly baudrate <= 0.");
    if (!d)
        return ErrorReturn(ftdi, -2, "Setting new baudrate failed");
    Pump(*d); // the bytes already on their way came at the old rate
    d->baud = static_cast<uint32_t>(baud);
    ftdi->baudrate = baud;
    ApplyBaudToUart(*d);
    return 0;
}

int SetFlowCtrl(ftdi_context* ftdi, int) {
    return ControlTarget(ftdi) ? 0 : ErrorReturn(ftdi, -1, "set flow control failed");
}

int SetDtrRts(ftdi_context* ftdi, int, int) {
    return ControlTarget(ftdi) ? 0 : ErrorReturn(ftdi, -1, "set of rts/dtr failed");
}

int SetLatencyTimer(ftdi_context* ftdi, unsigned char latency) {
    if (latency < 1)
        return ErrorReturn(ftdi, -1, "latency out of range. Only valid for 1-255");
    TFtdiDouble::TDevice* d = ControlTarget(ftdi);
    if (!d)
        return ErrorReturn(ftdi, -2, "unable to set latency timer");
    d->latency_ms = latency;
    return 0;
}

int GetLatencyTimer(ftdi_context* ftdi, unsigned char* latency) {
    TFtdiDouble::TDevice* d = ControlTarget(ftdi);
    if (!d)
        return ErrorReturn(ftdi, -1, "reading latency timer failed");
    *latency = static_cast<unsigned char>(d->latency_ms);
    return 0;
}

int PurgeReceive(ftdi_context* ftdi) {
    TFtdiDouble::TDevice* d = ControlTarget(ftdi);
    if (!d)
        return ErrorReturn(ftdi, -1, "FTDI purge of RX buffer failed");
    Pump(*d);
    d->rx.clear();
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return 0;
}

int TciFlush(ftdi_context* ftdi) {
    return PurgeReceive(ftdi);
}

int TcioFlush(ftdi_context* ftdi) {
    if (int result = PurgeReceive(ftdi))
        return result;
    return 0;
}

// ftdi_read_data as libftdi1 1.5 has it, over the chip above.
int ReadData(ftdi_context* ftdi, unsigned char* buf, int size) {
    int offset = 0, actual_length = 1;
    TFtdiDouble::TDevice* d = ftdi ? DeviceOf(ftdi) : nullptr;
    if (!ftdi || !ftdi->usb_dev || !d)
        return ErrorReturn(ftdi, -666, "USB device unavailable");
    const int packet_size = static_cast<int>(ftdi->max_packet_size);
    if (packet_size == 0)
        return ErrorReturn(ftdi, -1, "max_packet_size is bogus (zero)");
    if (size <= static_cast<int>(ftdi->readbuffer_remaining)) {
        std::memcpy(buf, ftdi->readbuffer + ftdi->readbuffer_offset, static_cast<size_t>(size));
        ftdi->readbuffer_remaining -= static_cast<unsigned>(size);
        ftdi->readbuffer_offset += static_cast<unsigned>(size);
        return size;
    }
    if (ftdi->readbuffer_remaining != 0) {
        std::memcpy(buf, ftdi->readbuffer + ftdi->readbuffer_offset, ftdi->readbuffer_remaining);
        offset += static_cast<int>(ftdi->readbuffer_remaining);
    }
    while (offset < size && actual_length > 0) {
        ftdi->readbuffer_remaining = 0;
        ftdi->readbuffer_offset = 0;
        const int ret = BulkIn(*d, ftdi->readbuffer, static_cast<int>(ftdi->readbuffer_chunksize),
                               &actual_length, ftdi->usb_read_timeout);
        if (ret < 0) {
            // What this call had copied, and the data of the failed transfer, are lost.
            const int data = actual_length - STATUS_BYTES * ((actual_length + PACKET - 1) / PACKET);
            current->stats.dropped_bytes += static_cast<uint64_t>(offset + std::max(data, 0));
            return ErrorReturn(ftdi, ret, "usb bulk read failed");
        }
        if (actual_length > 2) {
            const int num_of_chunks = actual_length / packet_size;
            const int chunk_remains = actual_length % packet_size;
            ftdi->readbuffer_offset += 2;
            actual_length -= 2;
            if (actual_length > packet_size - 2) {
                int i;
                for (i = 1; i < num_of_chunks; i++)
                    std::memmove(ftdi->readbuffer + ftdi->readbuffer_offset + (packet_size - 2) * i,
                                 ftdi->readbuffer + ftdi->readbuffer_offset + packet_size * i,
                                 static_cast<size_t>(packet_size - 2));
                if (chunk_remains > 2) {
                    std::memmove(ftdi->readbuffer + ftdi->readbuffer_offset + (packet_size - 2) * i,
                                 ftdi->readbuffer + ftdi->readbuffer_offset + packet_size * i,
                                 static_cast<size_t>(chunk_remains - 2));
                    actual_length -= 2 * num_of_chunks;
                } else {
                    actual_length -= 2 * (num_of_chunks - 1) + chunk_remains;
                }
            }
        } else {
            return offset; // no more data to read
        }
        if (actual_length > 0) {
            if (offset + actual_length <= size) {
                std::memcpy(buf + offset, ftdi->readbuffer + ftdi->readbuffer_offset,
                            static_cast<size_t>(actual_length));
                offset += actual_length;
                if (offset == size)
                    return offset;
            } else {
                const int part_size = size - offset;
                std::memcpy(buf + offset, ftdi->readbuffer + ftdi->readbuffer_offset,
                            static_cast<size_t>(part_size));
                ftdi->readbuffer_offset += static_cast<unsigned>(part_size);
                ftdi->readbuffer_remaining = static_cast<unsigned>(actual_length - part_size);
                offset += part_size;
                return offset;
            }
        }
    }
    return -127; // never reached
}

// ftdi_write_data as libftdi1 1.5 has it.
int WriteData(ftdi_context* ftdi, const unsigned char* buf, int size) {
    TFtdiDouble::TDevice* d = ftdi ? DeviceOf(ftdi) : nullptr;
    if (!ftdi || !ftdi->usb_dev || !d)
        return ErrorReturn(ftdi, -666, "USB device unavailable");
    int offset = 0;
    while (offset < size) {
        int write_size = ftdi->writebuffer_chunksize;
        if (offset + write_size > size)
            write_size = size - offset;
        int actual_length = 0;
        if (BulkOut(*d, buf + offset, write_size, &actual_length, ftdi->usb_write_timeout) < 0)
            return ErrorReturn(ftdi, -1, "usb bulk write failed");
        offset += actual_length;
    }
    return offset;
}

const char* GetErrorString(ftdi_context* ftdi) {
    return ftdi && ftdi->error_str ? ftdi->error_str : "";
}

} // namespace

TFtdiDouble::TFtdiDouble() : state(std::make_unique<TState>()) {
    state->calls =
        TFtdiCalls{NewContext,      FreeContext,      GetDeviceList, FreeDeviceList, GetDeviceDescriptor,
                   GetBusNumber,    GetDeviceAddress, GetStrings2,   UsbOpenDev,     UsbClose,
                   SetLineProperty, SetBaudrate,      SetFlowCtrl,   SetDtrRts,      SetLatencyTimer,
                   GetLatencyTimer, TciFlush,         TcioFlush,     ReadData,       WriteData,
                   GetErrorString};
    current = state.get();
    TUsbDeviceDirectory::SetFtdiCalls(&state->calls);
}

TFtdiDouble::~TFtdiDouble() {
    TUsbDeviceDirectory::SetFtdiCalls(nullptr);
    for (auto& d : state->devices)
        if (d->uart >= 0)
            ::close(d->uart);
    current = nullptr;
}

int TFtdiDouble::AddDevice(const TFtdiDevicePlan& plan) {
    auto d = std::make_unique<TDevice>();
    d->plan = plan;
    d->address = static_cast<uint8_t>(4 + state->devices.size());
    if (!plan.uart_path.empty()) {
        d->uart = ::open(plan.uart_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (d->uart >= 0 && tcgetattr(d->uart, &tio) == 0) {
            cfmakeraw(&tio);
            tio.c_cc[VMIN] = 0;
            tio.c_cc[VTIME] = 0;
            tcsetattr(d->uart, TCSANOW, &tio);
        }
    }
    state->devices.push_back(std::move(d));
    return static_cast<int>(state->devices.size() - 1);
}

void TFtdiDouble::Unplug(int device) {
    state->devices.at(static_cast<size_t>(device))->unplugged = true;
}

void TFtdiDouble::StallWrites(int device, bool stall) {
    state->devices.at(static_cast<size_t>(device))->stall_writes = stall;
}

uint32_t TFtdiDouble::Baud(int device) const {
    return state->devices.at(static_cast<size_t>(device))->baud;
}

unsigned TFtdiDouble::LatencyTimer(int device) const {
    return state->devices.at(static_cast<size_t>(device))->latency_ms;
}

bool TFtdiDouble::KernelDriverDetached(int device) const {
    return state->devices.at(static_cast<size_t>(device))->detached;
}

bool TFtdiDouble::IsOpen(int device) const {
    return state->devices.at(static_cast<size_t>(device))->owner != nullptr;
}

TFtdiStats TFtdiDouble::Stats() const {
    return state->stats;
}

const TFtdiCalls& TFtdiDouble::Calls() const {
    return state->calls;
}

} // namespace zq455::test

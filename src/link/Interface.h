#pragma once
// TInterface: the blocking byte pipe under both device protocols.
//
// Mode 0 opens a tty path (a serial port, a USB serial adapter, a pseudo-terminal) with
// termios. Mode 1 finds a USB serial device by its description string through the USB
// device directory: a device registered in this process (the virtual sensor and stage),
// a tty whose USB device reports that product string, or an FTDI device through libftdi1.
// Read fills exactly `length` bytes or reports the time-out code; a short count means the
// time-out was hit. A device is opened for this program alone: a tty is made exclusive and
// locked, and a USB device is never taken from the kernel's driver.

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

struct ftdi_context;

namespace zq455 {

struct TFtdiCalls;

enum : uint8_t { LINK_MODE_COM = 0, LINK_MODE_USB = 1 };

// The record a protocol class fills before Open; Open keeps a copy.
struct TLinkSettings {
    uint8_t mode = LINK_MODE_COM;
    std::string name;      // tty path (mode 0) or USB description string (mode 1)
    uint8_t stop_bits = 0; // 0 one, 1 one and a half, 2 two; other values leave the line as it is
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even; other values leave the line as it is
    uint32_t baud = 0;
    uint32_t usb_flags = 0; // attribute word of the USB open; Open ORs in the match-by-description bit
    uint32_t in_queue = 0;
    uint32_t out_queue = 0;
    uint32_t read_interval_ms = 0; // longest gap between two bytes, and the per-byte part of the time-out
    uint32_t read_total_ms = 0;    // fixed part of the read time-out
    // Per-byte part of the read time-out when not negative (else read_interval_ms): a scan
    // that must give up quickly on a silent address sets 0.
    int32_t read_per_byte_ms = -1;
};

// One transfer: `length` bytes at `data`. `overlapped` is always null: all transfers block.
struct TIoBuffer {
    uint8_t* data = nullptr;
    uint32_t length = 0;
    void* overlapped = nullptr;
};

// The read time-outs as applied to the device.
struct TLinkTimeouts {
    uint32_t read_interval_ms = 0;
    uint32_t read_total_multiplier_ms = 0;
    uint32_t read_total_constant_ms = 0;
};

class TInterface {
public:
    TInterface();
    ~TInterface();
    TInterface(const TInterface&) = delete;
    TInterface& operator=(const TInterface&) = delete;

    uint32_t Open(const TLinkSettings& link_settings); // 0 or 2 (also for an unknown mode)
    uint32_t SetBaudRate(uint32_t baud);               // 0 or 2
    uint32_t Close();                                  // always 0
    uint32_t Read(const TIoBuffer& io);                // 0, 2, 3 or 4
    uint32_t Write(const TIoBuffer& io);               // 0, 2, 5 or 6

    // An in-memory stand-in for the device, for fuzzing and decoder tests: reads take the
    // given bytes in order and end with the time-out code, without waiting, when they run
    // out; writes are kept in MemoryWritten(). The bytes must outlive the link's use of them.
    void OpenMemory(const uint8_t* data, size_t size);
    const std::vector<uint8_t>& MemoryWritten() const { return memory_written; }

    bool IsOpen() const { return opened; }
    // The device hung up since the link was opened (an unplugged adapter, a closed master).
    bool Unplugged() const { return unplugged; }
    // The tty path that was opened (empty for an FTDI device opened through libftdi1).
    const std::string& DevicePath() const { return device_path; }
    // Why the last Open, Read or Write failed, in a line for the operator ("/dev/ttyUSB0 is in
    // use by another program."); empty after a success or when the code says it all.
    const std::string& Reason() const { return reason; }

    bool opened = false;
    bool unplugged = false;
    int handle = -1; // tty descriptor; -1 when closed or when libftdi1 holds the device
    termios dcb{};   // the line state read from the device and written back
    TLinkTimeouts timeouts;
    uint32_t status = 0;
    TLinkSettings settings;

private:
    int OpenTty(const std::string& path);
    bool OpenUsb(const std::string& description);
    bool OpenFtdi(const std::string& description);
    void ApplyLineSettings();
    void SetUsbReadTimeout();
    uint32_t ReadCall(uint8_t* data, uint32_t length, uint32_t& received);
    uint32_t ReadCallFtdi(uint8_t* data, uint32_t length, uint32_t& received);
    uint32_t WriteTty(const uint8_t* data, uint32_t length);
    uint32_t WriteFtdi(const uint8_t* data, uint32_t length);

    ftdi_context* ftdi = nullptr;
    const TFtdiCalls* ftdi_calls = nullptr; // the calls that opened `ftdi`
    unsigned latency_ms = 16;               // the chip's latency timer as it reported it
    std::string device_path;
    std::string reason;
    bool memory = false;
    const uint8_t* memory_data = nullptr;
    size_t memory_size = 0;
    size_t memory_position = 0;
    std::vector<uint8_t> memory_written;
};

// termios speed constant for a bit rate, or 0 when the platform has none for it.
speed_t BaudToSpeed(uint32_t baud);
// Bit rate of a termios speed constant, or 0 for an unknown one.
uint32_t SpeedToBaud(speed_t speed);

} // namespace zq455

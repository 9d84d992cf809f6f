#pragma once
// A stand-in for libftdi1 1.5 and an FT232R-class chip, put in the place of the real calls
// through the USB device directory, so that the USB path of TInterface runs without hardware.
// The device on the far side of the chip's UART is a tty (the slave of a pseudo-terminal whose
// master the virtual sensor or a byte peer plays); a hang-up of that tty is a pulled cable.
//
// What it models, and where each behaviour is documented:
// - ftdi_read_data (libftdi1 1.5, ftdi.c): serves a request from the context's readbuffer while
//   it holds enough; otherwise copies what it holds and loops bulk transfers of
//   readbuffer_chunksize (4096, set by ftdi_init) with usb_read_timeout, strips the 2 modem
//   status bytes of every max_packet_size packet, returns what it has on a transfer of 2 bytes
//   or fewer, keeps the surplus of the last transfer in the readbuffer, and on a failed
//   transfer returns the libusb error, dropping what that transfer received and what the call
//   had already copied.
// - ftdi_write_data (libftdi1 1.5): bulk transfers of writebuffer_chunksize with
//   usb_write_timeout; any failed transfer, its time-out included, returns -1; -666 without a
//   device.
// - ftdi_usb_open_dev (libftdi1 1.5): libusb_open refused gives -4 (errno EACCES, as libusb's
//   open(2) of the usbfs node leaves it); with module_detach_mode AUTO_DETACH_SIO_MODULE it
//   detaches the kernel driver, with DONT_DETACH_SIO_MODULE a bound driver makes the claim
//   fail (-5); it sets max_packet_size (64, full speed) and 9600 bit/s.
// - ftdi_usb_close (libftdi1 1.5): releases the interface (-1 when that fails, closed anyway).
// - ftdi_tciflush / ftdi_tcioflush (libftdi1 1.5): the chip's receive buffer and the
//   context's readbuffer are emptied.
// - ftdi_usb_get_strings2 (libftdi1 1.5): opens the device to read its strings (-4 when
//   libusb_open is refused).
// - libusb_bulk_transfer (libusb 1.0, "Synchronous device I/O"): a bulk IN transfer ends on a
//   short packet or a full buffer; on LIBUSB_ERROR_TIMEOUT `transferred` holds what had
//   arrived; after a disconnect every call gives LIBUSB_ERROR_NO_DEVICE.
// - The chip (FT232R datasheet, and FTDI AN232B-04 "Data Throughput, Latency and Handshaking"):
//   64-byte packets, each opening with 2 modem status bytes; a packet goes out when 62 bytes
//   are in, or with whatever the chip holds (nothing but the status bytes when the line is
//   quiet) when the latency timer (16 ms after reset) runs out; received bytes come in one
//   every ten bit times of the bit rate; the transmit side takes a packet while its 128-byte
//   buffer has room and empties it at the bit rate.
// Not modelled: overrun of the chip's 256-byte receive buffer while no transfer is pending,
// bit-rate divisor error, modem and line status contents, USB bandwidth.

#include "link/FtdiCalls.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zq455::test {

struct TFtdiDevicePlan {
    std::string product;          // the product string the device reports
    uint16_t product_id = 0x6006; // vendor is always FTDI's 0x0403
    std::string uart_path;        // the tty that plays the far side of the chip's UART
    bool access_denied = false;   // libusb_open is refused: no udev rule for this user
    bool kernel_driver = false;   // the kernel's FTDI driver is bound to the device
};

// What the chip and the library saw, for the tests to judge.
struct TFtdiStats {
    uint32_t transfers_in = 0;        // bulk IN transfers
    uint32_t timed_out_transfers = 0; // bulk IN transfers that ran into usb_read_timeout
    uint64_t dropped_bytes = 0;       // data bytes that a failed ftdi_read_data did not hand out
    uint32_t full_packets = 0;
    uint32_t short_packets = 0;
    uint32_t status_only_packets = 0; // short packets without data: the latency timer on a quiet line
};

class TFtdiDouble {
public:
    TFtdiDouble();  // puts itself in the USB device directory's place of libftdi1
    ~TFtdiDouble(); // puts the real library back
    TFtdiDouble(const TFtdiDouble&) = delete;
    TFtdiDouble& operator=(const TFtdiDouble&) = delete;

    // Plugs a device in; returns its number for the calls below.
    int AddDevice(const TFtdiDevicePlan& plan);
    // Pulls the device out: every later call on it gives LIBUSB_ERROR_NO_DEVICE.
    void Unplug(int device);
    // The chip stops taking bytes from the host, as one whose transmit side never drains.
    void StallWrites(int device, bool stall);

    uint32_t Baud(int device) const;
    unsigned LatencyTimer(int device) const;
    bool KernelDriverDetached(int device) const;
    bool IsOpen(int device) const;
    TFtdiStats Stats() const;
    const TFtdiCalls& Calls() const;

    struct TDevice;
    struct TState;

private:
    std::unique_ptr<TState> state;
};

} // namespace zq455::test

#pragma once
// The libftdi1 and libusb calls that the USB path of TInterface makes, gathered in one table.
// The link calls through the table the USB device directory holds; that is the real library
// unless a test has put a model of the chip and the library in its place.

#include <cstdint>
#include <libftdi1/ftdi.h>
#include <libusb-1.0/libusb.h>
#include <sys/types.h>

namespace zq455 {

struct TFtdiCalls {
    ftdi_context* (*new_context)();      // ftdi_new
    void (*free_context)(ftdi_context*); // ftdi_free
    ssize_t (*get_device_list)(libusb_context*, libusb_device***);
    void (*free_device_list)(libusb_device**, int);
    int (*get_device_descriptor)(libusb_device*, libusb_device_descriptor*);
    uint8_t (*get_bus_number)(libusb_device*);
    uint8_t (*get_device_address)(libusb_device*);
    int (*usb_get_strings2)(ftdi_context*, libusb_device*, char*, int, char*, int, char*, int);
    int (*usb_open_dev)(ftdi_context*, libusb_device*);
    int (*usb_close)(ftdi_context*);
    int (*set_line_property)(ftdi_context*, ftdi_bits_type, ftdi_stopbits_type, ftdi_parity_type);
    int (*set_baudrate)(ftdi_context*, int);
    int (*setflowctrl)(ftdi_context*, int);
    int (*setdtr_rts)(ftdi_context*, int, int);
    int (*set_latency_timer)(ftdi_context*, unsigned char);
    int (*get_latency_timer)(ftdi_context*, unsigned char*);
    int (*tciflush)(ftdi_context*);
    int (*tcioflush)(ftdi_context*);
    int (*read_data)(ftdi_context*, unsigned char*, int);
    int (*write_data)(ftdi_context*, const unsigned char*, int);
    const char* (*get_error_string)(ftdi_context*);
};

// The table of the installed libftdi1 and libusb.
const TFtdiCalls& RealFtdiCalls();

} // namespace zq455

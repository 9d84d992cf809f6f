#include "FtdiCalls.h"

namespace zq455 {

const TFtdiCalls& RealFtdiCalls() {
    static const TFtdiCalls calls = {
        ftdi_new,
        ftdi_free,
        libusb_get_device_list,
        libusb_free_device_list,
        libusb_get_device_descriptor,
        libusb_get_bus_number,
        libusb_get_device_address,
        ftdi_usb_get_strings2,
        ftdi_usb_open_dev,
        ftdi_usb_close,
        ftdi_set_line_property,
        ftdi_set_baudrate,
        ftdi_setflowctrl,
        ftdi_setdtr_rts,
        ftdi_set_latency_timer,
        ftdi_get_latency_timer,
        ftdi_tciflush,
        ftdi_tcioflush,
        ftdi_read_data,
        ftdi_write_data,
        ftdi_get_error_string,
    };
    return calls;
}

} // namespace zq455

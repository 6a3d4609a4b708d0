// The port listing as both command lines print it (`ports`): text for a
// person, JSON (`--json`) for a program.  Pure functions, any thread.
#pragma once

#include <string>

#include "common/serial_ports.h"

namespace common::cli {

// One entry per device, then where each COM name leads:
//   /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
//       /dev/ttyUSB0, driver ftdi_sio, USB 0403:6001, serial A1B2C3, FTDI FT232R USB UART; COM3
//   COM1  /dev/ttyS0
//   COM3  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 ($COM3)
// `comNames` limits the COM lines to the names a program offers (0: all).
std::string PortListingText(const PortListing& listing, int comNames = 0);

// {"devices": [{"name", "device", "by_id": [...], "driver", "usb": {"vendor",
//  "product", "serial", "manufacturer", "product_name"} or null, "com": [...]}],
//  "com_ports": [{"name", "path", "source" (default|environment), "present"}]}
std::string PortListingJson(const PortListing& listing, int comNames = 0);

}  // namespace common::cli

// The serial devices present on this machine, as a technician chooses among
// them: USB adapters under their stable /dev/serial/by-id names first, with
// what sysfs says of each, and which COMn name leads to each today.
//
// Reads /dev and sysfs directly (both roots injectable, so that tests and
// other callers can point it at a tree of their own); opens no device, so a
// device held by another program is listed all the same.  Standard library
// and POSIX only.  Any thread; blocks only on the file system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace common {

// Where the listing looks.
struct DeviceRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

// One device present.  Strings sysfs does not give are empty.
struct SerialDevice {
  std::string name;               // what to open: the first by-id link to it, else `device`
  std::string device;             // the kernel's node, e.g. /dev/ttyUSB0 (under DeviceRoots::dev)
  std::vector<std::string> byId;  // every /dev/serial/by-id link that leads to it, sorted
  std::string driver;             // e.g. "ftdi_sio", "cdc_acm", "pl2303", "serial"
  std::string usbVendor;          // four hex digits, e.g. "0403"; empty when not on USB
  std::string usbProduct;         // four hex digits, e.g. "6001"
  std::string serialNumber;       // the USB device's serial number
  std::string manufacturer;       // the USB device's manufacturer string
  std::string product;            // the USB device's product string
  std::vector<std::string> comNames;  // "COM3", ...: the names that lead to it today, in order
};

// Where one COMn name leads.
enum class ComSource {
  kDefault,      // /dev/ttyS(n-1)
  kEnvironment,  // the environment variable of the same name
  kStored,       // the device a program's settings keep for it (common/device_map.h)
};

struct ComMapping {
  std::string name;  // "COM1"
  std::string path;  // the device the name opens
  ComSource source = ComSource::kDefault;
  bool present = false;  // something exists at `path`
};

struct PortListing {
  // Devices with a by-id name first (ordered by it), then the others by
  // kernel name (ttyACM2 before ttyACM10).
  std::vector<SerialDevice> devices;
  // COM1 to COM4, then every further COMn (up to COM256) that does not lead
  // to its default.
  std::vector<ComMapping> comPorts;
};

// Where COMn (n >= 1) leads.  The default resolver is DefaultComMapping.
using ComResolver = std::function<ComMapping(int n)>;

// COMn as the programs open it: the environment variable of that name when
// set and not empty, else <roots.dev>/ttyS(n-1).
ComMapping DefaultComMapping(int n, const DeviceRoots& roots);

// Lists what is present: every target of <dev>/serial/by-id, every
// <dev>/ttyUSB* and <dev>/ttyACM*, and the <dev>/ttyS* whose sysfs entry
// reports a UART (a non-zero "type"; the kernel keeps placeholders for ports
// that have none).  `resolve` (default: DefaultComMapping over `roots`) gives
// the COM names.
PortListing ListSerialPorts(const DeviceRoots& roots = {}, const ComResolver& resolve = {});

}  // namespace common

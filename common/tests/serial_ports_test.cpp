// The port listing on a temporary tree shaped like /dev and sysfs: a USB
// adapter with a by-id name, a CDC modem, a UART and a placeholder port of the
// kernel, each as the kernel lays them out.  And the permission hint.
#include "common/serial_ports.h"
#include "common/permission_hint.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class PortTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    root_ = folder_.Path();
    roots_.sys = (root_ / "sys").string();
    roots_.dev = (root_ / "dev").string();
  }
  void TearDown() override {
    for (const char* name : {"COM3", "COM7", "COM9"}) ::unsetenv(name);
  }

  void File(const fs::path& path, const std::string& contents = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << contents;
  }
  // A relative link at `link` to `target` (both under the root), as sysfs and udev make them.
  void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_directories(target.parent_path());
    fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
  }
  // A tty in sysfs: its class entry and the link to the device it hangs on.
  void Tty(const std::string& name, const fs::path& deviceDir, const std::string& type = "") {
    const fs::path ttyDir = deviceDir / "tty" / name;
    fs::create_directories(ttyDir);
    if (!type.empty()) File(ttyDir / "type", type + "\n");
    Link(ttyDir / "device", deviceDir);
    Link(Sys() / "class" / "tty" / name, ttyDir);
    File(Dev() / name);
  }
  void Driver(const fs::path& deviceDir, const std::string& bus, const std::string& driver) {
    fs::create_directories(Sys() / "bus" / bus / "drivers" / driver);
    Link(deviceDir / "driver", Sys() / "bus" / bus / "drivers" / driver);
    fs::create_directories(Sys() / "bus" / bus);
    Link(deviceDir / "subsystem", Sys() / "bus" / bus);
  }
  fs::path Sys() const { return root_ / "sys"; }
  fs::path Dev() const { return root_ / "dev"; }

  common::testing::TempFolder folder_{"serial-ports-test"};
  fs::path root_;
  common::DeviceRoots roots_;
};

TEST_F(PortTree, ListsAdaptersByIdFirstWithWhatSysfsSaysAndTheComNamesThatLeadThere) {
  // An FTDI adapter: the tty hangs on the usb-serial port below the interface.
  const fs::path usb = Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
  File(usb / "idVendor", "0403\n");
  File(usb / "idProduct", "6001\n");
  File(usb / "serial", "A1B2C3\n");
  File(usb / "manufacturer", "FTDI\n");
  File(usb / "product", "FT232R USB UART\n");
  const fs::path port = usb / "1-2:1.0/ttyUSB0";
  Driver(port, "usb-serial", "ftdi_sio");
  Tty("ttyUSB0", port);
  const std::string byId = (Dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string();
  fs::create_directories(Dev() / "serial/by-id");
  fs::create_symlink("../../ttyUSB0", byId);
  fs::create_symlink("../../ttyUSB9", Dev() / "serial/by-id/usb-gone-if00");  // left by an unplugged one
  // A CDC modem: the tty hangs on the interface, the driver's own.
  const fs::path modem = Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-3";
  File(modem / "idVendor", "2341\n");
  File(modem / "idProduct", "0043\n");
  Driver(modem / "1-3:1.0", "usb", "cdc_acm");
  Tty("ttyACM0", modem / "1-3:1.0");
  File(Dev() / "ttyACM10");  // no sysfs entry: listed, nothing known of it
  // A UART behind the serial-base port devices of newer kernels, and a placeholder.
  const fs::path pnp = Sys() / "devices/pnp0/00:00";
  Driver(pnp, "pnp", "serial");
  Driver(pnp / "00:00:0", "serial-base", "ctrl");
  Driver(pnp / "00:00:0/00:00:0.0", "serial-base", "port");
  Tty("ttyS0", pnp / "00:00:0/00:00:0.0", "4");
  Driver(Sys() / "devices/platform/serial8250", "platform", "serial8250");
  Tty("ttyS1", Sys() / "devices/platform/serial8250", "0");

  ::setenv("COM3", byId.c_str(), 1);
  ::setenv("COM7", "/nowhere/ttyUSB7", 1);
  ::setenv("COM9", (Dev() / "ttyACM0").c_str(), 1);
  const common::PortListing listing = common::ListSerialPorts(roots_);

  ASSERT_EQ(listing.devices.size(), 4u);
  const common::SerialDevice& ftdi = listing.devices[0];
  EXPECT_EQ(ftdi.name, byId);
  EXPECT_EQ(ftdi.device, (Dev() / "ttyUSB0").string());
  EXPECT_EQ(ftdi.byId, std::vector<std::string>{byId});
  EXPECT_EQ(ftdi.driver, "ftdi_sio");
  EXPECT_EQ(ftdi.usbVendor + ":" + ftdi.usbProduct, "0403:6001");
  EXPECT_EQ(ftdi.serialNumber, "A1B2C3");
  EXPECT_EQ(ftdi.manufacturer + " / " + ftdi.product, "FTDI / FT232R USB UART");
  EXPECT_EQ(ftdi.comNames, std::vector<std::string>{"COM3"});

  const common::SerialDevice& acm = listing.devices[1];
  EXPECT_EQ(acm.name, (Dev() / "ttyACM0").string());
  EXPECT_EQ(acm.driver, "cdc_acm");
  EXPECT_EQ(acm.usbVendor + ":" + acm.usbProduct, "2341:0043");
  EXPECT_EQ(acm.serialNumber, "");
  EXPECT_EQ(acm.comNames, std::vector<std::string>{"COM9"});

  EXPECT_EQ(listing.devices[2].name, (Dev() / "ttyACM10").string());
  EXPECT_EQ(listing.devices[2].driver, "");
  const common::SerialDevice& uart = listing.devices[3];
  EXPECT_EQ(uart.name, (Dev() / "ttyS0").string());
  EXPECT_EQ(uart.driver, "serial") << "past the serial-base devices";
  EXPECT_EQ(uart.usbVendor, "");
  EXPECT_EQ(uart.comNames, std::vector<std::string>{"COM1"});

  // COM1 to COM4 always, then what the environment adds.
  std::vector<std::string> com;
  for (const auto& m : listing.comPorts) {
    com.push_back(m.name + (m.source == common::ComSource::kEnvironment ? "=" : ":") + m.path +
                  (m.present ? "" : " (absent)"));
  }
  EXPECT_EQ(com, (std::vector<std::string>{"COM1:" + (Dev() / "ttyS0").string(), "COM2:" + (Dev() / "ttyS1").string(),
                                           "COM3=" + byId, "COM4:" + (Dev() / "ttyS3").string() + " (absent)",
                                           "COM7=/nowhere/ttyUSB7 (absent)", "COM9=" + (Dev() / "ttyACM0").string()}));
}

TEST_F(PortTree, NothingPresentListsNoDevicesButStillTheComNames) {
  const common::PortListing listing = common::ListSerialPorts(roots_);
  EXPECT_TRUE(listing.devices.empty());
  ASSERT_EQ(listing.comPorts.size(), 4u);
  EXPECT_FALSE(listing.comPorts[0].present);
}

// The hint names the group and the command, or says why that would not help.
TEST(PermissionHint, NamesTheGroupAndTheCommandOrWhyThatWouldNotHelp) {
  const common::testing::TempFolder folder("permission-hint");
  ASSERT_TRUE(folder.Ok());
  const std::string device = folder / "ttyUSB0";
  std::ofstream(device) << "";
  ::chmod(device.c_str(), 0600);
  EXPECT_NE(common::PermissionHint(device).find(device + " is open to its owner ("), std::string::npos)
      << common::PermissionHint(device);
  EXPECT_NE(common::PermissionHint(device, common::HintLanguage::kRussian).find("открыт только владельцу"),
            std::string::npos);
  // A group the user is not in: only root can hand the file to one.
  const struct group* dialout = ::getgrnam("dialout");
  if (::geteuid() == 0 && dialout != nullptr) {
    ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
    ::chmod(device.c_str(), 0660);
    EXPECT_EQ(common::PermissionHint(device),
              device + " belongs to the group dialout: add yourself with \"sudo usermod -aG dialout root\", then "
                       "log in again.");
    EXPECT_EQ(common::PermissionHint(device, common::HintLanguage::kRussian),
              device + " принадлежит группе dialout: добавьте себя командой \"sudo usermod -aG dialout root\" и "
                       "войдите в систему снова.");
  }
  EXPECT_NE(common::PermissionHint(folder / "gone").find("dialout"), std::string::npos);
}

}  // namespace

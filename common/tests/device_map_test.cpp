// The device map: where COMn leads for a program (environment, stored device,
// default), the settings files read as Qt writes them, and what the windows
// offer when a port does not open.
#include "common/device_map.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class DeviceMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    root_ = folder_.Path();
    folders_ = {(root_ / "user").string(), {(root_ / "system").string()}};
    roots_ = {(root_ / "sys").string(), (root_ / "dev").string()};
    ::unsetenv("COM2");
  }
  void TearDown() override {
    ::unsetenv("COM2");
  }
  void Write(const fs::path& file, const std::string& contents) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
  }

  common::testing::TempFolder folder_{"device-map-test"};
  fs::path root_;
  common::SettingsFolders folders_;
  common::DeviceRoots roots_;
};

TEST_F(DeviceMapTest, EnvironmentThenStoredDeviceThenTtyS) {
  struct Case {
    const char* what;
    std::optional<std::string> env;
    std::string userApp, userOrg, systemApp;  // file contents, empty: no file
    std::string path;                         // "@dev" stands for the default under the tree
    common::ComSource source;
  };
  const std::string stored = "[Devices]\nCOM2=/dev/serial/by-id/usb-FTDI-if00\n";
  const auto kDefault = common::ComSource::kDefault;
  const auto kEnv = common::ComSource::kEnvironment;
  const auto kStored = common::ComSource::kStored;
  const Case cases[] = {
      {"nothing anywhere", std::nullopt, "", "", "", "@dev", kDefault},
      {"stored for the user", std::nullopt, stored, "", "", "/dev/serial/by-id/usb-FTDI-if00", kStored},
      {"the environment first", "/tmp/pty", stored, "", "", "/tmp/pty", kEnv},
      {"an empty variable counts as none", "", stored, "", "", "/dev/serial/by-id/usb-FTDI-if00", kStored},
      {"the system's file when the user has none", std::nullopt, "", "", "[Devices]\nCOM2=/dev/ttyACM0\n",
       "/dev/ttyACM0", kStored},
      {"the user's file before the system's", std::nullopt, "[Devices]\nCOM2=/dev/ttyUSB3\n", "",
       "[Devices]\nCOM2=/dev/ttyACM0\n", "/dev/ttyUSB3", kStored},
      {"the organization's file after the application's", std::nullopt, "[General]\nPort=2\n",
       "[Devices]\nCOM2=/dev/ttyUSB4\n", "[Devices]\nCOM2=/dev/ttyACM0\n", "/dev/ttyUSB4", kStored},
      {"an empty stored text is the default, the system's not asked", std::nullopt, "[Devices]\nCOM2=\n", "",
       "[Devices]\nCOM2=/dev/ttyACM0\n", "@dev", kDefault},
      {"keys are case-sensitive", std::nullopt, "[Devices]\ncom2=/dev/ttyUSB0\n[devices]\nCOM2=/dev/ttyUSB1\n", "",
       "", "@dev", kDefault},
      {"another port's key", std::nullopt, "[Devices]\nCOM1=/dev/ttyUSB0\nCOM02=/dev/ttyUSB1\n", "", "", "@dev",
       kDefault},
  };
  for (const Case& c : cases) {
    fs::remove_all(root_ / "user");
    fs::remove_all(root_ / "system");
    if (!c.userApp.empty()) Write(root_ / "user/KALMER/TORVIX.conf", c.userApp);
    if (!c.userOrg.empty()) Write(root_ / "user/KALMER.conf", c.userOrg);
    if (!c.systemApp.empty()) Write(root_ / "system/KALMER/TORVIX.conf", c.systemApp);
    if (c.env) {
      ::setenv("COM2", c.env->c_str(), 1);
    } else {
      ::unsetenv("COM2");
    }
    const common::ComMapping mapping = common::DeviceMap(common::kTorvixSettings, folders_, roots_).Resolve(2);
    EXPECT_EQ(mapping.name, "COM2") << c.what;
    EXPECT_EQ(mapping.path, c.path == "@dev" ? roots_.dev + "/ttyS1" : c.path) << c.what;
    EXPECT_EQ(mapping.source, c.source) << c.what;
    // Updater keeps a map of its own (the organization's file is both programs').
    if (!c.env && c.userOrg.empty()) {
      EXPECT_EQ(common::DeviceMap(common::kUpdaterSettings, folders_, roots_).Resolve(2).source, kDefault) << c.what;
    }
  }

  // Ports are opened by name through the same map, read at the call, from
  // where Qt keeps the user's settings.
  ::unsetenv("COM2");
  ::setenv("XDG_CONFIG_HOME", (root_ / "user").c_str(), 1);
  Write(root_ / "user/KALMER/Updater.conf", "[Devices]\nCOM2=/dev/ttyUSB7\n");
  EXPECT_EQ(common::ResolvePortName("COM2", common::kUpdaterSettings), "/dev/ttyUSB7");
  EXPECT_EQ(common::ResolvePortName("com2", common::kUpdaterSettings), "/dev/ttyUSB7");
  EXPECT_EQ(common::ResolvePortName("COM1", common::kUpdaterSettings), "/dev/ttyS0");
  EXPECT_EQ(common::ResolvePortName("com4", common::kUpdaterSettings), "/dev/ttyS3");
  ::setenv("COM2", "/dev/ttyUSB0", 1);
  EXPECT_EQ(common::ResolvePortName("COM2", common::kUpdaterSettings), "/dev/ttyUSB0");
  // Not a COM name: a path, used as it stands.
  for (const char* name : {"/dev/ttyACM0", "COM0", "COMX", "COM01", "COM1000"}) {
    EXPECT_EQ(common::ResolvePortName(name, common::kUpdaterSettings), name);
  }
  ::unsetenv("XDG_CONFIG_HOME");
}

// Lines as Qt writes them (and some that only a person would), read as Qt reads them.
TEST(ParseIniTexts, ReadsWhatQtWritesAndLeavesOutWhatIsNoText) {
  const std::string file =
      "; a comment\r\n"
      "[General]\r\n"
      "Port=2\r\n"
      "Devices\\COM9=/dev/ttyUSB9\r\n"
      "\n"
      "[Devices]\n"
      "COM1=/tmp/my dir/\xD0\x9F\xD1\x80\xD0\xB8\xD1\x91\xD0\xBC\xD0\xBD\xD0\xB8\xD0\xBA \xC3\xBC\n"
      "COM2=\" lead, \\\"q\\\" back\\\\slash;x=y \"\n"
      "COM3=@@at\\ttab\n"
      "COM4=a1\\x1\\x35\\x44f\n"
      "  COM5 =  padded value   ; a comment after it\n"
      "COM6=continued \\\n  line\n"
      "COM7=a,b\n"
      "COM8=@ByteArray(/dev/ttyS0)\n"
      "COM%55=percent\n"
      "COM10=\\0\n"
      "COM11=first\n"
      "COM11=second\n"
      "COM12=\"multi\nline\"\n"
      "[%General]\n"
      "Key=in a group named General\n";
  const std::map<std::string, std::string> expected = {
      {"Port", "2"},
      {"Devices/COM9", "/dev/ttyUSB9"},
      {"Devices/COM1", "/tmp/my dir/\xD0\x9F\xD1\x80\xD0\xB8\xD1\x91\xD0\xBC\xD0\xBD\xD0\xB8\xD0\xBA \xC3\xBC"},
      {"Devices/COM2", " lead, \"q\" back\\slash;x=y "},
      {"Devices/COM3", "@at\ttab"},
      {"Devices/COM4", "a1\x01" "5\xD1\x8F"},
      {"Devices/COM5", "padded value"},
      {"Devices/COM6", "continued   line"},
      {"Devices/COMU", "percent"},
      {"Devices/COM11", "second"},
      {"Devices/COM12", "multi\nline"},
      {"General/Key", "in a group named General"},
  };
  EXPECT_EQ(common::ParseIniTexts(file), expected);
}

TEST_F(DeviceMapTest, DeviceChoicesAndWhetherAnotherDeviceIsThere) {
  // An FTDI adapter under its by-id name, and a modem nothing is known of.
  const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-2";
  Write(usb / "idVendor", "0403\n");
  Write(usb / "idProduct", "6001\n");
  Write(usb / "manufacturer", "FTDI\n");
  Write(usb / "product", "FT232R USB UART\n");
  Write(usb / "serial", "A1B2C3\n");
  fs::create_directories(usb / "1-2:1.0/ttyUSB0");
  fs::create_directories(root_ / "sys/class/tty");
  fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", root_ / "sys/class/tty/ttyUSB0");
  fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", usb / "1-2:1.0/ttyUSB0/device");
  Write(root_ / "dev/ttyUSB0", "");
  Write(root_ / "dev/ttyACM0", "");
  fs::create_directories(root_ / "dev/serial/by-id");
  const std::string byId = (root_ / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string();
  fs::create_symlink("../../ttyUSB0", byId);

  const auto choices = common::DeviceChoices(common::ListSerialPorts(roots_));
  ASSERT_EQ(choices.size(), 2u);
  EXPECT_EQ(choices[0].path, byId);
  EXPECT_EQ(choices[0].about, "ttyUSB0: FTDI FT232R USB UART A1B2C3 (0403:6001)");
  EXPECT_EQ(choices[1].path, roots_.dev + "/ttyACM0");
  EXPECT_EQ(choices[1].about, "");

  EXPECT_TRUE(common::OtherSerialDevicesPresent("/nowhere/ttyUSB5", roots_));
  EXPECT_TRUE(common::OtherSerialDevicesPresent(byId, roots_)) << "the modem";
  fs::remove(root_ / "dev/ttyACM0");
  EXPECT_FALSE(common::OtherSerialDevicesPresent(byId, roots_)) << "the adapter tried is the only one";
  fs::remove_all(root_ / "dev");
  EXPECT_FALSE(common::OtherSerialDevicesPresent("/nowhere/ttyUSB5", roots_));
}

}  // namespace

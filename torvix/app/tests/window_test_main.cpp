// The window tests' main: one QApplication per test process, with the user
// settings, the history and COM1 in a folder of the process's own (COM2's device is stored
// in the settings by each test).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <QApplication>

#include "common/testing/test_support.h"
#include "torvix/app/tests/window_test_support.h"

namespace torvix::app::testing {

std::string g_folder;  // set once in main, before any test runs
const std::string& TestFolder() { return g_folder; }

}  // namespace torvix::app::testing

int main(int argc, char** argv) {
  const common::testing::TempFolder process("torvix-window-test");
  if (!process.Ok()) return 1;
  const std::string folder = process.Path().string();
  torvix::app::testing::g_folder = folder;
  // Before Qt or any thread starts: the settings and the ports of this process.
  ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  ::setenv("COM1", (folder + "/com1").c_str(), 1);
  // The history of the operations the tests run, out of the user's.
  ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
  ::unsetenv("RT_HISTORY");
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}

// The command lines' shared pieces: files kept apart per receiver, the
// summary, and JSON that a program reading it gets back intact.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/cli/events.h"
#include "common/cli/port_report.h"
#include "common/cli/receivers.h"
#include "common/cli/runner.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

using nlohmann::json;
using namespace common::cli;

std::vector<json> Lines(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

TEST(Receivers, FilesAreKeptApartByShortNamesThatMustDiffer) {
  struct Case {
    const char* file;
    const char* device;
    const char* expected;
  };
  for (const Case c : {Case{"backup/data.txt", "/dev/ttyUSB0", "backup/data-ttyUSB0.txt"},
                       Case{"r.wdb", "COM3", "r-COM3.wdb"}, Case{"plain", "/tmp/rx1", "plain-rx1"},
                       Case{"x.wdb.bak", "/dev/serial/by-id/usb-A-if00", "x.wdb-usb-A-if00.bak"}}) {
    EXPECT_EQ(WithShortName(c.file, ShortName(c.device)), c.expected);
  }
  EXPECT_FALSE(ReceiverClash({"/tmp/a/rx1", "/tmp/a/rx2", "COM1"}));
  EXPECT_EQ(ReceiverClash({"/tmp/rx1", "/tmp/rx2", "/tmp/rx1"}).value_or(""), "/tmp/rx1 is given twice");
  EXPECT_NE(ReceiverClash({"/tmp/a/rx", "/tmp/b/rx"}).value_or("").find("same short name \"rx\""), std::string::npos);
}

TEST(Receivers, SummaryHasARowEachAndTheFirstFailureDecides) {
  const std::vector<ReceiverResult> results = {{"/tmp/rx1", 0, 1.5, ""}, {"/tmp/rx2", 4, 0.01, ""}, {"/tmp/rx3", 1, 2, ""}};
  EXPECT_EQ(SummaryTable(results),
            "device    result             seconds  exit\n"
            "/tmp/rx1  done                  1.50     0\n"
            "/tmp/rx2  port not opened       0.01     4\n"
            "/tmp/rx3  failed                2.00     1\n");
  EXPECT_EQ(OverallExitCode(results), 4);
  EXPECT_EQ(OverallExitCode({{"a", 0, 0, ""}, {"b", 0, 0, ""}}), 0);
}

std::string Text(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  return text;
}

// Several outcomes at once: the first failure in the order given decides
// and keeps its reason; a receiver stopped by a signal ends as stopped
// with a line that says why; an output that failed otherwise than by being
// closed makes the run a file error; and the signal handling found before
// the run is back after it.
TEST(ReceiverRunner, SeveralOutcomesTheirReasonsAndTheStopsCause) {
  enum class Ends { kDone, kPortGone, kSignalled, kOutputFull };
  struct Case {
    std::vector<Ends> receivers;
    int code;
    int summaryCode;
    std::string lastReason;  // the last receiver's
    std::string lastLine;    // of the error stream
  };
  for (const Case& c : std::vector<Case>{
           {{Ends::kDone, Ends::kPortGone, Ends::kDone}, 4, 4, "", "rx3     done                  0.00     0\n"},
           {{Ends::kSignalled}, 130, 130, "stopped by SIGTERM", "tool: rx1: stopped by SIGTERM\n"},
           {{Ends::kOutputFull}, 10, 130, "stopped: standard output could not be written",
            "tool: standard output: No space left on device\n"}}) {
    SCOPED_TRACE(c.lastLine);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ReceiverRunner runner({"tool", "cmd", true, out, err, -1});
    std::atomic<bool> stopped{false};
    std::vector<RunnerReceiver> receivers;
    for (const Ends ends : c.receivers) {
      receivers.push_back({"rx" + std::to_string(receivers.size() + 1),
                           [&runner, &stopped, ends] {
                             if (ends == Ends::kDone) return ReceiverOutcome{0, ""};
                             if (ends == Ends::kPortGone) return ReceiverOutcome{4, "port gone"};
                             if (ends == Ends::kOutputFull) runner.OutputLost(ENOSPC);
                             if (ends == Ends::kSignalled) ::kill(::getpid(), SIGTERM);
                             stopped.wait(false);
                             return ReceiverOutcome{1, "cut off"};
                           },
                           [&stopped] {
                             stopped = true;
                             stopped.notify_all();
                           }});
    }
    EXPECT_EQ(runner.Run(std::move(receivers), std::nullopt), c.code);
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    const std::string errors = Text(err);
    std::fclose(err);
    EXPECT_EQ(errors.substr(errors.size() - std::min(errors.size(), c.lastLine.size())), c.lastLine) << errors;
    const std::vector<json> events = Lines(out);
    ASSERT_EQ(events.size(), 2 * c.receivers.size() + 1);
    const json& summary = events.back();
    EXPECT_EQ(summary["exit_code"], c.summaryCode);
    EXPECT_EQ(summary["receivers"].size(), c.receivers.size());
    if (c.receivers.size() > 1) {
      EXPECT_EQ(summary["receivers"][1]["reason"], "port gone");
    }
    EXPECT_EQ(summary["receivers"].back().value("reason", ""), c.lastReason);
  }
}

TEST(EventStream, EveryEventIsOneLineOfJsonThatParsesBack) {
  std::FILE* out = std::tmpfile();
  {
    EventStream events(out);
    events.Status("/dev/ttyUSB0", "Uploading...   block 3/514   error 0");
    events.Progress("/dev/ttyUSB0", 3, 514);
    events.Message("/dev/ttyUSB0", true, "Serial Communication Device Error", "line one\nline \"two\" \xff", 3);
    events.Question("COM1", "Upgrade", "Continue?", false);
    events.Result({"COM1", 130, 2.0004, ""});
    events.Summary(130, {{"COM1", 130, 2.0004, ""}});
  }
  const std::vector<json> lines = Lines(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], json::parse(R"({"event":"status","device":"/dev/ttyUSB0","text":"Uploading...   block 3/514   error 0"})"));
  EXPECT_EQ(lines[1]["position"], 3);
  EXPECT_EQ(lines[1]["maximum"], 514);
  EXPECT_EQ(lines[2]["text"], "line one\nline \"two\" \xEF\xBF\xBD") << "a byte that is no UTF-8 is replaced";
  EXPECT_EQ(lines[2]["repeated"], 3);
  EXPECT_EQ(lines[3]["answer"], "no");
  EXPECT_EQ(lines[4], json::parse(R"({"event":"result","device":"COM1","result":"stopped","exit_code":130,"seconds":2.0})"));
  EXPECT_EQ(lines[5]["receivers"][0]["result"], "stopped");
}

TEST(PortReport, TextAndJsonSayTheSameAndKeepToTheComNamesOffered) {
  common::PortListing listing;
  common::SerialDevice ftdi;
  ftdi.name = "/dev/serial/by-id/usb-FTDI-if00";
  ftdi.device = "/dev/ttyUSB0";
  ftdi.byId = {ftdi.name};
  ftdi.driver = "ftdi_sio";
  ftdi.usbVendor = "0403";
  ftdi.usbProduct = "6001";
  ftdi.manufacturer = "FTDI";
  ftdi.comNames = {"COM3", "COM12"};
  listing.devices.push_back(ftdi);
  listing.comPorts = {{"COM1", "/dev/ttyS0", common::ComSource::kDefault, false},
                      {"COM2", "/dev/ttyACM0", common::ComSource::kStored, true},
                      {"COM3", ftdi.name, common::ComSource::kEnvironment, true},
                      {"COM12", "/dev/ttyUSB0", common::ComSource::kEnvironment, true}};
  EXPECT_EQ(PortListingText(listing, 4),
            "/dev/serial/by-id/usb-FTDI-if00\n    /dev/ttyUSB0, driver ftdi_sio, USB 0403:6001, FTDI; COM3\n\n"
            "COM1  /dev/ttyS0 (not present)\nCOM2  /dev/ttyACM0 (stored)\nCOM3  /dev/serial/by-id/usb-FTDI-if00 ($COM3)\n");
  const json all = json::parse(PortListingJson(listing));
  EXPECT_EQ(all["devices"][0]["usb"]["vendor"], "0403");
  EXPECT_EQ(all["devices"][0]["com"], json::parse(R"(["COM3","COM12"])"));
  EXPECT_EQ(all["com_ports"].size(), 4u);
  EXPECT_EQ(all["com_ports"][1]["source"], "stored");
  EXPECT_EQ(all["com_ports"][2]["source"], "environment");
  const json offered = json::parse(PortListingJson(listing, 4));
  EXPECT_EQ(offered["devices"][0]["com"], json::parse(R"(["COM3"])"));
  EXPECT_EQ(offered["com_ports"].size(), 3u);
  EXPECT_EQ(PortListingText({}), "No serial device found.\n\n");
}

}  // namespace

// torvix-cli diff on real files: what it prints and how it exits for lists
// that are the same, that differ, that the reader refuses, and that cannot
// be read.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "common/testing/test_support.h"
#include "torvix/channels/sample_lists.h"
#include "torvix/cli/diff_command.h"

namespace {

using common::testing::WriteFile;
using torvix::channels::ChannelList;
using torvix::channels::Layout;

std::string ImageBytes(const ChannelList& list) {
  const torvix::DatabaseImage image = list.Compile();
  return {reinterpret_cast<const char*>(image.Data()), torvix::DatabaseImage::kSize};
}

TEST(DiffCommand, ExitCodesOutputAndJson) {
  common::testing::TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  const ChannelList list = torvix::channels::MakeSampleList({Layout::kKvrs, 3, 12, 40, 2, 9});
  ChannelList changed = list;
  changed.mutableServices()[0].record.video_pid = 4000;
  const std::string before = std::to_string(list.services()[0].record.video_pid);
  changed.mutableServices().pop_back();
  ASSERT_TRUE(WriteFile(folder / "a.txt", torvix::channels::WriteText(list)));
  ASSERT_TRUE(WriteFile(folder / "a.img", ImageBytes(list)));
  ASSERT_TRUE(WriteFile(folder / "b.txt", torvix::channels::WriteText(changed)));
  // The name of the satellite is one character too long on line 3.
  ASSERT_TRUE(WriteFile(folder / "bad.txt", "# a list\r\n\r\ns \"ASTRA 19.2E\" 9750 10600 u 19.2 e a n n n\r\n"));

  // The generator's last service repeats its first: B's first is A's first,
  // and A's second copy is gone.
  const torvix::TransponderRecord& on = list.FindTransponder(list.services()[0].transponder)->record;
  const std::string key = "service \"" + list.services()[0].record.name + "\" on " + std::to_string(on.frequency) +
                          (on.polarization ? " H" : " V");
  const std::string lines = key + ": video PID " + before + " -> 4000\n- " + key + "\n";
  struct Case {
    const char* a;
    const char* b;
    bool json;
    int exitCode;
    std::string outStart;  // what standard output begins with
    std::string errStart;  // and standard error
  };
  const Case cases[] = {
      {"a.txt", "a.img", false, 0, "", ""},
      {"a.img", "a.txt", true, 0, R"({"added":[],"removed":[],"changed":[]})", ""},
      {"a.txt", "b.txt", false, 1, lines, ""},
      {"a.img", "b.txt", true, 1, "{", ""},
      {"bad.txt", "a.txt", false, 3, "", folder / "bad.txt:3: "},
      {"a.txt", "bad.txt", true, 3, "", folder / "bad.txt:3: "},
      {"missing.txt", "a.txt", false, 10, "", "torvix-cli: " + (folder / "missing.txt") + ": No such file or directory"},
      {"a.txt", ".", false, 10, "", "torvix-cli: " + (folder / ".") + ": "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.b + (c.json ? " --json" : ""));
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(torvix::cli::DiffCommand(folder / c.a, folder / c.b, c.json, out, err), c.exitCode);
    EXPECT_EQ(out.str().substr(0, c.outStart.size()), c.outStart);
    EXPECT_EQ(err.str().substr(0, c.errStart.size()), c.errStart);
    if (!c.json) {
      EXPECT_EQ(out.str(), c.outStart);
    }
    if (c.exitCode == 1 && c.json) {
      const nlohmann::json json = nlohmann::json::parse(out.str());
      EXPECT_EQ(json["added"].size(), 0u);
      ASSERT_EQ(json["removed"].size(), 1u);
      EXPECT_EQ(json["removed"][0]["table"], "service");
      ASSERT_EQ(json["changed"].size(), 1u);
      EXPECT_EQ(json["changed"][0]["fields"][0]["field"], "video PID");
      EXPECT_EQ(json["changed"][0]["fields"][0]["before"], before);
      EXPECT_EQ(json["changed"][0]["fields"][0]["after"], "4000");
    }
  }
}

}  // namespace

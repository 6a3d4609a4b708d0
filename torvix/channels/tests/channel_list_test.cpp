#include "torvix/channels/channel_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include <unistd.h>

#include "common/testing/test_support.h"
#include "torvix/channels/tests/list_samples.h"
#include "torvix/database/tests/sample_texts.h"

namespace torvix::channels {
namespace {

using torvix::testing::Compile;
using torvix::testing::Print;

bool SameImage(const DatabaseImage& a, const DatabaseImage& b) {
  return std::memcmp(a.Data(), b.Data(), DatabaseImage::kSize) == 0;
}

// What the reader builds from `text` in a zero image.
std::unique_ptr<DatabaseImage> ReadBack(const std::string& text) {
  auto image = std::make_unique<DatabaseImage>();
  const auto result = Compile(text, *image);
  EXPECT_EQ(result.code, 0) << result.message;
  return image;
}

struct ListCase {
  const char* name;
  std::function<ChannelList()> make;
};

ChannelList Opened(const std::string& text) {
  OpenResult opened = ListFromText(text);
  EXPECT_EQ(opened.status, OpenResult::Status::kOk) << opened.message;
  return opened.list.value_or(ChannelList());
}

const ListCase kLists[] = {
    {"FullBasicText", [] { return Opened(torvix::testing::FullBasicText()); }},
    {"FullKvrsText", [] { return Opened(torvix::testing::FullKvrsText()); }},
    {"MaximalKvrsText", [] { return Opened(torvix::testing::MaximalKvrsText()); }},
    {"HandMadeBasic", [] { return testing::HandMadeList(Layout::kBasic); }},
    {"HandMadeKvrs", [] { return testing::HandMadeList(Layout::kKvrs); }},
};

// The image a list compiles to is the one the reader makes of its text, and
// the text of a list opened from a writer-made text is that text.
TEST(ChannelList, CompilesToWhatTheReaderMakesOfItsText) {
  for (const ListCase& c : kLists) {
    SCOPED_TRACE(c.name);
    const ChannelList list = c.make();
    const std::string text = WriteText(list);
    const DatabaseImage compiled = list.Compile();
    EXPECT_TRUE(SameImage(*ReadBack(text), compiled));
    EXPECT_EQ(WriteText(Opened(text)), text);
    std::vector<std::string> notes;
    EXPECT_TRUE(SameImage(ListFromImage(compiled, &notes).Compile(), compiled));
    EXPECT_TRUE(notes.empty()) << notes.front();
  }
}

TEST(ChannelList, OpensWhatTheWriterPrintsOfAnImage) {
  for (const std::string& sample :
       {torvix::testing::FullBasicText(), torvix::testing::FullKvrsText(), torvix::testing::MaximalKvrsText()}) {
    const std::string printed = Print(*ReadBack(sample));
    EXPECT_EQ(WriteText(Opened(printed)), printed);
  }
}

TEST(ChannelList, OpenListFileTakesTextsAndImagesAndSavesTheWritersText) {
  common::testing::TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  const ChannelList list = testing::HandMadeList(Layout::kKvrs);
  const DatabaseImage image = list.Compile();
  ASSERT_TRUE(common::testing::WriteFile(folder / "image.bin",
                                         {reinterpret_cast<const char*>(image.Data()), DatabaseImage::kSize}));
  ASSERT_EQ(SaveListFile(list, folder / "list.txt"), "");
  EXPECT_EQ(common::testing::ReadFile(folder / "list.txt"), WriteText(list));
  for (const char* name : {"image.bin", "list.txt"}) {
    const OpenResult opened = OpenListFile(folder / name);
    ASSERT_EQ(opened.status, OpenResult::Status::kOk) << name << ": " << opened.message;
    EXPECT_TRUE(SameImage(opened.list->Compile(), image)) << name;
  }

  for (const std::string& unreadable : {folder / "missing.txt", folder.Path().string()}) {
    const OpenResult opened = OpenListFile(unreadable);
    EXPECT_EQ(opened.status, OpenResult::Status::kUnreadable);
    EXPECT_EQ(opened.message.find(unreadable + ": "), 0u) << opened.message;
  }
  ASSERT_TRUE(common::testing::WriteFile(folder / "bad.txt", "# one\r\nx nothing\r\n"));
  const OpenResult refused = OpenListFile(folder / "bad.txt");
  EXPECT_EQ(refused.status, OpenResult::Status::kRefused);
  EXPECT_EQ(refused.message, " * Error : line 2. Invalid tag 'x'.\n");
  EXPECT_EQ(refused.line, 2);

  // A save that cannot replace the file leaves the old one as it was.
  EXPECT_NE(SaveListFile(list, folder / "no-such-folder/list.txt"), "");
  ASSERT_TRUE(common::testing::WriteFile(folder / "kept.txt", "old"));
  std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string error = SaveListFile(list, folder / "kept.txt");
  std::filesystem::permissions(folder.Path(), std::filesystem::perms::owner_all);
  if (geteuid() != 0) {
    EXPECT_NE(error, "");
  }
  EXPECT_EQ(common::testing::ReadFile(folder / "kept.txt"), error.empty() ? WriteText(list) : "old");
}

// An image from a receiver may hold what no text carries: left out, with a note.
TEST(ChannelList, LeavesOutWhatNoTextCarriesWithANote) {
  ChannelList list = testing::HandMadeList(Layout::kBasic);
  auto image = std::make_unique<DatabaseImage>(list.Compile());
  const ImageLayout& l = kBasicLayout;
  TransponderRecord orphan = LoadTransponder(*image, l, 4);
  orphan.satellite_index = 9;  // no such satellite
  StoreTransponder(*image, l, 4, orphan);
  ServiceRecord beyond = LoadService(*image, l, 0);
  beyond.transponder_index = 4000;
  beyond.name = "0123456789abcdef";
  StoreService(*image, l, 0, beyond);
  std::vector<std::string> notes;
  const ChannelList opened = ListFromImage(*image, &notes);
  EXPECT_EQ(opened.Count(Table::kTransponders), 4);
  // The service on the orphan transponder and the one beyond the table.
  EXPECT_EQ(opened.Count(Table::kServices), 2);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0], "1 transponders of no satellite were left out.");
  EXPECT_EQ(notes[1], "2 services of no transponder that a text can name were left out.");
  EXPECT_TRUE(SameImage(*ReadBack(WriteText(opened)), opened.Compile()));
}

// Look-ups follow the records wherever they move.
TEST(ChannelList, FindsRecordsByIdentityAfterChanges) {
  ChannelList list = testing::HandMadeList(Layout::kKvrs);
  const ItemId first = list.services().front().id;
  const ItemId tp = list.services().front().transponder;
  ASSERT_NE(list.FindService(first), nullptr);
  auto& services = list.mutableServices();
  std::rotate(services.begin(), services.begin() + 1, services.end());
  EXPECT_EQ(list.IndexOf(Table::kServices, first), list.Count(Table::kServices) - 1);
  EXPECT_EQ(list.FindService(first)->transponder, tp);
  EXPECT_EQ(list.PositionInSatellite(tp), 1);
  EXPECT_EQ(list.PositionInSatellite(list.transponders()[4].id), 3);
  auto& satellites = list.mutableSatellites();
  std::swap(satellites[0], satellites[1]);
  list.RegroupTransponders();
  EXPECT_EQ(list.transponders().front().satellite, list.satellites().front().id);
  EXPECT_EQ(list.IndexOf(Table::kTransponders, tp), 3);
  EXPECT_EQ(list.FindSatellite(kNoItem), nullptr);
  EXPECT_EQ(list.IndexOf(Table::kAntennas, 12345), -1);
}

}  // namespace
}  // namespace torvix::channels

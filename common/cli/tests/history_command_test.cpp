// The history subcommand both command lines share, in-process on a real
// SQLite file written by the recorder: its filters, its exit codes, and the
// JSON and CSV it prints parsed back.
#include "common/cli/history_command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "common/testing/test_support.h"

namespace {

std::string Contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// RFC 4180: fields with commas, quotes and line breaks inside quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
    } else {
      field += c;
    }
  }
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

class HistoryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    history::Recorder recorder({true, path_}, [this](const std::string& line) { warnings_ += line; });
    struct Made {
      const char* program;
      const char* operation;
      const char* port;
      const char* unit;
      std::string_view result;
      int code;
      const char* message;
    };
    // Oldest first: ids 1 to 5.
    for (const Made& m : {Made{"torvix-cli", "connect", "COM1", "A-1", history::kOk, 0, ""},
                          Made{"updater-cli", "send-settings", "COM2", "A-2", history::kFailed, 1,
                               "Ошибка! \"quoted\", with a comma"},
                          Made{"torvix", "upgrade", "COM1", "A-1", history::kRefused, 3, "Wrong ROM image. Retry."},
                          Made{"updater", "update-software", nullptr, nullptr, history::kStopped, 130, ""},
                          Made{"torvix-cli", "read-user-data", "COM3", "A-3", history::kOk, 0, ""}}) {
      history::Start start;
      start.program = m.program;
      start.version = "1.0.0";
      start.operation = m.operation;
      if (m.port != nullptr) start.port = m.port;
      if (m.unit != nullptr) start.unit = m.unit;
      history::Entry entry = recorder.Begin(start);
      entry.Finish(m.result, m.code, m.message);
    }
  }

  // Runs `history` with `args`; the output lands in output_, the errors in errors_.
  int Run(std::vector<std::string> args) {
    CLI::App app;
    int exitCode = -1;
    common::cli::HistoryCommandSettings settings;
    settings.program = "torvix-cli";
    settings.out = std::tmpfile();
    settings.err = std::tmpfile();
    common::cli::AddHistoryCommand(app, exitCode, settings);
    args.insert(args.begin(), "history");
    std::reverse(args.begin(), args.end());
    try {
      app.parse(args);
    } catch (const CLI::ParseError&) {
      exitCode = common::kExitUsage;
    }
    output_ = Contents(settings.out);
    errors_ = Contents(settings.err);
    return exitCode;
  }
  std::vector<std::int64_t> JsonIds(std::vector<std::string> args) {
    args.insert(args.end(), {"--history", path_, "--json"});
    std::vector<std::int64_t> ids;
    if (Run(args) != common::kExitOk) return {-1};
    for (const auto& row : nlohmann::json::parse(output_)) ids.push_back(row["id"]);
    return ids;
  }

  common::testing::TempFolder folder_{"history-command-test"};
  const std::string path_ = folder_ / "history.sqlite";
  std::string warnings_;
  std::string output_;
  std::string errors_;
};

TEST_F(HistoryCommandTest, FiltersChooseTheRowsNewestFirst) {
  ASSERT_TRUE(warnings_.empty()) << warnings_;
  const auto now = std::chrono::system_clock::now();
  const std::string today = history::IsoTime(now).substr(0, 10);
  const std::string tomorrow = history::IsoTime(now + std::chrono::hours(24)).substr(0, 10);
  const std::string yesterday = history::IsoTime(now - std::chrono::hours(24)).substr(0, 10);
  using Ids = std::vector<std::int64_t>;
  struct Case {
    std::vector<std::string> args;
    Ids ids;
  };
  for (const Case& c : std::vector<Case>{
           {{}, {5, 4, 3, 2, 1}},
           {{"--limit", "2"}, {5, 4}},
           {{"--unit", "A-1"}, {3, 1}},
           {{"--result", "ok"}, {5, 1}},
           {{"--operation", "send-settings"}, {2}},
           {{"--port", "com1"}, {3, 1}},
           {{"--port", "3"}, {5}},
           {{"--since", today}, {5, 4, 3, 2, 1}},
           {{"--since", tomorrow}, {}},
           {{"--until", today}, {5, 4, 3, 2, 1}},
           {{"--until", yesterday}, {}},
           {{"--unit", "A-1", "--result", "refused"}, {3}},
       }) {
    SCOPED_TRACE(c.args.empty() ? "no filter" : c.args.front() + " " + c.args.back());
    EXPECT_EQ(JsonIds(c.args), c.ids) << errors_;
  }
}

TEST_F(HistoryCommandTest, ExitCodesForAWrongFilterAndAFileThatCannotBeRead) {
  ASSERT_TRUE(common::testing::WriteFile(folder_ / "corrupt.sqlite", std::string(4096, 'x')));
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* error;  // in the one line on standard error
  };
  for (const Case& c : std::vector<Case>{
           {{"--history", path_, "--since", "12/10"}, common::kExitUsage, "torvix-cli: --since: "},
           {{"--history", path_, "--result", "fine"}, common::kExitUsage, "torvix-cli: --result: "},
           {{"--history", path_, "--limit", "-1"}, common::kExitUsage, "torvix-cli: --limit: "},
           {{"--history", path_, "--port", "USB0"}, common::kExitUsage, ""},
           {{"--history", path_, "--json", "--csv"}, common::kExitUsage, ""},
           {{"--history", folder_ / "corrupt.sqlite"}, common::kExitFile, "torvix-cli: "},
           {{"--history", folder_.Path().string()}, common::kExitFile, "torvix-cli: "},
       }) {
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(Run(c.args), c.code);
    EXPECT_TRUE(output_.empty()) << output_;
    EXPECT_EQ(errors_.rfind(c.error, 0), 0u) << errors_;
    EXPECT_LE(std::count(errors_.begin(), errors_.end(), '\n'), 1) << errors_;
  }
  EXPECT_EQ(common::testing::ReadFile(folder_ / "corrupt.sqlite"), std::string(4096, 'x')) << "read, not replaced";
  // A file not written yet is an empty history.
  EXPECT_EQ(Run({"--history", folder_ / "none.sqlite", "--json"}), common::kExitOk) << errors_;
  EXPECT_EQ(nlohmann::json::parse(output_), nlohmann::json::array());
}

TEST_F(HistoryCommandTest, JsonAndCsvCarryEveryColumnAndReadBackAlike) {
  ASSERT_EQ(Run({"--history", path_, "--json"}), common::kExitOk) << errors_;
  const nlohmann::json json = nlohmann::json::parse(output_);
  ASSERT_EQ(Run({"--history", path_, "--csv"}), common::kExitOk) << errors_;
  const auto csv = ParseCsv(output_);
  ASSERT_EQ(csv.size(), 6u) << output_;
  ASSERT_EQ(json.size(), 5u);
  ASSERT_EQ(csv[0].size(), history::kColumns.size());
  for (std::size_t column = 0; column < history::kColumns.size(); ++column) {
    const std::string key(history::kColumns[column]);
    EXPECT_EQ(csv[0][column], key);
    for (std::size_t row = 0; row < json.size(); ++row) {
      SCOPED_TRACE(key + " of row " + std::to_string(row));
      ASSERT_TRUE(json[row].contains(key));
      const nlohmann::json& value = json[row][key];
      const std::string text = value.is_null() ? "" : value.is_string() ? value.get<std::string>() : value.dump();
      EXPECT_EQ(csv[row + 1][column], text);
    }
  }
  EXPECT_EQ(json[3]["message"], "Ошибка! \"quoted\", with a comma");
  EXPECT_TRUE(json[1]["port"].is_null());
  EXPECT_EQ(json[1]["exit_code"], 130);
  // The table: a header and one line per row.
  ASSERT_EQ(Run({"--history", path_}), common::kExitOk) << errors_;
  EXPECT_EQ(std::count(output_.begin(), output_.end(), '\n'), 6) << output_;
  EXPECT_NE(output_.find("update-software"), std::string::npos) << output_;
}

}  // namespace

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/history/history.h"

namespace {

// Two rows with what CSV and JSON must carry through: separators, quotes,
// line breaks, non-ASCII text, and absent values.
std::vector<history::Row> Rows() {
  history::Row full;
  full.id = 7;
  full.started = "2026-12-10T13:25:40.123Z";
  full.ended = "2026-12-10T13:26:00.000Z";
  full.duration_ms = 19877;
  full.program = "updater-cli";
  full.version = "1.0.0";
  full.operation = "update-software";
  full.mode = "all";
  full.port = "COM3";
  full.device = "/dev/ttyUSB0";
  full.adapter = "usb-FTDI_X-if00-port0, serial A1";
  full.hardware = "HW \"B\"";
  full.software = "ПО 5.1";
  full.file = "/srv/a,b.bin";
  full.file_size = 4096;
  full.file_sha256 = std::string(64, 'f');
  full.result = "failed";
  full.exit_code = 3;
  full.message = "Нет ответа.\nПроверьте кабель, \"COM3\".";
  full.operator_name = "anna";
  full.station = "bench-2";
  full.unit = "SN 1";
  history::Row bare;
  bare.id = 8;
  bare.started = "2026-12-10T14:00:00.000Z";
  bare.program = "torvix";
  bare.version = "1.0.0";
  bare.operation = "connect";
  bare.operator_name = "boris";
  bare.station = "bench-2";
  return {full, bare};
}

// The values of a row as text, absent ones as nullopt, in column order.
std::vector<std::optional<std::string>> Texts(const history::Row& r) {
  const auto n = [](auto v) -> std::optional<std::string> {
    if (v) return std::to_string(*v);
    return std::nullopt;
  };
  return {std::to_string(r.id), r.started, r.ended, n(r.duration_ms), r.program, r.version, r.operation, r.mode,
          r.port, r.device, r.adapter, r.hardware, r.software, r.file, n(r.file_size), r.file_sha256, r.result,
          n(r.exit_code), r.message, r.operator_name, r.station, r.unit};
}

// RFC 4180: records end with CRLF; a quoted field may hold anything, "" a quote.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
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
      records.back().push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.back().push_back(std::move(field));
      field.clear();
      records.emplace_back();
      ++i;
    } else if (c == '\r' || c == '\n') {
      ADD_FAILURE() << "a line break outside quotes at " << i;
    } else {
      field += c;
    }
  }
  EXPECT_TRUE(records.back().empty() && field.empty()) << "the last record ends with CRLF";
  records.pop_back();
  return records;
}

TEST(HistoryFormat, CsvParsesBackToTheRows) {
  const auto rows = Rows();
  const auto records = ParseCsv(history::FormatCsv(rows));
  ASSERT_EQ(records.size(), rows.size() + 1);
  EXPECT_EQ(records[0], std::vector<std::string>(history::kColumns.begin(), history::kColumns.end()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto expected = Texts(rows[r]);
    ASSERT_EQ(records[r + 1].size(), expected.size());
    for (std::size_t c = 0; c < expected.size(); ++c) {
      EXPECT_EQ(records[r + 1][c], expected[c].value_or("")) << history::kColumns[c];
    }
  }
  EXPECT_EQ(ParseCsv(history::FormatCsv({})).size(), 1u) << "the header alone";
}

TEST(HistoryFormat, JsonHasExactlyTheKeysWithNulls) {
  const auto rows = Rows();
  const auto json = nlohmann::ordered_json::parse(history::FormatJson(rows));
  ASSERT_TRUE(json.is_array());
  ASSERT_EQ(json.size(), rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto expected = Texts(rows[r]);
    std::vector<std::string> keys;
    for (const auto& [key, value] : json[r].items()) keys.push_back(key);
    EXPECT_EQ(keys, std::vector<std::string>(history::kColumns.begin(), history::kColumns.end()));
    for (std::size_t c = 0; c < expected.size(); ++c) {
      const auto& value = json[r][std::string(history::kColumns[c])];
      SCOPED_TRACE(history::kColumns[c]);
      if (!expected[c]) {
        EXPECT_TRUE(value.is_null());
      } else if (value.is_number_integer()) {
        EXPECT_EQ(std::to_string(value.get<std::int64_t>()), *expected[c]);
      } else {
        EXPECT_EQ(value.get<std::string>(), *expected[c]);
      }
    }
  }
  EXPECT_TRUE(json[0]["exit_code"].is_number_integer());
  EXPECT_TRUE(json[0]["file_size"].is_number_integer());
  EXPECT_EQ(nlohmann::json::parse(history::FormatJson({})), nlohmann::json::array());
}

TEST(HistoryFormat, TableHasAHeaderAndOneLinePerRow) {
  const std::string table = history::FormatTable(Rows());
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(table.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("ID", 0), 0u);
  EXPECT_NE(lines[1].find("update-software (all)"), std::string::npos);
  EXPECT_NE(lines[1].find("Проверьте кабель"), std::string::npos) << "the message on the same line";
  EXPECT_NE(lines[2].find("running"), std::string::npos) << "no result yet";
  // Columns line up: each row's RESULT starts where the header's does,
  // counted in characters (Cyrillic in earlier cells).
  const auto column = [](const std::string& line, const std::string& word) {
    const std::string before = line.substr(0, line.find(word));
    std::size_t n = 0;
    for (unsigned char c : before) n += (c & 0xc0) != 0x80;
    return n;
  };
  EXPECT_EQ(column(lines[1], "failed"), column(lines[0], "RESULT"));
  EXPECT_EQ(column(lines[2], "running"), column(lines[0], "RESULT"));
}

}  // namespace

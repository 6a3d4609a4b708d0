// The three outputs of the history: a table for a person, CSV and JSON.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <variant>

#include "common/history/history.h"

namespace history {
namespace {

using Value = std::variant<std::monostate, std::int64_t, std::string>;

// The row's values in the order of kColumns.
std::vector<Value> Values(const Row& row) {
  const auto text = [](const std::optional<std::string>& v) -> Value {
    if (v) return *v;
    return std::monostate{};
  };
  const auto number = [](const std::optional<std::int64_t>& v) -> Value {
    if (v) return *v;
    return std::monostate{};
  };
  std::optional<std::int64_t> exitCode;
  if (row.exit_code) exitCode = *row.exit_code;
  return {row.id,        row.started,    text(row.ended),     number(row.duration_ms), row.program,
          row.version,   row.operation,  text(row.mode),      text(row.port),          text(row.device),
          text(row.adapter), text(row.hardware), text(row.software), text(row.file), number(row.file_size),
          text(row.file_sha256), text(row.result), number(exitCode), text(row.message), row.operator_name,
          row.station,   text(row.unit)};
}

// Characters as a terminal shows them (UTF-8 continuation bytes take no
// column).
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char c : text) width += (c & 0xc0) != 0x80;
  return width;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return text;
}

}  // namespace

std::string FormatTable(const std::vector<Row>& rows) {
  std::vector<std::vector<std::string>> cells = {
      {"ID", "STARTED (UTC)", "TIME", "PROGRAM", "OPERATION", "PORT", "UNIT", "RESULT", "EXIT", "FILE", "MESSAGE"}};
  for (const Row& row : rows) {
    std::string time = "-";
    if (row.duration_ms) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(*row.duration_ms) / 1000.0);
      time = text;
    }
    std::string started = row.started;
    if (started.size() == 24) started = started.substr(0, 10) + " " + started.substr(11, 8);
    cells.push_back({std::to_string(row.id), started, time, row.program,
                     row.operation + (row.mode ? " (" + *row.mode + ")" : ""), row.port.value_or("-"),
                     row.unit.value_or("-"), row.result.value_or("running"),
                     row.exit_code ? std::to_string(*row.exit_code) : "-", row.file.value_or("-"),
                     OneLine(row.message.value_or(""))});
  }
  std::vector<std::size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], Width(line[i]));
  }
  std::string out;
  for (const auto& line : cells) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text += std::string(widths[i] - Width(line[i]) + 2, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  }
  return out;
}

std::string FormatCsv(const std::vector<Row>& rows) {
  const auto field = [](const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    return quoted + "\"";
  };
  std::string out;
  for (std::size_t i = 0; i < kColumns.size(); ++i) out += (i ? "," : "") + std::string(kColumns[i]);
  out += "\r\n";
  for (const Row& row : rows) {
    const std::vector<Value> values = Values(row);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i) out += ',';
      if (const auto* n = std::get_if<std::int64_t>(&values[i])) out += std::to_string(*n);
      if (const auto* s = std::get_if<std::string>(&values[i])) out += field(*s);
    }
    out += "\r\n";
  }
  return out;
}

std::string FormatJson(const std::vector<Row>& rows) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const Row& row : rows) {
    const std::vector<Value> values = Values(row);
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string key(kColumns[i]);
      if (const auto* n = std::get_if<std::int64_t>(&values[i])) {
        object[key] = *n;
      } else if (const auto* s = std::get_if<std::string>(&values[i])) {
        object[key] = *s;
      } else {
        object[key] = nullptr;
      }
    }
    array.push_back(std::move(object));
  }
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace history

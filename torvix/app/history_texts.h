// The texts of TORVIX's service history: its view, the unit field of the
// main window and the warning when the history cannot be written.
#pragma once

#include "common/qt/history_view.h"

namespace torvix::app {

// The program as the history names it.
inline constexpr const char* kHistoryProgram = "torvix";
// An item of the main window's context menu.
inline constexpr const char* kHistoryMenuItem = "&History…";
// The label scanned from the receiver, recorded with each operation.
inline constexpr const char* kUnitLabel = "&Unit";
// Shown once in a run, %1 the history's own line.
inline constexpr const char* kHistoryWarning =
    "The service history cannot be written; operations go on without it.\n\n%1";

inline constexpr common::qt::HistoryTexts kHistoryTexts{
    .caption = "History",
    .filterLabel = "&Filter:",
    .exportButton = "&Export CSV…",
    .closeButton = "&Close",
    .exportCaption = "Export CSV",
    .exportFileName = "history.csv",
    .csvFilter = "CSV files (*.csv)",
    .exported = "Rows exported: %1 (%2).",
    .exportFailed = "The file could not be written:\n%1",
    .readFailed = "The history could not be read: %1",
    .turnedOff = "The history is turned off (RT_HISTORY=off).",
    .rowCaption = "Operation %1",
    .running = "running",
    .resultWords = {"", "", "", "", "", ""},
    .columns = {"Id", "Started", "Ended", "Duration (ms)", "Program", "Version", "Operation", "Mode", "Port",
                "Device", "Adapter", "Hardware", "Software", "File", "File size", "SHA-256", "Result", "Exit code",
                "Message", "Operator", "Station", "Unit"},
};

}  // namespace torvix::app

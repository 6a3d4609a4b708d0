// The fixed texts of the channel editor's windows.  The & marks a mnemonic.
#pragma once

namespace torvix::channels::app {

inline constexpr const char* kEditorName = "TORVIX Channel Editor";
inline constexpr const char* kUntitled = "Untitled";
inline constexpr const char* kFromReceiver = "From the receiver";
// The program as the service history names it, and the status line, %1 the
// history's own line, when it cannot be written.
inline constexpr const char* kHistoryProgram = "torvix-channels";
inline constexpr const char* kHistoryWarning = "The service history cannot be written: %1";
// The title: "*" while modified, the file's name, the program's.
inline constexpr const char* kTitle = "%1%2 - TORVIX Channel Editor";

// The tables, their tab and the choices above them.
inline constexpr const char* kSatellites = "Satellites";
inline constexpr const char* kTransponders = "Transponders";
inline constexpr const char* kServices = "Services";
inline constexpr const char* kAntennas = "Antennas";
// The labels above the tables (their mnemonics go to the table).
inline constexpr const char* kSatellitesLabel = "S&atellites";
inline constexpr const char* kTranspondersLabel = "&Transponders";
inline constexpr const char* kServicesTab = "&Services";
inline constexpr const char* kAntennasTab = "A&ntennas";
inline constexpr const char* kShowLabel = "Sho&w:";
inline constexpr const char* kShowAll = "All services";
inline constexpr const char* kShowSatellite = "Services of the selected satellite";
inline constexpr const char* kShowTransponder = "Services of the selected transponder";
inline constexpr const char* kFilterLabel = "F&ilter:";
inline constexpr const char* kFilterPlaceholder = "Name, service ID or PID";
// A status bar counter: "Services 812 / 3200".
inline constexpr const char* kCounter = "%1 %2 / %3";

// Menus.
inline constexpr const char* kFileMenu = "&File";
inline constexpr const char* kEditMenu = "&Edit";
inline constexpr const char* kViewMenu = "&View";
inline constexpr const char* kReceiverMenu = "&Receiver";
inline constexpr const char* kHelpMenu = "&Help";
inline constexpr const char* kNew = "&New\u2026";
inline constexpr const char* kOpen = "&Open\u2026";
inline constexpr const char* kSave = "&Save";
inline constexpr const char* kSaveAs = "Save &As\u2026";
inline constexpr const char* kCompareWith = "&Compare With\u2026";
inline constexpr const char* kQuit = "&Quit";
inline constexpr const char* kUndo = "&Undo";
inline constexpr const char* kUndoNamed = "&Undo %1";
inline constexpr const char* kRedo = "&Redo";
inline constexpr const char* kRedoNamed = "&Redo %1";
inline constexpr const char* kInsert = "&Insert Row";
inline constexpr const char* kDelete = "&Delete";
inline constexpr const char* kMoveUp = "Move U&p";
inline constexpr const char* kMoveDown = "Move Do&wn";
inline constexpr const char* kMoveTo = "&Move To\u2026";
inline constexpr const char* kApplySort = "Apply Sort &Order";
inline constexpr const char* kFindDuplicates = "Find Dupli&cates";
inline constexpr const char* kFind = "&Find";
inline constexpr const char* kListOrder = "Show &List Order";
inline constexpr const char* kReadFromReceiver = "&Read from Receiver";
inline constexpr const char* kWriteToReceiver = "&Write to Receiver";
inline constexpr const char* kPortSetting = "&Port Setting\u2026";
inline constexpr const char* kAbout = "&About";

// Questions and messages.
inline constexpr const char* kNewCaption = "New Channel List";
inline constexpr const char* kNewQuestion = "Which layout does the new list have?";
inline constexpr const char* kBasicButton = "&Basic";
inline constexpr const char* kKvrsButton = "&KVRS";
inline constexpr const char* kSaveQuestion = "Save the changes to %1?";
inline constexpr const char* kDeleteWithServices = "Services that use the selected %2: %1.\nDelete those services too?";
inline constexpr const char* kMoveToCaption = "Move To";
inline constexpr const char* kMoveToLabel = "Position (1 to %1):";
inline constexpr const char* kSortFirst = "Sort the table by a column header first.";
inline constexpr const char* kSortApplied = "The table's order is now the sorted one.";
inline constexpr const char* kOpenFailed = "%1 cannot be opened:\n%2";
inline constexpr const char* kSaveFailed = "%1 cannot be saved:\n%2";
inline constexpr const char* kSaved = "Saved %1.";
inline constexpr const char* kOpenNotes = "What the image held that a text cannot:\n%1";
inline constexpr const char* kOpenFilters = "Factory data files (*.txt);;Database images (*.bin);;All files (*)";
inline constexpr const char* kSaveFilters = "Factory data files (*.txt);;All files (*)";
inline constexpr const char* kReceiverListRead = "The receiver's list has been read.";
inline constexpr const char* kEditorAbout =
    "TORVIX Channel Editor\nBuild %1\n\nEdits the channel lists that TORVIX writes "
    "to a receiver and reads back from one.";

// Find Duplicates.
inline constexpr const char* kDuplicatesCaption = "Find Duplicates";
inline constexpr const char* kNoDuplicates = "The list has no duplicates.";
inline constexpr const char* kDuplicatesFound =
    "%1 records are duplicates of earlier ones; the checked ones are removed.";
inline constexpr const char* kRemoveDuplicates = "&Remove Checked Duplicates";
inline constexpr const char* kRemoveDuplicatesStep = "Remove %1 duplicates";

// Compare With.
inline constexpr const char* kCompareCaption = "Compare With %1";
inline constexpr const char* kNoDifferences = "The lists are the same.";
inline constexpr const char* kDifferencesFound =
    "%1 differences from this list to %2; copy the selected ones into this list.";
inline constexpr const char* kCopyDifferences = "&Copy Selected Into This List";
inline constexpr const char* kCopyDifferencesStep = "Copy %1 differences from %2";
inline constexpr const char* kDifferences = "Differences";
inline constexpr const char* kDuplicates = "Duplicates";

}  // namespace torvix::channels::app

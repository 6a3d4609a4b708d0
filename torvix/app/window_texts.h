// The fixed texts of TORVIX's windows, used exactly as written (blanks, line
// breaks and spellings included).  The & marks a mnemonic.
#pragma once

namespace torvix::app {

// Caption of the boxes unless a window gives another: the program's name.
inline constexpr const char* kProgramName = "TORVIX";

// The main window.
inline constexpr const char* kMainCaption = "MeridLink - 4.0";
inline constexpr const char* kReceiverInformation = "Receiver Information";
inline constexpr const char* kSoftwareVersionLabel = "[ Software version ]";
inline constexpr const char* kHardwareVersionLabel = "[ Hardware version ]";
inline constexpr const char* kCommunicationStatus = "Communication Status";
inline constexpr const char* kUnavailable = "Unavailable.";
inline constexpr const char* kConnectionEstablished = "Connection established.";
inline constexpr const char* kConnectionFailed = "Connection failed.";
inline constexpr const char* kSetupCommButton = "&Setup Comm";
inline constexpr const char* kAboutButton = "&About MeridLink";
inline constexpr const char* kExitButton = "&Exit MeridLink";
inline constexpr const char* kReadUserDataButton = "&Read User Data";
inline constexpr const char* kWriteFactoryDataButton = "&Write Factory Data";
inline constexpr const char* kUpgrade1Button = "Upgrade 1\nsoftware(keep &channel list)";
inline constexpr const char* kUpgrade2Button = "Upgrade 2\nsoftware,satellite &info";
inline constexpr const char* kUpgrade3Button = "Upgrade 3\nsoftware,satellite info,&loader";
inline constexpr const char* kUpgrade4Button = "Upgrade 4\nwhen software &broken in receiver ";
// The item the receivers' home platform put in the system menu; here the
// main window's context menu.
inline constexpr const char* kAboutMenuItem = "&About Kalmer Link";
// The context menu's second item: the channel editor, torvix-channels.
inline constexpr const char* kEditChannelListMenuItem = "Edit Channel List…";
inline constexpr const char* kEditorProgram = "torvix-channels";
inline constexpr const char* kEditorNotStarted = "The channel editor (%1) could not be started.";

// The about box.
inline constexpr const char* kAboutCaption = "About MeridLink";
inline constexpr const char* kAboutVersion = "MeridLink Version 4.0";
// A second line under it: the version of this build (common/build_version.h).
inline constexpr const char* kAboutBuild = "Build %1";

// The port setting.
inline constexpr const char* kCommSetupCaption = "Communication Setup";
inline constexpr const char* kSelectAPort = "Select a port";
inline constexpr const char* kCom1 = "COM1";
inline constexpr const char* kCom2 = "COM2";
// The device behind a COM name (%1), beside its button.
inline constexpr const char* kDeviceFromEnvironment = "Set by the environment variable %1 for this run.";
// The device field's own width in characters (its list is as wide as its lines).
inline constexpr int kDeviceShownCharacters = 24;
// Added to the port's error box when a COM name (%1) did not open at its
// device (%2) and other serial devices are present.
inline constexpr const char* kOpenFailureNote =
    "\n\nTried %1 at %2.\nOther serial devices are present: choose one for %1 with \"Setup Comm\".";
inline constexpr const char* kOpenFailureNoteEnvironment =
    "\n\nTried %1 at %2, as the environment variable %1 says.\nOther serial devices are present: set %1 to one "
    "of them, or unset it and choose one with \"Setup Comm\".";

// The access code.
inline constexpr const char* kPasswordCaption = "Password Dialog";
inline constexpr const char* kPasswordLabel = "input password:";
inline constexpr int kPasswordMaxLength = 20;

// The progress window.
inline constexpr const char* kProgressCaption = "LINK";  // replaced by the operation's caption
inline constexpr const char* kProgressStatus = "Progress";
inline constexpr int kProgressMaximum = 100;

// File choices.
inline constexpr const char* kRomFileName = "rom.bin";
inline constexpr const char* kRomFileFilters = "ROM image files (*.bin);;All files (*)";
inline constexpr const char* kFactoryFileName = "factory_data.txt";
inline constexpr const char* kFactoryFileFilters = "Factory data files (*.txt);;All files (*)";

// The stored port number (user scope; the system-wide file is the fallback).
inline constexpr const char* kSettingsOrganization = "KALMER";
inline constexpr const char* kSettingsApplication = "TORVIX";
inline constexpr const char* kPortKey = "Port";

}  // namespace torvix::app

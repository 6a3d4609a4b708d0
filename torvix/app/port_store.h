// The stored port number: one 32-bit value "Port" of organization "KALMER",
// application "TORVIX", in the user's settings (QSettings, user scope: it
// reads the system-wide file as a fallback), so a normal user's choice is
// kept.  XDG_CONFIG_HOME decides where it lives.  User-interface thread.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

namespace torvix::app {

// A stored text as a port number: only decimal digits, 0 to 4294967295.
std::optional<std::uint32_t> ParseStoredPort(const QString& text);

// The stored port number; none when nothing is stored or it is no such number.
std::optional<std::uint32_t> ReadStoredPort();

// Stores `port`; false when the settings cannot be written (nothing is shown:
// the choice then lasts for this run).
bool WriteStoredPort(std::uint32_t port);

// Stores `device` as the device of COM`n` (group "Devices", key "COMn");
// an empty text removes it, so that COMn leads to its default again.  False
// when the settings cannot be written.
bool WriteStoredDevice(int n, const QString& device);

}  // namespace torvix::app

// Exit codes of both command lines, one table so that a script can tell the
// outcomes apart whichever program it runs.  Each code means one thing.
#pragma once

namespace common {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;          // the exchange with the receiver failed
inline constexpr int kExitUsage = 2;           // the command line itself was wrong
inline constexpr int kExitRefused = 3;         // refused input: ROM image, hardware, access code, text, file kind
inline constexpr int kExitPortNotOpened = 4;   // the port did not open
inline constexpr int kExitDeclined = 5;        // a question was not accepted
inline constexpr int kExitInvalidImage = 6;    // a receiver database image that is not valid (torvix-cli)
inline constexpr int kExitFile = 10;           // a file could not be opened, read or written
inline constexpr int kExitStopped = 130;       // stopped by the operator (Ctrl-C, SIGTERM, SIGHUP)

}  // namespace common

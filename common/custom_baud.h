// Bit rates outside the termios table (termios2 with BOTHER).  Kept apart
// because the kernel's termios2 header cannot share a unit with <termios.h>.
#pragma once

#include <cstdint>

namespace common::detail {

// Sets input and output rate of the terminal `fd` to `baud`; false (errno set)
// when the driver refuses it or reports back another rate.
bool SetCustomBaud(int fd, std::uint32_t baud);

// The output rate the driver reports for `fd`; 0 (errno set) on failure.
std::uint32_t GetBaud(int fd);

}  // namespace common::detail

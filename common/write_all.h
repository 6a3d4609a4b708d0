// Writing a whole buffer to a file descriptor (a file, a device, a pipe):
// again after EINTR and after a short write.  Not for the serial line, whose
// writes wait against a deadline (common/serial_line.h).
#pragma once

#include <cstddef>

namespace common {

// Writes all `n` bytes of `data` to `fd`.  0 when they were written, else the
// errno of the write that failed (EIO for a write that took nothing).
// Blocks as the descriptor does; any thread.
int WriteAll(int fd, const void* data, std::size_t n);

}  // namespace common

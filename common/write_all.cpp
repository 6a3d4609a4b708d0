#include "common/write_all.h"

#include <cerrno>

#include <unistd.h>

namespace common {

int WriteAll(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < n;) {
    const ssize_t w = ::write(fd, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w == 0) {
      return EIO;  // a descriptor that takes nothing would keep the loop going
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace common

#include "common/custom_baud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace common::detail {

bool SetCustomBaud(int fd, std::uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return false;
  struct termios2 check {};
  if (ioctl(fd, TCGETS2, &check) != 0) return false;
  if (check.c_ospeed != baud) {
    errno = EINVAL;
    return false;
  }
  return true;
}

std::uint32_t GetBaud(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace common::detail

#include "torvix/ops/output_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/write_all.h"

namespace torvix {

OutputFile::~OutputFile() {
  if (device_ >= 0) ::close(device_);
}

bool OutputFile::Fail(int error) {
  error_ = path_ + ": " + std::strerror(error);
  return false;
}

bool OutputFile::Create(const std::string& path) {
  path_ = path;
  error_.clear();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    device_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    return device_ >= 0 || Fail(errno);
  }
  if (replacing_.Create(path)) return true;
  error_ = replacing_.Error();
  return false;
}

bool OutputFile::Write(std::string_view bytes) {
  if (device_ < 0) {
    if (replacing_.Write(bytes)) return true;
    error_ = replacing_.Error();
    return false;
  }
  const int error = common::WriteAll(device_, bytes.data(), bytes.size());
  return error == 0 || Fail(error);
}

bool OutputFile::Commit() {
  if (device_ < 0) {
    if (replacing_.Commit()) return true;
    error_ = replacing_.Error();
    return false;
  }
  // close() is not retried on EINTR: the descriptor is gone either way on Linux.
  const int closed = ::close(device_);
  device_ = -1;
  return closed == 0 || Fail(errno);
}

bool WriteOutputFile(const std::string& path, std::string_view contents, std::string& error) {
  OutputFile file;
  const bool done = file.Create(path) && file.Write(contents) && file.Commit();
  if (!done) error = file.Error();
  return done;
}

}  // namespace torvix

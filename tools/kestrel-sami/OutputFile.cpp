#include "OutputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KestrelTool {

OutputFile::~OutputFile() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool OutputFile::create(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0)
    error_ = errno;
  return fd_ >= 0;
}

void OutputFile::empty() {
  struct stat status {};
  if (error_ == 0 && fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
      ftruncate(fd_, 0) != 0)
    error_ = errno;
}

void OutputFile::write(std::string_view bytes) {
  while (!bytes.empty() && error_ == 0) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR)
      error_ = errno;
    else if (written > 0)
      bytes.remove_prefix(static_cast<size_t>(written));
  }
}

bool OutputFile::close() {
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0)
    error_ = errno;
  fd_ = -1;
  return error_ == 0;
}

} // namespace KestrelTool

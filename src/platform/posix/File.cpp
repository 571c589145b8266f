#include "platform/File.h"

#include "platform/PathEncoding.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Kestrel::Platform {

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile ReadOnlyFile::open(const std::u16string& widePath, std::string* osPath) {
  ReadOnlyFile file;
  std::string path; // the OS sees the path up to its first NUL
  if (!pathToUtf8(widePath, path))
    return file;
  if (osPath != nullptr)
    *osPath = path;
  if (path.empty())
    return file;
  // O_NONBLOCK keeps a FIFO without a writer from stalling the engine's thread here; it
  // does not change reads of regular files, the only kind we keep open.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return file;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return file;
  }
  file.fd_ = fd;
  return file;
}

std::optional<int64_t> ReadOnlyFile::seek(int64_t offset, Origin origin) {
  if (fd_ < 0)
    return std::nullopt;
  int whence = SEEK_SET;
  if (origin == Origin::Current)
    whence = SEEK_CUR;
  else if (origin == Origin::End)
    whence = SEEK_END;
  const off_t position = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (position < 0)
    return std::nullopt;
  return static_cast<int64_t>(position);
}

int64_t ReadOnlyFile::read(void* buffer, std::size_t count) {
  if (fd_ < 0 || (buffer == nullptr && count > 0))
    return -1;
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  // read() may return less than asked (signals, and at most about 2 GiB per call).
  while (done < count) {
    const ssize_t got = ::read(fd_, bytes + done, count - done);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    if (got == 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<int64_t>(done);
}

void ReadOnlyFile::close() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

} // namespace Kestrel::Platform

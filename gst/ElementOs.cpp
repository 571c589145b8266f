#include "ElementOs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace KestrelGst {

std::string moduleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  std::error_code ec;
  const auto self = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname).parent_path().string()
            : self.parent_path().string();
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::string writePrivateCopy(std::string_view bytes, std::string& error) {
  // The container reads paths of at most 259 characters: a short folder keeps within that.
  const char* folder = std::getenv("TMPDIR");
  std::string name =
      std::string(folder != nullptr && *folder != '\0' && std::strlen(folder) < 200 ? folder
                                                                                    : "/tmp") +
      "/kestrel-sami-XXXXXX.smi";
  const int fd = mkstemps(name.data(), 4); // created with mode 0600
  if (fd < 0) {
    error =
        "cannot make a temporary copy of the document: " + std::string(std::strerror(errno)) + ".";
    return {};
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      error = "cannot write a temporary copy of the document: " +
              std::string(std::strerror(n < 0 ? errno : ENOSPC)) + ".";
      close(fd);
      unlink(name.c_str());
      return {};
    }
    written += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    error =
        "cannot write a temporary copy of the document: " + std::string(std::strerror(errno)) + ".";
    unlink(name.c_str());
    return {};
  }
  return name;
}

void removePrivateCopy(const std::string& path) { unlink(path.c_str()); }

} // namespace KestrelGst

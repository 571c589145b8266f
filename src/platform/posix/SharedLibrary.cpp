#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <utility>

namespace Kestrel::Platform {

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

SharedLibrary::~SharedLibrary() { close(); }

SharedLibrary SharedLibrary::open(const char* name) {
  SharedLibrary library;
  if (name != nullptr)
    library.handle_ = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  return library;
}

void* SharedLibrary::symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr)
    return nullptr;
  return ::dlsym(handle_, name);
}

void SharedLibrary::close() {
  if (handle_ != nullptr)
    ::dlclose(handle_);
  handle_ = nullptr;
}

} // namespace Kestrel::Platform

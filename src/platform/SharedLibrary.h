#pragma once

namespace Kestrel::Platform {

/// A shared library loaded by name with the system's normal search. Move-only; closes the
/// library on destruction.
class SharedLibrary {
public:
  SharedLibrary() = default;
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  /// An invalid object when loading fails.
  static SharedLibrary open(const char* name);

  [[nodiscard]] bool isValid() const { return handle_ != nullptr; }
  /// The address of name, or null when absent (or the library is not loaded).
  [[nodiscard]] void* symbol(const char* name) const;
  void close();

private:
  void* handle_ = nullptr;
};

} // namespace Kestrel::Platform

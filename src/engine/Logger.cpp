#include "engine/Logger.h"

#include <cstdarg>
#include <new>

namespace Kestrel {

LoggerImpl::~LoggerImpl() = default;

Logger::Logger() {
  auto* impl = new (std::nothrow) LoggerImpl();
  if (impl == nullptr)
    return;
  impl->library = Platform::SharedLibrary::open(kLoggingLibraryName);
  bool complete = impl->library.isValid();
  // All four names must be present, looked up in this order; the first missing one
  // unloads the library again.
  if (complete) {
    impl->configure =
        reinterpret_cast<LogConfigureFn>(impl->library.symbol("KestrelLog_configure"));
    complete = impl->configure != nullptr;
  }
  if (complete) {
    impl->close = reinterpret_cast<LogCloseFn>(impl->library.symbol("KestrelLog_close"));
    complete = impl->close != nullptr;
  }
  if (complete) {
    impl->isEnabled =
        reinterpret_cast<LogIsEnabledFn>(impl->library.symbol("KestrelLog_isEnabled"));
    complete = impl->isEnabled != nullptr;
  }
  if (complete) {
    impl->write = reinterpret_cast<LogWriteFn>(impl->library.symbol("KestrelLog_write"));
    complete = impl->write != nullptr;
  }
  if (!complete) {
    delete impl; // closes the library
    return;
  }
  impl_ = impl;
}

Logger::~Logger() { delete impl_; }

Logger* Logger::instance() {
  // Created once and never destroyed: messages may still come while the process unloads.
  static Logger* const logger = new (std::nothrow) Logger();
  return logger;
}

bool Logger::isEnabled(Logger* logger) {
  return logger != nullptr && logger->impl_ != nullptr && logger->impl_->isEnabled() != 0;
}

void Logger::write(Logger* logger, const char* category, const char* function, int32_t line,
                   const char* format, ...) {
  if (logger == nullptr || logger->impl_ == nullptr)
    return;
  if (logger->impl_->isEnabled() == 0)
    return;
  va_list args;
  va_start(args, format);
  logger->impl_->write(category, function, line, format, args);
  va_end(args);
}

} // namespace Kestrel

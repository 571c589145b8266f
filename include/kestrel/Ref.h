// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Kestrel {

/// Holds one reference to a plug-in object (anything with retain() and release()) and gives
/// it back through the object's own release() on destruction.
template <class T> class Ref {
public:
  Ref() = default;
  /// Takes over the reference the caller holds on p, as adopt(p) does.
  explicit Ref(T* p) : p_(p) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~Ref() { reset(); }

  /// Takes over the reference the caller holds on p.
  Ref& adopt(T* p) {
    reset();
    p_ = p;
    return *this;
  }
  /// Adds a reference of our own to p.
  Ref& retain(T* p) {
    if (p != nullptr)
      p->retain();
    reset();
    p_ = p;
    return *this;
  }
  /// Gives the reference back; returns the count release() reported, or 0 when empty.
  int32_t reset() {
    T* p = p_;
    p_ = nullptr;
    return p != nullptr ? p->release() : 0;
  }
  /// Hands the reference to the caller without releasing it.
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

private:
  T* p_ = nullptr;
};

} // namespace Kestrel

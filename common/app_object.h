// The application-object pattern: one object per process, created by the
// first acquire() and destroyed when the last holder calls release(). Every
// function that touches the object brackets its work with the pair; the entry
// point holds one reference for the whole run.
#pragma once

#include <cassert>

namespace qova {

template <typename T>
class AppObject {
 public:
  static T& acquire() {
    if (counter_ == nullptr) {
      counter_ = new int(0);
      object_ = new T();
    }
    ++*counter_;
    return *object_;
  }

  static void release() {
    assert(counter_ != nullptr && *counter_ > 0);
    if (--*counter_ == 0) {
      delete object_;
      object_ = nullptr;
      delete counter_;
      counter_ = nullptr;
    }
  }

  static bool exists() { return object_ != nullptr; }

 private:
  static inline T* object_ = nullptr;
  static inline int* counter_ = nullptr;
};

// Holds one reference for a scope, so every way out releases it.
template <typename T>
class AppRef {
 public:
  AppRef() : object_(AppObject<T>::acquire()) {}
  ~AppRef() { AppObject<T>::release(); }
  AppRef(const AppRef&) = delete;
  AppRef& operator=(const AppRef&) = delete;
  T* operator->() const { return &object_; }
  T& operator*() const { return object_; }

 private:
  T& object_;
};

}  // namespace qova

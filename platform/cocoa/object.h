// The root of the headless platform model's objects, in the manner of the platform's own root class:
// reference counted (retain / release / autorelease), and asked for capabilities with dynamic_cast where
// the platform would ask whether an object answers a selector.
#pragma once

#include <atomic>
#include <cstdint>

namespace cocoa {

class Object {
 public:
  Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Any thread. A new object holds one reference, owned by its creator.
  Object* retain();
  // Retains unless the object is already on its way out (its count reached 0); for caches of weak references.
  bool tryRetain();
  void release();
  // Hands one reference to the innermost autorelease pool of the calling thread (released now when there is none).
  Object* autorelease();
  int retainCount() const { return refs_.load(std::memory_order_relaxed); }
  // True while the object is being deleted (its count reached 0): nothing may keep a reference to it then.
  bool isDeallocating() const { return retainCount() < 0; }

  // A number that no other object of this process ever has: tells a live object from a later one that happens
  // to reuse a destroyed object's address.
  uint64_t serial() const { return serial_; }
  // Any thread. True while an object with this address and serial exists.
  static bool isLive(const Object* object, uint64_t serial);
  // Any thread. True while some object lives at this address (tells the model's objects from foreign handles).
  static bool isLiveAddress(const void* address);

  // Whether the object is of (or derives from) T: the model's `isKindOfClass:` / `respondsToSelector:`.
  template <class T>
  T* as() {
    return dynamic_cast<T*>(this);
  }

 protected:
  virtual ~Object();

 private:
  std::atomic<int> refs_{1};
  uint64_t serial_;
};

// Drops one reference of an object that may be null.
inline void releaseObject(Object* o) {
  if (o) o->release();
}

// The platform's autorelease pool: objects autoreleased on a thread are released when that thread's innermost pool
// is drained. Pools nest per thread and must be drained on the thread that made them, innermost first.
class AutoreleasePool {
 public:
  AutoreleasePool();
  ~AutoreleasePool();
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;
  void add(Object* object);
  // The calling thread's innermost pool, or null.
  static AutoreleasePool* current();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace cocoa

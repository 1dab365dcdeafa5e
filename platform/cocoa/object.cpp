#include "platform/cocoa/object.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace cocoa {

namespace {

std::atomic<uint64_t> g_nextSerial{1};

// Address -> serial of every live object. Locked briefly at creation, destruction and liveness queries.
struct LiveRegistry {
  std::mutex mutex;
  std::unordered_map<const Object*, uint64_t> objects;
};

LiveRegistry& registry() {
  static LiveRegistry* r = new LiveRegistry;  // never destroyed: objects may outlive static destruction
  return *r;
}

thread_local AutoreleasePool* t_innermostPool = nullptr;

}  // namespace

Object::Object() : serial_(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {
  LiveRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.objects[this] = serial_;
}

Object::~Object() {
  LiveRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.objects.find(this);
  if (it != r.objects.end() && it->second == serial_) r.objects.erase(it);
}

Object* Object::retain() {
  refs_.fetch_add(1, std::memory_order_relaxed);
  return this;
}

bool Object::tryRetain() {
  int n = refs_.load(std::memory_order_relaxed);
  while (n > 0) {
    if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

namespace {
// The count of an object being deleted: far below zero, so that what its destructor (or code it calls) retains and
// releases again never brings the count back to zero and never deletes it a second time, and tryRetain refuses it.
constexpr int kDeallocating = -(1 << 29);
}  // namespace

void Object::release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    refs_.store(kDeallocating, std::memory_order_relaxed);
    delete this;
  }
}

Object* Object::autorelease() {
  if (AutoreleasePool* pool = AutoreleasePool::current()) {
    pool->add(this);
  } else {
    release();
  }
  return this;
}

bool Object::isLive(const Object* object, uint64_t serial) {
  if (!object) return false;
  LiveRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.objects.find(object);
  return it != r.objects.end() && it->second == serial;
}

bool Object::isLiveAddress(const void* address) {
  if (!address) return false;
  LiveRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.objects.count(static_cast<const Object*>(address)) != 0;
}

struct AutoreleasePool::Impl {
  AutoreleasePool* outer = nullptr;
  std::vector<Object*> objects;
};

AutoreleasePool::AutoreleasePool() : impl_(new Impl) {
  impl_->outer = t_innermostPool;
  t_innermostPool = this;
}

AutoreleasePool::~AutoreleasePool() {
  // Releasing may autorelease further objects into this same pool, so drain until it stays empty.
  while (!impl_->objects.empty()) {
    std::vector<Object*> batch;
    batch.swap(impl_->objects);
    for (Object* o : batch) o->release();
  }
  if (t_innermostPool == this) t_innermostPool = impl_->outer;
  delete impl_;
}

void AutoreleasePool::add(Object* object) {
  impl_->objects.push_back(object);
}

AutoreleasePool* AutoreleasePool::current() {
  return t_innermostPool;
}

}  // namespace cocoa

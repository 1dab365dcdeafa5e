// First-in first-out buffers over KIT_HeapBuf: data is appended at the back and consumed from the front; consumed
// space is reclaimed by Compact, so a producer and a consumer on the same thread can run without per-item allocation.
// Not thread-safe: the owner serialises access.
#pragma once

#include "KIT/heapbuf.h"

class KIT_Queue {
 public:
  explicit KIT_Queue(int granularity = 4096) : buf_(granularity) {}

  // Appends len bytes (copied from data unless it is null); returns where they went or null on failure.
  void* Add(const void* data, int len) {
    if (len < 0) return nullptr;
    return buf_.Add(data, len);
  }
  // The unread bytes and their count.
  void* Get() const { return Available() > 0 ? static_cast<char*>(buf_.Get()) + pos_ : nullptr; }
  int Available() const { return buf_.GetSize() - pos_; }
  // Consumes up to n bytes from the front; returns how many were consumed.
  int Advance(int n) {
    if (n < 0) n = 0;
    if (n > Available()) n = Available();
    pos_ += n;
    return n;
  }
  // Copies up to len unread bytes into out and consumes them; returns the count.
  int Read(void* out, int len) {
    if (len > Available()) len = Available();
    if (len <= 0) return 0;
    std::memcpy(out, Get(), static_cast<size_t>(len));
    pos_ += len;
    return len;
  }
  // Drops the consumed bytes, moving the unread ones to the front.
  void Compact(bool allowShrink = false) {
    if (pos_ <= 0) return;
    buf_.Remove(0, pos_);
    pos_ = 0;
    if (allowShrink) buf_.Resize(buf_.GetSize(), true);
  }
  void Clear(bool allowShrink = false) {
    buf_.Resize(0, allowShrink);
    pos_ = 0;
  }

 private:
  KIT_HeapBuf buf_;
  int pos_ = 0;
};

// A queue of plain values.
template <class T>
class KIT_TypedQueue {
  static_assert(std::is_trivially_copyable<T>::value, "KIT_TypedQueue holds plain values only");

 public:
  explicit KIT_TypedQueue(int granularityBytes = 4096) : q_(granularityBytes) {}

  T* Add(const T& v) { return static_cast<T*>(q_.Add(&v, sizeof(T))); }
  // The unread values (Available() of them), null when empty.
  T* Get() const { return static_cast<T*>(q_.Get()); }
  int Available() const { return q_.Available() / static_cast<int>(sizeof(T)); }
  // Removes the front value into *out; false when empty.
  bool Pop(T* out) {
    if (Available() <= 0) return false;
    if (out) std::memcpy(static_cast<void*>(out), q_.Get(), sizeof(T));
    q_.Advance(sizeof(T));
    return true;
  }
  int Advance(int count) { return q_.Advance(count * static_cast<int>(sizeof(T))) / static_cast<int>(sizeof(T)); }
  void Compact(bool allowShrink = false) { q_.Compact(allowShrink); }
  void Clear(bool allowShrink = false) { q_.Clear(allowShrink); }

 private:
  KIT_Queue q_;
};

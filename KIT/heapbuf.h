// Growable heap buffers: the byte buffer under every list, string and chunk of the program, and a typed view of it.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

// Allocation hooks, replaceable so that tests can make an allocation fail on purpose.
struct KIT_HeapAllocator {
  void* (*reallocFn)(void*, size_t);
  void* (*mallocFn)(size_t);
  void (*freeFn)(void*);
};
// Installs the hooks and returns the previous ones. Not thread-safe: for test set-up only.
KIT_HeapAllocator KIT_SetHeapAllocator(const KIT_HeapAllocator& a);

// A byte buffer whose allocation runs ahead of its size so that repeated appends stay cheap.
// Not thread-safe: the owner serialises access.
class KIT_HeapBuf {
 public:
  explicit KIT_HeapBuf(int granularity = 4096, int minAllocation = 0);
  KIT_HeapBuf(const KIT_HeapBuf& other);
  KIT_HeapBuf(KIT_HeapBuf&& other) noexcept;
  KIT_HeapBuf& operator=(const KIT_HeapBuf& other);
  KIT_HeapBuf& operator=(KIT_HeapBuf&& other) noexcept;
  ~KIT_HeapBuf();

  void* Get() const { return size_ > 0 ? data_ : nullptr; }
  int GetSize() const { return size_; }
  int GetAllocated() const { return alloc_; }
  int GetGranularity() const { return granularity_; }
  void SetGranularity(int g) { granularity_ = g > 0 ? g : 1; }
  int GetMinAllocation() const { return minAlloc_; }
  void SetMinAllocation(int m) { minAlloc_ = m > 0 ? m : 0; }

  // Sets the used size, keeping the contents up to the smaller of the old and new sizes. Returns the data pointer
  // (null for size 0). When memory cannot be had, the buffer and its size stay as they were and the old data pointer
  // is returned: callers compare GetSize() with what they asked for.
  void* Resize(int newSize, bool allowShrink = true);

  // Appends len bytes (copied from data unless it is null) and returns where they went, or null on failure.
  // data may point into this buffer.
  void* Add(const void* data, int len) {
    // Appends that fit the allocation are the common case (the allocation runs ahead): no call, no reallocation.
    if (data_ && len >= 0 && len <= alloc_ - size_) {
      char* dst = static_cast<char*>(data_) + size_;
      if (data && len > 0) std::memmove(dst, data, static_cast<size_t>(len));
      size_ += len;
      return dst;
    }
    return AddSlow(data, len);
  }
  // Inserts len bytes at byte offset pos (clamped to 0..size); returns where they went, or null on failure.
  void* Insert(const void* data, int len, int pos);
  // Removes len bytes at pos (clamped to the buffer); the allocation does not shrink.
  void Remove(int pos, int len);
  // Replaces the contents with a copy of other's; false (and unchanged) when memory cannot be had.
  bool CopyFrom(const KIT_HeapBuf& other);
  // Releases the storage entirely.
  void Free();
  void Swap(KIT_HeapBuf& other) noexcept;

  // The allocation the growth rule picks for a size; -1 when it does not fit in an int. Exposed for tests.
  static long long AllocationFor(long long newSize, int granularity, int minAllocation);

 private:
  void* AddSlow(const void* data, int len);

  void* data_ = nullptr;
  int granularity_;
  int alloc_ = 0;
  int size_ = 0;
  int minAlloc_;
};

// A buffer of trivially copyable values with sizes counted in elements.
template <class T>
class KIT_TypedBuf {
  static_assert(std::is_trivially_copyable<T>::value, "KIT_TypedBuf holds plain values only");

 public:
  explicit KIT_TypedBuf(int granularityBytes = 4096) : buf_(granularityBytes) {}

  T* Get() const { return static_cast<T*>(buf_.Get()); }
  int GetSize() const { return buf_.GetSize() / static_cast<int>(sizeof(T)); }
  // Returns the elements, or the old pointer with the size unchanged when memory cannot be had.
  T* Resize(int count, bool allowShrink = true) {
    if (count < 0 || static_cast<long long>(count) * sizeof(T) > 0x7fffffffLL) return Get();
    return static_cast<T*>(buf_.Resize(count * static_cast<int>(sizeof(T)), allowShrink));
  }
  // Appends one value; returns a pointer to it or null on failure.
  T* Add(const T& v) { return static_cast<T*>(buf_.Add(&v, sizeof(T))); }
  // Appends count values (left unset when values is null); returns a pointer to the first or null on failure.
  T* Add(const T* values, int count) {
    if (count < 0 || static_cast<long long>(count) * sizeof(T) > 0x7fffffffLL) return nullptr;
    return static_cast<T*>(buf_.Add(values, count * static_cast<int>(sizeof(T))));
  }
  T* Insert(const T& v, int index) {
    if (index < 0) index = 0;
    if (index > GetSize()) index = GetSize();
    return static_cast<T*>(buf_.Insert(&v, sizeof(T), index * static_cast<int>(sizeof(T))));
  }
  void Delete(int index) {
    if (index >= 0 && index < GetSize()) buf_.Remove(index * static_cast<int>(sizeof(T)), sizeof(T));
  }
  void Empty(bool freeStorage = false) {
    if (freeStorage)
      buf_.Free();
    else
      buf_.Resize(0, false);
  }
  KIT_HeapBuf& Buffer() { return buf_; }
  const KIT_HeapBuf& Buffer() const { return buf_; }

 private:
  KIT_HeapBuf buf_;
};

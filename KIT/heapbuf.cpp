#include "KIT/heapbuf.h"

#include <climits>
#include <cstdlib>
#include <utility>

namespace {
KIT_HeapAllocator g_alloc = {std::realloc, std::malloc, std::free};
}

KIT_HeapAllocator KIT_SetHeapAllocator(const KIT_HeapAllocator& a) {
  KIT_HeapAllocator old = g_alloc;
  g_alloc = a;
  return old;
}

KIT_HeapBuf::KIT_HeapBuf(int granularity, int minAllocation)
    : granularity_(granularity > 0 ? granularity : 1), minAlloc_(minAllocation > 0 ? minAllocation : 0) {}

KIT_HeapBuf::KIT_HeapBuf(const KIT_HeapBuf& other) : granularity_(other.granularity_), minAlloc_(other.minAlloc_) {
  CopyFrom(other);
}

KIT_HeapBuf::KIT_HeapBuf(KIT_HeapBuf&& other) noexcept
    : data_(other.data_),
      granularity_(other.granularity_),
      alloc_(other.alloc_),
      size_(other.size_),
      minAlloc_(other.minAlloc_) {
  other.data_ = nullptr;
  other.alloc_ = 0;
  other.size_ = 0;
}

KIT_HeapBuf& KIT_HeapBuf::operator=(const KIT_HeapBuf& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

KIT_HeapBuf& KIT_HeapBuf::operator=(KIT_HeapBuf&& other) noexcept {
  if (this != &other) {
    Free();
    Swap(other);
  }
  return *this;
}

KIT_HeapBuf::~KIT_HeapBuf() {
  Free();
}

void KIT_HeapBuf::Free() {
  if (data_) g_alloc.freeFn(data_);
  data_ = nullptr;
  alloc_ = 0;
  size_ = 0;
}

void KIT_HeapBuf::Swap(KIT_HeapBuf& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(granularity_, other.granularity_);
  std::swap(alloc_, other.alloc_);
  std::swap(size_, other.size_);
  std::swap(minAlloc_, other.minAlloc_);
}

long long KIT_HeapBuf::AllocationFor(long long newSize, int granularity, int minAllocation) {
  long long g = newSize / 2;
  if (g < granularity) g = granularity;
  long long a;
  if (granularity < 4096) {
    a = newSize + g;
  } else {
    // Large buffers grow in whole pages, leaving room for the allocator's own header inside the last page.
    g &= ~4095LL;
    if (g < 4096) g = 4096;
    if (g > 4 * 1024 * 1024) g = 4 * 1024 * 1024;
    a = ((newSize + g + 96) & ~4095LL) - 96;
  }
  if (a < minAllocation) a = minAllocation;
  return a > INT_MAX ? -1 : a;
}

void* KIT_HeapBuf::Resize(int newSize, bool allowShrink) {
  if (newSize < 0) return Get();
  if (newSize == size_) return Get();

  if (newSize <= alloc_) {
    const bool shrink = allowShrink && newSize < size_ && newSize < alloc_ / 2 &&
                        static_cast<long long>(newSize) < static_cast<long long>(alloc_) - 4LL * granularity_;
    if (!shrink) {
      size_ = newSize;
      return Get();
    }
  }

  const long long want = AllocationFor(newSize, granularity_, minAlloc_);
  if (want < 0) return Get();
  const int newAlloc = static_cast<int>(want);
  if (newAlloc != alloc_) {
    void* p = newAlloc > 0 ? g_alloc.reallocFn(data_, static_cast<size_t>(newAlloc)) : nullptr;
    if (!p && newAlloc > 0) {
      // realloc may fail where a fresh block still fits (fragmentation); the old block stays valid either way.
      p = g_alloc.mallocFn(static_cast<size_t>(newAlloc));
      if (!p) return Get();
      const int keep = size_ < newSize ? size_ : newSize;
      if (data_ && keep > 0) std::memcpy(p, data_, static_cast<size_t>(keep));
      if (data_) g_alloc.freeFn(data_);
    } else if (newAlloc == 0) {
      if (data_) g_alloc.freeFn(data_);
    }
    data_ = p;
    alloc_ = newAlloc;
  }
  size_ = newSize;
  return Get();
}

void* KIT_HeapBuf::AddSlow(const void* data, int len) {
  if (len < 0 || static_cast<long long>(size_) + len > INT_MAX) return nullptr;
  const int old = size_;
  // data may point into this buffer; remember its offset in case the block moves.
  const char* base = static_cast<const char*>(data_);
  const char* src = static_cast<const char*>(data);
  const bool inside = src && base && src >= base && src < base + alloc_;
  const ptrdiff_t off = inside ? src - base : 0;
  Resize(old + len, false);
  if (size_ != old + len) return nullptr;
  char* dst = static_cast<char*>(data_) + old;
  if (src && len > 0) std::memmove(dst, inside ? static_cast<const char*>(data_) + off : src, static_cast<size_t>(len));
  return dst;
}

void* KIT_HeapBuf::Insert(const void* data, int len, int pos) {
  if (len < 0 || static_cast<long long>(size_) + len > INT_MAX) return nullptr;
  if (pos < 0) pos = 0;
  if (pos > size_) pos = size_;
  const char* base = static_cast<const char*>(data_);
  const char* src = static_cast<const char*>(data);
  const bool inside = src && base && src >= base && src < base + alloc_;
  ptrdiff_t off = inside ? src - base : 0;
  const int old = size_;
  Resize(old + len, false);
  if (size_ != old + len) return nullptr;
  char* p = static_cast<char*>(data_);
  if (old > pos) std::memmove(p + pos + len, p + pos, static_cast<size_t>(old - pos));
  if (src && len > 0) {
    if (inside && off >= pos) off += len;  // the source moved up with the tail
    std::memmove(p + pos, inside ? p + off : src, static_cast<size_t>(len));
  }
  return p + pos;
}

void KIT_HeapBuf::Remove(int pos, int len) {
  if (pos < 0 || pos >= size_ || len <= 0) return;
  if (len > size_ - pos) len = size_ - pos;
  char* p = static_cast<char*>(data_);
  std::memmove(p + pos, p + pos + len, static_cast<size_t>(size_ - pos - len));
  Resize(size_ - len, false);
}

bool KIT_HeapBuf::CopyFrom(const KIT_HeapBuf& other) {
  if (this == &other) return true;
  const int n = other.size_;
  Resize(n, false);
  if (size_ != n) return false;
  if (n > 0) std::memcpy(data_, other.data_, static_cast<size_t>(n));
  return true;
}

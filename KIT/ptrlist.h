// A growable list of pointers over KIT_HeapBuf. The list does not own its entries unless asked to delete them.
#pragma once

#include "KIT/heapbuf.h"

template <class T>
class KIT_PtrList {
 public:
  explicit KIT_PtrList(int granularityBytes = 4096) : buf_(granularityBytes) {}
  // Deleting entries is the owner's decision (Empty(true)); the destructor frees only the list's storage.
  ~KIT_PtrList() = default;
  KIT_PtrList(const KIT_PtrList&) = default;
  KIT_PtrList& operator=(const KIT_PtrList&) = default;

  T** GetList() const { return static_cast<T**>(buf_.Get()); }
  int GetSize() const { return buf_.GetSize() / static_cast<int>(sizeof(T*)); }
  // Null for an index out of range.
  T* Get(int index) const { return index >= 0 && index < GetSize() ? GetList()[index] : nullptr; }
  T* GetLast() const { return Get(GetSize() - 1); }

  // Appends p; returns p, or null when memory cannot be had (the list is then unchanged).
  T* Add(T* p) { return buf_.Add(&p, sizeof(T*)) ? p : nullptr; }
  // Replaces the entry at index (ignored out of range); returns p, or null when out of range.
  T* Set(int index, T* p) {
    if (index < 0 || index >= GetSize()) return nullptr;
    GetList()[index] = p;
    return p;
  }
  // Inserts p before index (clamped to 0..size); returns p, or null when memory cannot be had.
  T* Insert(int index, T* p) {
    const int n = GetSize();
    if (index < 0) index = 0;
    if (index > n) index = n;
    return buf_.Insert(&p, sizeof(T*), index * static_cast<int>(sizeof(T*))) ? p : nullptr;
  }
  // Index of the first entry equal to p, -1 when absent.
  int Find(const T* p) const {
    T** list = GetList();
    const int n = GetSize();
    for (int i = 0; i < n; ++i)
      if (list[i] == p) return i;
    return -1;
  }
  // Removes the entry at index; with wantDelete the entry is disposed of by freeFn, or by delete without one.
  void Delete(int index, bool wantDelete = false, void (*freeFn)(void*) = nullptr) {
    if (index < 0 || index >= GetSize()) return;
    T* p = GetList()[index];
    buf_.Remove(index * static_cast<int>(sizeof(T*)), sizeof(T*));
    if (wantDelete) Dispose(p, freeFn);
  }
  // Removes the first entry equal to p; true when found.
  bool DeletePtr(const T* p, bool wantDelete = false, void (*freeFn)(void*) = nullptr) {
    const int i = Find(p);
    if (i < 0) return false;
    Delete(i, wantDelete, freeFn);
    return true;
  }
  // Removes every entry, last first, disposing of each with wantDelete; keeps the storage unless freeStorage.
  void Empty(bool wantDelete = false, void (*freeFn)(void*) = nullptr, bool freeStorage = false) {
    if (wantDelete) {
      // Entries are taken off before they are disposed of, so a destructor that looks at the list sees it shorter.
      for (int i = GetSize() - 1; i >= 0; --i) {
        T* p = GetList()[i];
        buf_.Resize(i * static_cast<int>(sizeof(T*)), false);
        Dispose(p, freeFn);
      }
    }
    if (freeStorage)
      buf_.Free();
    else
      buf_.Resize(0, false);
  }
  // Moves the entry at from to position to (both within the list).
  void Move(int from, int to) {
    const int n = GetSize();
    if (from < 0 || from >= n || to < 0 || to >= n || from == to) return;
    T** list = GetList();
    T* p = list[from];
    if (from < to)
      std::memmove(list + from, list + from + 1, sizeof(T*) * static_cast<size_t>(to - from));
    else
      std::memmove(list + to + 1, list + to, sizeof(T*) * static_cast<size_t>(from - to));
    list[to] = p;
  }

  KIT_HeapBuf& Buffer() { return buf_; }

 private:
  static void Dispose(T* p, void (*freeFn)(void*)) {
    if (!p) return;
    if (freeFn)
      freeFn(p);
    else
      delete p;
  }

  KIT_HeapBuf buf_;
};

// A sorted array keyed by strings, searched by binary search. It owns copies of its keys and disposes of its values
// through the function it was given (when one was) whenever an entry is replaced or removed and at destruction.
#pragma once

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <vector>

template <class T>
class KIT_StringKeyedArray {
 public:
  explicit KIT_StringKeyedArray(bool caseSensitive = true, void (*disposeValue)(T) = nullptr)
      : caseSensitive_(caseSensitive), dispose_(disposeValue) {}
  ~KIT_StringKeyedArray() { DeleteAll(); }
  KIT_StringKeyedArray(const KIT_StringKeyedArray&) = delete;
  KIT_StringKeyedArray& operator=(const KIT_StringKeyedArray&) = delete;

  int GetSize() const { return static_cast<int>(entries_.size()); }
  bool IsCaseSensitive() const { return caseSensitive_; }

  // Adds or replaces the value under key (a replaced value is disposed of). False only for a null key or when the
  // key cannot be copied; the value is then not taken.
  bool Insert(const char* key, T value) {
    if (!key) return false;
    int pos;
    if (Find(key, &pos)) {
      T old = entries_[pos].value;
      entries_[pos].value = value;
      Dispose(old);
      return true;
    }
    char* copy = strdup(key);
    if (!copy) return false;
    entries_.insert(entries_.begin() + pos, Entry{copy, value});
    return true;
  }
  // The value under key, or notFound.
  T Get(const char* key, T notFound = T()) const {
    int pos;
    return key && Find(key, &pos) ? entries_[pos].value : notFound;
  }
  // A pointer to the stored value (valid until the next insertion or removal), or null.
  T* GetPtr(const char* key) {
    int pos;
    return key && Find(key, &pos) ? &entries_[pos].value : nullptr;
  }
  bool Exists(const char* key) const {
    int pos;
    return key && Find(key, &pos);
  }
  // Index of key in sort order, -1 when absent.
  int IndexOf(const char* key) const {
    int pos;
    return key && Find(key, &pos) ? pos : -1;
  }
  // The entry at index in sort order: its value (notFound out of range) and, when keyOut is given, its key.
  T Enumerate(int index, const char** keyOut = nullptr, T notFound = T()) const {
    if (index < 0 || index >= GetSize()) {
      if (keyOut) *keyOut = nullptr;
      return notFound;
    }
    if (keyOut) *keyOut = entries_[index].key;
    return entries_[index].value;
  }
  // Removes the entry under key, disposing of its value; false when absent.
  bool Delete(const char* key) {
    int pos;
    if (!key || !Find(key, &pos)) return false;
    DeleteByIndex(pos);
    return true;
  }
  void DeleteByIndex(int index) {
    if (index < 0 || index >= GetSize()) return;
    Entry e = entries_[index];
    entries_.erase(entries_.begin() + index);
    std::free(e.key);
    Dispose(e.value);
  }
  void DeleteAll() {
    // Taken out of the array first so that a disposer that looks at the array sees it consistent.
    std::vector<Entry> gone;
    gone.swap(entries_);
    for (Entry& e : gone) {
      std::free(e.key);
      Dispose(e.value);
    }
  }

 private:
  struct Entry {
    char* key;
    T value;
  };

  int Compare(const char* a, const char* b) const { return caseSensitive_ ? std::strcmp(a, b) : strcasecmp(a, b); }
  // Binary search: true with *pos the index when found, else false with *pos where key belongs.
  bool Find(const char* key, int* pos) const {
    int lo = 0, hi = GetSize();
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      const int c = Compare(key, entries_[mid].key);
      if (c == 0) {
        *pos = mid;
        return true;
      }
      if (c < 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    *pos = lo;
    return false;
  }
  void Dispose(T v) {
    if (dispose_) dispose_(v);
  }

  bool caseSensitive_;
  void (*dispose_)(T);
  std::vector<Entry> entries_;
};

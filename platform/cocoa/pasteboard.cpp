#include "platform/cocoa/pasteboard.h"

#include <map>
#include <mutex>

namespace cocoa {

const char* const kStringPboardType = "NSStringPboardType";
const char* const kFilenamesPboardType = "NSFilenamesPboardType";
const char* const kFilesPromisePboardType = "NSFilesPromisePboardType";

namespace {
// One lock for every pasteboard: the model is small and pasteboards are used rarely.
std::recursive_mutex g_mutex;
std::map<std::string, Pasteboard*>& boards() {
  static auto* m = new std::map<std::string, Pasteboard*>;
  return *m;
}
}  // namespace

Pasteboard* Pasteboard::general() {
  return withName("");
}

Pasteboard* Pasteboard::withName(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Pasteboard*& p = boards()[name];
  if (!p) p = new Pasteboard;
  return p;
}

void Pasteboard::declareTypes(const std::vector<std::string>& types) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  entries_.clear();
  for (const std::string& t : types) {
    if (find(t)) continue;
    Entry e;
    e.type = t;
    entries_.push_back(e);
  }
  ++changeCount_;
}

std::vector<std::string> Pasteboard::types() const {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  std::vector<std::string> out;
  for (const Entry& e : entries_) out.push_back(e.type);
  return out;
}

Pasteboard::Entry* Pasteboard::find(const std::string& type) {
  for (Entry& e : entries_) {
    if (e.type == type) return &e;
  }
  return nullptr;
}

const Pasteboard::Entry* Pasteboard::find(const std::string& type) const {
  for (const Entry& e : entries_) {
    if (e.type == type) return &e;
  }
  return nullptr;
}

bool Pasteboard::setString(const std::string& utf8, const std::string& type) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Entry* e = find(type);
  if (!e) return false;
  e->text = utf8;
  e->hasString = true;
  return true;
}

bool Pasteboard::setData(const std::vector<uint8_t>& bytes, const std::string& type) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Entry* e = find(type);
  if (!e) return false;
  e->bytes = bytes;
  e->hasData = true;
  return true;
}

bool Pasteboard::setStringList(const std::vector<std::string>& list, const std::string& type) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Entry* e = find(type);
  if (!e) return false;
  e->list = list;
  e->hasList = true;
  return true;
}

bool Pasteboard::stringForType(const std::string& type, std::string* out) const {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const Entry* e = find(type);
  if (!e || !(e->hasString || e->hasData)) return false;
  // A byte block read as a string is taken as UTF-8, as the platform converts.
  *out = e->hasString ? e->text : std::string(e->bytes.begin(), e->bytes.end());
  return true;
}

bool Pasteboard::dataForType(const std::string& type, std::vector<uint8_t>* out) const {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const Entry* e = find(type);
  if (!e || !(e->hasString || e->hasData)) return false;
  *out = e->hasData ? e->bytes : std::vector<uint8_t>(e->text.begin(), e->text.end());
  return true;
}

bool Pasteboard::stringListForType(const std::string& type, std::vector<std::string>* out) const {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const Entry* e = find(type);
  if (!e || !e->hasList) return false;
  *out = e->list;
  return true;
}

int Pasteboard::changeCount() const {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return changeCount_;
}

void Pasteboard::resetAll() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  for (auto& [name, p] : boards()) {
    p->entries_.clear();
    ++p->changeCount_;
  }
}

}  // namespace cocoa

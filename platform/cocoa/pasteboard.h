// The headless model of the platform's pasteboards: the general (system-wide) pasteboard and named private ones,
// each holding an ordered list of declared types with a string or a byte block per type. In-process only: what one
// part of the process puts there another part reads back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cocoa {

extern const char* const kStringPboardType;
extern const char* const kFilenamesPboardType;
extern const char* const kFilesPromisePboardType;

class Pasteboard {
 public:
  // The general pasteboard, and the pasteboard of a name (made on first use; "" is the general one).
  static Pasteboard* general();
  static Pasteboard* withName(const std::string& name);

  // Replaces the content with these types (in order), each without data yet.
  void declareTypes(const std::vector<std::string>& types);
  std::vector<std::string> types() const;
  // False when the type was not declared.
  bool setString(const std::string& utf8, const std::string& type);
  bool setData(const std::vector<uint8_t>& bytes, const std::string& type);
  // False when the type has no data of that kind.
  bool stringForType(const std::string& type, std::string* out) const;
  bool dataForType(const std::string& type, std::vector<uint8_t>* out) const;
  // A property list of strings (the file names of a drag).
  bool setStringList(const std::vector<std::string>& list, const std::string& type);
  bool stringListForType(const std::string& type, std::vector<std::string>* out) const;
  int changeCount() const;
  // Tests: empties every pasteboard.
  static void resetAll();

 private:
  struct Entry {
    std::string type;
    bool hasString = false, hasData = false, hasList = false;
    std::string text;
    std::vector<uint8_t> bytes;
    std::vector<std::string> list;
  };
  Entry* find(const std::string& type);
  const Entry* find(const std::string& type) const;
  std::vector<Entry> entries_;
  int changeCount_ = 0;
};

}  // namespace cocoa

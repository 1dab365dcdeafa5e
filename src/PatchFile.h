// A bank of the librarian and the nodes of the three-level folder tree that the bank menus show.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "src/LibrarianPatch.h"

// One bank: a bank file of the "Patches" folder or a bank of search results.
class PatchFile {
 public:
  // Set to 0 whenever a reader appends a program.
  uint32_t state = 0;
  // The programs in slot order; a listed bank file holds exactly 128.
  std::vector<LibrarianPatch> patches;
  // The file's name with its extension, or "Search Results n".
  std::string fileName;
  // Name of the folder that holds the file; "Patches" for search results.
  std::string folderName;
  // The folder names from "Patches" down to the file's folder: one entry for a file directly in
  // "Patches". Empty for search results.
  std::vector<std::string> folderParts;
  // Full path of the folder that holds the file, without a trailing separator.
  std::string folderPath;
  // 0 for the bank files of the scan.
  int fileKind = 0;
  // 0-based number of a search-result bank in its series; 0 otherwise.
  int bankNumber = 0;
  // The file's bytes as they were read or last saved (librarianfiles::contentStamp); empty for none.
  std::string fileStamp;
  // A bank that a project brought with its unsaved edits, whose path was none of this instance's banks (outside
  // "Patches", missing, no bank): it has no file (folderPath is empty) and Save writes it into "Patches" as a new
  // file.
  bool fromProject = false;

  // A new bank with copies of every field and every program; this bank is left as it is.
  std::unique_ptr<PatchFile> clone() const;
  // True when both hold the same programs, message for message, in the same slots.
  bool holdsSameProgramsAs(const PatchFile& other) const;
};

// Third level of the folder tree. Tree nodes never own the banks they point to.
struct SubFolderFiles2 {
  std::string name;
  std::vector<PatchFile*> files;
};

// Second level: a sub-folder of "Patches".
struct SubFolderFiles {
  std::string name;
  std::vector<SubFolderFiles2> subFolders2;
  std::vector<PatchFile*> files;
};

// Top level: the entry named "Patches" for the root's own files, or an entry with an empty name
// holding one sub-folder of "Patches".
struct FolderFiles {
  std::string name;
  std::vector<SubFolderFiles> subFolders;
  std::vector<PatchFile*> files;
};

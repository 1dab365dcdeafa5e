#include "platform/cocoa/drag.h"

#include <deque>

namespace cocoa::drag {

namespace {
std::deque<std::string> g_folders;
std::vector<DragRecord> g_drags;
}  // namespace

void scriptDropFolder(const std::string& folder) {
  g_folders.push_back(folder);
}

void clearScript() {
  g_folders.clear();
}

std::string performDrag(const DragRecord& record) {
  g_drags.push_back(record);
  if (!record.promisedFiles || g_folders.empty()) return "";
  std::string folder = g_folders.front();
  g_folders.pop_front();
  return folder;
}

std::vector<DragRecord> drags() {
  return g_drags;
}

void clearDrags() {
  g_drags.clear();
}

}  // namespace cocoa::drag

// The headless model of drag and drop from a view: each drag a source starts is recorded (promised files of a type,
// or a list of file paths with an image), and the user's drop is scripted like a menu pick: tests say into which
// folder the next promised-file drag is dropped, or that it is dropped nowhere.
#pragma once

#include <string>
#include <vector>

#include "platform/cocoa/view.h"

namespace cocoa::drag {

struct DragRecord {
  bool promisedFiles = false;      // a promise of files of `types`, else a list of `files`
  std::vector<std::string> types;  // promised file types
  std::vector<std::string> files;  // dragged paths
  Rect from;                       // where the drag starts, in the source view's coordinates
  bool hasImage = false;           // a drag image was given
  bool imageFromIcon = false;      // the image is the source's own icon (else the workspace's icon for the files)
  int imageWidth = 0, imageHeight = 0;
  bool slideBack = false;
};

// The next promised-file drag is dropped into this folder (each scripted drop serves one drag).
void scriptDropFolder(const std::string& folder);
void clearScript();
// Records the drag and returns the folder the user drops it in, "" when the drop goes nowhere.
std::string performDrag(const DragRecord& record);
std::vector<DragRecord> drags();
void clearDrags();

}  // namespace cocoa::drag

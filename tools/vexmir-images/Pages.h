// The pictures behind the controls: the main background (top bar, program bar and the edit tab's panels) and
// the page of every other tab, drawn from a layout file that the layout tool writes beside uiconfig.xml, so
// that every panel and label sits where the description puts its controls.
#pragma once

#include <string>
#include <vector>

namespace images {

// One command of the layout file: its name and its words (quotes removed).
struct LayoutCommand {
  int line = 0;
  std::string name;
  std::vector<std::string> args;
};

// Reads the layout file; false (with a message on stderr) when it cannot be read or a line cannot be split.
bool readLayout(const std::string& path, std::vector<LayoutCommand>* out);

// Draws every page the layout names into dir; false on a bad command or a write error.
bool drawPages(const std::vector<LayoutCommand>& layout, const std::string& dir);

// Composes what each tab would show (background, page, controls at their first value) into files named
// prefix + "-" + tab + ".png", from the images already in dir. For looking at the layout without the plug-in.
// A contact sheet: the pictures scaled to `width` pixels wide, `columns` per row, each with its file name
// (without folder and extension) under it.
bool drawContactSheet(const std::string& out, int columns, int width, const std::vector<std::string>& pictures);

bool drawPreviews(const std::vector<LayoutCommand>& layout, const std::string& dir, const std::string& prefix);

}  // namespace images

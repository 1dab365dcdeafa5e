// vexmir-images: draws every image of the editor (control strips, the background and the tab pages) with the
// raster library and the cached font renderer, into a folder of PNG files. The same inputs always give the same
// files.
//
//     vexmir-images OUTDIR LAYOUT [--preview PREFIX]
//     vexmir-images --sheet OUT.png COLUMNS WIDTH PICTURE.png...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vexmir-images/Controls.h"
#include "tools/vexmir-images/Pages.h"

int main(int argc, char** argv) {
  if (argc >= 6 && std::strcmp(argv[1], "--sheet") == 0) {
    std::vector<std::string> pictures(argv + 5, argv + argc);
    return images::drawContactSheet(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), pictures) ? 0 : 1;
  }
  if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--preview") == 0)) {
    std::fprintf(stderr, "usage: vexmir-images OUTDIR LAYOUT [--preview PREFIX]\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<images::LayoutCommand> layout;
  if (!images::readLayout(argv[2], &layout)) return 1;
  if (!images::drawControls(dir)) {
    std::fprintf(stderr, "vexmir-images: cannot write the control images into %s\n", dir.c_str());
    return 1;
  }
  if (!images::drawPages(layout, dir)) return 1;
  if (argc == 5 && !images::drawPreviews(layout, dir, argv[4])) return 1;
  return 0;
}

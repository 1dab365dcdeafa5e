// The librarian tab drawn at the three UI scales, compared pixel by pixel with the pictures under
// tests/golden/libui/: two banks of named programs, a selected slot in each, the bank lists' names.
// With VEXMIR_UPDATE_GOLDEN=1 the pictures are written as the new goldens; a differing picture is
// written as <name>.actual.png in the working folder.
#include <gtest/gtest.h>

#include "tests/libui/libui_support.h"

using namespace libui;

TEST(LibrarianTabPicture, AtTheThreeScales) {
  DataFolder data;
  data.write("Factory/Factory Bank A.syx", bankBytes(1));
  data.write("Factory/Factory Bank B.syx", bankBytes(2));
  data.write("My Sounds 2026.syx", bankBytes(3, 90));
  for (double scale : {0.75, 1.0, 1.25}) {
    SCOPED_TRACE(scale);
    LibrarianTab tab(scale);
    tab.chooseUpper({"My Sounds 2026.syx"});
    tab.chooseLower({"Factory", "Factory Bank B.syx"});
    tab.click(1, 20);
    tab.click(0, 37);
    tab.tick();
    const int percent = static_cast<int>(scale * 100);
    expectPictureMatches(tab.g.GetDrawBitmap(), "librarian-tab-" + std::to_string(percent));
  }
}

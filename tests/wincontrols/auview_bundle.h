// The test's Audio Unit view module in a bundle, as the platform's view factory finds one.
#pragma once

#include <cstdlib>
#include <string>

// Makes "<folder>/View.component" with `module` as its code; its file URL, or "" when it could not be made.
inline std::string makeAuViewBundle(const std::string& folder, const char* module) {
  const std::string bundle = folder + "/View.component";
  const std::string make = "mkdir -p '" + bundle + "/Contents/Linux' && cp '" + module + "' '" + bundle +
                           "/Contents/Linux/View.so'";
  return std::system(make.c_str()) == 0 ? "file://" + bundle : std::string();
}

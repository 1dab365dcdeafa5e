// The dump of every parameter (tools/vexmir-dump) over the real bundle matches its golden text: names, ranges,
// controls, value texts, bindings and routing keys change only on purpose.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/uiconfig/bundle_dump.h"

TEST(Dump, MatchesTheGoldenText) {
  const std::string actual = bundleDump();
  std::ifstream in(VEXMIR_SOURCE "/tests/golden/uiconfig/dump.txt");
  std::stringstream golden;
  golden << in.rdbuf();
  if (actual == golden.str()) return;
  std::ofstream(std::string(VEXMIR_OUT) + "/dump-actual.txt") << actual;
  std::istringstream a(actual), g(golden.str());
  std::string la, lg;
  int line = 0;
  while (true) {
    const bool ha = static_cast<bool>(std::getline(a, la)), hg = static_cast<bool>(std::getline(g, lg));
    ++line;
    if (!ha && !hg) break;
    if (!ha || !hg || la != lg) {
      ADD_FAILURE() << "line " << line << " differs:\n  golden: " << (hg ? lg : "(end)")
                    << "\n  actual: " << (ha ? la : "(end)") << "\nthe whole dump is in " << VEXMIR_OUT
                    << "/dump-actual.txt (see tools/vexmir-dump/README.md)";
      break;
    }
  }
}

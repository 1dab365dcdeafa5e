// What tools/vexmir-dump prints for the real bundle (the test's VEXMIR_DUMP_EXE and VEXMIR_BUNDLE); "" when it
// cannot be run.
#pragma once

#include <cstdio>
#include <string>

inline std::string bundleDump() {
  std::string out;
  FILE* p = popen("'" VEXMIR_DUMP_EXE "' '" VEXMIR_BUNDLE "' 2>/dev/null", "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Prints the parameter table (index, name, minimum, maximum, default) for the layout tool, so that the
// description's ranges and defaults are those of the program codec's initial program:
//     build/.../tools/vexmir-layout/vexmir-param-table > tools/vexmir-layout/param-table.txt
#include <cstdio>

#include "src/VexmirParams.h"

int main() {
  for (int i = 0; i < kNumParams; ++i) {
    const ParamInfo& p = paramInfo(i);
    std::printf("%d %s %g %g %g\n", i, p.name, p.min, p.max, p.defaultValue);
  }
  return 0;
}

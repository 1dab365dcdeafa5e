#include "tests/support/ProcessStats.h"

#include <dirent.h>

namespace vexmir::testsupport {

int threadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

}  // namespace vexmir::testsupport

// A small module for the module-loading tests: its entry points append to the file named by
// SHIM_TEST_MODULE_LOG and refuse to attach when SHIM_TEST_MODULE_REFUSE names them ("shim" or "dll").
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KIT/shim/shim-types.h"

namespace {
void note(const char* what, DWORD reason) {
  const char* path = getenv("SHIM_TEST_MODULE_LOG");
  if (!path) return;
  if (FILE* f = fopen(path, "a")) {
    fprintf(f, "%s %s\n", what, reason ? "attach" : "detach");
    fclose(f);
  }
}
bool refuses(const char* who) {
  const char* r = getenv("SHIM_TEST_MODULE_REFUSE");
  return r && strcmp(r, who) == 0;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int SHIM_dllMain(HINSTANCE, DWORD reason, void*) {
  note("shim", reason);
  return reason && refuses("shim") ? 0 : 1;
}

extern "C" __attribute__((visibility("default"))) int DllMain(HINSTANCE, DWORD reason, void*) {
  note("dll", reason);
  return reason && refuses("dll") ? 0 : 1;
}

extern "C" __attribute__((visibility("default"))) int shimTestAnswer() {
  return 42;
}

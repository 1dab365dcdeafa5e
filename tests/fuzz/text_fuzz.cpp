// Text drawing and measuring on arbitrary bytes, through the window layer and the cached font.
#include <cstdlib>

#include "tests/text/text_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (textfuzz::runCase(data, size) != 0) abort();
  return 0;
}

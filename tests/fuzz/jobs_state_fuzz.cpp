// The editor object's host state chunk of any content through effSetChunk, as a program and as a bank:
// the reader never reads past the bytes, and a refused chunk leaves the whole state as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::quietHost;

std::vector<uint8_t> chunkOf(AEffect* e, bool bank) {
  void* data = nullptr;
  const intptr_t size = e->dispatcher(e, effGetChunk, bank ? 0 : 1, 0, &data, 0.0f);
  return size > 0 && data ? std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size)
                          : std::vector<uint8_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Vexmir* plug = fuzztest::newEditor<Vexmir>(IEffectInstanceInfo{quietHost});
  AEffect* e = plug->GetAEffect();
  const bool bank = size > 0 && (data[0] & 1);
  // A valid header in front half of the time, so that the body reader sees most inputs.
  std::vector<uint8_t> chunk;
  if (size > 1 && (data[0] & 2)) chunk = {0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00};
  if (size > 1) chunk.insert(chunk.end(), data + 1, data + size);
  const std::vector<uint8_t> before = chunkOf(e, false);
  const intptr_t accepted =
      e->dispatcher(e, effSetChunk, bank ? 0 : 1, static_cast<intptr_t>(chunk.size()), chunk.data(), 0.0f);
  if (!accepted && chunkOf(e, false) != before) std::abort();
  return 0;
}

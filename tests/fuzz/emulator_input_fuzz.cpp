// The emulator's MIDI input: any byte stream, cut into events anywhere, must give messages and notes, never a
// crash; every message the model answers with must be well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/synth-emulator/MidiParser.h"
#include "tools/synth-emulator/SynthModel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static synthemu::SynthModel model;
  model.reset();
  synthemu::MidiParser parser(
      [](const synthemu::Bytes& m) {
        synthemu::Reaction r = model.receive(m);
        for (const synthemu::Bytes& reply : r.replies) {
          if (reply.size() < 6 || reply.front() != 0xF0 || reply.back() != 0xF7) std::abort();
          for (size_t i = 1; i + 1 < reply.size(); ++i)
            if (reply[i] & 0x80) std::abort();
        }
      },
      [](const std::string&) {});
  auto now = synthemu::MidiParser::Clock::now();
  // The first byte chooses where the stream is cut into events.
  size_t step = size ? data[0] % 64 + 1 : 1;
  for (size_t i = 1; i < size; i += step) parser.feed(data + i, std::min(step, size - i), now);
  parser.expire(now + std::chrono::seconds(1), std::chrono::milliseconds(500));
  return 0;
}

#include "src/AnswerOrder.h"

void AnswerOrder::markerSent(uint32_t now) {
  std::lock_guard<std::mutex> guard(lock);
  ++open;
  lastSent = now;
}

void AnswerOrder::globalDumpCame() {
  std::lock_guard<std::mutex> guard(lock);
  if (open > 0) --open;
}

bool AnswerOrder::late(uint32_t now) {
  std::lock_guard<std::mutex> guard(lock);
  // Unsigned arithmetic: the wrap of the tick counter is harmless.
  if (open > 0 && static_cast<uint32_t>(now - lastSent) > kMarkerLostMs) open = 0;
  return open > 0;
}

#include "src/AnswerOrder.h"

#include <algorithm>

void AnswerOrder::owed(Kind kind, bool sayDrops) {
  std::lock_guard<std::mutex> guard(lock);
  const int k = index(kind);
  owes[k] = true;
  said[k] = said[k] || sayDrops;
  std::copy(sent, sent + kChannels, owedFrom[k]);
}

bool AnswerOrder::owing(int kinds) const {
  std::lock_guard<std::mutex> guard(lock);
  return ((kinds & kProgram) && owes[0]) || ((kinds & kResult) && owes[1]);
}

void AnswerOrder::globalRequestSent(int channel) {
  std::lock_guard<std::mutex> guard(lock);
  ++sent[channel & 0x0F];
}

void AnswerOrder::requestGoesOut() {
  std::lock_guard<std::mutex> guard(lock);
  std::copy(sent, sent + kChannels, atRequest);
}

uint32_t AnswerOrder::olderAnswers() const {
  std::lock_guard<std::mutex> guard(lock);
  return older;
}

bool AnswerOrder::globalDumpCame(int channel) {
  std::lock_guard<std::mutex> guard(lock);
  const int c = channel & 0x0F;
  // A dump nobody asked for (the synthesizer's own DATA DUMP) answers nothing: the count stops at what was sent.
  answered[c] = std::min(answered[c] + 1, sent[c]);
  if (!owes[0] && !owes[1]) return false;
  bool stillOwed = false;
  for (int k = 0; k < 2; ++k) {
    if (owes[k] && answered[c] > owedFrom[k][c]) owes[k] = said[k] = false;
    stillOwed = stillOwed || owes[k];
  }
  if (stillOwed) ++older;
  return true;
}

bool AnswerOrder::late(Kind kind) const {
  std::lock_guard<std::mutex> guard(lock);
  return owes[index(kind)];
}

bool AnswerOrder::dropsSaid(Kind kind) const {
  std::lock_guard<std::mutex> guard(lock);
  return said[index(kind)];
}

void AnswerOrder::answerTaken() {
  std::lock_guard<std::mutex> guard(lock);
  for (int c = 0; c < kChannels; ++c) answered[c] = std::max(answered[c], atRequest[c]);
}

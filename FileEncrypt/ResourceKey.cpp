#include "FileEncrypt/ResourceKey.h"

void teaResourceKey(unsigned int key[4]) {
  // Sixteen bytes of a phrase, mixed with a word stepped by the TEA constant, so that the key never sits in the
  // binary as one piece.
  static const char kPhrase[] = "Pellacor:Vexmir!";
  unsigned int mix = 0x2545F491u;
  for (int w = 0; w < 4; ++w) {
    unsigned int word = 0;
    for (int b = 0; b < 4; ++b) word = word << 8 | static_cast<unsigned char>(kPhrase[4 * w + b]);
    mix = mix * 0x9E3779B9u + 0x7F4A7C15u;
    key[w] = word ^ mix;
  }
}

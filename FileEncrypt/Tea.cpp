#include "FileEncrypt/Tea.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kDelta = 0x9E3779B9u;
constexpr uint32_t kDecryptSum = 0xC6EF3720u;  // 32 * kDelta, modulo 2^32

void encryptWords(uint32_t& y, uint32_t& z, const unsigned int* k) {
  uint32_t sum = 0;
  for (int i = 0; i < 32; ++i) {
    sum += kDelta;
    y += ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
    z += ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
  }
}

void decryptWords(uint32_t& y, uint32_t& z, const unsigned int* k) {
  uint32_t sum = kDecryptSum;
  for (int i = 0; i < 32; ++i) {
    z -= ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
    y -= ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
    sum -= kDelta;
  }
}

uint32_t readBigEndian(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void writeBigEndian(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// The two most-significant-byte-first words of a block, written back the same way.
template <typename Fn>
void onBigEndianBlock(unsigned char* block, Fn fn) {
  uint32_t y = readBigEndian(block), z = readBigEndian(block + 4);
  fn(y, z);
  writeBigEndian(block, y);
  writeBigEndian(block + 4, z);
}

// Machine-order words of a byte buffer, copied so that unaligned buffers are read safely.
template <typename Fn>
void onNativeBlock(unsigned char* block, Fn fn) {
  uint32_t w[2];
  std::memcpy(w, block, 8);
  fn(w[0], w[1]);
  std::memcpy(block, w, 8);
}

}  // namespace

void Tea::simpledecrypt(unsigned char* block, unsigned int* key) {
  if (block && key) onBigEndianBlock(block, [&](uint32_t& y, uint32_t& z) { decryptWords(y, z, key); });
}

void Tea::simpleencrypt(unsigned char* block, unsigned int* key) {
  if (block && key) onBigEndianBlock(block, [&](uint32_t& y, uint32_t& z) { encryptWords(y, z, key); });
}

void Tea::decryptTea(unsigned int* words, unsigned int* key) {
  if (!words || !key) return;
  uint32_t y = words[0], z = words[1];
  decryptWords(y, z, key);
  words[0] = y;
  words[1] = z;
}

void Tea::encryptTea(unsigned int* words, unsigned int* key) {
  if (!words || !key) return;
  uint32_t y = words[0], z = words[1];
  encryptWords(y, z, key);
  words[0] = y;
  words[1] = z;
}

void Tea::encryptBlock(unsigned char* buffer, unsigned int* length, unsigned int* key) {
  if (!buffer || !length || !key) return;
  const unsigned int n = (*length + 7) / 8;
  const uint32_t stored = *length;
  std::memcpy(buffer + 8 * n + 4, &stored, 4);
  *length = 8 * n + 8;
  for (unsigned int i = 0; i <= n; ++i)
    onNativeBlock(buffer + 8 * i, [&](uint32_t& y, uint32_t& z) { encryptWords(y, z, key); });
}

void Tea::decryptBlock(unsigned char* buffer, unsigned int* length, unsigned int* key) {
  if (!buffer || !length || !key) return;
  const unsigned int blocks = *length / 8;
  // Without a trailer there is no stored length to trust.
  if (blocks < 1) {
    *length = 0;
    return;
  }
  for (unsigned int i = 0; i < blocks; ++i)
    onNativeBlock(buffer + 8 * i, [&](uint32_t& y, uint32_t& z) { decryptWords(y, z, key); });
  uint32_t stored = 0;
  std::memcpy(&stored, buffer + 8 * (blocks - 1) + 4, 4);
  // A stored length beyond the decrypted data blocks is damage; nothing past them may be read as data.
  *length = stored <= 8u * (blocks - 1) ? stored : 0;
}

void Tea::printBuffer(unsigned char* buffer, int count) {
  if (buffer)
    for (int i = 0; i < count; ++i) std::putchar(buffer[i]);
  std::putchar('\n');
}

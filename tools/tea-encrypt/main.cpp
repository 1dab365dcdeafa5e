// tea-encrypt IN OUT: encrypts the text file IN with TEA under the resources' key into OUT, padded with zero
// bytes to whole 8-byte blocks. With -d, decrypts instead (to look at what a bundle carries).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileEncrypt/ResourceKey.h"
#include "FileEncrypt/Tea.h"

int main(int argc, char** argv) {
  const bool decrypt = argc == 4 && std::strcmp(argv[1], "-d") == 0;
  if (argc != 3 && !decrypt) {
    std::fprintf(stderr, "usage: tea-encrypt [-d] IN OUT\n");
    return 2;
  }
  const char* in = argv[argc - 2];
  const char* out = argv[argc - 1];
  std::ifstream f(in, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "tea-encrypt: cannot read %s\n", in);
    return 1;
  }
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  data.resize((data.size() + 7) / 8 * 8, 0);
  unsigned int key[4];
  teaResourceKey(key);
  Tea tea;
  for (size_t off = 0; off < data.size(); off += 8) {
    if (decrypt)
      tea.simpledecrypt(&data[off], key);
    else
      tea.simpleencrypt(&data[off], key);
  }
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!o) {
    std::fprintf(stderr, "tea-encrypt: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

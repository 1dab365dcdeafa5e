#include "tests/librarian/bank_vectors.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vectors {

Bytes programDataNamed(int k, const std::string& twelveNameBytes) {
  Bytes data(254);
  for (int i = 0; i < 12; ++i) data[i] = i < static_cast<int>(twelveNameBytes.size()) ? twelveNameBytes[i] : ' ';
  data[12] = static_cast<uint8_t>((k * 3 + 1) & 0x7F);
  data[13] = static_cast<uint8_t>((k * 5 + 2) & 0x7F);
  uint32_t seed = 0x9E3779B9u * static_cast<uint32_t>(k + 1);
  for (int i = 14; i < 254; ++i) {
    seed = seed * 1664525u + 1013904223u;
    data[i] = static_cast<uint8_t>(seed >> 24);
  }
  // Make sure every program holds both extremes.
  data[100] = 0xFF;
  data[101] = 0x80;
  data[102] = 0x7F;
  data[103] = 0x00;
  return data;
}

Bytes programData(int k) {
  char name[24];  // room for any int, so that no build warns of truncation
  std::snprintf(name, sizeof name, "Prog %03d    ", k + 1);
  return programDataNamed(k, name);
}

std::vector<Bytes> testPrograms(int count) {
  std::vector<Bytes> programs;
  for (int k = 0; k < count; ++k) programs.push_back(programData(k));
  return programs;
}

Bytes pack(const Bytes& data) {
  Bytes out;
  for (size_t group = 0; group < data.size(); group += 7) {
    uint8_t top = 0;
    const size_t n = std::min<size_t>(7, data.size() - group);
    for (size_t i = 0; i < n; ++i)
      if (data[group + i] & 0x80) top |= static_cast<uint8_t>(1u << i);
    out.push_back(top);
    for (size_t i = 0; i < n; ++i) out.push_back(data[group + i] & 0x7F);
  }
  return out;
}

Bytes programDump(const Bytes& programData, uint8_t channel) {
  Bytes dump = {0xF0, 0x42, channel, 0x58, 0x40};
  const Bytes packed = pack(programData);
  dump.insert(dump.end(), packed.begin(), packed.end());
  dump.push_back(0xF7);
  return dump;
}

Bytes bulkDump(const std::vector<Bytes>& programs, uint8_t function, uint8_t channel) {
  Bytes stream;
  for (const Bytes& p : programs) stream.insert(stream.end(), p.begin(), p.end());
  if (function == 0x50)
    for (int i = 0; i < 200; ++i) stream.push_back(static_cast<uint8_t>(i * 37));
  Bytes dump = {0xF0, 0x42, channel, 0x58, function};
  const Bytes packed = pack(stream);
  dump.insert(dump.end(), packed.begin(), packed.end());
  dump.push_back(0xF7);
  return dump;
}

Bytes singles(const std::vector<Bytes>& programs, uint8_t channel) {
  Bytes out;
  for (const Bytes& p : programs) {
    const Bytes d = programDump(p, channel);
    out.insert(out.end(), d.begin(), d.end());
  }
  return out;
}

Bytes midiBank(const std::vector<Bytes>& dumps) {
  Bytes out = {'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    1,    0,    2,    0x01, 0xE0, 'M',
               'T',  'r',  'k',  0,    0,    0,    0x13, 0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
               0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00, 'M',  'T',  'r',  'k'};
  // 4 + 296 per dump + 5 between two dumps + 4: 38531 (00 00 96 83) for 128 dumps.
  const uint32_t n = static_cast<uint32_t>(dumps.size());
  const uint32_t length = n == 0 ? 4 : 4 + n * 296 + (n - 1) * 5 + 4;
  out.insert(out.end(), {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)});
  for (size_t i = 0; i < dumps.size(); ++i) {
    if (i == 0)
      out.insert(out.end(), {0x00, 0xF0, 0x82, 0x28});
    else
      out.insert(out.end(), {0x83, 0x74, 0xF0, 0x82, 0x28});
    out.insert(out.end(), dumps[i].begin() + 1, dumps[i].end());
  }
  out.insert(out.end(), {0x00, 0xFF, 0x2F, 0x00});
  return out;
}

std::string dumpName(const Bytes& dump) {
  std::string name;
  for (size_t i = 6; i <= 18 && i < dump.size(); ++i)
    if (i != 13 && dump[i]) name.push_back(static_cast<char>(dump[i]));
  return name;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  // In one block: the data-safety tests read thousands of bank files.
  in.seekg(0, std::ios::end);
  Bytes bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw std::runtime_error("cannot read " + path);
  return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace vectors

// The entry of a fuzz target built without libFuzzer (the test build, any compiler): runs the target once over
// every file of the given files and folders (folders recursively, in name order) and once over the empty input,
// so that an input that once crashed it, or broke one of its checks, fails the tests.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void collect(const std::string& path, std::vector<std::string>* files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: %s cannot be read\n", path.c_str());
    return;
  }
  if (S_ISREG(st.st_mode)) {
    files->push_back(path);
    return;
  }
  if (!S_ISDIR(st.st_mode)) return;
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) collect(path + "/" + name, files);
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) collect(argv[i], &files);
  if (argc > 1 && files.empty()) {
    std::fprintf(stderr, "replay: no inputs found\n");
    return 1;
  }
  // Never a null pointer, as under libFuzzer.
  static uint8_t none;
  LLVMFuzzerTestOneInput(&none, 0);
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    // An exact-size copy on the heap, so that a read past the input's end is caught.
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint8_t* data = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), data);
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
  }
  std::printf("replay: %zu inputs ran\n", files.size() + 1);
  return 0;
}

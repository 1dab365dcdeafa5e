// A data root of the fuzzer's own ($VEXMIR_ROOT under the temporary folder), made before any editor object or
// librarian exists and removed when the fuzzer ends: no fuzzer may read or change the user's real data folder.
// Editor objects made there, checked to have been built from the bundle's description; and a picture of a folder
// tree (every entry's kind and bytes), so that a target can check what changed.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fuzztest {

inline void removeTree(const std::string& path) {
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) {
        ::remove(p);  // what cannot be removed is left; the walk goes on
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

// The root, made on the first call; the MIDI ports stay on ALSA, so that no JACK server is looked for.
inline const std::string& dataRoot() {
  static std::string root;
  static const bool made = [] {
    // In memory where it can be: the librarian syncs every bank file it writes.
    const char* tmp = std::getenv("TMPDIR");
    const char* base = tmp && *tmp ? tmp : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/vexmir-fuzz-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    root = name.data();
    setenv("VEXMIR_ROOT", root.c_str(), 1);
    setenv("VEXMIR_MIDI_API", "alsa", 0);
    std::atexit([] { removeTree(root); });
    return true;
  }();
  (void)made;
  return root;
}

// A target built without the bundle's resources stops here rather than fuzz an editor without its face.
template <class Editor>
void checkBuiltFromDescription(const Editor& editor) {
  if (editor.editorLayers.root) return;
  std::fprintf(stderr, "broken: the editor was built without its description (bundle resources missing)\n");
  std::abort();
}

// An editor object (of the editor's class or a target's own) in the data root.
template <class Editor, class... Args>
Editor* newEditor(Args&&... args) {
  dataRoot();
  Editor* editor = new Editor(std::forward<Args>(args)...);
  checkBuiltFromDescription(*editor);
  return editor;
}

// One entry of a tree: 'd' folder, 'f' file (with its bytes), 'l' link (with its target), 'p' pipe, 'o' other.
struct Entry {
  char kind;
  std::string bytes;
  bool operator==(const Entry& o) const { return kind == o.kind && bytes == o.bytes; }
  bool operator!=(const Entry& o) const { return !(*this == o); }
};
using Tree = std::map<std::string, Entry>;

inline std::string fileBytes(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return bytes;
}

// Every entry below `folder` (not the folder itself), by its path relative to it; links are not followed.
inline Tree treeOf(const std::string& folder) {
  static Tree* out;
  static size_t skip;
  Tree tree;
  out = &tree;
  skip = folder.size() + 1;
  nftw(
      folder.c_str(),
      [](const char* p, const struct stat* st, int, struct FTW* ftw) {
        if (ftw->level == 0) return 0;
        const std::string path = p;
        Entry e{'o', {}};
        if (S_ISDIR(st->st_mode)) {
          e.kind = 'd';
        } else if (S_ISREG(st->st_mode)) {
          e = {'f', fileBytes(path)};
        } else if (S_ISLNK(st->st_mode)) {
          char target[4096];
          const ssize_t n = ::readlink(p, target, sizeof target);
          e = {'l', std::string(target, n > 0 ? static_cast<size_t>(n) : 0)};
        } else if (S_ISFIFO(st->st_mode)) {
          e.kind = 'p';
        }
        (*out)[path.substr(skip)] = e;
        return 0;
      },
      16, FTW_PHYS);
  return tree;
}

// The same without `inner` (a folder below `folder`) and what is below it.
inline Tree treeOutside(const std::string& folder, const std::string& inner) {
  Tree tree = treeOf(folder);
  const std::string skipped = inner.substr(folder.size() + 1);
  for (auto it = tree.begin(); it != tree.end();)
    it = it->first == skipped || it->first.rfind(skipped + "/", 0) == 0 ? tree.erase(it) : std::next(it);
  return tree;
}

}  // namespace fuzztest

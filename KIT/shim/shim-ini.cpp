#include "KIT/shim/shim-ini.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "KIT/assocarray.h"
#include "KIT/heapbuf.h"
#include "KIT/mutex.h"
#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim-sys.h"

namespace {

typedef KIT_StringKeyedArray<char*> Section;  // key -> value, keys compared without case

void freeValue(char* v) {
  free(v);
}
void deleteSection(Section* s) {
  delete s;
}
Section* newSection() {
  return new Section(false, freeValue);
}

constexpr int kSlots = 32;
constexpr int kMaxLine = 32 * 1024 * 1024;
constexpr int kMaxBeforeFirstSection = 262144;

struct iniFileContext {
  iniFileContext() : sections(false, deleteSection) {}
  unsigned long long accessStamp = 0;
  int32_t modTime = 0;
  uint32_t size = 0;
  char* fileName = nullptr;
  KIT_StringKeyedArray<Section*> sections;
  // The last read stopped before the end of the file (size limit, an over-long line, a read error or no memory):
  // writing the cache back would lose what was not read, so changes are refused until the file reads whole.
  bool cutShort = false;
};

struct IniState {
  KIT_Mutex m_mutex;
  iniFileContext s_ctxs[kSlots];
  unsigned long long acc_cnt = 0;
  KIT_HeapBuf lineBuffer{4096};
  void (*beforeRename)() = nullptr;  // tests: simulate a crash between writing and renaming
  ~IniState() {
    KIT_MutexLock lock(m_mutex);
    for (auto& c : s_ctxs) {
      c.sections.DeleteAll();
      free(c.fileName);
      c.fileName = nullptr;
    }
  }
};

IniState& state() {
  static IniState s;
  return s;
}

void statStamp(const char* fn, int32_t* mtime, uint32_t* size) {
  struct stat st;
  if (!fn || !*fn || stat(fn, &st) != 0) {
    *mtime = 0;
    *size = 0;
    return;
  }
  *mtime = static_cast<int32_t>(st.st_mtime);
  *size = static_cast<uint32_t>(st.st_size);
}

// Makes the next lookup read the file again, whatever its stamp.
void forgetContents(iniFileContext* ctx) {
  ctx->sections.DeleteAll();
  ctx->modTime = -1;
  ctx->size = 0xFFFFFFFF;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// Pending keys of the section being read: appended in file order, sorted once at the section's end.
struct PendingSection {
  Section* target = nullptr;
  std::vector<std::pair<std::string, std::string>> keys;

  void finish() {
    if (target && !keys.empty()) {
      std::stable_sort(keys.begin(), keys.end(),
                       [](const auto& a, const auto& b) { return strcasecmp(a.first.c_str(), b.first.c_str()) < 0; });
      // Of keys equal without case, the last in the file wins; inserting in order keeps each insertion at the end.
      for (size_t i = 0; i < keys.size(); ++i) {
        if (i + 1 < keys.size() && strcasecmp(keys[i].first.c_str(), keys[i + 1].first.c_str()) == 0) continue;
        char* v = strdup(keys[i].second.c_str());
        if (v && !target->Insert(keys[i].first.c_str(), v)) free(v);
      }
    }
    keys.clear();
  }
};

// Reads one line into the shared buffer; returns its raw length, or -1 at the end of the file. `cutShort` is set
// when the line could not be read whole.
int readLine(FILE* fp, KIT_HeapBuf& buf, bool* cutShort) {
  int pos = 0;
  for (;;) {
    buf.Resize(pos + 8192, false);
    if (buf.GetSize() < pos + 4) {
      *cutShort = true;
      return pos > 0 ? pos : -1;
    }
    char* p = static_cast<char*>(buf.Get());
    if (!fgets(p + pos, buf.GetSize() - pos, fp)) {
      if (ferror(fp)) *cutShort = true;
      return pos > 0 ? pos : -1;
    }
    const int n = static_cast<int>(strlen(p + pos));
    pos += n;
    // An embedded zero byte hides the rest of what fgets read; the line ends there.
    if (n == 0 || p[pos - 1] == '\n' || p[pos - 1] == '\r') return pos;
    if (pos >= kMaxLine) {
      *cutShort = true;
      return pos;
    }
  }
}

void parseFile(FILE* fp, iniFileContext* ctx, KIT_HeapBuf& buf) {
  PendingSection pending;
  bool anySection = false;
  long long before = 0;
  for (;;) {
    int len = readLine(fp, buf, &ctx->cutShort);
    if (len < 0) break;
    char* line = static_cast<char*>(buf.Get());
    line[len] = 0;
    if (!anySection) {
      before += len;
      if (before > kMaxBeforeFirstSection) {
        ctx->cutShort = true;
        break;
      }
    }
    while (len > 0 && (line[len - 1] == '\t' || line[len - 1] == '\n' || line[len - 1] == '\r' || line[len - 1] == ' '))
      line[--len] = 0;
    while (isBlank(*line)) ++line;

    if (*line == '[') {
      char* close = strchr(line + 1, ']');
      if (!close) continue;
      *close = 0;
      const char* name = line + 1;
      pending.finish();
      if (!*name) {
        pending.target = nullptr;
        continue;
      }
      Section* s = ctx->sections.Get(name, nullptr);
      if (s) {
        s->DeleteAll();  // a repeated header starts its section afresh
      } else {
        s = newSection();
        if (!ctx->sections.Insert(name, s)) {
          delete s;
          s = nullptr;
        }
      }
      pending.target = s;
      anySection = anySection || s != nullptr;
      continue;
    }
    if (!pending.target) continue;
    char* eq = strchr(line, '=');
    if (!eq || eq == line) continue;
    pending.keys.emplace_back(std::string(line, eq - line), std::string(eq + 1));
  }
  pending.finish();
}

// The up-to-date context of a file; the caller holds the lock.
iniFileContext* GetFileContext(const char* fn) {
  IniState& st = state();
  iniFileContext* ctx = nullptr;
  iniFileContext* oldest = nullptr;
  for (auto& c : st.s_ctxs) {
    // File names compare exactly: on this system "a.ini" and "A.ini" are two files.
    if (!c.fileName || strcmp(c.fileName, fn) == 0) {
      ctx = &c;
      break;
    }
    if (!oldest || c.accessStamp < oldest->accessStamp) oldest = &c;
  }
  if (!ctx) ctx = oldest;
  ctx->accessStamp = ++st.acc_cnt;

  const bool same = ctx->fileName && strcmp(ctx->fileName, fn) == 0;
  if (same) {
    int32_t mtime;
    uint32_t size;
    statStamp(fn, &mtime, &size);
    if (mtime == ctx->modTime && size == ctx->size) return ctx;
  }
  ctx->sections.DeleteAll();
  ctx->cutShort = false;
  if (!same) {
    free(ctx->fileName);
    ctx->fileName = strdup(fn);
  }
  FILE* fp = fopen(fn, "r");
  if (!fp) {
    ctx->modTime = 0;
    ctx->size = 0;
    return ctx;
  }
  flock(fileno(fp), LOCK_SH);
  parseFile(fp, ctx, st.lineBuffer);
  statStamp(fn, &ctx->modTime, &ctx->size);
  flock(fileno(fp), LOCK_UN);
  fclose(fp);
  return ctx;
}

bool writeAll(FILE* fp, const iniFileContext* ctx) {
  for (int i = 0; i < ctx->sections.GetSize(); ++i) {
    const char* name = nullptr;
    Section* s = ctx->sections.Enumerate(i, &name);
    if (fprintf(fp, "[%s]\n", name) < 0) return false;
    for (int k = 0; s && k < s->GetSize(); ++k) {
      const char* key = nullptr;
      char* value = s->Enumerate(k, &key);
      if (!key || !*key) continue;
      if (fprintf(fp, "%s=%s\n", key, value ? value : "") < 0) return false;
    }
    if (fputs("\n", fp) == EOF) return false;
  }
  return true;
}

// Rewrites the file from its context through a unique temporary file in the same folder and a rename, so that
// readers and a crash at any point see either the old file whole or the new one. False when the file was not
// replaced.
bool WriteBackFile(iniFileContext* ctx) {
  if (!ctx->fileName || !*ctx->fileName) return false;
  if (ctx->cutShort) return false;
  std::string name = ctx->fileName;
  const size_t slash = name.find_last_of('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string tmp = name.substr(0, base) + "." + name.substr(base) + ".XXXXXX";
  std::vector<char> tmpl(tmp.begin(), tmp.end());
  tmpl.push_back(0);
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  // The new file keeps the old one's permissions; a new file gets what creating it directly would give.
  struct stat old;
  if (stat(name.c_str(), &old) == 0) {
    fchmod(fd, old.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  FILE* fp = fdopen(fd, "w");
  if (!fp) {
    close(fd);
    unlink(tmpl.data());
    return false;
  }
  flock(fd, LOCK_EX);
  bool ok = writeAll(fp, ctx) && fflush(fp) == 0 && fsync(fd) == 0;
  flock(fd, LOCK_UN);
  ok = fclose(fp) == 0 && ok;
  if (ok && state().beforeRename) state().beforeRename();
  if (!ok || rename(tmpl.data(), name.c_str()) != 0) {
    unlink(tmpl.data());
    return false;
  }
  statStamp(ctx->fileName, &ctx->modTime, &ctx->size);
  return true;
}

// Writes the context back; on failure the cache forgets the unsaved change and follows the file again.
BOOL commit(iniFileContext* ctx) {
  if (WriteBackFile(ctx)) return TRUE;
  forgetContents(ctx);
  return FALSE;
}

// Copies `value` trimmed of surrounding blanks and of one pair of matching quotes, at most room - 1 characters and
// a terminating zero; returns the characters copied.
int copyTrimmed(char* out, int room, const char* value) {
  if (room < 1) return 0;
  while (isBlank(*value)) ++value;
  size_t len = strlen(value);
  while (len > 0 && isBlank(value[len - 1])) --len;
  if (len >= 2 && value[0] == value[len - 1] && (value[0] == '\'' || value[0] == '"')) {
    ++value;
    len -= 2;
  }
  if (len > static_cast<size_t>(room - 1)) len = static_cast<size_t>(room - 1);
  memcpy(out, value, len);
  out[len] = 0;
  return static_cast<int>(len);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

DWORD GetPrivateProfileString(const char* appname, const char* keyname, const char* def, char* ret, int retsize,
                              const char* fn) {
  if (!fn || !ret || retsize < 1) return 0;
  IniState& st = state();
  KIT_MutexLock lock(st.m_mutex);
  iniFileContext* ctx = GetFileContext(fn);

  if (appname && keyname) {
    Section* s = ctx->sections.Get(appname, nullptr);
    char* value = s ? s->Get(keyname, nullptr) : nullptr;
    if (value) {
      copyTrimmed(ret, retsize, value);
    } else {
      lstrcpyn(ret, def ? def : "", retsize);
    }
    return static_cast<DWORD>(strlen(ret));
  }

  // Listing: names in sorted order, each followed by a zero byte, the whole ended by a second zero byte.
  std::string list;
  if (!appname) {
    for (int i = 0; i < ctx->sections.GetSize(); ++i) {
      const char* name = nullptr;
      ctx->sections.Enumerate(i, &name);
      if (name && *name) list.append(name).push_back(0);
    }
  } else if (Section* s = ctx->sections.Get(appname, nullptr)) {
    for (int i = 0; i < s->GetSize(); ++i) {
      const char* key = nullptr;
      s->Enumerate(i, &key);
      if (key && *key) list.append(key).push_back(0);
    }
  }
  if (retsize < 2) {
    ret[0] = 0;
    return 0;
  }
  size_t len = list.empty() ? 0 : list.size() - 1;  // without the last name's zero byte
  if (len > static_cast<size_t>(retsize - 2)) len = static_cast<size_t>(retsize - 2);
  memcpy(ret, list.data(), len);
  ret[len] = 0;
  ret[len + 1] = 0;
  return static_cast<DWORD>(len);
}

int GetPrivateProfileInt(const char* appname, const char* keyname, int def, const char* fn) {
  char buf[512];
  GetPrivateProfileString(appname, keyname, "", buf, sizeof buf, fn);
  if (!buf[0]) return def;
  // As atoi reads it (leading blanks, a sign, digits up to the first other character), but a number that does not
  // fit an int gives the default instead of wrapping.
  errno = 0;
  char* end = nullptr;
  const long long v = strtoll(buf, &end, 10);
  if (end == buf) return def;
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  // A zero counts only when written as one ("-0" and the like give the default, as before).
  if (v == 0 && buf[0] != '0') return def;
  return static_cast<int>(v);
}

int GetPrivateProfileSection(const char* appname, char* strout, DWORD strout_len, const char* fn) {
  if (!strout || strout_len < 2) {
    if (strout && strout_len == 1) strout[0] = 0;
    return 0;
  }
  if (strout_len > INT_MAX) strout_len = INT_MAX;
  const int L = static_cast<int>(strout_len);
  if (!fn || !appname) {
    strout[0] = strout[1] = 0;
    return 0;
  }
  IniState& st = state();
  KIT_MutexLock lock(st.m_mutex);
  iniFileContext* ctx = GetFileContext(fn);
  Section* s = ctx->sections.Get(appname, nullptr);
  if (!s || s->GetSize() == 0) {
    strout[0] = strout[1] = 0;
    return 0;
  }
  // Entries "key=value" each with its zero byte; when they do not all fit, the output is cut and ended with two
  // zero bytes inside the buffer.
  int pos = 0;
  auto full = [&]() {
    strout[L - 2] = 0;
    strout[L - 1] = 0;
    return L - 2;
  };
  std::vector<char> trimmed;
  for (int i = 0; i < s->GetSize(); ++i) {
    const char* key = nullptr;
    char* value = s->Enumerate(i, &key);
    for (const char* k = key ? key : ""; *k; ++k) {
      if (pos >= L - 2) return full();
      strout[pos++] = *k;
    }
    if (pos >= L - 2) return full();
    strout[pos++] = '=';
    const char* v = value ? value : "";
    trimmed.resize(strlen(v) + 1);
    copyTrimmed(trimmed.data(), static_cast<int>(trimmed.size()), v);
    for (const char* t = trimmed.data(); *t; ++t) {
      if (pos >= L - 2) return full();
      strout[pos++] = *t;
    }
    strout[pos++] = 0;
    if (pos >= L - 1) return full();
  }
  strout[pos] = 0;
  return pos;
}

BOOL GetPrivateProfileStruct(const char* appname, const char* keyname, void* buf, int bufsz, const char* fn) {
  if (!appname || !keyname || !buf || bufsz < 0 || bufsz > (INT_MAX - 18) / 2) return FALSE;
  const int room = bufsz * 2 + 17;
  std::vector<char> text(static_cast<size_t>(room) + 1);
  GetPrivateProfileString(appname, keyname, "", text.data(), room, fn);
  if (strlen(text.data()) != static_cast<size_t>(bufsz) * 2 + 2) return FALSE;
  auto* out = static_cast<unsigned char*>(buf);
  unsigned sum = 0;
  // bufsz data bytes, then the checksum byte, which is compared and not stored.
  for (int i = 0; i <= bufsz; ++i) {
    const int hi = hexDigit(text[2 * i]), lo = hexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return FALSE;
    const unsigned byte = static_cast<unsigned>(hi * 16 + lo);
    if (i == bufsz) return (sum & 0xFF) == byte;
    out[i] = static_cast<unsigned char>(byte);
    sum += byte;
  }
  return FALSE;
}

namespace {

bool hasLineBreak(const char* s) {
  return s && (strchr(s, '\n') || strchr(s, '\r'));
}

// What the file format can hold: a section name that is not empty, holds no line break or "]" and does not start
// with a blank (the reader trims it); a key without line breaks or "=", not starting with a blank or "["; a value
// without line breaks. Anything else would read back as other sections or keys.
bool sectionHoldable(const char* name) {
  return name && *name && !isBlank(*name) && !hasLineBreak(name) && !strchr(name, ']');
}
bool keyHoldable(const char* key) {
  return key && *key && !isBlank(*key) && *key != '[' && !hasLineBreak(key) && !strchr(key, '=');
}

}  // namespace

BOOL WritePrivateProfileString(const char* appname, const char* keyname, const char* val, const char* fn) {
  if (!appname || !fn || (keyname && !*keyname)) return FALSE;
  if (!sectionHoldable(appname) || (keyname && !keyHoldable(keyname)) || hasLineBreak(val)) return FALSE;
  IniState& st = state();
  KIT_MutexLock lock(st.m_mutex);
  iniFileContext* ctx = GetFileContext(fn);
  if (!keyname) {
    if (!ctx->sections.Exists(appname)) return TRUE;
    ctx->sections.Delete(appname);
    return commit(ctx);
  }
  Section* s = ctx->sections.Get(appname, nullptr);
  if (!val) {
    if (!s || !s->Exists(keyname)) return TRUE;
    s->Delete(keyname);
    return commit(ctx);
  }
  if (s) {
    if (char** existing = s->GetPtr(keyname)) {
      if (*existing && strcmp(*existing, val) == 0) return TRUE;
      char* copy = strdup(val);
      if (!copy) return FALSE;
      free(*existing);
      *existing = copy;  // the key keeps its stored spelling
      return commit(ctx);
    }
  } else {
    s = newSection();
    if (!ctx->sections.Insert(appname, s)) {
      delete s;
      return FALSE;
    }
  }
  char* copy = strdup(val);
  if (!copy || !s->Insert(keyname, copy)) {
    free(copy);
    forgetContents(ctx);
    return FALSE;
  }
  return commit(ctx);
}

BOOL WritePrivateProfileSection(const char* appname, const char* strings, const char* fn) {
  if (!appname || !fn || !sectionHoldable(appname)) return FALSE;
  for (const char* p = strings; p && *p; p += strlen(p) + 1) {
    const char* eq = strchr(p, '=');
    if (!eq) continue;
    const std::string key(p, static_cast<size_t>(eq - p));
    if (!keyHoldable(key.c_str()) || hasLineBreak(eq + 1)) return FALSE;
  }
  IniState& st = state();
  KIT_MutexLock lock(st.m_mutex);
  iniFileContext* ctx = GetFileContext(fn);
  const bool empty = !strings || !*strings;
  Section* s = ctx->sections.Get(appname, nullptr);
  if (s) {
    s->DeleteAll();
  } else {
    if (empty) return TRUE;
    s = newSection();
    if (!ctx->sections.Insert(appname, s)) {
      delete s;
      return FALSE;
    }
  }
  for (const char* p = strings; p && *p; p += strlen(p) + 1) {
    const size_t searchable = strnlen(p, 8191);
    const char* eq = static_cast<const char*>(memchr(p, '=', searchable));
    if (!eq) continue;
    std::string key(p, eq - p);
    char* value = strdup(eq + 1);
    if (!value || !s->Insert(key.c_str(), value)) free(value);
  }
  return commit(ctx);
}

BOOL WritePrivateProfileStruct(const char* appname, const char* keyname, const void* buf, int bufsz, const char* fn) {
  if (!keyname || !buf) return WritePrivateProfileString(appname, keyname, static_cast<const char*>(buf), fn);
  if (bufsz < 0 || bufsz > (INT_MAX - 3) / 2) return FALSE;
  std::vector<char> text(static_cast<size_t>(bufsz) * 2 + 3);
  const auto* in = static_cast<const unsigned char*>(buf);
  unsigned sum = 0;
  for (int i = 0; i < bufsz; ++i) {
    snprintf(&text[2 * i], 3, "%02X", in[i]);
    sum += in[i];
  }
  snprintf(&text[2 * bufsz], 3, "%02X", sum & 0xFF);
  return WritePrivateProfileString(appname, keyname, text.data(), fn);
}

void SHIM_Internal_INI_SetBeforeRenameHook(void (*hook)()) {
  IniState& st = state();
  KIT_MutexLock lock(st.m_mutex);
  st.beforeRename = hook;
}

// The headless model of the platform's bundles: a folder "<name>.<ext>/Contents/Linux/<name>.so" whose executable
// is loaded on demand. Bundles are shared: making one twice for the same folder gives the same object.
#pragma once

#include <string>

#include "platform/cocoa/object.h"

namespace cocoa {

class Bundle : public Object {
 public:
  // A retained bundle for the folder at `path`, or null when it is not a folder.
  static Bundle* create(const std::string& path);
  // The main bundle (not retained): the folder that holds the running program, or the one tests set.
  static Bundle* mainBundle();
  static void setMainBundlePath(const std::string& path);

  // The bundle with that identifier (not retained; it stays for the process), or null: first one registered for
  // it, then the bundles of the libraries loaded into the process whose "Contents/Info.plist" names it.
  static Bundle* withIdentifier(const std::string& identifier);
  static void registerIdentifier(const std::string& identifier, const std::string& path);

  const std::string& bundlePath() const { return path_; }
  // The CFBundleIdentifier of "Contents/Info.plist", or "".
  std::string identifier() const;
  // "<bundle>/Contents/Resources/<name>.<type>" (no dot when type is empty), looked for in Resources and then in
  // its subfolders (this platform's bundles keep the resource folders of the source tree); "" when missing.
  std::string pathForResource(const std::string& name, const std::string& type) const;
  // "<bundle>/Contents/Linux/<name>.so", or the only shared library in that folder; "" when there is none.
  std::string executablePath() const;
  // Loads the executable when needed (each bundle keeps one load of its own) and looks the symbol up.
  void* functionPointerForName(const char* name);

 protected:
  ~Bundle() override;

 private:
  explicit Bundle(std::string path) : path_(std::move(path)) {}
  std::string path_;
  void* handle_ = nullptr;
};

}  // namespace cocoa

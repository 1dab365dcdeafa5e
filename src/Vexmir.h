// The editor object: one per host instance, created by the exported entry and deleted by the
// host's close request.
#pragma once

#include <atomic>
#include <string>

#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IMidiQueue.h"
#include "src/VexmirParams.h"

class ControlLayer;
class IControl;
class ProgressIndicator;
class UIConfigManager;

class Vexmir : public IEffectVST {
 public:
  static constexpr int kNumPluginParams = kNumParams;
  static constexpr int kVersion = 0x20008;
  static constexpr int kUniqueID = 0x78786762;

  // Host thread that creates the plug-in (under the entry's process-wide lock).
  explicit Vexmir(IEffectInstanceInfo info);
  // Host thread that closes the plug-in.
  ~Vexmir() override;

  // The data folder (resolved under the data root), ending with "/".
  static std::string getDataFolder();
  static std::string getPatchesFolderStr();
  static int getPatchesFolderLength();
  // User-interface thread: shows the data folder (false) or opens the user manual (true) through
  // the editor surface; nothing without one.
  void OpenDataDirectory(bool manual);

  // Stores one line of the UI settings file (0 colour scheme, 1 size, 2 first-run word) and
  // rewrites the file when it exists. False when it does not (nothing is then created).
  bool setUISettingsLine(int line, const std::string& word);
  bool writeUISettingsFile();

  // Writes text to the debug log when logging is on for this instance. Any thread.
  void log(const std::string& text) const;

  bool isDebugLogOn() const { return debugLogOn; }
  double getUIScale() const { return uiScale; }
  int getUIStyle() const { return uiStyle; }
  const std::string& getUISettingsLine(int line) const { return uiSettings[line < 0 || line > 4 ? 4 : line]; }
  const std::string& getDebugLogPath() const { return debugLogPath; }
  const std::string& getUISettingsPath() const { return uiSettingsPath; }

  // The control bound to an incoming control change, NRPN or SysEx parameter change, from the routing tables
  // built with the editor; null when none. Any thread once the plug-in is constructed.
  IControl* getCCControls(int channel, int ccNumber, int subKey);
  IControl* getMsbLsbControl(int channel, int msb, int valueOffset, int lsb, int subKey);
  IControl* getSysexControl(int byte0, int byte1, int byte2, int byte3, int key);
  UIConfigManager* getUIConfig() const { return uiConfig; }
  ProgressIndicator* getProgressIndicator() const { return progressIndicator; }
  IControl* getCancelButton(int which) const { return which == 0 || which == 1 ? cancelButtons[which] : nullptr; }

  IMidiQueue midiQueue;
  // Last short message compared by DebuggerOutput::compareMIDIdata.
  int lastComparedMidi[3] = {0, 0, 0};

  // Shared with the MIDI threads without a lock: single values only.
  std::atomic<bool> midiOutReady{false};
  std::atomic<int> deviceId{0x30};
  std::atomic<int> displayedTimbre{0};

 private:
  void readUISettingsFile();
  // Builds the editor surface and everything on it from the resources (constructor only).
  void buildEditor();
  // The layer of that name, logged when the description has none.
  ControlLayer* namedLayer(const char* name);

  UIConfigManager* uiConfig = nullptr;
  ProgressIndicator* progressIndicator = nullptr;
  IControl* cancelButtons[2] = {nullptr, nullptr};

  std::string debugLogPath;
  std::string uiSettingsPath;
  std::string uiSettings[5];
  double uiScale = 1.0;
  int uiStyle = 0;
  double sampleRate = 44100.0;
  ITimeInfo timeInfo;
  bool debugLogOn = false;
};

#include "src/Vexmir.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "KIT/IEffect/IGraphics.h"
#include "platform/bundle/bundle.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/debugger.h"

namespace {

const char* const kDataFolder = "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
const char* const kPluginName = "Vexmir Editor";
const char* const kUserManual = "Korg-Vexmir-User-Manual.pdf";
const char* const kChannelIO = "2-2";
constexpr int kMfrID = MakeFourCC('P', 'c', 'r', '1');
constexpr int kLatency = 128;
constexpr int kMidiQueueSize = 1024;

std::string trimLineEnd(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

Vexmir::Vexmir(IEffectInstanceInfo info)
    : IEffectVST(info, 98, kChannelIO, 0, kPluginName, "", "Pellacor", kVersion, kUniqueID, kMfrID, kLatency, true,
                 true, true, 0),
      midiQueue(kMidiQueueSize) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  sampleRate = GetSampleRate();

  std::string folder = getDataFolder();
  debugLogPath = folder + kPluginName + " LOG.txt";
  debugLogOn = DebuggerOutput::openDebugFile(debugLogPath);

  uiSettingsPath = folder + kPluginName + " UI.txt";
  readUISettingsFile();

  log("INITIALIZATION STARTED!");
  IEffectVST::SetLatency(kLatency);
  log("Data folder located at " + folder);

  IEffectVST::initialize(info, 0, kNumPluginParams, kChannelIO, 0, kPluginName, "", "Pellacor", kVersion, kUniqueID,
                         kMfrID, kLatency, true, true, true, 0);
  IEffectBase::addNonAutomateParamCount(kNumPluginParams);

  patchManager = std::make_unique<PatchManager>(this);
  log("PATCH MANAGER INITIALIZED...");
  librarian = std::make_unique<PatchLibrarian>(this);
  if (debugLogOn) librarian->logSink = [this](const std::string& line) { log(line); };
  // A bank dump from the synthesizer comes back program by program through the SysEx input.
  librarian->hardwareProgramHandOff = [this](const uint8_t* dump, int size) {
    ISysEx program(0, dump, size);
    ProcessSysEx(&program, true);
  };
  librarian->hardwareBankFinished = [this] { bankReceiveActive = false; };
  log("PATCH LIBRARIAN INITIALIZED...");
  librarian->loadPatchesFromFilesystem(getPatchesFolderStr());
  log("PATCH LIBRARIAN COMPLETED LOADING SINGLES...");

  startMidiLoop();
}

// The MIDI side of start-up, once the editor surface and its controls exist: the hub with its (idle)
// workers, the channel, the display lines and the first Reset.
void Vexmir::startMidiLoop() {
  midiManager = std::make_unique<MIDIMessageManager>(this, patchManager.get(), librarian.get(), GetGUI());
  cacheDisplayControls();
  storeParamValue(kGlobalMidiChannel, 0);
  deviceId = 0x30 + static_cast<int>(paramValue(kGlobalMidiChannel));
  secondDeviceId = 0x30;
  log("Control set 2 attached... Resetting");
  Reset();
  if (paramValue(kGlobalLocalControl) == 0.0) localControlFlag = false;
  log("Plug-in is ready to load!");
  editorReady = true;
}

// Shut-down leaves no thread, callback or timer alive: the input is unhooked first, then nothing is sent any
// more, then the workers are cancelled, stopped and joined, and only then is anything they use deleted.
Vexmir::~Vexmir() {
  closeExternalMIDIPorts();
  midiOutReady = false;
  editorReady = false;
  if (midiManager) midiManager->shutDown();
  midiManager.reset();
  patchManager.reset();
  librarian.reset();
}

std::string Vexmir::getDataFolder() {
  return platform::resolveDataPath(kDataFolder);
}

std::string Vexmir::getPatchesFolderStr() {
  return getDataFolder() + "Patches";
}

int Vexmir::getPatchesFolderLength() {
  return static_cast<int>(getPatchesFolderStr().size());
}

// A path that is no web address is opened by the system's workspace: the folder in the file
// browser, the manual in the default viewer. Whether that worked is not the editor's concern.
void Vexmir::OpenDataDirectory(bool manual) {
  IGraphics* graphics = GetGUI();
  if (!graphics) return;
  const std::string path = manual ? getDataFolder() + kUserManual : getDataFolder();
  graphics->OpenURL(path.c_str(), nullptr, nullptr, nullptr);
}

void Vexmir::log(const std::string& text) const {
  if (debugLogOn) DebuggerOutput::printDebugInfo(debugLogPath, text);
}

void Vexmir::readUISettingsFile() {
  std::ifstream in(uiSettingsPath);
  if (!in) return;
  std::string line;
  for (int i = 0; i < 3 && std::getline(in, line); ++i) uiSettings[i] = trimLineEnd(line);

  const std::string& size = uiSettings[1];
  if (size == "small")
    uiScale = 0.75;
  else if (size == "large")
    uiScale = 1.25;
  else if (size == "normal")
    uiScale = 1.0;

  const std::string& scheme = uiSettings[0];
  if (scheme == "normal")
    uiStyle = 0;
  else if (scheme == "black")
    uiStyle = 1;
}

bool Vexmir::setUISettingsLine(int line, const std::string& word) {
  if (line < 0 || line > 2) return false;
  uiSettings[line] = word;
  return writeUISettingsFile();
}

bool Vexmir::writeUISettingsFile() {
  {
    std::ifstream probe(uiSettingsPath);
    if (!probe) return false;
  }
  std::FILE* f = std::fopen(uiSettingsPath.c_str(), "w");
  if (!f) return false;
  std::string text =
      uiSettings[0] + "\n" + uiSettings[1] + "\n" + uiSettings[2] + "\n" + uiSettings[3] + "\n" + uiSettings[4];
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

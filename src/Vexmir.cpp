#include <cstring>
#include "src/Vexmir.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "platform/bundle/bundle.h"
#include "src/GlobalDump.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgressIndicator.h"
#include "src/TabSwitchFunctions.h"
#include "src/UIConfigManager.h"
#include "src/VexmirLibrarianHost.h"
#include "src/debugger.h"

namespace {

const char* const kDataFolder = "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
const char* const kPluginName = "Vexmir Editor";
const char* const kUserManual = "Korg-Vexmir-User-Manual.pdf";
const char* const kChannelIO = "2-2";
constexpr int kMfrID = MakeFourCC('P', 'c', 'r', '1');
constexpr int kLatency = 128;
constexpr int kMidiQueueSize = 1024;
constexpr int kEditorWidth = 1500;
constexpr int kEditorHeight = 667;
const char* const kBundleID = "com.Pellacor.vst.Vexmir Editor";

std::string trimLineEnd(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

Vexmir::Vexmir(IEffectInstanceInfo info)
    : IEffectVST(info, 98, kChannelIO, 0, kPluginName, "", "Pellacor", kVersion, kUniqueID, kMfrID, kLatency, true,
                 true, true, 0),
      midiQueue(kMidiQueueSize) {
  std::memcpy(receivedProgram, initialProgramData(), kProgramDataSize);
  std::memcpy(receivedGlobal, globalTemplateData(), kGlobalDataSize);
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
  librarian->selectionChanged = [this] {
    storeParamValue(kCurrentPatch, librarian->selectedSlot(0));
    setLibrarianViewDirty();
  };
  log("PATCH LIBRARIAN INITIALIZED...");
  librarian->loadPatchesFromFilesystem(getPatchesFolderStr());
  log("PATCH LIBRARIAN COMPLETED LOADING SINGLES...");
  librarianHost = std::make_unique<VexmirLibrarianHost>(this);
  librarianEditor = std::make_unique<LibrarianEditor>(this, librarian.get(), librarianHost.get());
  librarianHost->setEditor(librarianEditor.get());

  buildEditor();
  initUnboundParams();
  startMidiLoop();
  // The snapshot that every state chunk carries: the state at the end of start-up.
  patchManager->init();
  // Start-up's state is where every project begins: none of it is a change to tell a host of.
  ProjectHeld(ProjectDigest());
}

void Vexmir::buildEditor() {
  const double s = uiScale;
  const int width = static_cast<int>(kEditorWidth * s), height = static_cast<int>(kEditorHeight * s);
  auto* surface = new IGraphicsMac(this, width, height, 0);
  surface->SetBundleID(kBundleID);
  log("STARTING USER INTERFACE CONFIGURATION...");
  uiConfig = new UIConfigManager();
  uiConfig->readUIConfig(surface, this, librarian.get(), uiStyle, s);
  log("USER INTERFACE CONFIGURATION COMPLETED... BUILDING UI");

  if (ControlLayer* root = namedLayer("root")) root->Hide(false);
  if (ControlLayer* mixer = namedLayer("multiModeMixer")) {
    mixer->setSelectedZone(-1);
    for (int i = 0; i < mixer->childLayers.GetSize(); ++i) {
      ControlLayer* child = mixer->childLayers.Get(i);
      child->Hide(child->getId() != -1);
    }
  }
  for (const char* name : {"aboutWindow", "firstRunNotification", "midiFilterSettings", "midiSettingsButton"})
    if (ControlLayer* layer = namedLayer(name)) layer->Hide(true);
  if (IParam* randomize = GetParam(kRandomize))
    if (ControlAction* action = randomize->GetControlAction())
      if (!action->controls.empty()) action->controls.front()->GrayOut(true);
  if (ControlLayer* split = namedLayer("splitPointLayer")) split->Hide(false);
  for (const char* name : {"patchRename", "saveChangesLayer", "releaseAllLocksLayer", "discardChangesLayerRight",
                           "keepBankOpenLayer", "searchField"})
    if (ControlLayer* layer = namedLayer(name)) layer->Hide(true);

  const ImageInfo background = uiConfig->getBackgroundImage();
  surface->AttachBackground(background.resourceId, ("resources/img/" + background.file).c_str(), s);
  IEffectVST::AttachGraphics(surface);
  for (ControlLayer* layer : librarianEditor->buildTab(surface, s, uiConfig->librarianViewRect,
                                                       uiConfig->librarianViewParam, namedLayer("patchLibrarian")))
    uiConfig->layers.emplace(layer->getName(), layer);
  log("Layers attached...");

  // The progress overlay on its own layer, with the two Cancel buttons of a running transfer.
  auto* progress = new ControlLayer(0, "PROGRESS");
  uiConfig->layers.emplace("PROGRESS", progress);
  uiConfig->overlayLayers.insert(progress);
  IBitmap overlay = surface->LoadIBitmap(118, "resources/img/overlayer.png", 1.0, 1, false);
  if (overlay.W != width || overlay.H != height) overlay = surface->ScaleBitmap(&overlay, width, height);
  progressIndicator =
      new ProgressIndicator(progress, this, 0, 0, width, height, -1, overlay, IRECT(0, 0, width, height));
  cancelButtons[0] = uiConfig->createAutoOffSwitchControl("Cancel Data Request", kReserved518, 860, 340,
                                                          "BUTTON_LIB_CANCEL_ID", 0, progress, "Global");
  cancelButtons[1] = uiConfig->createAutoOffSwitchControl("Cancel Data Request", kReserved518, 1150, 122,
                                                          "BUTTON_LIB_CANCEL_ID", 0, progress, "Global");
  progressIndicator->Hide(true);
  progress->Hide(true);
  surface->AttachLayer(progress);
}

// A sound or global setting that no control of the description binds still travels in every program or
// global dump: it takes the synthesizer's own range and power-on value. Left unset, its range would cut the
// program bytes it keeps (a received program would go back changed), and the global dump of a fresh editor
// would switch the synthesizer's system exclusive reception off.
void Vexmir::initUnboundParams() {
  std::vector<bool> global(kNumParams, false);
  for (int i : kGlobalDumpParams) global[static_cast<size_t>(i)] = true;
  for (int i = 0; i < kNumParams; ++i) {
    IParam* p = GetParam(i);
    const ParamInfo& info = paramInfo(i);
    if (!p || p->Type() != IParam::kTypeNone || !(info.sound || global[static_cast<size_t>(i)])) continue;
    p->InitInt("", static_cast<int>(info.defaultValue), static_cast<int>(info.min), static_cast<int>(info.max));
    p->Set(info.defaultValue);
  }
  // The timbre indicator: 0 timbre 1, 1 timbre 2, and 2 after the timbre link was switched (both timbres).
  if (IParam* led = GetParam(kTimbreLED); led && led->Type() == IParam::kTypeNone) led->InitInt("Timbre LED", 0, 0, 2);
  // The librarian's selection as the project keeps it: the highlighted upper slot (-1 none) and the open bank's
  // position in the bank list.
  if (IParam* slot = GetParam(kCurrentPatch); slot && slot->Type() == IParam::kTypeNone)
    slot->InitInt("Current Patch", -1, -1, kProgramsPerBank - 1);
  if (IParam* bank = GetParam(kCurrentBank); bank && bank->Type() == IParam::kTypeNone)
    bank->InitInt("Current Bank", 0, 0, 65535);
}

void Vexmir::OnIdle() {
  if (!librarianEditor || !mMutex.TryEnter()) return;
  // A recall handed over waits for what stands: what the musician chooses there goes onto what was shown.
  IGraphics* g = GetGUI();
  if (!g || !g->ModalShown()) finishHandedOverRecall();
  librarianEditor->idle();
  mMutex.Leave();
}

ControlLayer* Vexmir::namedLayer(const char* name) {
  ControlLayer* layer = uiConfig ? uiConfig->getLayer(name) : nullptr;
  if (!layer) log(std::string("CONFIG READER: layer ") + name + " MISSING!");
  return layer;
}

IControl* Vexmir::getCCControls(int channel, int ccNumber, int subKey) {
  return uiConfig ? uiConfig->getCCControl(channel, ccNumber, subKey) : nullptr;
}

IControl* Vexmir::getMsbLsbControl(int channel, int msb, int valueOffset, int lsb, int subKey) {
  return uiConfig ? uiConfig->getNRPNControl(channel, msb, valueOffset, lsb, subKey) : nullptr;
}

IControl* Vexmir::getSysexControl(int byte0, int byte1, int byte2, int byte3, int key) {
  return uiConfig ? uiConfig->getSysExControl(byte0, byte1, byte2, byte3, key) : nullptr;
}

// The MIDI side of start-up, once the editor surface and its controls exist: the hub with its (idle)
// workers, the channel, the display lines and the first Reset.
void Vexmir::startMidiLoop() {
  midiManager = std::make_unique<MIDIMessageManager>(this, patchManager.get(), librarian.get(), GetGUI());
  cacheEditorObjects();
  log("Control set 1 attached");
  log("Librarian menus attached");
  // The two timbres listen on MIDI channels 1 and 2.
  setParameterFromPlug(kMultiPartMIDICh, 0);
  setParameterFromPlug(kMultiPartMIDICh + 1, 1);
  storeParamValue(kGlobalMidiChannel, 0);
  deviceId = 0x30 + static_cast<int>(paramValue(kGlobalMidiChannel));
  secondDeviceId = 0x30;
  log("Control set 2 attached... Resetting");
  Reset();

  storeParamValue(kOverrideTempo, 1);
  storeParamValue(kDataType, 0);
  storeParamValue(kCommonMode, 2);
  storeParamValue(kCommonVoices, 1);
  storeParamValue(kQuickTab, 0);
  displayedTimbre = toInt(paramValue(kQuickTab));
  setParameterFromPlug(kLibSyncTimer, 2);
  setParameterFromPlug(kMainTab, 2);
  TabSwitchFunctions::mainTabSwitch(this, kMainTab, 2, 0, displayedTimbre);
  TabSwitchFunctions::quickTabSwitch(this, kQuickTab, displayedTimbre, 0, true);

  // The UI settings file's colour scheme and size show in their menus; a first start shows the notice.
  const std::string& scheme = uiSettings[0];
  if (scheme == "normal" || scheme == "black") setParameterFromPlug(kUserInterfaceSkin, scheme == "black" ? 1 : 0);
  const std::string& size = uiSettings[1];
  if (size == "small" || size == "normal" || size == "large")
    setParameterFromPlug(kUserInterfaceSize, size == "small" ? 0 : size == "normal" ? 1 : 2);
  if (uiSettings[2] == "no")
    if (ControlLayer* notice = namedLayer("firstRunNotification")) notice->Hide(false);

  // MIDI pass-through: from the host control changes, notes and the pressures pass, program changes and SysEx
  // do not; from the synthesizer everything but program changes passes. A block flag is set where its
  // pass-through is off.
  static const double passThrough[kNumFilterKinds * 2] = {1, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1};
  for (int i = 0; i < kNumFilterKinds * 2; ++i) {
    setParameterFromPlug(kMIDIFilterDAWCCPassThrough + i, passThrough[i]);
    (i < kNumFilterKinds ? hostFilter[i] : deviceFilter[i - kNumFilterKinds]) = passThrough[i] != 1.0;
  }
  setParameterFromPlug(kMIDIFilterTrackIncomingMIDI, 1);
  trackIncomingMidi = true;
  setParameterFromPlug(kMIDIFilterDirectToHardware, 1);
  setParameterFromPlug(kMIDIFilterToDAWBuffer, 0);
  midiOutViaAudioQueue = false;
  setParameterFromPlug(kSendMIDIClockPointer, 0);
  setParameterFromPlug(kSendMIDIClockInfo, 0);
  sendClockStartStop = false;
  sendClockTicks = false;

  // The controls show the parameters' first values.
  for (int i = 0; i < NParams(); ++i) {
    const int v = toInt(paramValue(i));
    if (v > 0) setParameterFromPlug(i, v);
  }
  if (paramValue(kGlobalLocalControl) == 0.0) localControlFlag = false;
  log("Plug-in is ready to load!");
  TabSwitchFunctions::mainTabSwitch(this, kMainTab, 2, 0, displayedTimbre);
  TabSwitchFunctions::quickTabSwitch(this, kQuickTab, displayedTimbre, 0, true);
  editorReady = true;
}

// Shut-down leaves no thread, callback or timer alive: the input is unhooked first, then nothing is sent any
// more, then the workers are cancelled, stopped and joined, and only then is anything they use deleted.
Vexmir::~Vexmir() {
  // Nothing the host handed over reaches a plug-in being torn down; the relay's waits for the MIDI system end first.
  giveUpMidiWaits();
  stopHostCallRelay();
  closeExternalMIDIPorts();
  midiOutReady = false;
  editorReady = false;
  if (midiManager) midiManager->shutDown();
  midiManager.reset();
  patchManager.reset();
  librarianEditor.reset();
  librarian.reset();
  // The surface (deleted by the base) keeps the controls; the builder frees only the bindings it made.
  delete uiConfig;
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
  // A pipe or a folder in the file's place is not read (nor replaced: the creation is exclusive).
  std::string bytes;
  if (!platform::readDataFile(uiSettingsPath, &bytes, 64 * 1024)) {
    createUISettingsFile();
    return;
  }
  std::istringstream in(bytes);
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

// The editor is built once per start of the plug-in, at its size and in its colours: a new choice is kept in the
// file and shows at the next start (reopening the editor keeps the surface it has).
void Vexmir::keepUISetting(int line, const std::string& word, const char* applied) {
  if (setUISettingsLine(line, word))
    displayText(applied, "Reload project!", "");
  else
    displayText(std::string(kPluginName) + " UI.txt MISSING!", "Contact support", "");
}

bool Vexmir::setUISettingsLine(int line, const std::string& word) {
  if (line < 0 || line > 2) return false;
  uiSettings[line] = word;
  return writeUISettingsFile();
}

// No installer places the settings file on this platform, and the choices are kept only in a file that exists: the
// first start writes it with the defaults. This start keeps the defaults it has (no first-run notice), and the file
// says the notice was seen, so that it does not turn up at some later start.
void Vexmir::createUISettingsFile() {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(uiSettingsPath).parent_path(), ec);
  // Exclusive creation: an instance starting at the same moment may have written its choice already.
  std::FILE* f = std::fopen(uiSettingsPath.c_str(), "wx");
  if (!f) return;
  static const char kDefaults[] = "normal\nnormal\nyes\n\n";
  const bool ok = std::fwrite(kDefaults, 1, sizeof kDefaults - 1, f) == sizeof kDefaults - 1;
  if (std::fclose(f) != 0 || !ok) {
    std::remove(uiSettingsPath.c_str());
    return;
  }
  uiSettings[0] = "normal";
  uiSettings[1] = "normal";
  uiSettings[2] = "yes";
}

bool Vexmir::writeUISettingsFile() {
  return platform::rewriteDataFile(uiSettingsPath, uiSettings[0] + "\n" + uiSettings[1] + "\n" + uiSettings[2] + "\n" +
                                                       uiSettings[3] + "\n" + uiSettings[4]);
}

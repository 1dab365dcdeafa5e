// The editor object: one per host instance, created by the exported entry and deleted by the
// host's close request.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IMidiQueue.h"
#include "src/GlobalDump.h"
#include "src/JobClock.h"
#include "src/ProgramDump.h"
#include "src/VexmirParams.h"

class ControlLayer;
struct ControlAction;
class IControl;
class ITextControl;
class MIDIMessageManager;
struct PluginState;
class LibrarianEditor;
class PatchLibrarian;
class VexmirLibrarianHost;
class PatchManager;
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
  // A new size or colour scheme from the global tab: kept in the settings file; the display says it applies at the
  // next start, or that the file is missing.
  void keepUISetting(int line, const std::string& word, const char* applied);
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

  // ---- The live editing loop: parameter logic, timing work, MIDI out, MIDI in ----
  // An edit made in the editor (or by the host): side effects, display, linking, and the message to the
  // synthesizer. Holds the plug-in mutex.
  void OnParamChange(int paramIdx) override;
  // The editor's idle: the librarian's lists follow their files. Skipped while another thread holds the mutex (a
  // recall): the next tick looks.
  void OnIdle() override;
  // A value that came from the synthesizer: the editor follows, nothing is sent back. Holds the plug-in mutex.
  void OnParamChange2(int paramIdx) override;
  // Sends the parameter's new value (plain, not normalized) as its binding says and moves its controls.
  void processControlAction(ControlAction* action, int paramIdx, double value);
  void ProcessMidiMsg(IMidiMsg* msg, bool fromDevice) override;
  void ProcessSysEx(ISysEx* msg, bool fromDevice) override;
  void Reset() override;
  // Without a MIDI system nothing reaches the synthesizer: the first thing the opened editor says.
  void OnGUIOpen() override;
  void OnGUIClose() override;
  void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override;
  // The relay's thread: starts the jobs the audio callback asked for, sends what it could not send without
  // waiting, starts a recalled program's pending send and opens the ports chosen meanwhile.
  void RunDeferredWork() override;

  // Send operations to the synthesizer. Any thread; none holds a lock while it waits.
  void SendPatchEditOnCommand();
  void SendPatchEditOffCommand();
  void SendProgramChangeCommand(int program, int unused);
  void SendBankChangeCommand(int, int) {}
  void AllSoundsOff();
  void sendMidiMsgAndLog(IMidiMsg* msg);
  void checksumCheckAndSend(const unsigned char* bytes, int length);
  void MIDIOutRoutingSwitch(IMidiMsg* msg);
  // The pacing delay of the transfer jobs in milliseconds (kLibSyncTimer).
  int getTimerValue() const;
  void sendSysExInitialization();
  void sendPartDataBackToHardware(int unused);
  void updateSectionLockFlags();
  void sendPatchAndPatternToDevice(int, bool, bool, bool globalWithProgram, bool, bool);
  // The program change for the slot, then the slot's program by job 2; `leadPauseMs` is the job's pause before the
  // program change. True only when the job started: a locked timbre, an empty slot, no output or a busy job thread
  // send nothing.
  bool sendPatchToDeviceFromLibrarian(int slot, int side, int leadPauseMs = 0);
  // True when the store job (job 3) started.
  bool storeAllPatchesToDeviceFromLibrarian(int side, int slot);
  void setLibrarianViewDirty();
  // A transfer job has reached `slot` of the upper (side 0) or lower bank: the librarian and its view both
  // select it. Any thread.
  void selectLibrarianSlot(int side, int slot);
  // The synthesizer's port went away (its client ended, or the MIDI server stopped): both ports close and
  // show OFF, and the next choice of a port reads the port lists anew.
  void midiPortLost();
  // Reads the MIDI port lists anew for the port menus (the musician is opening one): each menu's choice keeps its
  // port by name; a chosen port that has gone is closed and shows OFF. The editor's thread.
  void refreshPortMenus();
  // What the musician must still choose before a command that needs the synthesizer (and its answer, when
  // `answer`) can work; empty when the ports are there.
  std::string missingPortsText(bool answer);
  // The ports the project names, by their whole names ("OFF" for none), and the menus' values they were chosen at:
  // kept through a JACK server's end, so that a project saved meanwhile still names them. Any thread; nothing is
  // asked of the MIDI system.
  void projectPortNames(std::string* in, std::string* out);
  double projectPortNormalized(int out);
  // An action may use the output (the input): it is open, or a JACK server's end closed it and the action's job
  // opens it again first (reopenAwaitedPorts).
  bool outputUsable();
  bool inputUsable();
  // The ports closed under a running action: their server ended, or they wait for one. No lock.
  bool midiPortsLost() const;
  // The relay's thread, as soon as a JACK server's end is heard (or a job that finds its ports lost, with `wait`): the
  // ports of that server close, the menus show OFF, and the musician reads which ports closed. The project keeps
  // naming them.
  void closePortsOfEndedServer(bool wait = false);
  // A job's thread, before a job that uses the ports: those a server's end closed are opened again by their names on
  // the MIDI system that answers now. False when one could not be (the musician reads why).
  bool reopenAwaitedPorts();

  // Display texts (the status display's lines); nothing when a line's control does not exist.
  void displayStatus(const char* text);
  void displayText(const std::string& name, const std::string& value, const std::string& cc);
  void displayValue(const std::string& text);
  void displayCC(const std::string& text);
  void displayTimbre(const std::string& text);
  void displayBuild(const std::string& text);
  void displayMIDIOutDelay(const std::string& text);
  // A control's name and value in their own fields, or as one message when they do not fit them.
  void displayControl(const std::string& name, const std::string& value);
  // The outcome of an action the musician started (a librarian message, a transfer's report): it holds until a
  // control is shown, another text is shown or `endOutcome` (the musician's next action) takes it away.
  void displayOutcome(const std::string& text, const std::string& second = std::string());
  void endOutcome();
  // Ends a refused button's text while it is the one shown.
  void endRefusal();
  // The MIDI OUT DELAY field: the host buffer's delay while MIDI goes out through it, else "direct".
  void showMidiOutDelay();
  enum EDisplayLine {
    kLineName = 0,
    kLineValue,
    kLineCC,
    kLineTimbre,
    kLineBuild,
    kLineMIDIOutDelay,
    kNumDisplayLines
  };
  // The text a display line shows now (empty without its control).
  std::string getDisplayLine(int line) const;
  // How many characters the status display shows whole (0 until the editor's face is made).
  size_t statusDisplayChars() const { return messageLineChars; }
  // The step texts of modulation sequence 1, 2 or 3 (step 1 first).
  void displaySequence1Values(const std::vector<std::string>& texts);
  void displaySequence2Values(const std::vector<std::string>& texts);
  void displaySequence3Values(const std::vector<std::string>& texts);
  // "Timbre " + (timbre + 1) + " " + text; the characters stay valid until the next call.
  const char* getPanelString(int timbre, const std::string& text);
  // A value as a whole number ("%.0f": 127.4 gives "127", -0.4 gives "-0").
  static std::string getValueString(double value);
  // The UI configuration's program-value table: 0 where any level is missing; a store creates missing levels.
  int getProgramValueByParts(int a, int b, int c) const;
  void setProgramValueByParts(int a, int b, int c, int value);
  // Librarian glue over the librarian tab (nothing without it): rebuild the bank menus and refresh the slot view;
  // refresh the upper (0), lower (1) or both (2) slot lists; pop up a slot's edit or copy menu at x, y.
  void refreshPopUpMenus();
  void updatePatchLibrarianView(int which);
  void showFileEditMenu(int x, int y);
  void showFileCopyMenu(int x, int y);
  // The first control bound to the parameter, in the surface's controls, then its layers (hidden ones too).
  IControl* findFirstControl(int paramIdx) const;
  // Looks the display lines' controls up again; the constructor does this once the editor is built.
  void cacheDisplayControls();

  MIDIMessageManager* getMidiManager() const { return midiManager.get(); }
  PatchManager* getPatchManager() const { return patchManager.get(); }
  PatchLibrarian* getLibrarian() const { return librarian.get(); }
  // The librarian tab's side of the librarian: bank lists, choosers, slot view, menus, files.
  LibrarianEditor* getLibrarianEditor() const { return librarianEditor.get(); }
  // Audio thread tests: the clock that lights and times out the MIDI indicators (milliseconds, wraps).
  void setTickSource(uint32_t (*source)()) { tickSource = source ? source : defaultTicks; }
  uint32_t ticks() const { return tickSource(); }
  // How many messages the audio callback sent from the queue, for the benchmarks and tests.
  int queuedMidiCount();
  // The most messages the queue holds for the audio callback: a host that stops calling its blocks leaves it
  // full, and what comes then is dropped rather than kept for ever.
  static constexpr int kMaxQueuedMidiMessages = 4096;

  // ---- Transfers, the librarian's status and the host state ----
  // The processing indicator of a transfer and its Cancel buttons (true when a transfer starts, false when
  // it ends). Any thread: only flags and visibility, which the next redraw shows.
  void DisplayProcessingIndicator(bool show);
  bool isProcessingIndicatorShown() const { return processingIndicatorShown; }
  // Arms (true) or ends the single-program librarian request; false makes the editor wait for a dump.
  void SetLibrarianRequestActive(bool active);
  // The open bank has changed (every caller passes true).
  void SetLibrarianStatusUnsaved(bool unsaved);
  // The Store commands of the librarian: the selected program (written into its program memory when
  // storeAfterSend is true) and the whole open bank.
  bool SendSingleProgramFromLibrarian(bool storeAfterSend);
  bool SendAllProgramsFromLibrarian();
  // A program change on the global channel with no pause (the jobs pause on their own clock).
  void sendProgramChange(int program);
  // The program number the librarian follows (the last program change).
  int librarianCurrentProgram() const;
  // The program name the editor shows (kPatchName's text), and every parameter's plain value.
  std::string programName() const;
  std::vector<double> currentValues() const;
  // The current program and global settings as dumps for the synthesizer (F0 to F7, kProgramDumpSize and
  // kGlobalDumpSize bytes): the parameters' values over the data bytes last received, so that what the editor
  // does not edit goes back as it came. Under the plug-in mutex.
  void buildProgramDumpOf(const std::string& name, const std::vector<double>& values, uint8_t* out);
  void buildGlobalDumpOf(const std::vector<double>& values, uint8_t* out);
  // A received program's or global dump's data bytes become the base of the next build; resetReceivedData
  // goes back to the initial program and the global template (a fresh program, a recalled project).
  void setReceivedProgramData(const uint8_t* data);
  void setReceivedGlobalData(const uint8_t* data);
  void resetReceivedProgramData();
  // The clock of the transfer jobs and the MIDI clock; tests hand in their own. Before any job runs.
  void setJobClock(JobClock* clock);
  // The pauses of the starters (after a program change, before a connection job) on the jobs' clock.
  void pauseFor(int ms);

  // The randomize command (kRandomize pressed while a main tab is shown).
  void randomizeProgram();

  // The host state chunk: the full body (with ports, bank and program) and the snapshot body.
  bool SerializeState(ByteChunk* chunk) override;
  int UnserializeState(ByteChunk* chunk, int startPos) override;
  // With `digest`, the digest of the very state written (a full body only).
  bool SerializeState2(ByteChunk* chunk, bool full, std::string* digest = nullptr);
  bool SerializeProject(ByteChunk* chunk, std::string* digest) override;
  // What a body holds now (a full one's parts only when `full`), the MIDI lights off. Any thread.
  void projectState(PluginState* state, bool full);
  // What the project keeps now as its digest (see projectDigest). Any thread; no call of the MIDI system.
  std::string ProjectDigest() override;
  // Applies a body only when it is whole and sound: -1 and nothing changed otherwise.
  int UnserializeState2(ByteChunk* chunk, int startPos, bool full);
  // A recall's part of the librarian: the open bank (its path, its unsaved edits and the stamp of the file they were
  // made on, as the body keeps them) and the highlighted slot, with the recall's words about ports not found.
  struct RecalledLibrarian {
    bool full = false;
    std::string bankPath, bankStamp, portNote;
    std::vector<uint8_t> bankImage;
    bool hasSelection = false;
    double currentBank = 0.0, currentPatch = -1.0;
  };
  // Opens the recalled bank and slot. Returns what the musician is told about the bank ("" for nothing).
  std::string recallLibrarianBank(const RecalledLibrarian& part);
  // The editor's side of a recall: the librarian's part, then the editor tab with the recalled timbre and the
  // musician told what did not come back as the project kept it.
  void finishRecallInEditor(const RecalledLibrarian& part, const std::string& bankNote);
  // While the editor is open, its thread alone changes the librarian: a recall on another thread, or one that comes
  // while a menu, panel or question stands, hands its editor's side over instead.
  bool recallHandsOver();
  // The editor's thread, under the plug-in mutex, when no menu, panel or question stands (and the editor's close):
  // carries out the editor's side of the last recall handed over.
  void finishHandedOverRecall();
  // Starts the job that sends a recalled program (with the global settings first); false when the job thread
  // is busy or the job did not start.
  bool startRecalledProgramSend();
  // The relay's thread, under the plug-in mutex: starts job 0 for the pending recall (it settles first).
  void startPendingRecallSend();

  // ---- Shared with the MIDI input thread and the jobs without a lock: single values only. ----
  std::atomic<bool> midiOutReady{false};
  // An input port from the synthesizer is open: without one no answer can come, so nothing waits for one.
  std::atomic<bool> midiInReady{false};
  std::atomic<int> deviceId{0x30};
  std::atomic<int> secondDeviceId{0x30};
  std::atomic<int> displayedTimbre{0};
  std::atomic<bool> editorReady{false};
  std::atomic<bool> editModeOn{false};
  std::atomic<bool> deviceBusy{false};
  std::atomic<bool> dumpSendRunning{false};
  std::atomic<bool> connectPending{false};
  std::atomic<bool> answerReceived{false};
  std::atomic<bool> dataMismatch{false};
  std::atomic<bool> bankReceiveActive{false};
  // Set while OnParamChange2 applies a value that came from the synthesizer: nothing is sent meanwhile.
  std::atomic<bool> changeFromHardware{false};
  std::atomic<bool> linkInProgress{false};
  std::atomic<bool> globalSent{true};
  std::atomic<bool> sendGlobalWithProgram{false};
  // A recall's program send begins: the input is held off and the global settings go out first.
  void beginRecalledSend() {
    deviceBusy = true;
    sendGlobalWithProgram = true;
    dumpSendRunning = true;
  }
  std::atomic<bool> searchListShown{false};
  std::atomic<bool> singleProgramFlag{false};
  std::atomic<bool> timbre1LockActive{false};
  std::atomic<bool> timbre2LockActive{false};
  std::atomic<bool> commonLockActive{false};
  std::atomic<bool> localControlFlag{true};
  std::atomic<bool> masterKeyboardFlag{false};
  std::atomic<bool> midiOutViaAudioQueue{false};
  std::atomic<bool> trackIncomingMidi{true};
  std::atomic<bool> sendClockStartStop{false};
  std::atomic<bool> sendClockTicks{false};
  std::atomic<bool> partRequestPending{false};
  std::atomic<bool> continuousClockStarted{false};
  // A project recalled while the job thread was busy: its program goes out once the thread is free and recalls
  // have stopped coming (the relay's thread starts it when a job ends), so the synthesizer does not keep an older
  // program than the editor shows, and a burst of recalls is sent once. The time is the job clock's.
  std::atomic<bool> recallSendPending{false};
  // The editor's side of the last recall handed over, until the editor's thread carries it out (under
  // recallHandOverLock).
  std::mutex recallHandOverLock;
  std::unique_ptr<RecalledLibrarian> recallHandedOver;
  std::atomic<int64_t> lastRecallNanoseconds{0};
  std::atomic<bool> processingIndicatorShown{false};
  // Block flags of MIDI from the host and from the synthesizer, in the order CC, PC, note, pitch bend, poly
  // pressure, channel pressure, SysEx.
  enum EFilterKind {
    kFilterCC = 0,
    kFilterPC,
    kFilterNote,
    kFilterPitchBend,
    kFilterPolyPressure,
    kFilterChannelPressure,
    kFilterSysEx,
    kNumFilterKinds
  };
  std::atomic<bool> hostFilter[kNumFilterKinds] = {{false}, {true}, {false}, {false}, {false}, {false}, {true}};
  std::atomic<bool> deviceFilter[kNumFilterKinds] = {{false}, {true}, {false}, {false}, {false}, {false}, {false}};
  // The two timbres' MIDI activity indicators: lit, and the tick at which each was lit.
  std::atomic<int> midiLedOn[2] = {{0}, {0}};
  std::atomic<uint32_t> midiLedTime[2] = {{0}, {0}};

  // Lights the indicator of a timbre (0 or 1) unless it is lit; nothing without an editor surface.
  void lightMidiLed(int timbre);
  // The timbre whose channel parameter equals the channel (timbre 1 tested first), or -1.
  int timbreOfChannel(int channel) const;
  // The channel of a timbre's messages: its channel parameter, or the global channel for 16 and above.
  int timbreChannel(int timbre) const;
  int globalChannel() const;
  // A double cut toward zero to an int; NaN gives 0 and values beyond the int range give its ends.
  static int toInt(double v);
  // Any thread: stores a plain value and moves the parameter's controls (no handler, no MIDI). A value brought in
  // this way changes the project as an edit does.
  void setParameterFromPlug(int idx, double value);
  // The first control bound to a parameter (its binding's first control), or null.
  IControl* firstControl(int paramIdx) const;
  // The modulation-sequence step texts (sequence 0 to 2, steps 1 to 16 in order).
  void displaySequenceValues(int sequence, const std::vector<std::string>& texts);
  // The text of one step (0 to 15) of a sequence (0 to 2).
  void displaySequenceValue(int sequence, int step, const std::string& text);

  // Layers of the editor the parameter logic switches; each null when the description lacks it (logged once).
  struct EditorLayers {
    ControlLayer* root = nullptr;
    ControlLayer* miniMixer = nullptr;
    ControlLayer* timbreControl = nullptr;
    ControlLayer* splitPoint = nullptr;
    ControlLayer* discardChangesRight = nullptr;
    ControlLayer* keepBankOpen = nullptr;
    ControlLayer* saveChanges = nullptr;
    ControlLayer* searchField = nullptr;
    ControlLayer* midiSettingsButton = nullptr;
    ControlLayer* velocityLevel = nullptr;
    ControlLayer* delayKnob = nullptr;
    ControlLayer* delayMenu = nullptr;
    ControlLayer* releaseAllLocks = nullptr;
    ControlLayer* mainOscLayer = nullptr;
    ControlLayer* modSequence = nullptr;
    ControlLayer* leftPatchMenu = nullptr;
    ControlLayer* rightPatchMenu = nullptr;
    ControlLayer* bankEditMenu = nullptr;
    ControlLayer* rightSearchMenu = nullptr;
    ControlLayer* progress = nullptr;
  } editorLayers;

  // A parameter's value, 0 for an index outside the list.
  double paramValue(int idx) const;
  // Stores a plain value, limited to the parameter's range, with no other effect.
  void storeParamValue(int idx, double value);

 private:
  void readUISettingsFile();
  void createUISettingsFile();
  // Builds the editor surface and everything on it from the resources (constructor only).
  void buildEditor();
  // The layer of that name, logged when the description has none.
  ControlLayer* namedLayer(const char* name);
  void initUnboundParams();

  UIConfigManager* uiConfig = nullptr;
  ProgressIndicator* progressIndicator = nullptr;
  // The data bytes the builds start from (see buildProgramDumpOf), under the plug-in mutex.
  uint8_t receivedProgram[kProgramDataSize];
  uint8_t receivedGlobal[kGlobalDataSize];
  IControl* cancelButtons[2] = {nullptr, nullptr};

  std::string debugLogPath;
  std::string uiSettingsPath;
  std::string uiSettings[5];
  std::string panelText;
  double uiScale = 1.0;
  int uiStyle = 0;
  double sampleRate = 44100.0;
  ITimeInfo timeInfo;
  bool debugLogOn = false;

  static uint32_t defaultTicks();
  void startMidiLoop();
  // All notes off on both timbres' channels, through the queue when output goes that way (the audio callback
  // already holds the queue's lock when it says so).
  void allNotesOff(bool queueLockHeld);
  // With the queue's lock held: the message joins the queue unless it is full (false then).
  bool queueForAudio(const IMidiMsg* msg);
  void setDisplayLine(int line, const char* text);
  // Looks the editor's layers and display controls up once the editor is built.
  void cacheEditorObjects();
  void applyCommonTail(ControlAction* action, int paramIdx, double value, int v);
  void openPortFromParam(int paramIdx);
  // A request job; `leadPauseMs` is the job's pause before it asks (after a program change that went just before).
  void startRequestJob(int job, bool toEditor, int leadPauseMs = 0, int programChange = -1);
  std::string takeTypedProgramName();
  std::string typedNameNote, typedNameKept;
  // A button refused on its press (a program button while a job ran, a store with nowhere to go): what the display
  // says on its press and again on its release.
  std::string refusedButton;
  std::vector<ITextControl*> sequenceTexts[3];
  ITextControl* displayLines[kNumDisplayLines] = {};
  // The line over the whole display for a message too long for the name field, and the fields' widths in
  // characters; the timbre and CC fields' texts that a message covers come back when the message ends.
  void makeMessageLine();
  // A message over the whole display; a second part (a tip) that does not fit beside it goes on a line of its own.
  void showMessage(const std::string& text, const std::string& second = std::string());
  void endMessage();
  ITextControl* messageLine = nullptr;
  // The display's two halves, in a smaller font, for a message and its tip shown one above the other.
  ITextControl* messageHalves[2] = {nullptr, nullptr};
  size_t messageHalfChars = 0;
  size_t nameLineChars = 0, valueLineChars = 0;
  std::atomic<size_t> messageLineChars{0};  // read by the jobs, which fit their longer texts to it
  std::mutex messageLock;
  bool messageShown = false;
  std::string messageCoveredTimbre, messageCoveredCC;
  std::atomic<bool> outcomeShown{false};
  // The outcome on the display is a refused button's: the musician's next action on the librarian ends it.
  std::atomic<bool> refusalShown{false};
  // The MIDI objects of the editor loop; the hub goes first at shut-down (its jobs use the others).
  std::unique_ptr<PatchManager> patchManager;
  std::unique_ptr<PatchLibrarian> librarian;
  std::unique_ptr<VexmirLibrarianHost> librarianHost;
  std::unique_ptr<LibrarianEditor> librarianEditor;
  std::unique_ptr<MIDIMessageManager> midiManager;
  uint32_t (*tickSource)() = defaultTicks;
  // The queue is filled on the MIDI input thread and the editor's threads and drained by the audio thread.
  std::mutex midiQueueLock;
  // What the audio callback asks of the relay's thread (RunDeferredWork), which may wait: the callback never
  // starts a thread or waits for the output port.
  std::atomic<bool> clockStartRequested{false};
  std::atomic<bool> clockStopRequested{false};
  std::atomic<bool> continuousClockRequested{false};
  std::atomic<int> allNotesOffOwed{0};  // one bit per timbre whose all notes off found the output port taken
  std::atomic<bool> partRequestRequested{false};
  // Port choices (kDeviceOutSelection, kDeviceInSelection) to open on the relay's thread, without the plug-in mutex.
  std::atomic<bool> portChoiceRequested[2] = {{false}, {false}};
  // Serialises the port operations of recalls and choices, which wait for the MIDI server; no host call takes it.
  std::mutex portChangeLock;
  void openChosenPort(int paramIdx);
  // The names the project kept when a JACK server's end closed its ports (in, out; see projectPortNames), while they
  // wait for the next action.
  std::mutex keptPortLock;
  std::string keptPortNames[2] = {"OFF", "OFF"};  // under keptPortLock
  double keptPortNormalized[2] = {0.0, 0.0};       // under keptPortLock
  std::atomic<bool> awaitingServer{false};  // written under keptPortLock
  // The names wait only for a busy server's answer (awaitAnswerFor), not for a server's return: a port then not
  // listed is OFF, as in an answered recall.
  std::atomic<bool> awaitingAnswerOnly{false};
  std::string chosenPortName(int out);
  void awaitServerFor(const std::string& in, const std::string& out, double inNormalized, double outNormalized);
  void stopAwaitingServer();
  // A port of this direction waits for its server by a name the project kept.
  bool awaitsPort(int out);
  // Opening the ports a project or an action names (holding portChangeLock, without the plug-in mutex), then taking
  // them into the menus, the ready flags and the names kept (under the plug-in mutex): what the musician reads of a
  // named port left OFF, "" when none.
  // `late`: a wait for the MIDI system ended while its server ran; nothing was taken for an answer.
  struct PortReopen {
    int in = 1, out = 1;
    bool late = false;
    std::vector<std::string> inNames, outNames;
  };
  PortReopen reopenPortsByName(const std::string& inName, const std::string& outName, bool logged);
  // `awaited`: the names are those the project kept for a server's return.
  std::string takeReopenedPorts(const PortReopen& r, const std::string& inName, const std::string& outName,
                                bool awaited = false);
  // On the status display and whole on the librarian's line.
  void tellPortNote(const std::string& text);
  // Keeps the ports named waiting for the JACK server's answer (see PortReopen), and says so.
  void awaitAnswerFor(const std::string& in, const std::string& out, double inNormalized, double outNormalized);
  // What a send without an output port says: the ports the project keeps, when it keeps some.
  std::string noOutputText();
  // Audio-callback state (under the plug-in mutex).
  bool transportWasRunning = false;
  bool clockStartSent = false;
  bool hostTempoSynced = false;
  bool allSoundsOffPending = true;
  int lastHostTempoValue = 0;
  int queueStepsPerBlock = 0;
};

// SysEx from the synthesizer: replies for the librarian, program and global dumps into the editor, edit-mode
// changes, parameter changes that move the bound controls, and the synthesizer's channel.
#include <algorithm>
#include <cstring>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/shim/shim-sys.h"
#include "src/ControlAction.h"
#include "src/GlobalDump.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"

namespace {

const char* const kLateAnswerDropped = "Late answer from the synth dropped";

bool korgHeader(const uint8_t* d, int n) {
  return n >= 5 && d[1] == 0x42 && (d[2] & 0xF0) == 0x30 && d[3] == 0x58;
}

// A copy of the program in the selected upper slot of the open bank; the bank holds exactly 128 programs after.
// Runs on the MIDI input or a job thread while the user-interface thread may draw or edit the bank: under the
// librarian's bank lock, and the slot view reads the bank again on its own thread. A program that changed the slot
// flags the bank at once, not when the job ends: from then on a rescan keeps it and a recall leaves it open.
void storeInSelectedUpperSlot(Vexmir* plug, PatchLibrarian* lib, const LibrarianPatch& patch) {
  if (!lib) return;
  {
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    PatchFile* bank = lib->bankAt(lib->upperBankIndex);
    if (!bank) return;
    bank->patches.resize(kProgramsPerBank);
    const int slot = lib->selectedSlot(0);
    if (slot < 0 || slot >= kProgramsPerBank) return;
    LibrarianPatch& target = bank->patches[static_cast<size_t>(slot)];
    if (target.messages == patch.messages) return;
    target = patch;
  }
  plug->SetLibrarianStatusUnsaved(true);
  if (LibrarianEditor* editor = plug->getLibrarianEditor()) editor->openBankChanged();
}

// The first-stage value of an incoming parameter change for the parameter the control is bound to.
int decodeValue(int paramIdx, int low, int high) {
  auto pair = [&](int first) { return paramIdx == first || paramIdx == first + 1; };
  const bool offset64 = pair(kFilterVeloSense) || pair(kAmpVeloSense) || pair(kAmpKBDTrack) || pair(kVibratoInt) ||
                        (paramIdx >= kSeq1Step1 && paramIdx <= kSeq3Step1 + 31);
  if (offset64) return high != 0 ? low - 64 : low + 64;
  if (pair(kTimbreBendRange) || paramIdx == kEQLowGain || paramIdx == kEQHiGain)
    return high != 0 ? low - 116 : low + 12;
  if (pair(kTimbreTune)) return high != 0 ? low - 78 : low + 50;
  if (pair(kTimbreTranspose)) return high != 0 ? low - 104 : low + 24;
  if (paramIdx == kArpSwing) return high != 0 ? low - 28 : low + 100;
  if (paramIdx == kArpTempo) return high == 2 ? low + 236 : high == 1 ? low + 108 : low - 20;
  return low;
}

struct MirrorRow {
  int p, cc;
  bool isSigned;
};

const MirrorRow kTimbre1Rows[] = {
    {71, 5, false},   {73, 77, false},  {74, 14, false},  {75, 15, false},  {76, 15, false},  {77, 78, false},
    {78, 82, false},  {79, 18, false},  {80, 19, false},  {81, 20, false},  {82, 21, false},  {83, 22, false},
    {84, 83, false},  {85, 74, false},  {86, 71, false},  {87, 79, true},   {88, 85, true},   {89, 7, false},
    {90, 10, true},   {91, 86, false},  {92, 92, false},  {94, 23, false},  {95, 24, false},  {96, 25, false},
    {97, 26, false},  {99, 73, false},  {100, 75, false}, {101, 70, false}, {102, 72, false}, {104, 87, false},
    {105, 27, false}, {109, 88, false}, {110, 76, false}, {116, 28, true},  {119, 29, true},  {122, 30, true},
    {125, 31, true}};
const MirrorRow kTimbre2Rows[] = {
    {89, 77, false},  {90, 14, false},  {91, 15, false},  {92, 15, false},  {93, 78, false},  {94, 82, false},
    {95, 18, false},  {96, 19, false},  {97, 20, false},  {98, 21, false},  {99, 22, false},  {100, 83, false},
    {101, 74, false}, {102, 71, false}, {103, 79, true},  {104, 85, true},  {105, 7, false},  {106, 10, true},
    {107, 86, false}, {108, 92, false}, {110, 23, false}, {111, 24, false}, {112, 25, false}, {113, 26, false},
    {115, 73, false}, {116, 75, false}, {117, 70, false}, {118, 72, false}, {120, 87, false}, {121, 27, false},
    {125, 88, false}, {126, 76, false}};

int signedValue(int low) {
  return low <= 0x40 ? low + 64 : low - 64;
}

}  // namespace

void MIDIMessageManager::processSysExToUI(IControl* control, int value, bool quickTab, bool commonMode, bool incoming) {
  dumpPending = false;
  if (!control) return;
  if (incoming) incomingUpdate = true;
  moveControl(control, value, true);
  if (quickTab) plug->OnParamChange2(kQuickTab);
  if (commonMode) plug->OnParamChange2(kCommonMode);
  incomingUpdate = false;
}

void MIDIMessageManager::getNormalControl(int a, int b, int c, int d, int value, bool incoming) {
  if (IControl* control = plug->getSysexControl(a, b, c, d, 0))
    processSysExToUI(control, value, false, false, incoming);
}

void MIDIMessageManager::decodeTapPatternCode(const unsigned char* code, char* steps) {
  const int w[3] = {code[0] | code[1] << 7 | code[2] << 14 | (code[3] & 3) << 21,
                    code[3] >> 2 | code[4] << 5 | code[5] << 12 | (code[6] & 15) << 19,
                    code[6] >> 4 | code[7] << 3 | code[8] << 10 | code[9] << 17};
  for (int k = 0; k < 3; ++k) {
    int div = 24 * 24 * 24 * 24;
    for (int i = 0; i < 5; ++i, div /= 24) {
      const int digit = w[k] / div % 24;
      steps[10 * k + 2 * i] = static_cast<char>(digit & 7);
      steps[10 * k + 2 * i + 1] = static_cast<char>(digit >> 3);
    }
  }
  steps[30] = static_cast<char>(code[10] & 7);
  const int t = (code[10] >> 3) & 3;
  steps[31] = static_cast<char>(t == 3 ? 0 : t);
  steps[32] = static_cast<char>((code[10] >> 2) & 0x18);
}

void MIDIMessageManager::ProcessSysEx(ISysEx* msg, bool fromDevice) {
  if (!msg || !msg->mData) return;
  const uint8_t* d = msg->mData;
  const int n = msg->mSize;
  if (!fromDevice || !korgHeader(d, n)) return;
  const bool programDump = n == kProgramDumpSize && d[4] == 0x40;
  const bool storeResult = n == 6 && d[4] >= 0x21 && d[4] <= 0x24;
  // A global dump that comes while answers are owed is a marker's (or a late one): never taken, it only tells the
  // order. The channel search of a marker finds the synthesizer's channel by it.
  if (d[4] == 0x51 && !feedingOwnDump && answerOrder.globalDumpCame(d[2] & 0x0F)) {
    if (channelSearchActive && d[2] != plug->deviceId) adoptChannel(d[2]);
    return;
  }
  // The answer of a request whose wait has ended is neither this request's nor a slot's: it is dropped and said.
  const AnswerOrder::Kind kind = programDump ? AnswerOrder::kProgram : AnswerOrder::kResult;
  if ((programDump || storeResult) && !feedingOwnDump && answerOrder.late(kind)) {
    if (programDump || answerOrder.dropsSaid(kind)) sayLateAnswerDropped();
    return;
  }
  if (n == 6) {
    if (readingStoreResults && storeResult && d[2] == plug->deviceId) {
      ++storeResults[d[4] - 0x21];
      answerOrder.answerTaken();
    }
    return;
  }

  // An armed request takes only what it asked for: the single request a whole program dump, the all-programs
  // request a bank image and then the programs it hands back. Everything else (a knob turned on the
  // synthesizer meanwhile) is dispatched as usual.
  if (programDump && singleRequest.active) {
    gotData = true;
    LibrarianPatch program;
    if (singleRequest.addMessageData(d, n, &program)) {
      storeInSelectedUpperSlot(plug, librarian, program);
      if (!feedingOwnDump) answerOrder.answerTaken();
      replyTaken = true;
    }
    gotData = false;
    return;
  }
  if (allRequest.active && !plug->bankReceiveActive && n > kProgramDumpSize) {
    // The bank dump itself: the reader hands its programs back through the editor, one program dump each.
    plug->bankReceiveActive = true;
    if (librarian) {
      librarian->selectSlot(0, 0);
      librarian->bankDumpFromHardware = true;
      PatchFile bank;
      ByteChunk chunk;
      chunk.PutBytes(d, n);
      librarian->loadFromChunk(&chunk, n, &bank, 0);
    }
    plug->bankReceiveActive = false;
    allRequest.disarm();
    replyTaken = true;
    return;
  }
  if (allRequest.active && plug->bankReceiveActive && programDump) {
    gotData = true;
    LibrarianPatch program;
    if (allRequest.addMessageData(d, n, &program)) {
      storeInSelectedUpperSlot(plug, librarian, program);
      if (!feedingOwnDump) answerOrder.answerTaken();
      // The next program of the bank goes on: the request stays armed until the bank's last slot.
      const int stored = librarian ? librarian->selectedSlot(0) : -1;
      if (stored >= 0 && stored < kProgramsPerBank - 1) {
        librarian->selectSlot(0, stored + 1);
        allRequest.arm();
      }
    }
    gotData = false;
    return;
  }
  if (n >= 290 && isWaiting()) {
    gotData = true;
    if (d[2] != plug->deviceId) {
      // The answer to a channel search names the synthesizer's channel: it is adopted. Any other dump on
      // another channel is not taken.
      if (!channelSearchActive) {
        plug->displayStatus("Global Channel Mismatch!");
        return;
      }
      adoptChannel(d[2]);
    }
    sysexPartPatchParse(msg);
    // The dump is taken in: a late or repeated one is not (the request asks again when it wants another).
    if (programDump && replyTaken) {
      dumpPending = false;
      if (!feedingOwnDump) answerOrder.answerTaken();
    }
    if (n >= 298) {
      plug->dataMismatch = true;
      plug->setParameterFromPlug(kGlobalClockSource, 1.0);
    }
    refreshPending = true;
  } else if ((n >= 230 && n <= 289) || n >= 290) {
    if (plug->connectPending) {
      if (d[2] != plug->deviceId) adoptChannel(d[2]);
      sysexSettingsParse(msg);
      if (n >= 238 && n <= 289) {
        plug->dataMismatch = true;
        plug->setParameterFromPlug(kGlobalClockSource, 1.0);
      }
    }
  } else if (n <= 24 && !isWaiting()) {
    if (d[2] != plug->deviceId) adoptChannel(d[2]);
    refreshPending = false;
    if (n == 8 && d[4] == 0x4E) {
      if (d[5] == 0) plug->editModeOn = false;
      if (d[5] == 1) {
        plug->editModeOn = true;
        setWaiting(true);
      }
    } else if (n == 10 && d[4] == 0x41) {
      parameterChange(d);
    }
  }
  if (refreshPending) plug->OnParamChange2(kQuickTab);
  gotData = false;
}

// Said where the musician looks: on the librarian's line while the librarian is shown, else on the display.
void MIDIMessageManager::sayLateAnswerDropped() {
  LibrarianEditor* editor = plug->getLibrarianEditor();
  if (editor && Vexmir::toInt(plug->paramValue(kMainTab)) == 1) {
    editor->note(kLateAnswerDropped);
    lateAnswerOnLibrarianLine = true;
  } else {
    plug->displayOutcome(kLateAnswerDropped, std::string());
  }
}

void MIDIMessageManager::sentToSynth(const unsigned char* bytes, int length) {
  const int at = length > 4 && bytes[0] == 0xF0 ? 4 : 3;
  if (length <= at || bytes[at - 3] != 0x42 || bytes[at - 1] != 0x58) return;
  const uint8_t function = bytes[at];
  if (function == 0x0E) answerOrder.globalRequestSent(bytes[at - 2] & 0x0F);
  // A dump or a write request is answered with a result: one that no store reads leaves an answer owed. A store's own
  // goes out behind the marker its catch-up sent, so its results after that marker's answer are its own.
  const bool resulting =
      function == 0x40 || function == 0x51 || function == 0x4C || function == 0x50 || function == 0x11;
  if (resulting && !readingStoreResults) answerOrder.owed(AnswerOrder::kResult, false);
}

// The synthesizer's channel, from byte 2 of its message: every later message goes out on it.
void MIDIMessageManager::adoptChannel(int byte2) {
  plug->storeParamValue(kGlobalMidiChannel, byte2 - 0x30);
  plug->deviceId = byte2;
}

void MIDIMessageManager::parameterChange(const uint8_t* d) {
  const int low = d[5], high = d[6], vLow = d[7], vHigh = d[8];
  IControl* control = plug->getSysexControl(0x58, 0x41, low, high, 0);
  const bool quickTabAddress = (low == 0x00 && high == 0x02) || (low == 0x29 && high == 0x00) ||
                               (low == 0x6B && high == 0x00) || (low == 0x70 && high == 0x00) ||
                               (low == 0x7B && high == 0x01);
  if (quickTabAddress || (low == 0x10 && high == 0x00)) {
    if (control) processSysExToUI(control, vLow, quickTabAddress, !quickTabAddress, true);
    return;
  }
  if (control) {
    dumpPending = false;
    moveControl(control, decodeValue(control->ParamIdx(), vLow, vHigh), true);
  }
  if (low < 8 || low > 127) return;

  // The control bound to the CC or NRPN that carries the same parameter follows too.
  int cc = -1, channelKey = 1, v = vLow, nrpnNumber = -1;
  auto timbreKey = [&](int t) { return Vexmir::toInt(plug->paramValue(kMultiPartMIDICh + t)) + 1; };
  const int globalKey = plug->globalChannel() + 1;
  const bool plainHigh = vHigh == 0, signedHigh = vHigh == 0 || vHigh == 0x7F;
  auto fromRows = [&](const MirrorRow* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (rows[i].p != low) continue;
      if (rows[i].isSigned ? !signedHigh : !plainHigh) return false;
      cc = rows[i].cc;
      v = rows[i].isSigned ? signedValue(vLow) : vLow;
      return true;
    }
    return false;
  };
  bool found = false;
  if (high == 0 && plainHigh) {
    static const int ccOf[][2] = {{22, 13}, {23, 94}, {25, 12}, {26, 93}};
    for (const auto& r : ccOf)
      if (r[0] == low) {
        cc = r[1];
        channelKey = globalKey;
        found = true;
      }
    if (!found && (low == 28 || low == 29 || low == 32)) {
      cc = 6;
      nrpnNumber = low == 28 ? 7 : low == 29 ? 3 : 10;
      v = vLow;  // the gate control holds percent, as the parameter change carries it
      channelKey = globalKey;
      found = true;
    }
  }
  if (!found && high == 1 && low == 57 && plainHigh) {
    cc = 5;
    channelKey = timbreKey(1);
    found = true;
  }
  if (!found && high == 0 && fromRows(kTimbre1Rows, sizeof kTimbre1Rows / sizeof kTimbre1Rows[0])) {
    channelKey = timbreKey(0);
    found = true;
  }
  if (!found && high == 1 && fromRows(kTimbre2Rows, sizeof kTimbre2Rows / sizeof kTimbre2Rows[0])) {
    channelKey = timbreKey(1);
    found = true;
  }
  if (!found && (high == 1 || high == 2) && signedHigh) {
    int x = -1;
    if (high == 1)
      x = low >= 8 && low <= 23 ? low + 8 : low >= 26 && low <= 41 ? low + 6 : low >= 44 && low <= 59 ? low + 4 : -1;
    if (high == 2)
      x = low >= 24 && low <= 39 ? low - 8 : low >= 42 && low <= 57 ? low - 10 : low >= 60 && low <= 75 ? low - 12 : -1;
    if (x >= 0) {
      cc = 6;
      nrpnNumber = x;
      v = signedValue(vLow);
      channelKey = Vexmir::toInt(plug->paramValue(kMultiPartMIDICh + (high - 1)));
      found = true;
    }
  }
  if (!found) {
    cc = 0;
    v = vLow;
    channelKey = high == 0 ? timbreKey(0) : high == 1 ? timbreKey(1) : 1;
  }

  // Oscillator 1's DWGS wave (parameter 76, or 92 for timbre 2) shares CC 15 with control 2; its knob has sub-key 1.
  const bool dwgs = cc == 15 && ((high == 0 && low == 76) || (high == 1 && low == 92));
  IControl* mirror = plug->getCCControls(channelKey, cc, dwgs ? 1 : 0);
  if (!mirror && cc == 6 && nrpnNumber >= 0) {
    // The NRPN-bound control of the row: the arpeggiator's under MSB 0, a step's under the MSB last received.
    const int msb = nrpnMsb <= 127 ? static_cast<int>(nrpnMsb) : 0;
    mirror = plug->getMsbLsbControl(channelKey, msb, 0, nrpnNumber, 0);
    if (!mirror) mirror = plug->getMsbLsbControl(0, msb, 0, nrpnNumber, 0);
  }
  if (!mirror || mirror == control) return;
  plug->editModeOn = true;
  moveControl(mirror, v, false);
  if (cc == 86 || cc == 77) plug->OnParamChange2(kQuickTab);
}

void MIDIMessageManager::sysexPartPatchParse(ISysEx* msg) {
  if (!msg || msg->mSize != kProgramDumpSize || (msg->mData[2] & 0xF0) != 0x30 || msg->mData[3] != 0x58) return;
  int restoredChannels = 0;
  {
    // The received program replaces the editor's under the plug-in mutex, as a host's recall does: the program
    // name's strings must not change while a state save or a job reads them.
    KIT_MutexLock lock(plug->GetMutex());
    plug->dataMismatch = false;
    replyTaken = false;
    std::vector<double> values(static_cast<size_t>(kNumParams));
    for (int i = 0; i < kNumParams; ++i) values[static_cast<size_t>(i)] = plug->paramValue(i);
    ProgramParseResult result;
    if (!parseProgramDump(msg->mData, static_cast<size_t>(msg->mSize), values.data(), &result)) return;
    plug->setReceivedProgramData(result.data);

    if (IParam* name = plug->GetParam(kPatchName)) name->SetDisplayText(0, result.name.c_str());
    if (patchManager) patchManager->setProgramName(librarianProgramName(result.name));
    plug->setLibrarianViewDirty();

    // Each received value reaches its parameter and controls; the bindings remember it as the value last handled,
    // so the same value is not sent back, while the next different edit is.
    for (int idx : result.changed) {
      const double v = values[static_cast<size_t>(idx)];
      plug->setParameterFromPlug(idx, v);
      IParam* p = plug->GetParam(idx);
      if (ControlAction* a = p ? p->GetControlAction() : nullptr)
        a->lastValue = static_cast<double>(Vexmir::toInt(p->Value()));
    }
    if (result.refreshRequested) refreshPending = true;
    if (result.voiceModeApplied) {
      const double tab = plug->paramValue(kMainTab);
      if ((tab == 2.0 || tab == 3.0) && plug->editorLayers.timbreControl)
        plug->editorLayers.timbreControl->GrayOut(plug->paramValue(kCommonMode) == 0.0);
    }
    for (int t = 0; t < 2; ++t)
      if (result.channelRestored[t]) {
        plug->setParameterFromPlug(kMultiPartMIDICh + t, values[static_cast<size_t>(kMultiPartMIDICh + t)]);
        ++restoredChannels;
      }
  }
  // The pause after each restored part channel is taken after the mutex is given up (this is the MIDI input's
  // or a job's thread): the host's threads and the editor would otherwise wait it out.
  for (int k = 0; k < restoredChannels; ++k) Sleep(50);
  replyTaken = true;
}

void MIDIMessageManager::sysexSettingsParse(ISysEx* msg) {
  const uint8_t* d = msg ? msg->mData : nullptr;
  const int n = msg ? msg->mSize : 0;
  if (!d || n != kGlobalDumpSize || (d[2] & 0xF0) != 0x30 || d[3] != 0x58) {
    gotData = false;
    dumpPending = false;
    return;
  }
  plug->dataMismatch = false;
  replyTaken = false;
  std::vector<double> values(static_cast<size_t>(kNumParams));
  for (int i = 0; i < kNumParams; ++i) values[static_cast<size_t>(i)] = plug->paramValue(i);
  uint8_t received[kGlobalDataSize];
  if (parseGlobalDump(d, static_cast<size_t>(n), values.data(), received)) {
    plug->setReceivedGlobalData(received);
    for (int idx : kGlobalDumpParams) {
      plug->setParameterFromPlug(idx, values[static_cast<size_t>(idx)]);
      IParam* p = plug->GetParam(idx);
      if (ControlAction* a = p ? p->GetControlAction() : nullptr)
        a->lastValue = static_cast<double>(Vexmir::toInt(p->Value()));
    }
  }
  // The channel the synthesizer reports is the one every later message uses.
  plug->deviceId = 0x30 + plug->globalChannel();
  if (plug->connectPending) {
    plug->connectPending = false;
    plug->editorReady = true;
  }
  plug->localControlFlag = plug->paramValue(kGlobalLocalControl) == 1.0;
  replyTaken = true;
  gotData = false;
  dumpPending = false;
}

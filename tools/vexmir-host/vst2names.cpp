#include "tools/vexmir-host/vst2names.h"

#include <cstdio>
#include <cstdlib>

#include "platform/vst2/vst2.h"

namespace vexhost {
namespace {

struct Name {
  int32_t value;
  const char* name;
};

const Name kDispatcher[] = {
    {0, "effOpen"},
    {1, "effClose"},
    {2, "effSetProgram"},
    {3, "effGetProgram"},
    {4, "effSetProgramName"},
    {5, "effGetProgramName"},
    {6, "effGetParamLabel"},
    {7, "effGetParamDisplay"},
    {8, "effGetParamName"},
    {9, "effGetVu"},
    {10, "effSetSampleRate"},
    {11, "effSetBlockSize"},
    {12, "effMainsChanged"},
    {13, "effEditGetRect"},
    {14, "effEditOpen"},
    {15, "effEditClose"},
    {16, "effEditDraw"},
    {17, "effEditMouse"},
    {18, "effEditKey"},
    {19, "effEditIdle"},
    {20, "effEditTop"},
    {21, "effEditSleep"},
    {22, "effIdentify"},
    {23, "effGetChunk"},
    {24, "effSetChunk"},
    {25, "effProcessEvents"},
    {26, "effCanBeAutomated"},
    {27, "effString2Parameter"},
    {28, "effGetNumProgramCategories"},
    {29, "effGetProgramNameIndexed"},
    {30, "effCopyProgram"},
    {31, "effConnectInput"},
    {32, "effConnectOutput"},
    {33, "effGetInputProperties"},
    {34, "effGetOutputProperties"},
    {35, "effGetPlugCategory"},
    {36, "effGetCurrentPosition"},
    {37, "effGetDestinationBuffer"},
    {38, "effOfflineNotify"},
    {39, "effOfflinePrepare"},
    {40, "effOfflineRun"},
    {41, "effProcessVarIo"},
    {42, "effSetSpeakerArrangement"},
    {43, "effSetBlockSizeAndSampleRate"},
    {44, "effSetBypass"},
    {45, "effGetEffectName"},
    {46, "effGetErrorText"},
    {47, "effGetVendorString"},
    {48, "effGetProductString"},
    {49, "effGetVendorVersion"},
    {50, "effVendorSpecific"},
    {51, "effCanDo"},
    {52, "effGetTailSize"},
    {53, "effIdle"},
    {54, "effGetIcon"},
    {55, "effSetViewPosition"},
    {56, "effGetParameterProperties"},
    {57, "effKeysRequired"},
    {58, "effGetVstVersion"},
    {59, "effEditKeyDown"},
    {60, "effEditKeyUp"},
    {61, "effSetEditKnobMode"},
    {62, "effGetMidiProgramName"},
    {63, "effGetCurrentMidiProgram"},
    {64, "effGetMidiProgramCategory"},
    {65, "effHasMidiProgramsChanged"},
    {66, "effGetMidiKeyName"},
    {67, "effBeginSetProgram"},
    {68, "effEndSetProgram"},
    {69, "effGetSpeakerArrangement"},
    {70, "effShellGetNextPlugin"},
    {71, "effStartProcess"},
    {72, "effStopProcess"},
    {73, "effSetTotalSampleToProcess"},
    {74, "effSetPanLaw"},
    {75, "effBeginLoadBank"},
    {76, "effBeginLoadProgram"},
    {77, "effSetProcessPrecision"},
    {78, "effGetNumMidiInputChannels"},
    {79, "effGetNumMidiOutputChannels"},
};

const Name kRequests[] = {
    {0, "audioMasterAutomate"},
    {1, "audioMasterVersion"},
    {2, "audioMasterCurrentId"},
    {3, "audioMasterIdle"},
    {4, "audioMasterPinConnected"},
    {6, "audioMasterWantMidi"},
    {7, "audioMasterGetTime"},
    {8, "audioMasterProcessEvents"},
    {13, "audioMasterIOChanged"},
    {14, "audioMasterNeedIdle"},
    {15, "audioMasterSizeWindow"},
    {16, "audioMasterGetSampleRate"},
    {17, "audioMasterGetBlockSize"},
    {18, "audioMasterGetInputLatency"},
    {19, "audioMasterGetOutputLatency"},
    {23, "audioMasterGetCurrentProcessLevel"},
    {24, "audioMasterGetAutomationState"},
    {32, "audioMasterGetVendorString"},
    {33, "audioMasterGetProductString"},
    {34, "audioMasterGetVendorVersion"},
    {35, "audioMasterVendorSpecific"},
    {37, "audioMasterCanDo"},
    {38, "audioMasterGetLanguage"},
    {41, "audioMasterGetDirectory"},
    {42, "audioMasterUpdateDisplay"},
    {43, "audioMasterBeginEdit"},
    {44, "audioMasterEndEdit"},
    {45, "audioMasterOpenFileSelector"},
    {46, "audioMasterCloseFileSelector"},
};

template <size_t N>
const char* find(const Name (&table)[N], int32_t v) {
  for (const Name& n : table)
    if (n.value == v) return n.name;
  return "";
}

}  // namespace

const char* dispatcherName(int32_t opcode) {
  return find(kDispatcher, opcode);
}
const char* requestName(int32_t opcode) {
  return find(kRequests, opcode);
}

bool dispatcherFromText(const std::string& text, int32_t* opcode) {
  for (const Name& n : kDispatcher)
    if (text == n.name) {
      *opcode = n.value;
      return true;
    }
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (*end != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  *opcode = static_cast<int32_t>(v);
  return true;
}

std::string dispatcherLabel(int32_t opcode) {
  const char* n = dispatcherName(opcode);
  return std::string(*n ? n : "opcode") + "(" + std::to_string(opcode) + ")";
}

std::string requestLabel(int32_t opcode) {
  const char* n = requestName(opcode);
  return std::string(*n ? n : "audioMaster") + "(" + std::to_string(opcode) + ")";
}

std::string flagNames(int32_t flags) {
  static const Name kFlags[] = {
      {effFlagsHasEditor, "HasEditor"},
      {effFlagsCanMono, "CanMono"},
      {effFlagsCanReplacing, "CanReplacing"},
      {effFlagsProgramChunks, "ProgramChunks"},
      {effFlagsIsSynth, "IsSynth"},
      {effFlagsNoSoundInStop, "NoSoundInStop"},
      {effFlagsCanDoubleReplacing, "CanDoubleReplacing"},
  };
  std::string out;
  int32_t rest = flags;
  for (const Name& f : kFlags) {
    if (flags & f.value) {
      if (!out.empty()) out += "|";
      out += f.name;
      rest &= ~f.value;
    }
  }
  if (rest) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(rest));
    if (!out.empty()) out += "|";
    out += hex;
  }
  return out.empty() ? "none" : out;
}

}  // namespace vexhost

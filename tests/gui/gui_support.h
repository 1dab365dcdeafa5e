// Test bench for the editor surface: a small plug-in on the VST binding whose host callback records the begin,
// automate and end notices, and a surface whose platform operations record what they were asked and answer from a
// script (the menu item to choose, the file to pick), with images made by the raster library.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IGraphicsCaches.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/pix/pix.h"
#include "platform/vst2/vst2.h"

namespace guitest {

// What the host heard, in order: "begin 3", "automate 3 0.500", "end 3".
inline std::vector<std::string>& hostLog() {
  static std::vector<std::string> log;
  return log;
}

inline intptr_t recordingHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt) {
  char line[64];
  switch (opcode) {
    case audioMasterVersion:
      return 2400;
    case audioMasterBeginEdit:
      snprintf(line, sizeof(line), "begin %d", index);
      break;
    case audioMasterEndEdit:
      snprintf(line, sizeof(line), "end %d", index);
      break;
    case audioMasterAutomate:
      snprintf(line, sizeof(line), "automate %d %.4f", index, opt);
      break;
    default:
      return 0;
  }
  hostLog().push_back(line);
  return 0;
}

enum TestParams {
  kCutoff = 0,  // int 0..127, the knob
  kMode,        // enum of 5 texts, the switch and the caption
  kWave,        // enum of 4, the radio group
  kLevel,       // double 0..1, the fader
  kName,        // text, the text control's prompt
  kDepth,       // int -63..63 without texts
  kNumTestParams
};

class TestPlug : public IEffectVST {
 public:
  TestPlug()
      : IEffectVST(IEffectInstanceInfo{recordingHost}, kNumTestParams, "0-2", 1, "GuiTest", "", "Maker", 0x10000, 4321,
                   1, 0, true, true, false, 0) {
    initialize(IEffectInstanceInfo{recordingHost}, kNumTestParams, kNumTestParams, "0-2", 1, "GuiTest", "", "Maker",
               0x10000, 4321, 1, 0, true, true, false, 0);
    GetParam(kCutoff)->InitInt("Cutoff", 0, 0, 127);
    GetParam(kMode)->InitEnum("Mode", 0, 5);
    const char* modes[] = {"Off", "Low", "Mid", "High", "Max"};
    for (int i = 0; i < 5; ++i) GetParam(kMode)->SetDisplayText(i, modes[i]);
    GetParam(kWave)->InitEnum("Wave", 0, 4);
    const char* waves[] = {"Saw", "Square", "Triangle", "Sine"};
    for (int i = 0; i < 4; ++i) GetParam(kWave)->SetDisplayText(i, waves[i]);
    GetParam(kLevel)->InitDouble("Level", 0.0, 0.0, 1.0, 0.001, "dB");
    GetParam(kName)->InitText();
    GetParam(kDepth)->InitInt("Depth", 0, -63, 63);
    hostLog().clear();
  }
  void SetParameterFromGUI(int idx, double v) override {
    char line[64];
    snprintf(line, sizeof(line), "gui %d %.4f", idx, v);
    guiCalls.push_back(line);
    IEffectVST::SetParameterFromGUI(idx, v);
  }
  void SetParameterFromGUI2(int idx, double v) override {
    char line[64];
    snprintf(line, sizeof(line), "gui2 %d %.4f", idx, v);
    guiCalls.push_back(line);
    IEffectVST::SetParameterFromGUI2(idx, v);
  }
  void OnParamChange(int idx) override { paramChanges.push_back(idx); }
  void OnParamChange2(int idx) override { paramChanges2.push_back(idx); }
  void ResizeGraphics(int w, int h) override { resized.push_back({w, h}); }

  std::vector<std::string> guiCalls;
  std::vector<int> paramChanges, paramChanges2;
  std::vector<std::pair<int, int>> resized;
};

// A picture maker for OSLoadBitmap, by image name.
using ImageMaker = std::function<PIX_IBitmap*()>;

class TestGraphics : public IGraphics {
 public:
  TestGraphics(IEffectBase* plug, int w, int h, int fps = 0) : IGraphics(plug, w, h, fps) {}

  bool DrawScreen(IRECT* r) override {
    screenRects.push_back(*r);
    return true;
  }
  void ForceEndUserEdit() override { calls.push_back("ForceEndUserEdit"); }
  int ShowMessageBox(const char* text, const char* caption, int type) override {
    calls.push_back(std::string("ShowMessageBox ") + text + "|" + caption + "|" + std::to_string(type));
    return messageBoxAnswer;
  }
  // Records the question and answers questionAnswer (`no` unless a test says yes).
  bool AskQuestion(const char* text, const char* caption, const char* yes, const char* no) override {
    calls.push_back(std::string("AskQuestion ") + text + "|" + caption + "|" + yes + "|" + no);
    return questionAnswer;
  }
  // Records the items ("*" marks checked ones) and answers with menuChoice (-1: dismissed).
  IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT* r) override {
    ReleaseMouseCapture();
    std::string shown;
    for (int i = 0; i < menu->GetNItems(); ++i) {
      if (i) shown += ",";
      if (menu->IsItemChecked(i)) shown += "*";
      shown += menu->GetItemText(i);
    }
    menus.push_back(shown);
    menuRects.push_back(*r);
    if (menuChoice < 0) return nullptr;
    menu->SetChosenItemIdx(menuChoice);
    return menu;
  }
  void CreateTextEntry(IControl* control, IText*, IRECT* r, const char* str, IParam* param) override {
    TextEntry e{control, *r, str ? str : "", param};
    textEntries.push_back(e);
  }
  void HostPath(KIT_String* path) override { path->Set("/host"); }
  void PluginPath(KIT_String* path) override { path->Set("/plugin/"); }
  void DesktopPath(KIT_String* path) override { path->Set("/home/Desktop/"); }
  void PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) override {
    calls.push_back(std::string("PromptForFile ") + std::to_string(action) + "|" + dir->Get() + "|" +
                    (extensions ? extensions : ""));
    file->Set(fileAnswer.c_str());
  }
  bool PromptForColor(IColor*, char*) override { return false; }
  bool OpenURL(const char* url, const char*, const char*, const char*) override {
    calls.push_back(std::string("OpenURL ") + url);
    return urlOpens;
  }
  void* OpenWindow(void* parent) override {
    window = parent ? parent : this;
    return window;
  }
  void CloseWindow() override { window = nullptr; }
  void* GetWindow() override { return window; }
  char* OSLoadFile(int, const char*) override { return nullptr; }
  PIX_IBitmap* OSLoadBitmap(int id, const char* name) override {
    loads.push_back(id);
    auto it = images.find(name ? name : "");
    return it == images.end() ? nullptr : it->second();
  }

  // One tick of the view's timer followed by its paint: true when something was repainted.
  bool Tick() {
    IRECT r;
    if (!IsDirty(&r)) return false;
    dirtyRects.push_back(r);
    Draw(&r);
    return true;
  }

  struct TextEntry {
    IControl* control;
    IRECT rect;
    std::string text;
    IParam* param;
  };

  std::vector<IRECT> screenRects, dirtyRects, menuRects;
  std::vector<std::string> calls, menus;
  std::vector<TextEntry> textEntries;
  std::vector<int> loads;
  std::map<std::string, ImageMaker> images;
  int menuChoice = -1;
  int messageBoxAnswer = 1;
  bool questionAnswer = false;
  bool urlOpens = true;
  std::string fileAnswer;
  void* window = nullptr;
};

// ---- Pictures made with the raster library ----

inline PIX_IBitmap* solid(int w, int h, unsigned int color) {
  auto* bm = new PIX_MemBitmap(w, h);
  PIX_FillRect(bm, 0, 0, w, h, color, 1.0f, PIX_BLIT_MODE_COPY);
  return bm;
}

// A strip of n frames of w x h stacked top to bottom; frame k shows a bar k/(n-1) of the way round a dial.
inline PIX_IBitmap* knobStrip(int w, int h, int n) {
  auto* bm = new PIX_MemBitmap(w, h * n);
  PIX_FillRect(bm, 0, 0, w, h * n, PIX_RGBA(0, 0, 0, 0), 1.0f, PIX_BLIT_MODE_COPY);
  for (int k = 0; k < n; ++k) {
    const int y0 = k * h;
    PIX_FillRect(bm, 2, y0 + 2, w - 4, h - 4, PIX_RGBA(40, 40, 48, 255), 1.0f, PIX_BLIT_MODE_COPY);
    const int fill = n > 1 ? (w - 8) * k / (n - 1) : 0;
    PIX_FillRect(bm, 4, y0 + h - 8, fill, 4, PIX_RGBA(240, 160, 40, 255), 1.0f, PIX_BLIT_MODE_COPY);
  }
  return bm;
}

// n frames of w x h, each filled with its own colour, stacked or side by side.
inline PIX_IBitmap* frames(int w, int h, int n, bool horizontal = false) {
  static const unsigned int colors[] = {PIX_RGBA(200, 30, 30, 255),  PIX_RGBA(30, 200, 30, 255),
                                        PIX_RGBA(30, 30, 200, 255),  PIX_RGBA(200, 200, 30, 255),
                                        PIX_RGBA(200, 30, 200, 255), PIX_RGBA(30, 200, 200, 255)};
  auto* bm = new PIX_MemBitmap(horizontal ? w * n : w, horizontal ? h : h * n);
  for (int k = 0; k < n; ++k)
    PIX_FillRect(bm, horizontal ? k * w : 0, horizontal ? 0 : k * h, w, h, colors[k % 6], 1.0f, PIX_BLIT_MODE_COPY);
  return bm;
}

}  // namespace guitest

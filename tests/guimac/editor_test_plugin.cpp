// A small plug-in with an editor for the end-to-end editor tests: a background, a 128-frame knob, a 5-frame switch
// and a radio group in one layer, a fader, a caption and a text control in another, on the macOS surface. Its images
// come from its bundle (org.vexmir.guitest); every SetParameterFromGUI is appended to $VEXMIR_GUI_TEST_LOG.
// A click on the area at 195, 100 - 245, 140, and each block processed, asks the window layer's next question of
// $VEXMIR_GUI_TEST_QUESTIONS (words: a MessageBox type, or "drop" for the promised file $VEXMIR_GUI_TEST_DROP_FILE
// dropped into the folder $VEXMIR_GUI_TEST_DROP_FOLDER, where it exists) and appends the answer to the log.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/shim/shim-hosted.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/drag.h"

namespace {

void logLine(const std::string& line) {
  if (const char* path = std::getenv("VEXMIR_GUI_TEST_LOG")) std::ofstream(path, std::ios::app) << line << "\n";
}

void writeDropped(const char* path) {
  std::ofstream(path) << "dropped";
}

class QuestionControl : public IControl {
 public:
  QuestionControl(IEffectBase* plug, IRECT rect) : IControl(plug, rect) {
    std::istringstream words(std::getenv("VEXMIR_GUI_TEST_QUESTIONS") ? std::getenv("VEXMIR_GUI_TEST_QUESTIONS") : "");
    for (std::string w; words >> w;) questions_.push_back(w);
  }
  bool Draw(IGraphics*) override { return true; }
  void OnMouseDown(int, int, IMouseMod*) override { ask(); }
  void ask() {
    if (next_ >= questions_.size()) return;
    const std::string q = questions_[next_++];
    if (q != "drop") {
      logLine("MessageBox " + q + " -> " +
              std::to_string(MessageBox(nullptr, "Replace the bank?", "Question", std::atoi(q.c_str()))));
      return;
    }
    const char* file = std::getenv("VEXMIR_GUI_TEST_DROP_FILE");
    const char* folder = std::getenv("VEXMIR_GUI_TEST_DROP_FOLDER");
    if (!file || !folder) return;
    // A promised file dragged from a window of the layer and dropped where one of its name exists.
    HWND source = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
    cocoa::drag::scriptDropFolder(folder);
    SHIM_InitiateDragDrop(source, nullptr, file, writeDropped);
    DestroyWindow(source);
    logLine("drop asked");
  }

 private:
  std::vector<std::string> questions_;
  size_t next_ = 0;
};

// An area without a picture of its own that opens a menu of the waves, one of them disabled: what a disabled item
// does on each platform's menu is seen through the parameter it would have set.
class WaveMenuControl : public IControl {
 public:
  WaveMenuControl(IEffectBase* plug, IRECT rect, int paramIdx) : IControl(plug, rect, paramIdx) {}
  bool Draw(IGraphics*) override { return true; }
  void OnMouseDown(int, int, IMouseMod*) override {
    IPopupMenu menu;
    menu.AddItem("Sine");
    menu.AddItem("Saw (disabled)", -1, IPopupMenuItem::kDisabled);
    menu.AddItem("Square");
    IGraphics* graphics = GetPlug()->GetGUI();
    if (IPopupMenu* chosen = graphics ? graphics->CreateIPopupMenu(&menu, &mRECT) : nullptr)
      SetValueFromUserInput(GetParam()->GetNormalized(chosen->GetChosenItemIdx()));
  }
};

enum Params { kCutoff = 0, kMode, kWave, kLevel, kNumParams };

class GuiTestPlug : public IEffectVST {
 public:
  explicit GuiTestPlug(IEffectInstanceInfo info)
      : IEffectVST(info, kNumParams, "0-2", 1, "GuiTest", "", "Vexmir", 0x10000, 0x56784774, 1, 0, true, true, false,
                   0) {
    initialize(info, kNumParams, kNumParams, "0-2", 1, "GuiTest", "", "Vexmir", 0x10000, 0x56784774, 1, 0, true, true,
               false, 0);
    GetParam(kCutoff)->InitInt("Cutoff", 64, 0, 127);
    GetParam(kMode)->InitEnum("Mode", 0, 5);
    const char* modes[] = {"Off", "Low", "Mid", "High", "Max"};
    for (int i = 0; i < 5; ++i) GetParam(kMode)->SetDisplayText(i, modes[i]);
    GetParam(kWave)->InitEnum("Wave", 0, 3);
    GetParam(kLevel)->InitDouble("Level", 0.5, 0.0, 1.0, 0.01);

    auto* g = new IGraphicsMac(this, 400, 300, 0);
    g->SetBundleID("org.vexmir.guitest");
    AttachGraphics(g);

    IText text(14, &COLOR_BLACK, "DejaVu Sans");
    auto* voice = new ControlLayer(1, "voice");
    IBitmap knob = g->LoadIBitmap(101, "resources/img/knob.png", 1.0, 128);
    auto* knobControl = new IKnobMultiControl(this, 20, 20, kCutoff, &knob);
    knobControl->DisablePrompt(false);  // a right click (or Command-click) types a value
    voice->controls.Add(knobControl);
    IBitmap sw = g->LoadIBitmap(102, "resources/img/switch.png", 1.0, 5);
    voice->controls.Add(new ISwitchControl(this, 100, 20, kMode, &sw));
    IBitmap radio = g->LoadIBitmap(103, "resources/img/radio.png", 1.0, 2);
    voice->controls.Add(new IRadioButtonsControl(this, IRECT(160, 20, 184, 92), kWave, 3, &radio));
    voice->Hide(false);
    g->AttachLayer(voice);

    auto* panel = new ControlLayer(2, "panel");
    IBitmap handle = g->LoadIBitmap(104, "resources/img/handle.png", 1.0, 1);
    panel->controls.Add(new IFaderControl(this, 250, 20, 120, kLevel, &handle));
    auto* caption = new ICaptionControl(this, IRECT(20, 150, 180, 172), kMode, &text);
    caption->DisablePrompt(false);  // a click opens the menu of modes
    panel->controls.Add(caption);
    panel->controls.Add(new ITextControl(this, IRECT(20, 200, 260, 222), &text, "Vexmir GUI test"));
    panel->controls.Add(new WaveMenuControl(this, IRECT(190, 150, 250, 172), kWave));
    panel->controls.Add(questions_ = new QuestionControl(this, IRECT(195, 100, 245, 140)));
    panel->Hide(false);
    g->AttachLayer(panel);

    g->AttachBackground(100, "resources/img/bg.png");
    // The controls start from the parameters' values, as the editor does after building.
    for (int i = 0; i < kNumParams; ++i) g->SetParameterFromPlug(i, GetParam(i)->Value(), false);
  }

  // A question asked outside the editor's events: on the host's thread or its audio thread, the editor open or not.
  void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override {
    questions_->ask();
    IEffectVST::ProcessDoubleReplacing(inputs, outputs, nFrames);
  }

  void SetParameterFromGUI(int idx, double v) override {
    char line[64];
    std::snprintf(line, sizeof(line), "SetParameterFromGUI %d %.6f", idx, v);
    logLine(line);
    IEffectVST::SetParameterFromGUI(idx, v);
  }

 private:
  QuestionControl* questions_ = nullptr;
};

IEffectVST* makePlug(IEffectInstanceInfo info) {
  return new GuiTestPlug(info);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback hostCallback) {
  return IEffectVST::PluginMain(hostCallback, makePlug);
}

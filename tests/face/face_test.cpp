// The editor's face follows every change. One plug-in built from the real bundle, its editor open in a window of
// the platform model, driven with the mouse (menus answered through the model's scripted chooser) and with values
// arriving as the synthesizer's input delivers them. The oracle of the walk is the editor itself: after an edit the
// layers, greyed zones and texts must be exactly what a fresh switch to the same tab shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IGraphicsCocoa.h"
#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/view.h"
#include "platform/graphics/graphics.h"
#include "platform/vst2/vst2.h"
#include "src/ControlAction.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PictureControl.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/core/bundle_host.h"
#include "tests/libui/libui_support.h"

namespace {

intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// The editor object with an open output port that takes what would leave it: the walk's edits reach the send
// step as they do with a synthesizer attached.
class FacePlug : public Vexmir {
 public:
  FacePlug() : Vexmir(IEffectInstanceInfo{quietHost}) {
    // Transfers (a program sent after a rename, a channel change) are not what the face is about.
    getMidiManager()->getSender()->jobRunner = [](MIDIMessageSender&, const SenderJob&) {};
    midiOutReady = true;
    GetParam(kDeviceOutSelection)->SetBounds(0, 1);
    storeParamValue(kDeviceOutSelection, 1);
  }
  bool SendMidiMsg(IMidiMsg*) override { return true; }
  bool SendMidiSysex(unsigned char*, int) override { return true; }
};

struct Face {
  std::map<std::string, std::string> items;  // what is shown: layer and control states, texts

  std::string diff(const Face& fresh) const {
    std::ostringstream out;
    int n = 0;
    for (const auto& [key, value] : fresh.items) {
      auto it = items.find(key);
      const std::string mine = it == items.end() ? "(absent)" : it->second;
      if (mine != value && n++ < 8) out << "\n  " << key << ": after the change " << mine << ", fresh " << value;
    }
    return out.str();
  }
};

class Editor {
 public:
  Editor() {
    cocoa::Bundle::registerIdentifier("com.Pellacor.vst.Vexmir Editor", bundleDir());
    plug = new FacePlug();
    g = plug->GetGUI();
    ui = plug->getUIConfig();
    window = new cocoa::Window(cocoa::Rect{0, 0, double(g->Width()), double(g->Height())});
    char question[] = "hasHostViewAsConfig";
    dispatch(effCanDo, question);
    opened = dispatch(effEditOpen, window->contentView()) == 1;
  }
  ~Editor() {
    dispatch(effEditClose, nullptr);
    delete plug;
    window->release();
    cocoa::menus::clearScript();
  }
  static std::string bundleDir() {
    const char* build = std::getenv("VEXMIR_BUILD_DIR");
    return std::string(build ? build : ".") + "/Vexmir Editor.vst";
  }
  intptr_t dispatch(int32_t opcode, void* ptr) {
    AEffect* e = plug->GetAEffect();
    return e->dispatcher(e, opcode, 0, 0, ptr, 0.0f);
  }

  // The user's own paths: the tab buttons' parameters and the timbre tabs, as their controls set them.
  void showTab(int tab) {
    plug->SetParameterFromGUI(kMainTab, plug->GetParam(kMainTab)->GetNormalized(tab));
  }
  void showTimbre(int t) { plug->SetParameterFromGUI(kQuickTab, plug->GetParam(kQuickTab)->GetNormalized(t)); }
  int tab() const { return Vexmir::toInt(plug->paramValue(kMainTab)); }

  // Every control with the layers above it, in drawing order.
  struct Placed {
    IControl* control;
    std::vector<ControlLayer*> path;
  };
  std::vector<Placed> placed() const {
    std::vector<Placed> out;
    std::function<void(ControlLayer*, std::vector<ControlLayer*>)> walk = [&](ControlLayer* l,
                                                                              std::vector<ControlLayer*> path) {
      path.push_back(l);
      for (int i = 0; i < l->controls.GetSize(); ++i) out.push_back({l->controls.Get(i), path});
      for (int i = 0; i < l->childLayers.GetSize(); ++i) walk(l->childLayers.Get(i), path);
    };
    for (int i = 0; i < g->NControls(); ++i) out.push_back({g->GetControl(i), {}});
    for (int i = 0; i < g->NLayers(); ++i) walk(g->GetLayer(i), {});
    return out;
  }
  static bool drawn(const Placed& p) {
    for (ControlLayer* l : p.path)
      if (!l->isVisible()) return false;
    return !p.control->IsHidden();
  }
  // The control of the parameter the user sees, or null.
  IControl* shownControl(int param) const {
    for (const Placed& p : placed())
      if (p.control->ParamIdx() == param && drawn(p) && !p.control->IsGrayed() && p.control->GetRECT()->W() > 0)
        return p.control;
    return nullptr;
  }

  // Everything the face shows that a change could leave behind: layers shown and greyed, controls hidden and
  // greyed, the texts of text fields (values move with their parameter everywhere, so they are not compared).
  Face look() const {
    Face f;
    std::function<void(ControlLayer*, const std::string&)> walk = [&](ControlLayer* l, const std::string& up) {
      const std::string key = up + "/" + l->getName() + "#" + std::to_string(l->getId());
      f.items["layer " + key] = l->isVisible() ? "shown" : "hidden";
      for (int i = 0; i < l->controls.GetSize(); ++i) {
        IControl* c = l->controls.Get(i);
        if (dynamic_cast<PictureControl*>(c)) continue;
        const std::string ck = "control " + key + "[" + std::to_string(i) + "] param " + std::to_string(c->ParamIdx());
        f.items[ck] = c->IsHidden() ? "hidden" : c->IsGrayed() ? "shown greyed" : "shown";
        if (auto* t = dynamic_cast<ITextControl*>(c); t && !dynamic_cast<ICaptionControl*>(c))
          f.items[ck + " text"] = t->GetTextForPlug();
      }
      for (int i = 0; i < l->childLayers.GetSize(); ++i) walk(l->childLayers.Get(i), key);
    };
    for (int i = 0; i < g->NLayers(); ++i) walk(g->GetLayer(i), "");
    for (int i = 0; i < g->NControls(); ++i) {
      IControl* c = g->GetControl(i);
      f.items["surface control " + std::to_string(i)] = c->IsHidden() ? "hidden" : c->IsGrayed() ? "shown greyed" : "shown";
    }
    return f;
  }
  // What a fresh switch to the open tab shows: another tab, then this one again.
  Face freshLook() {
    const int open = tab();
    showTab(open == 2 ? 4 : 2);
    showTab(open);
    return look();
  }
  std::string statusName() const { return plug->getDisplayLine(Vexmir::kLineName); }
  std::string text(int param) const {
    auto* t = dynamic_cast<ITextControl*>(plug->firstControl(param));
    return t ? t->GetTextForPlug() : "(no display)";
  }

  // Mouse gestures.
  void click(int x, int y) {
    IMouseMod mod(true);
    g->OnMouseDown(x, y, &mod);
    g->OnMouseUp(x, y, &mod);
  }
  void drag(int x, int y, int dy) {
    IMouseMod mod(true);
    g->OnMouseDown(x, y, &mod);
    for (int k = 1; k <= 4; ++k) g->OnMouseDrag(x, y - dy * k / 4, &mod);
    g->OnMouseUp(x, y - dy, &mod);
  }
  // One mouse edit of a control: a knob or fader dragged by `amount` pixels, a switch clicked, a menu's item
  // `choice` picked, a radio's cell `choice` clicked. False for a control the mouse does not edit this way.
  bool mouseEdit(IControl* c, int amount, int choice) {
    const IRECT r = *c->GetRECT();
    const int cx = (r.L + r.R) / 2, cy = (r.T + r.B) / 2;
    if (dynamic_cast<IKnobControl*>(c) || dynamic_cast<IFaderControl*>(c)) {
      drag(cx, cy, amount);
    } else if (auto* radio = dynamic_cast<IRadioButtonsControl*>(c)) {
      (void)radio;
      const int n = std::max(1, static_cast<int>(plug->GetParam(c->ParamIdx())->GetRange()) + 1);
      const bool wide = r.W() >= r.H();
      const int cell = (wide ? r.W() : r.H()) / n;
      click(wide ? r.L + cell * choice + cell / 2 : cx, wide ? cy : r.T + cell * choice + cell / 2);
    } else if (dynamic_cast<ICaptionControl*>(c)) {
      cocoa::menus::clearScript();
      cocoa::menus::scriptChoice({choice});
      click(cx, cy);
      cocoa::menus::clearScript();
    } else if (dynamic_cast<ISwitchControl*>(c) && !dynamic_cast<IContactControl*>(c)) {
      click(cx, cy);
    } else {
      return false;
    }
    return true;
  }

  Vexmir* plug = nullptr;
  IGraphics* g = nullptr;
  UIConfigManager* ui = nullptr;
  cocoa::Window* window = nullptr;
  bool opened = false;
};

// The parameters the walk edits: the sound and the global settings, the timbre link and the section locks.
// Tab, timbre, port, transfer and window settings have effects of their own and are left to their own tests.
bool walked(int param) {
  if (param < 0 || param == kPatchName) return false;
  if (paramInfo(param).sound) return true;
  if (param >= kSectionLockOsc1 && param <= kSectionLockArp) return true;
  return param == kLayerLinker || param == kMasterVelocityArea || param == kMasterVelocityValue ||
         param == kMasterTune || param == kMasterTranspose || param == kMasterPosition ||
         param == kGlobalClockSource || param == kGlobalLocalControl;
}

class FaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::make_unique<coretest::TempRoot>();
    // Three banks for the librarian's lists, their programs named "b1s0" to "b3s127".
    std::filesystem::create_directories(root->dataFolder() + "Patches");
    for (int bank = 1; bank <= 3; ++bank)
      vectors::writeFile(root->dataFolder() + "Patches/Bank " + std::to_string(bank) + ".syx", libui::bankBytes(bank));
    e = std::make_unique<Editor>();
    ASSERT_TRUE(e->opened);
  }
  void TearDown() override {
    e.reset();
    root.reset();
  }
  std::unique_ptr<coretest::TempRoot> root;
  std::unique_ptr<Editor> e;
};

}  // namespace

// For every control on the sound and settings tabs, for both timbres: a mouse edit, and the same value arriving
// from the synthesizer, leave the face a fresh look at the tab shows, and the display names the control edited.
TEST_F(FaceTest, EveryEditLeavesWhatAFreshLookShows) {
  int edits = 0;
  for (int tab : {2, 3, 4}) {
    for (int timbre : {0, 1}) {
      e->showTab(tab);
      e->showTimbre(timbre);
      e->freshLook();
      std::set<int> done;
      for (const Editor::Placed& p : e->placed()) {
        IControl* c = p.control;
        const int param = c->ParamIdx();
        if (!walked(param) || done.count(param) || !Editor::drawn(p) || c->IsGrayed() || c->GetRECT()->W() <= 0)
          continue;
        done.insert(param);
        IParam* ip = e->plug->GetParam(param);
        ASSERT_NE(ip, nullptr) << param;
        const double before = ip->Value();
        const int texts = ip->GetNDisplayTexts();
        // A menu moves to another item, a knob by a drag up (or down from its top), a switch by a click.
        const int choice = texts > 1 ? (Vexmir::toInt(before) + 1) % texts : 1;
        const int amount = ip->GetNormalized() > 0.5 ? -30 : 30;
        if (!e->mouseEdit(c, amount, choice)) continue;
        const double after = ip->Value();
        if (after == before) continue;
        ++edits;
        const std::string what = std::string(paramName(param)) + " on tab " + std::to_string(tab) + ", timbre " +
                                 std::to_string(timbre + 1);
        const Face edited = e->look();
        // The name in its field, or with a value too long for the value field as one message.
        const std::string status = e->statusName();
        EXPECT_EQ(status.rfind(ip->GetNameForHost(), 0), 0u) << what << ": the display names another control";
        const Face fresh = e->freshLook();
        EXPECT_EQ(edited.diff(fresh), "") << what << " edited with the mouse";

        // Back to the first value, as the synthesizer sends it: the face follows again.
        c->SetValueFromHardware(ip->GetNormalized(before));
        EXPECT_EQ(ip->Value(), before) << what;
        const Face received = e->look();
        EXPECT_EQ(e->statusName().rfind(ip->GetNameForHost(), 0), 0u) << what << " received";
        EXPECT_EQ(received.diff(e->freshLook()), "") << what << " received from the synthesizer";
      }
    }
  }
  EXPECT_GT(edits, 150);
}

// From the default program, every sub-panel of the tab that a switch, menu or knob reveals (a child of the shown
// timbre's page, or the delay's knob and menu layers) becomes shown and enabled with one mouse action.
TEST_F(FaceTest, EverySubPanelIsReachedWithTheMouse) {
  for (int tab : {2, 3}) {
    e->showTab(tab);
    e->freshLook();
    ControlLayer* page = e->ui->getLayer(tab == 2 ? "mainOscLayer" : "modSequence");
    ASSERT_NE(page, nullptr);
    std::vector<ControlLayer*> panels;
    ControlLayer* copy = page->childLayers.Get(0);
    for (int i = 0; i < copy->childLayers.GetSize(); ++i) panels.push_back(copy->childLayers.Get(i));
    if (tab == 2) panels.push_back(e->ui->getLayer("delayKnobLayer")), panels.push_back(e->ui->getLayer("delayMenuLayer"));
    auto open = [&](ControlLayer* l) {
      if (!l->isVisible()) return false;
      for (int i = 0; i < l->controls.GetSize(); ++i)
        if (!l->controls.Get(i)->IsHidden() && !l->controls.Get(i)->IsGrayed()) return true;
      return l->controls.GetSize() == 0;
    };
    std::set<ControlLayer*> reached;
    for (ControlLayer* l : panels)
      if (open(l)) reached.insert(l);
    // Each control of the page once, each of a menu's items once; the program goes back after every action.
    for (const Editor::Placed& p : e->placed()) {
      IControl* c = p.control;
      const int param = c->ParamIdx();
      if (!walked(param) || !Editor::drawn(p) || c->IsGrayed() || c->GetRECT()->W() <= 0) continue;
      IParam* ip = e->plug->GetParam(param);
      ASSERT_NE(ip, nullptr) << param;
      const double before = ip->Value();
      const int choices = std::max(2, ip->GetNDisplayTexts());
      for (int k = 0; k < choices; ++k) {
        if (!e->mouseEdit(c, 40, k)) break;
        for (ControlLayer* l : panels)
          if (open(l)) reached.insert(l);
        e->plug->SetParameterFromGUI(param, ip->GetNormalized(before));
        if (!dynamic_cast<ICaptionControl*>(c) && !dynamic_cast<IRadioButtonsControl*>(c)) break;
      }
    }
    for (ControlLayer* l : panels) EXPECT_TRUE(reached.count(l)) << l->getName() << " on tab " << tab;
  }
}

// The sequence knob at its default 0 is not greyed with the steps it switches off, and a drag turns it.
TEST_F(FaceTest, TheSequenceKnobTurnsFromZero) {
  e->showTab(3);
  for (int n = 0; n < 3; ++n) {
    const int knob = kSeq1Knob + 4 * n;
    ASSERT_EQ(e->plug->paramValue(knob), 0.0);
    IControl* c = e->shownControl(knob);
    ASSERT_NE(c, nullptr) << paramName(knob) << " is greyed or hidden";
    EXPECT_TRUE(e->mouseEdit(c, 40, 0));
    EXPECT_GT(e->plug->paramValue(knob), 0.0) << paramName(knob);
    EXPECT_NE(e->shownControl(kSeq1Step1 + 32 * n), nullptr) << "the steps of sequence " << n + 1 << " stay greyed";
  }
}

// The DWGS wave from the synthesizer, as a control change and as a parameter change, reaches the DWGS knob of its
// timbre and leaves control 2 where it was.
TEST_F(FaceTest, TheDwgsWaveFromTheSynthesizerMovesTheDwgsKnob) {
  Vexmir* plug = e->plug;
  for (int t : {0, 1}) {
    SCOPED_TRACE("timbre " + std::to_string(t + 1));
    plug->SetParameterFromGUI(kOsc1Waveform + t, plug->GetParam(kOsc1Waveform + t)->GetNormalized(5));
    const double control2 = plug->paramValue(kOsc1Control2 + t);
    IMidiMsg cc(0, static_cast<uint8_t>(0xB0 | t), 15, 40);
    plug->ProcessMidiMsg(&cc, true);
    EXPECT_EQ(plug->paramValue(kOsc1DWGSWave + t), 20.0);
    EXPECT_EQ(plug->paramValue(kOsc1Control2 + t), control2);
    // Parameter 76 (timbre 1) or 92 (timbre 2) with the wave 33.
    unsigned char change[] = {0xF0, 0x42, 0x30, 0x58, 0x41, static_cast<unsigned char>(t ? 92 : 76),
                              static_cast<unsigned char>(t), 33, 0, 0xF7};
    ISysEx sx(0, change, sizeof change);
    plug->ProcessSysEx(&sx, true);
    EXPECT_EQ(plug->paramValue(kOsc1DWGSWave + t), 33.0);
    EXPECT_EQ(plug->paramValue(kOsc1Control2 + t), control2);
  }
}

// A timbre select or a program from the synthesizer while the librarian is open leaves the bank chooser free.
TEST_F(FaceTest, TheLockButtonStaysOffTheLibrarian) {
  Vexmir* plug = e->plug;
  ControlLayer* button = e->ui->getLayer("releaseAllLocksLayer");
  ASSERT_NE(button, nullptr);
  plug->SetParameterFromGUI(kSectionLockFXChorus, 1.0);
  EXPECT_TRUE(button->isVisible());
  e->showTab(1);
  EXPECT_FALSE(button->isVisible());
  plug->SetParameterFromGUI(kCommonMode, plug->GetParam(kCommonMode)->GetNormalized(2));  // layer: two timbres
  IMidiMsg select(0, 0xB0, 95, 127);
  plug->ProcessMidiMsg(&select, true);
  EXPECT_EQ(plug->paramValue(kQuickTab), 1.0);
  EXPECT_FALSE(button->isVisible());
  plug->OnParamChange2(kQuickTab);  // how a received program ends
  EXPECT_FALSE(button->isVisible());
  e->showTab(2);
  EXPECT_TRUE(button->isVisible());
}

// Each section lock alone shows the lock button on the pages it locks: a timbre's own on that timbre's page, a
// common section's (effects, arpeggiator) on both.
TEST_F(FaceTest, EachSectionLockAloneShowsTheLockButtonWhereItLocks) {
  Vexmir* plug = e->plug;
  ControlLayer* button = e->ui->getLayer("releaseAllLocksLayer");
  ASSERT_NE(button, nullptr);
  e->showTab(2);
  for (int lock = kSectionLockOsc1; lock <= kSectionLockArp; ++lock) {
    plug->SetParameterFromGUI(lock, 1.0);
    for (int t : {0, 1}) {
      e->showTimbre(t);
      const bool locks = lock >= kSectionLockFXChorus || (lock - kSectionLockOsc1) % 2 == t;
      EXPECT_EQ(button->isVisible(), locks) << paramName(lock) << " on timbre " << t + 1 << "'s page";
    }
    plug->SetParameterFromGUI(lock, 0.0);
    EXPECT_FALSE(button->isVisible()) << paramName(lock) << " off";
  }
}

// The knobs without a message of their own name themselves in the display and follow the timbre link; the
// description links timbre tune, bend range, transposition and the section locks both ways.
TEST_F(FaceTest, UnboundKnobsNameThemselvesAndFollowTheLink) {
  Vexmir* plug = e->plug;
  plug->SetParameterFromGUI(kLayerLinker, 1.0);
  e->showTab(2);
  e->showTimbre(0);
  plug->SetParameterFromGUI(kVoiceAssign, plug->GetParam(kVoiceAssign)->GetNormalized(2));  // unison: its detune
  for (int param : {kDetune, kVibratoInt, kAmpKBDTrack, kTimbreTune, kTimbreTranspose, kTimbreBendRange}) {
    IControl* c = e->shownControl(param);
    ASSERT_NE(c, nullptr) << paramName(param);
    ASSERT_TRUE(e->mouseEdit(c, 30, 0));
    EXPECT_EQ(e->statusName(), plug->GetParam(param)->GetNameForHost());
    EXPECT_EQ(plug->paramValue(param + 1), plug->paramValue(param)) << paramName(param) << " not linked";
  }
  e->showTimbre(1);
  IControl* tune2 = e->shownControl(kTimbreTuneT2);
  ASSERT_NE(tune2, nullptr);
  e->mouseEdit(tune2, -20, 0);
  EXPECT_EQ(plug->paramValue(kTimbreTune), plug->paramValue(kTimbreTuneT2)) << "the link back";
  IControl* lock2 = e->shownControl(kSectionLockFilterT2);
  ASSERT_NE(lock2, nullptr);
  e->mouseEdit(lock2, 0, 0);
  EXPECT_EQ(plug->paramValue(kSectionLockFilter), 1.0);
  e->showTimbre(0);
  EXPECT_TRUE(e->ui->getLayer("releaseAllLocksLayer")->isVisible()) << "timbre 1 counts its linked lock";
  // The arpeggiator's tempo shows its tempo text.
  IControl* tempo = e->shownControl(kArpTempo);
  ASSERT_NE(tempo, nullptr);
  e->mouseEdit(tempo, 10, 0);
  EXPECT_NE(e->text(kControlDisplayValue).find("BPM"), std::string::npos) << e->text(kControlDisplayValue);
}

// Each timbre's page shows the DWGS knob by its own oscillator's wave, not the other timbre's.
TEST_F(FaceTest, EachTimbresPageShowsTheDwgsKnobByItsOwnWave) {
  Vexmir* plug = e->plug;
  e->showTab(2);
  for (int dwgsTimbre : {0, 1}) {
    SCOPED_TRACE("DWGS on timbre " + std::to_string(dwgsTimbre + 1));
    for (int t : {0, 1}) plug->storeParamValue(kOsc1Waveform + t, t == dwgsTimbre ? 5 : 0);
    for (int t : {0, 1}) {
      e->showTimbre(t);
      e->freshLook();
      EXPECT_EQ(e->shownControl(kOsc1DWGSWave + t) != nullptr, t == dwgsTimbre) << "page of timbre " << t + 1;
    }
  }
}

// The link switched from the synthesizer leaves the timbre indicator on both timbres (2).
TEST_F(FaceTest, TheTimbreIndicatorHoldsBothTimbres) {
  e->plug->storeParamValue(kLayerLinker, 1.0);
  e->plug->OnParamChange2(kLayerLinker);
  EXPECT_EQ(e->plug->paramValue(kTimbreLED), 2.0);
}

// What the window shows after each redraw the timer asks for equals a repaint of the whole editor, pixel for pixel,
// through a random run of mouse edits, values from the synthesizer, received programs, tab and timbre switches (the
// sub-panels come and go with the edits), the program name typed into its text entry (opened with a click, ended by
// Return, by a click elsewhere or by the wheel), the librarian (search switched on and off, words typed into the
// search field, slots renamed from their menu, banks chosen from the lists and stepped, slots clicked and moved
// through with the arrow keys, the host's project recalled while a field of it is typed), timer ticks between actions
// before one display, values that arrive after the timer asked for a redraw and before the window draws, and
// uncovered areas. The librarian's fields show on its tab only, and no text entry outlives the page of its field.
// VEXMIR_FACE_REPAINT_STEPS runs longer, VEXMIR_FACE_REPAINT_SEED another run.
TEST_F(FaceTest, EveryRedrawShowsWhatAWholeRepaintShows) {
  IGraphicsCocoa_vVexmir_vst* view = nullptr;
  std::function<void(cocoa::View*)> find = [&](cocoa::View* v) {
    if (auto* mine = v->as<IGraphicsCocoa_vVexmir_vst>()) view = mine;
    for (cocoa::View* s : v->subviews()) find(s);
  };
  find(e->window->contentView());
  ASSERT_NE(view, nullptr);
  ASSERT_NE(view->timer(), nullptr);
  platform::gfx::Context* screen = e->window->backing();
  ASSERT_NE(screen, nullptr);
  auto shot = [&] {
    const uint8_t* p = screen->pixels();
    return std::vector<uint8_t>(p, p + static_cast<size_t>(screen->rowBytes()) * e->g->Height());
  };
  auto wholeRepaint = [&] {
    view->setNeedsDisplay(true);
    e->window->displayIfNeeded();
  };
  const char* stepsEnv = std::getenv("VEXMIR_FACE_REPAINT_STEPS");
  const char* seedEnv = std::getenv("VEXMIR_FACE_REPAINT_SEED");
  const int steps = stepsEnv ? std::atoi(stepsEnv) : 400;
  const unsigned seed = seedEnv ? static_cast<unsigned>(std::atoi(seedEnv)) : 27u;
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(std::max(1, n))); };
  Vexmir* plug = e->plug;
  // Real events through the window at a point of the surface (the view's y axis points up, 2 and 3 pixels off).
  auto send = [&](cocoa::Event* ev) {
    e->window->sendEvent(ev);
    ev->release();
  };
  auto at = [&](cocoa::EventType type, const IRECT& r) {
    auto* ev =
        cocoa::Event::mouseEvent(type, cocoa::Point{(r.L + r.R) / 2 + 2.0, e->g->Height() - (r.T + r.B) / 2 - 3.0}, 0);
    ev->deltaY = 1;  // a wheel step
    return ev;
  };
  auto key = [](char32_t c) { return cocoa::Event::keyEvent(cocoa::kKeyDown, c == U'\r' ? 36 : 0, 0, {c}, {c}); };
  auto click = [&](const IRECT& r, bool right = false) {
    send(at(right ? cocoa::kRightMouseDown : cocoa::kLeftMouseDown, r));
    send(at(right ? cocoa::kRightMouseUp : cocoa::kLeftMouseUp, r));
  };
  // A menu that the click shows takes the choice; one it does not show leaves it to no later menu.
  auto clickChoosing = [&](const IRECT& r, cocoa::menus::Choice choice, bool right = false) {
    cocoa::menus::clearScript();
    cocoa::menus::scriptChoice(choice);
    click(r, right);
    cocoa::menus::clearScript();
  };
  int entries = 0, late = 0, librarianActions = 0, recalls = 0;
  // The host's project as it was at the start, recalled while a librarian field is being typed.
  AEffect* effect = plug->GetAEffect();
  void* chunk = nullptr;
  const intptr_t chunkSize = effect->dispatcher(effect, effGetChunk, 0, 0, &chunk, 0.0f);
  ASSERT_GT(chunkSize, 0);
  const std::vector<uint8_t> project(static_cast<uint8_t*>(chunk), static_cast<uint8_t*>(chunk) + chunkSize);
  int entryParam = -1;  // the parameter of the open text entry
  std::string told;     // the status display's text of the librarian's last message
  LibrarianViewControl* slots = plug->getLibrarianEditor()->view();
  ASSERT_NE(slots, nullptr);
  // What is typed into each field: letters into the program name, words into the search and rename fields (some
  // found in the banks, one too short, one found nowhere; names too long or with letters the synthesizer does not
  // show).
  auto typeSome = [&] {
    static const char32_t* const searchWords[] = {U"b1s1", U"b2s", U"q", U"zz", U"s12"};
    static const char32_t* const names[] = {U"Cr\u00e8me Br\u00fbl\u00e9e", U"Warm Analog Pad Strings", U"x"};
    const char32_t* word = entryParam == kPatchSearchString ? searchWords[pick(5)]
                           : entryParam == kPatchRename     ? names[pick(3)]
                                                            : nullptr;
    if (word) {
      for (const char32_t* c = word; *c; ++c) send(key(*c));
      // A search is typed and sent at once (the field's text is searched at Return).
      if (entryParam == kPatchSearchString) send(key(U'\r'));
    } else {
      for (int k = pick(3); k >= 0; --k) send(key(U"bas e"[pick(5)]));
    }
  };
  auto librarianAction = [&](std::ostringstream& what) {
    const int slot = pick(128);
    // The search most often: switched on, a word typed, switched off.
    switch (pick(10)) {
      case 0:
      case 1:
        if (IControl* c = e->shownControl(kPatchSearch)) {
          what << "search switched " << (plug->paramValue(kPatchSearch) == 1.0 ? "off" : "on");
          click(*c->GetRECT());
        }
        break;
      case 2:
      case 3:
      case 4: {
        const int param = pick(3) ? kPatchSearchString : kPatchRename;
        if (IControl* c = e->shownControl(param)) {
          what << (param == kPatchRename ? "the rename field" : "the search field") << " clicked";
          click(*c->GetRECT());
          if (view->textField()) entryParam = param, ++entries;
          // Mostly a search at once: a word typed and Return.
          if (view->textField() && param == kPatchSearchString && pick(3)) what << ", a word typed", typeSome();
        }
        break;
      }
      case 5:
        what << "Rename from the menu of upper slot " << slot + 1;
        clickChoosing(slots->slotRect(0, slot), {2}, true);
        if (view->textField()) entryParam = kPatchRename, ++entries;
        break;
      case 6: {
        const int list = pick(2) ? kPatchSelectionListUpper : kPatchSelectionListLower;
        const int item = pick(4);
        if (IControl* c = e->shownControl(list)) {
          what << "item " << item << " of the " << (list == kPatchSelectionListUpper ? "upper" : "lower") << " list";
          clickChoosing(*c->GetRECT(), {item});
        }
        break;
      }
      case 7: {
        const int button = kLibUpperNextBank + pick(4);
        if (IControl* c = e->shownControl(button)) {
          what << "the bank button " << paramName(button);
          click(*c->GetRECT());
        }
        break;
      }
      case 8: {
        const int side = pick(2);
        what << "a click on " << (side ? "lower" : "upper") << " slot " << slot + 1;
        click(slots->slotRect(side, slot));
        break;
      }
      default: {
        static const struct {
          const char* name;
          uint16_t code;
          char32_t c;
        } arrows[] = {{"up", 126, 0xF700}, {"down", 125, 0xF701}, {"left", 123, 0xF702}, {"right", 124, 0xF703}};
        const auto& a = arrows[pick(4)];
        what << "the " << a.name << " arrow key";
        send(cocoa::Event::keyEvent(cocoa::kKeyDown, a.code, 0, {a.c}, {a.c}));
        break;
      }
    }
    ++librarianActions;
  };

  e->showTab(2);
  wholeRepaint();
  std::vector<std::string> story;
  int partial = 0;
  for (int step = 0; step < steps; ++step) {
    const int actions = pick(4) == 0 ? 2 : 1;
    for (int a = 0; a < actions; ++a) {
      std::vector<Editor::Placed> shown, any;
      for (const Editor::Placed& p : e->placed()) {
        if (!walked(p.control->ParamIdx()) || p.control->GetRECT()->W() <= 0) continue;
        any.push_back(p);
        if (Editor::drawn(p) && !p.control->IsGrayed()) shown.push_back(p);
      }
      // While a field is edited, the walk mostly goes on with it. The program name is edited on the sound tabs, the
      // librarian's own fields on its tab.
      const int kind = view->textField() && pick(3) ? 10 : pick(12);
      std::ostringstream what;
      IControl* name = e->shownControl(kPatchName);
      const IRECT elsewhere = shown.empty() ? slots->slotRect(pick(2), pick(128))
                                            : *shown[pick(static_cast<int>(shown.size()))].control->GetRECT();
      if (kind >= 10 && !view->textField() && name && e->tab() != 1) {
        what << "the program name's entry opened";
        click(*name->GetRECT());
        entries += view->textField() != nullptr;
        entryParam = kPatchName;
      } else if (kind >= 10 && view->textField()) {
        const int how = pick(entryParam == kPatchName ? 6 : 7);
        what << (how < 3    ? "typed"
                 : how == 3 ? "Return"
                 : how == 4 ? "a click elsewhere"
                 : how == 5 ? "the wheel"
                            : "the host recalls its project");
        if (how < 3) typeSome();
        if (how == 3) send(key(U'\r'));
        if (how == 4) click(elsewhere);
        if (how == 5) send(at(cocoa::kScrollWheel, elsewhere));
        if (how == 6) {
          std::vector<uint8_t> bytes = project;
          effect->dispatcher(effect, effSetChunk, 0, static_cast<intptr_t>(bytes.size()), bytes.data(), 0.0f);
          ++recalls;
        }
      } else if ((kind < 7 || kind >= 10) && e->tab() == 1) {
        librarianAction(what);
      } else if (kind < 5 && !shown.empty()) {
        IControl* c = shown[pick(static_cast<int>(shown.size()))].control;
        IParam* ip = plug->GetParam(c->ParamIdx());
        const int choice = pick(std::max(2, ip->GetNDisplayTexts()));
        const int amount = pick(81) - 40;
        what << "mouse on " << paramName(c->ParamIdx()) << " (" << amount << ", item " << choice << ")";
        e->mouseEdit(c, amount, choice);
      } else if (kind < 7 && !any.empty()) {
        IControl* c = any[pick(static_cast<int>(any.size()))].control;
        const double v = pick(1001) / 1000.0;
        what << "from the synthesizer " << paramName(c->ParamIdx()) << " = " << v;
        c->SetValueFromHardware(v);
      } else if (kind == 7) {
        const int tab = std::max(1, pick(5));  // the librarian, with its own actions, twice as often
        what << "tab " << tab;
        e->showTab(tab);
      } else if (kind == 8) {
        const int t = pick(2);
        what << "timbre " << t + 1;
        e->showTimbre(t);
      } else {
        what << "a received program";
        plug->OnParamChange2(kQuickTab);
      }
      story.push_back(what.str());
      // A message of the librarian on the status display goes with the librarian's line when the next action clears
      // that line.
      const std::string status = plug->getDisplayLine(Vexmir::kLineName);
      const std::string said = plug->getLibrarianEditor()->lastMessage();
      if (!said.empty() && status.compare(0, 20, said, 0, 20) == 0)
        told = status;
      else if (slots->notice().empty() && !told.empty() && status == told)
        FAIL() << "seed " << seed << ", step " << step << ": after " << what.str() << " the status display still says "
               << told;
      // The librarian's fields show on its tab only, and a text entry over its field only: a page that hides the
      // field has ended it.
      const bool strayField = e->tab() != 1 && (e->shownControl(kPatchRename) || e->shownControl(kPatchSearchString));
      if (strayField || (view->textField() && !e->shownControl(entryParam)))
        FAIL() << "seed " << seed << ", step " << step << ": " << (strayField ? "a librarian field" : "an entry alone")
               << " on tab " << e->tab() << " after " << what.str();
      // Sometimes the timer ticks between two actions, or twice after one, before the window displays.
      if (pick(5) == 0) view->onTimer(view->timer());
    }
    if (pick(8) == 0) {
      const cocoa::Rect uncovered{double(pick(e->g->Width())), double(pick(e->g->Height())), 40, 30};
      view->setNeedsDisplayInRect(uncovered);
      story.push_back("an area uncovered");
    }
    view->onTimer(view->timer());
    story.push_back("(redraw)");
    // A value after the timer asked for the redraw and before the window draws shows with the next redraw.
    const bool changedLate = pick(5) == 0;
    if (changedLate) {
      IControl* c = e->placed()[pick(static_cast<int>(e->placed().size()))].control;
      if (walked(c->ParamIdx())) c->SetValueFromHardware(pick(1001) / 1000.0), ++late;
      story.push_back("then from the synthesizer, (redraw)");
    }
    e->window->takeDisplayedRects();
    e->window->displayIfNeeded();
    for (const cocoa::Rect& r : e->window->takeDisplayedRects())
      if (r.w < e->g->Width() || r.h < e->g->Height()) ++partial;
    if (changedLate) view->onTimer(view->timer()), e->window->displayIfNeeded();
    const std::vector<uint8_t> redrawn = shot();
    wholeRepaint();
    const std::vector<uint8_t> whole = shot();
    if (redrawn != whole) {
      size_t first = 0;
      int count = 0;
      for (size_t i = 0; i < whole.size(); i += 4)
        if (std::memcmp(&whole[i], &redrawn[i], 4) != 0 && count++ == 0) first = i / 4;
      std::ostringstream last;
      for (size_t i = story.size() > 10 ? story.size() - 10 : 0; i < story.size(); ++i) last << "\n  " << story[i];
      const int row = screen->rowBytes() / 4;
      FAIL() << "seed " << seed << ", step " << step << ": " << count << " pixels differ from a whole repaint, the first at "
             << first % row << ", " << first / row << "; the last actions:" << last.str();
    }
  }
  EXPECT_GT(partial, steps / 4) << "the redraws were seldom partial";
  EXPECT_GT(entries, steps / 40) << "the text fields were seldom edited";
  EXPECT_GT(late, steps / 20);
  EXPECT_GT(librarianActions, steps / 20) << "the librarian was seldom visited";
  EXPECT_GT(recalls, 0) << "no project was recalled while a librarian field was typed";
}

// 199 ends the band of 190 as 109 ends that of 100: it selects nothing and touches no child.
TEST(FaceLayers, ShowMultiLayers199TouchesNothing) {
  ControlLayer parent(0, "p");
  for (int id : {5, 190, 191, 205, 250}) parent.childLayers.Add(new ControlLayer(id, "c" + std::to_string(id)));
  parent.showMultiLayers(199);
  for (int i = 0; i < parent.childLayers.GetSize(); ++i)
    EXPECT_FALSE(parent.childLayers.Get(i)->isVisible()) << parent.childLayers.Get(i)->getId();
  EXPECT_EQ(parent.getSelectedZone(), 199);
}

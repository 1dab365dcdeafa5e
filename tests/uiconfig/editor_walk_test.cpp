// The editor built from the real bundle's resources: every name the other parts rely on (fixed_names.txt), every
// parameter the user edits has its controls, every control lies inside the editor, and no two controls of one layer
// state overlap unless declared as an overlay.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/vst2/vst2.h"
#include "src/PictureControl.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/core/bundle_host.h"

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

struct Placed {
  IControl* control;
  std::vector<const ControlLayer*> path;  // outermost first; empty for the surface's own controls
};

// True while the repository carries the small stand-in description instead of the editor's layout.
bool standInDescription() {
  const char* src = std::getenv("VEXMIR_SOURCE_DIR");
  std::ifstream in(std::string(src ? src : ".") + "/resources/uiconfig.xml");
  std::string head(200, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  return head.find("<!-- stand-in") != std::string::npos;
}

// One plug-in built from the bundle of this build, shared by the cases.
class EditorWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (standInDescription()) GTEST_SKIP() << "the stand-in description has no full editor to walk";
  }
  static void SetUpTestSuite() {
    root = new coretest::TempRoot();
    const char* build = std::getenv("VEXMIR_BUILD_DIR");
    cocoa::Bundle::registerIdentifier("com.Pellacor.vst.Vexmir Editor",
                                      std::string(build ? build : ".") + "/Vexmir Editor.vst");
    plug = new Vexmir(IEffectInstanceInfo{quietHost});
    ui = plug->getUIConfig();
    IGraphics* g = plug->GetGUI();
    for (int i = 0; i < g->NControls(); ++i) placed.push_back({g->GetControl(i), {}});
    std::function<void(const ControlLayer*, std::vector<const ControlLayer*>)> walk =
        [&](const ControlLayer* layer, std::vector<const ControlLayer*> path) {
          path.push_back(layer);
          for (int i = 0; i < layer->controls.GetSize(); ++i) placed.push_back({layer->controls.Get(i), path});
          for (int i = 0; i < layer->childLayers.GetSize(); ++i) walk(layer->childLayers.Get(i), path);
        };
    for (int i = 0; i < g->NLayers(); ++i) walk(g->GetLayer(i), {});
  }
  static void TearDownTestSuite() {
    delete plug;
    delete root;
    placed.clear();
  }

  static std::vector<const Placed*> controlsOf(int param) {
    std::vector<const Placed*> out;
    for (const Placed& p : placed)
      if (p.control->ParamIdx() == param) out.push_back(&p);
    // Display texts are bound through the parameter's action, not the control's own index.
    if (out.empty())
      if (ControlAction* a = plug->GetParam(param)->GetControlAction())
        for (const Placed& p : placed)
          for (IControl* c : a->controls)
            if (c == p.control) out.push_back(&p);
    return out;
  }

  static coretest::TempRoot* root;
  static Vexmir* plug;
  static UIConfigManager* ui;
  static std::vector<Placed> placed;
};

coretest::TempRoot* EditorWalk::root = nullptr;
Vexmir* EditorWalk::plug = nullptr;
UIConfigManager* EditorWalk::ui = nullptr;
std::vector<Placed> EditorWalk::placed;

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> std::quoted(w)) out.push_back(w);
  return out;
}

std::string option(const std::vector<std::string>& w, const std::string& key) {
  for (const std::string& s : w)
    if (s.compare(0, key.size() + 1, key + "=") == 0) return s.substr(key.size() + 1);
  return "";
}

}  // namespace

TEST_F(EditorWalk, TheDescriptionReadsCleanly) {
  for (const std::string& m : ui->getMessages()) ADD_FAILURE() << m;
}

TEST_F(EditorWalk, EveryFixedNameIsHonoured) {
  const char* src = std::getenv("VEXMIR_SOURCE_DIR");
  std::ifstream in(std::string(src ? src : ".") + "/tests/uiconfig/fixed_names.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int entries = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> w = words(line);
    ++entries;
    SCOPED_TRACE(line);
    const std::string& kind = w[0];
    if (kind == "layer") {
      const ControlLayer* layer = ui->getLayer(w[1]);
      ASSERT_NE(layer, nullptr);
      if (!option(w, "id").empty()) {
        EXPECT_EQ(layer->getId(), std::stoi(option(w, "id")));
      }
    } else if (kind == "child") {
      const ControlLayer* parent = ui->getLayer(w[1]);
      ASSERT_NE(parent, nullptr);
      const ControlLayer* child = parent->childLayers.Get(std::stoi(w[2]));
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(child->getId(), std::stoi(w[3]));
    } else if (kind == "copychildren") {
      const ControlLayer* layer = ui->getLayer(w[1]);
      ASSERT_NE(layer, nullptr);
      for (int t = 0; t < 2; ++t) {
        const ControlLayer* copy = layer->childLayers.Get(t);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->getId(), t);
        for (size_t k = 2; k < w.size(); ++k) {
          bool found = false;
          for (int i = 0; i < copy->childLayers.GetSize(); ++i)
            found = found || copy->childLayers.Get(i)->getId() == std::stoi(w[k]);
          EXPECT_TRUE(found) << "copy " << t << " has no child " << w[k];
        }
      }
    } else if (kind == "image") {
      EXPECT_EQ(ui->images.count(w[1]), 1u);
    } else if (kind == "imagefile") {
      bool found = false;
      for (const auto& [name, info] : ui->images)
        found = found || (info.resourceId == std::stoi(w[1]) && info.file == w[2]);
      EXPECT_TRUE(found);
    } else if (kind == "control") {
      const int param = paramIndexFromName(w[1]);
      ASSERT_GE(param, 0);
      const std::string layer = option(w, "layer"), at = option(w, "at"), image = option(w, "image");
      bool found = false;
      for (const Placed* p : controlsOf(param)) {
        if (!layer.empty() && (p->path.empty() || p->path.back()->getName() != layer)) continue;
        if (!at.empty()) {
          int xy[2] = {0, 0};
          UIConfigManager::getCSValues(at, xy, 2);
          if (p->control->GetRECT()->L != xy[0] || p->control->GetRECT()->T != xy[1]) continue;
        }
        if (!image.empty()) {
          const IBitmap expected = ui->getImageByName(plug->GetGUI(), image);
          if (p->control->GetRECT()->W() != expected.FrameWidth()) continue;
        }
        found = true;
      }
      EXPECT_TRUE(found);
    } else if (kind == "text") {
      const char* text = plug->GetParam(paramIndexFromName(w[1]))->GetDisplayText(std::stoi(w[2]));
      EXPECT_STREQ(text ? text : "(none)", w[3].c_str());
    } else if (kind == "valuelist") {
      EXPECT_FALSE(ui->getValueList(w[1]).empty());
    } else if (kind == "editable") {
      const int param = paramIndexFromName(w[1]);
      ASSERT_GE(param, 0);
      const std::vector<const Placed*> controls = controlsOf(param);
      EXPECT_FALSE(controls.empty()) << w[1] << " has no control";
      // A timbre's sound lives in its copy; the editor's own per-timbre settings (activity LEDs, channels and
      // their locks) sit side by side on the bars and pages shown for both timbres.
      if (isTimbreTwin(param) && paramInfo(param).sound)
        for (const Placed* p : controls) {
          bool underTimbre2 = false;
          for (size_t k = 1; k < p->path.size(); ++k)
            underTimbre2 =
                underTimbre2 || (p->path[k]->getId() == 1 && p->path[k - 1]->childLayers.Get(1) == p->path[k]);
          EXPECT_TRUE(underTimbre2) << w[1] << " lies outside the timbre-2 copies";
        }
    } else if (kind == "constructor") {
      const ControlLayer* layer = ui->getLayer(w[1]);
      if (!layer) continue;  // made with the librarian's wiring
      EXPECT_EQ(layer->getId(), std::stoi(w[2]));
    } else {
      ADD_FAILURE() << "unknown entry kind " << kind;
    }
  }
  EXPECT_GT(entries, 400);
}

TEST_F(EditorWalk, ControlsLieInsideTheEditorAndDoNotOverlap) {
  const IRECT editor(0, 0, 1500, 667);
  auto isOverlay = [](const Placed& p) {
    if (ui->overlayControls.count(p.control) || dynamic_cast<PictureControl*>(p.control)) return true;
    // The background the editor object attaches lies under everything.
    const IRECT* r = p.control->GetRECT();
    if (p.path.empty() && p.control->ParamIdx() < 0 && r->L == 0 && r->T == 0 && r->W() == 1500 && r->H() == 667)
      return true;
    for (const ControlLayer* l : p.path)
      if (ui->overlayLayers.count(l)) return true;
    return false;
  };
  for (const Placed& p : placed) {
    const IRECT* r = p.control->GetRECT();
    EXPECT_TRUE(r->L >= 0 && r->T >= 0 && r->R <= editor.R && r->B <= editor.B)
        << "control of parameter " << p.control->ParamIdx() << " at " << r->L << "," << r->T << "-" << r->R << ","
        << r->B;
  }
  // One layer state: a layer's own controls with those of the layers above it (children of one layer are
  // alternatives and never compared with each other).
  for (size_t i = 0; i < placed.size(); ++i) {
    const Placed& a = placed[i];
    if (isOverlay(a) || a.control->GetRECT()->W() <= 0) continue;
    for (size_t j = i + 1; j < placed.size(); ++j) {
      const Placed& b = placed[j];
      if (isOverlay(b) || b.control->GetRECT()->W() <= 0) continue;
      const auto& shorter = a.path.size() <= b.path.size() ? a.path : b.path;
      const auto& longer = a.path.size() <= b.path.size() ? b.path : a.path;
      if (!std::equal(shorter.begin(), shorter.end(), longer.begin())) continue;
      const IRECT overlap = a.control->GetRECT()->Intersect(*b.control->GetRECT());
      EXPECT_FALSE(overlap.W() > 0 && overlap.H() > 0)
          << "controls of parameters " << a.control->ParamIdx() << " at " << a.control->GetRECT()->L << ","
          << a.control->GetRECT()->T << " and " << b.control->ParamIdx() << " at " << b.control->GetRECT()->L << ","
          << b.control->GetRECT()->T << " overlap in "
          << (longer.empty() ? std::string("the surface") : longer.back()->getName());
    }
  }
}

// The progress overlay's message box holds the Cancel button of either kind: under each button and a margin round
// it the overlay is the opaque box, not the translucent dimming of the editor around it.
TEST_F(EditorWalk, BothCancelButtonsSitInsideTheProgressOverlaysMessageBox) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  const std::string file =
      std::string(build ? build : ".") + "/Vexmir Editor.vst/Contents/Resources/resources/img/overlayer.png";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str())) << file;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) << image.message;
  ASSERT_EQ(image.width, 1500u);
  ASSERT_EQ(image.height, 667u);
  for (int which : {0, 1}) {
    IControl* button = plug->getCancelButton(which);
    ASSERT_NE(button, nullptr);
    const IRECT* r = button->GetRECT();
    int outside = 0;
    for (int y = r->T - 4; y < r->B + 4; ++y)
      for (int x = r->L - 4; x < r->R + 4; ++x)
        if (pixels[(static_cast<size_t>(y) * image.width + static_cast<size_t>(x)) * 4 + 3] != 255) ++outside;
    EXPECT_EQ(outside, 0) << "Cancel button " << which << " at " << r->L << "," << r->T;
  }
}

TEST_F(EditorWalk, EveryBoundAddressFindsItsControl) {
  int checked = 0;
  for (int i = 0; i < kNumParams; ++i) {
    const ControlAction* a = plug->GetParam(i)->GetControlAction();
    if (!a || a->controls.empty()) continue;
    IControl* found = nullptr;
    switch (a->type) {
      case ControlAction::kCCOnTimbreChannel:
      case ControlAction::kCCOffOn:
        found = plug->getCCControls(a->channel, a->ccNumber, a->subKey);
        break;
      case ControlAction::kNRPN:
        found = plug->getMsbLsbControl(a->channel, a->nrpnMsb, a->valueOffset, a->nrpnLsb, a->subKey);
        break;
      case ControlAction::kSysExPerValue:
      case ControlAction::kSysExMessages:
        if (a->sysex.messages.empty()) continue;
        found = plug->getSysexControl(a->sysex.messages[0][2], a->sysex.messages[0][3], a->sysex.messages[0][4],
                                      a->sysex.messages[0][5], 0);
        break;
      default:
        continue;
    }
    ++checked;
    ASSERT_NE(found, nullptr) << paramName(i);
    // The table keeps the last control registered under an address; it must be one of this parameter's.
    EXPECT_NE(std::find(a->controls.begin(), a->controls.end(), found), a->controls.end()) << paramName(i);
  }
  EXPECT_GT(checked, 0);
}

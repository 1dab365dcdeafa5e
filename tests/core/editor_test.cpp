// The plug-in and its editor surface: ownership of the surface, the host's editor requests, host
// parameter changes reaching the controls, and program and bank files picked through the surface's
// file prompt, written to disk and read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IGraphicsCocoa.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "platform/cocoa/object.h"
#include "platform/cocoa/view.h"
#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "tests/core/bundle_host.h"
#include "tests/gui/gui_support.h"
#include "tests/support/Files.h"
#include "tests/support/QuietHost.h"

namespace {

// What the plug-in and its surface did, in order.
std::vector<std::string>& events() {
  static std::vector<std::string> log;
  return log;
}

int& surfacesDeleted() {
  static int n = 0;
  return n;
}

using vexmir::testsupport::quietHost;

enum { kGain = 0, kShape, kCount, kNumEditorParams };

// Three host-visible parameters: a double, an enum with texts and an int.
class EditorPlug : public IEffectVST {
 public:
  explicit EditorPlug(bool chunks = true, int presets = 2)
      : IEffectVST(IEffectInstanceInfo{quietHost}, kNumEditorParams, "2-2", presets, "EditorTest", "", "Maker", 0x10203,
                   0x1234ABCD, 1, 0, true, chunks, false, 0) {
    initialize(IEffectInstanceInfo{quietHost}, kNumEditorParams, kNumEditorParams, "2-2", presets, "EditorTest", "",
               "Maker", 0x10203, 0x1234ABCD, 1, 0, true, chunks, false, 0);
    GetParam(kGain)->InitDouble("Gain", 0.5, 0.0, 1.0, 0.001);
    GetParam(kShape)->InitEnum("Shape", 0, 4);
    const char* shapes[] = {"Saw", "Square", "Triangle", "Sine"};
    for (int i = 0; i < 4; ++i) GetParam(kShape)->SetDisplayText(i, shapes[i]);
    GetParam(kCount)->InitInt("Count", 3, 0, 16);
  }
  void OnParamChange(int idx) override { events().push_back("change " + std::to_string(idx)); }
  void OnGUIOpen() override { events().push_back("OnGUIOpen"); }
  void OnGUIClose() override { events().push_back("OnGUIClose"); }

  std::vector<double> values() const {
    std::vector<double> v;
    for (int i = 0; i < NParams(); ++i) v.push_back(GetParam(i)->Value());
    return v;
  }
  void set(double gain, int shape, int count) {
    GetParam(kGain)->Set(gain);
    GetParam(kShape)->Set(shape);
    GetParam(kCount)->Set(count);
  }
  IPreset* preset(int i) const { return mPresets.Get(i); }
};

// The test surface, counting its deletions and recording the window requests.
class EditorSurface : public guitest::TestGraphics {
 public:
  EditorSurface(IEffectBase* plug, int w, int h) : TestGraphics(plug, w, h) {}
  ~EditorSurface() override { ++surfacesDeleted(); }
  void* OpenWindow(void* parent) override {
    events().push_back("OpenWindow view");
    return opens ? parent : nullptr;
  }
  void* OpenWindow(void* window, void* control, short, short) override {
    events().push_back(std::string("OpenWindow window") + (control ? " pane" : ""));
    return opens ? window : nullptr;
  }
  void CloseWindow() override { events().push_back("CloseWindow"); }
  bool opens = true;
};

// A control that keeps the last value the plug-in pushed to it.
class ValueProbe : public IControl {
 public:
  ValueProbe(IEffectBase* plug, int param) : IControl(plug, IRECT(0, 0, 10, 10), param) {}
  bool Draw(IGraphics*) override { return true; }
  void SetValueFromPlug(double v) override {
    pushed.push_back(v);
    IControl::SetValueFromPlug(v);
  }
  std::vector<double> pushed;
};

intptr_t dispatch(IEffectVST* plug, int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) {
  AEffect* e = plug->GetAEffect();
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

using vexmir::testsupport::readBytes;
using vexmir::testsupport::writeBytes;

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

void putBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Ownership

TEST(EditorSurface, IsDeletedOnceByThePluginAndAReplacedOneAtOnce) {
  surfacesDeleted() = 0;
  auto* plug = new EditorPlug;
  plug->AttachGraphics(new EditorSurface(plug, 100, 50));
  auto* second = new EditorSurface(plug, 120, 60);
  plug->AttachGraphics(second);
  EXPECT_EQ(surfacesDeleted(), 1);
  plug->AttachGraphics(second);  // the same surface again stays
  EXPECT_EQ(surfacesDeleted(), 1);
  plug->AttachGraphics(nullptr);
  EXPECT_EQ(plug->GetGUI(), second);
  dispatch(plug, effClose);
  EXPECT_EQ(surfacesDeleted(), 2);
}

// A host may close the plug-in without closing its editor first: the Mac surface closes its view
// as it goes, after the editor object is gone.
TEST(EditorSurface, AMacEditorLeftOpenIsClosedWithThePlugin) {
  cocoa::AutoreleasePool pool;
  auto* plug = new EditorPlug;
  auto* mac = new IGraphicsMac(plug, 200, 100, 0);
  plug->AttachGraphics(mac);
  auto* window = new cocoa::Window(cocoa::Rect{0, 0, 200, 100});
  dispatch(plug, effCanDo, 0, 0, const_cast<char*>("hasHostViewAsConfig"));
  ASSERT_EQ(dispatch(plug, effEditOpen, 0, 0, window->contentView()), 1);
  EXPECT_EQ(window->contentView()->subviews().size(), 1u);
  auto* view = static_cast<IGraphicsCocoa_vVexmir_vst*>(window->contentView()->subviews().front());
  EXPECT_EQ(view->graphics(), mac);
  dispatch(plug, effClose);
  // Whatever stays in the host's window no longer reaches the deleted surface.
  for (cocoa::View* v : window->contentView()->subviews()) {
    if (v == view) {
      EXPECT_EQ(view->graphics(), nullptr);
    }
  }
  window->release();
}

TEST(EditorSurface, MadeForThePluginWithItsBundleIdentifier) {
  EditorPlug plug;
  IGraphics* g = MakeGraphics(&plug, 320, 240);
  auto* mac = dynamic_cast<IGraphicsMac*>(g);
  ASSERT_NE(mac, nullptr);
  EXPECT_STREQ(mac->GetBundleID(), "com.Maker.vst.EditorTest");
  EXPECT_EQ(g->GetPlug(), &plug);
  EXPECT_EQ(g->FPS(), IGraphics::kDefaultFPS);
  EXPECT_EQ(plug.GetGUI(), nullptr);
  plug.AttachGraphics(g);
}

// ---------------------------------------------------------------------------------------------
// Editor requests of the host

TEST(EditorRequests, AnswerNothingWithoutASurface) {
  EditorPlug plug;
  ERect* rect = reinterpret_cast<ERect*>(0x1);
  EXPECT_EQ(dispatch(&plug, effEditGetRect, 0, 0, &rect), 0);
  EXPECT_EQ(rect, reinterpret_cast<ERect*>(0x1));
  EXPECT_EQ(dispatch(&plug, effEditOpen, 0, 0, &plug), 0);
  EXPECT_EQ(dispatch(&plug, effEditClose), 0);
  EXPECT_EQ(plug.GetAEffect()->flags & effFlagsHasEditor, 0);
}

TEST(EditorRequests, TheRectangleIsTheSurfaceSize) {
  EditorPlug plug;
  plug.AttachGraphics(new EditorSurface(&plug, 1500, 667));
  ERect* rect = nullptr;
  ASSERT_EQ(dispatch(&plug, effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top, 0);
  EXPECT_EQ(rect->left, 0);
  EXPECT_EQ(rect->bottom, 667);
  EXPECT_EQ(rect->right, 1500);
  EXPECT_NE(plug.GetAEffect()->flags & effFlagsHasEditor, 0);
  EXPECT_EQ(dispatch(&plug, effEditGetRect, 0, 0, nullptr), 0);
}

TEST(EditorRequests, OpenAndCloseCallTheSurfaceAndTheHooksInOrder) {
  struct Case {
    bool viewAsConfig;
    bool opens;
    intptr_t openResult;
    std::vector<std::string> expect;
  } cases[] = {
      {false, true, 1, {"OpenWindow window", "OnGUIOpen", "OnGUIClose", "CloseWindow"}},
      {true, true, 1, {"OpenWindow view", "OnGUIOpen", "OnGUIClose", "CloseWindow"}},
      {false, false, 0, {"OpenWindow window", "OnGUIClose", "CloseWindow"}},
      {true, false, 0, {"OpenWindow view", "OnGUIClose", "CloseWindow"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.viewAsConfig ? "view" : "window") + (c.opens ? " opens" : " refuses"));
    EditorPlug plug;
    auto* surface = new EditorSurface(&plug, 100, 100);
    surface->opens = c.opens;
    plug.AttachGraphics(surface);
    if (c.viewAsConfig) {
      EXPECT_EQ(dispatch(&plug, effCanDo, 0, 0, const_cast<char*>("hasHostViewAsConfig")), 0xBEEF0000);
    }
    events().clear();
    int hostWindow = 0;
    EXPECT_EQ(dispatch(&plug, effEditOpen, 0, 0, &hostWindow), c.openResult);
    EXPECT_EQ(dispatch(&plug, effEditClose), 1);
    EXPECT_EQ(events(), c.expect);
  }
}

// ---------------------------------------------------------------------------------------------
// Values reaching the controls

TEST(EditorValues, ControlsBuiltBeforeAttachingStartFromTheParameters) {
  EditorPlug plug;
  plug.set(0.25, 2, 8);
  auto* surface = new EditorSurface(&plug, 100, 100);
  auto* gain = new ValueProbe(&plug, kGain);
  auto* shape = new ValueProbe(&plug, kShape);
  surface->AttachControl(gain);
  surface->AttachControl(shape);
  plug.AttachGraphics(surface);
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.25);
  EXPECT_DOUBLE_EQ(shape->GetValue(), 2.0 / 3.0);
  EXPECT_NE(surface->GetDrawBitmap(), nullptr);
}

TEST(EditorValues, HostChangesReachTheSurface) {
  EditorPlug plug;
  auto* surface = new EditorSurface(&plug, 100, 100);
  auto* gain = new ValueProbe(&plug, kGain);
  auto* shape = new ValueProbe(&plug, kShape);
  auto* count = new ValueProbe(&plug, kCount);
  surface->AttachControl(gain);
  surface->AttachControl(shape);
  surface->AttachControl(count);
  plug.AttachGraphics(surface);
  plug.StartRelay();  // as the plug-in's entry does once it is made
  AEffect* e = plug.GetAEffect();

  events().clear();
  e->setParameter(e, kGain, 0.75f);
  EXPECT_DOUBLE_EQ(plug.GetParam(kGain)->Value(), 0.75);  // stored at once; the surface follows on the relay
  for (int i = 0; i < 5000 && !plug.GetHostCallRelay().idle(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.75);
  EXPECT_DOUBLE_EQ(plug.GetParam(kGain)->Value(), 0.75);
  EXPECT_EQ(events(), std::vector<std::string>{"change 0"});

  // A text the host typed: mapped through the display texts, or read as a number.
  EXPECT_EQ(dispatch(&plug, effString2Parameter, kShape, 0, const_cast<char*>("Sine")), 1);
  EXPECT_DOUBLE_EQ(shape->GetValue(), 1.0);
  EXPECT_EQ(dispatch(&plug, effString2Parameter, kCount, 0, const_cast<char*>("4")), 1);
  EXPECT_DOUBLE_EQ(count->GetValue(), 0.25);
  EXPECT_DOUBLE_EQ(plug.GetParam(kCount)->Value(), 4.0);

  // A restored chunk moves every control to the restored values.
  void* data = nullptr;
  intptr_t size = dispatch(&plug, effGetChunk, 1, 0, &data);
  ASSERT_GT(size, 0);
  std::vector<uint8_t> saved(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  plug.set(0.1, 0, 0);
  EXPECT_EQ(dispatch(&plug, effSetChunk, 1, size, saved.data()), 1);
  EXPECT_DOUBLE_EQ(gain->GetValue(), 0.75);
  EXPECT_DOUBLE_EQ(shape->GetValue(), 1.0);
  EXPECT_DOUBLE_EQ(count->GetValue(), 0.25);
}

TEST(EditorValues, DataFolderAndManualOpenThroughTheSurface) {
  coretest::TempRoot root;
  Vexmir plug(IEffectInstanceInfo{quietHost});
  plug.OpenDataDirectory(false);  // no surface yet: nothing happens
  auto* surface = new EditorSurface(&plug, 100, 100);
  plug.AttachGraphics(surface);
  plug.OpenDataDirectory(false);
  plug.OpenDataDirectory(true);
  EXPECT_EQ(surface->calls,
            (std::vector<std::string>{"OpenURL " + Vexmir::getDataFolder(),
                                      "OpenURL " + Vexmir::getDataFolder() + "Korg-Vexmir-User-Manual.pdf"}));
}

// ---------------------------------------------------------------------------------------------
// Program and bank files

namespace {

struct PresetFiles : ::testing::TestWithParam<bool> {
  coretest::TempRoot root;
  std::string path(const char* name) const { return root.path + "/" + name; }
};

struct PlugWithSurface {
  explicit PlugWithSurface(bool chunks) : plug(chunks) {
    surface = new EditorSurface(&plug, 100, 100);
    plug.AttachGraphics(surface);
    plug.MakeDefaultPreset("First", 1);
    plug.set(0.125, 3, 11);
    plug.MakeDefaultPreset("Second", 1);
  }
  bool save(bool bank, const std::string& path) {
    surface->fileAnswer = path;
    return bank ? plug.SaveBankAsFXB("bank") : plug.SaveProgramAsFXP("program");
  }
  bool load(bool bank, const std::string& path) {
    surface->fileAnswer = path;
    return bank ? plug.LoadBankFromFXB() : plug.LoadProgramFromFXP();
  }
  // Parameter values, then each preset's name, flag and state.
  std::string state() const {
    std::string s;
    for (double v : plug.values()) s += std::to_string(v) + " ";
    for (int i = 0; i < plug.NPresets(); ++i) {
      IPreset* p = plug.preset(i);
      s += std::string("|") + p->mName + (p->mInitialized ? "+" : "-");
      s.append(reinterpret_cast<const char*>(p->mChunk.GetBytes()), p->mChunk.Size());
    }
    return s + "|" + std::to_string(plug.GetCurrentPresetIdx());
  }
  EditorPlug plug;
  EditorSurface* surface;
};

}  // namespace

TEST_P(PresetFiles, ProgramAndBankFilesCarryTheStateByteForByte) {
  const bool chunks = GetParam();
  for (bool bank : {false, true}) {
    SCOPED_TRACE(bank ? "bank" : "program");
    PlugWithSurface a(chunks);
    a.plug.set(0.625, 1, 7);
    ASSERT_TRUE(a.save(bank, path("a")));
    EXPECT_EQ(a.surface->calls.back(),
              std::string("PromptForFile 1||") + (bank ? "fxb" : "fxp"));  // a save, proposing no folder
    const std::vector<uint8_t> file = readBytes(path("a"));
    ASSERT_GE(file.size(), 60u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "CcnK");
    EXPECT_EQ(be32(file, 4), file.size() - 8);
    const char* magic = bank ? (chunks ? "FBCh" : "FxBk") : (chunks ? "FPCh" : "FxCk");
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), magic);
    EXPECT_EQ(be32(file, 16), 0x1234ABCDu);
    EXPECT_EQ(be32(file, 20), 0x10203u);
    EXPECT_EQ(be32(file, 24), bank ? 2u : 3u);  // programs in a bank, parameters in a program

    // Another plug-in takes the file and writes it back unchanged.
    PlugWithSurface b(chunks);
    const std::string before = b.state();
    ASSERT_TRUE(b.load(bank, path("a")));
    EXPECT_NE(b.state(), before);
    EXPECT_EQ(b.plug.values(), a.plug.values());
    ASSERT_TRUE(b.save(bank, path("b")));
    EXPECT_EQ(readBytes(path("b")), file);
    // A bank carries the presets too (the save put the current state into the current preset).
    if (bank) {
      EXPECT_EQ(b.state(), a.state());
    }
  }
}

TEST_P(PresetFiles, ABankRestoresEveryPresetAndTheCurrentOne) {
  PlugWithSurface a(GetParam());
  a.plug.RestorePreset(1);
  ASSERT_TRUE(a.save(true, path("bank")));
  PlugWithSurface b(GetParam());
  b.plug.set(0.9, 0, 0);
  b.plug.RestorePreset(0);
  ASSERT_TRUE(b.load(true, path("bank")));
  EXPECT_EQ(b.plug.GetCurrentPresetIdx(), 1);
  EXPECT_EQ(b.plug.values(), (std::vector<double>{0.125, 3, 11}));
  ASSERT_TRUE(b.plug.RestorePreset(0));
  EXPECT_EQ(b.plug.values(), (std::vector<double>{0.5, 0, 3}));
  EXPECT_STREQ(b.plug.GetPresetName(0), "First");
}

TEST_P(PresetFiles, APluginShowingTheHostNoParametersStillTakesItsBank) {
  PlugWithSurface a(GetParam());
  a.plug.addNonAutomateParamCount(kNumEditorParams);
  ASSERT_TRUE(a.save(true, path("bank")));
  PlugWithSurface b(GetParam());
  b.plug.addNonAutomateParamCount(kNumEditorParams);
  std::snprintf(b.plug.preset(1)->mName, sizeof b.plug.preset(1)->mName, "Renamed");
  ASSERT_TRUE(b.load(true, path("bank")));
  EXPECT_STREQ(b.plug.GetPresetName(1), "Second");
}

TEST_P(PresetFiles, BadFilesAreRefusedAndChangeNothing) {
  const bool chunks = GetParam();
  for (bool bank : {false, true}) {
    SCOPED_TRACE(bank ? "bank" : "program");
    PlugWithSurface a(chunks);
    a.plug.set(0.3, 2, 9);
    ASSERT_TRUE(a.save(bank, path("good")));
    const std::vector<uint8_t> good = readBytes(path("good"));
    ASSERT_TRUE(a.save(!bank, path("other")));

    std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;
    for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 7))
      bad.push_back({"cut at " + std::to_string(n), std::vector<uint8_t>(good.begin(), good.begin() + n)});
    auto patched = [&](const char* what, size_t at, uint32_t v) {
      std::vector<uint8_t> f = good;
      putBe32(f, at, v);
      bad.push_back({what, f});
    };
    patched("no CcnK", 0, 0x43636e4c);
    patched("byte count past the end", 4, static_cast<uint32_t>(good.size()));
    const uint32_t otherForm = bank ? (chunks ? 0x4678426b /*FxBk*/ : 0x46424368 /*FBCh*/)
                                    : (chunks ? 0x4678436b /*FxCk*/ : 0x46504368 /*FPCh*/);
    patched("record of the other form", 8, otherForm);
    patched("another plug-in", 16, 0x1234ABCE);
    if (!chunks) patched("wrong count", 24, bank ? 3 : 2);
    const size_t sizeWord = bank ? 156 : 56;
    if (chunks) {
      patched("chunk larger than the file", sizeWord, 0x7FFFFFF0);
      patched("negative chunk size", sizeWord, 0x80000000);
      // Consistent sizes around a state that ends early: read, found short, rolled back.
      std::vector<uint8_t> f(good.begin(), good.end() - 12);
      putBe32(f, 4, static_cast<uint32_t>(f.size() - 8));
      putBe32(f, sizeWord, be32(f, sizeWord) - 12);
      bad.push_back({"state ends early", f});
    } else {
      std::vector<uint8_t> f = good;
      putBe32(f, f.size() - 4, 0x7FC00000);  // a NaN value
      bad.push_back({"not a number", f});
    }
    bad.push_back({"the other kind of file", readBytes(path("other"))});

    PlugWithSurface b(chunks);
    b.plug.set(0.8, 1, 2);
    const std::string before = b.state();
    for (const auto& [what, bytes] : bad) {
      SCOPED_TRACE(what);
      writeBytes(path("bad"), bytes);
      EXPECT_FALSE(b.load(bank, path("bad")));
      EXPECT_EQ(b.state(), before);
    }
    EXPECT_FALSE(b.load(bank, path("missing")));
    EXPECT_EQ(b.state(), before);
  }
}

TEST_P(PresetFiles, NeedASurfaceAndAChosenFile) {
  EditorPlug bare(GetParam());
  EXPECT_FALSE(bare.SaveProgramAsFXP(path("p").c_str()));
  EXPECT_FALSE(bare.SaveBankAsFXB(path("b").c_str()));
  EXPECT_FALSE(bare.LoadProgramFromFXP());
  EXPECT_FALSE(bare.LoadBankFromFXB());
  EXPECT_FALSE(std::filesystem::exists(path("p")));
  EXPECT_FALSE(std::filesystem::exists(path("b")));

  PlugWithSurface cancelled(GetParam());
  const std::string before = cancelled.state();
  for (bool bank : {false, true}) {
    EXPECT_FALSE(cancelled.save(bank, ""));
    EXPECT_FALSE(cancelled.load(bank, ""));
  }
  EXPECT_EQ(cancelled.state(), before);
  // Each prompt is told the kind of file it is for.
  EXPECT_EQ(cancelled.surface->calls, (std::vector<std::string>{"PromptForFile 1||fxp", "PromptForFile 0||fxp",
                                                                "PromptForFile 1||fxb", "PromptForFile 0||fxb"}));
}

TEST(PresetSource, TheDumpedLinesRebuildThePreset) {
  coretest::TempRoot root;
  EditorPlug plug(true, 1);
  plug.MakeDefaultPreset("Lead \"A\"", 1);
  plug.set(0.625, 3, 7);
  const char* names[] = {"kGain", "kShape", "kCount"};
  const std::string src = root.path + "/src.txt", blob = root.path + "/blob.txt";
  ASSERT_TRUE(plug.DumpPresetSrcCode(src.c_str(), names));
  std::string line = vexmir::testsupport::readText(src);
  EXPECT_EQ(line, "  MakePresetFromNamedParams(\"Lead \\\"A\\\"\", 3, kGain, 0.625000, kShape, 3, kCount, 7);\n");
  ASSERT_TRUE(plug.DumpPresetSrcCode(src.c_str(), nullptr));
  std::ifstream srcIn2(src);
  std::getline(srcIn2, line);
  EXPECT_EQ(line, "  MakePresetFromNamedParams(\"Lead \\\"A\\\"\", 3, 0, 0.625000, 1, 3, 2, 7);");

  // The blob line, fed back to MakePresetFromBlob, gives a preset holding these values; states of
  // 3, 2 and 1 values cover the three endings of the base64 text.
  for (int hidden : {0, 1, 2}) {
    SCOPED_TRACE(hidden);
    plug.addNonAutomateParamCount(hidden);
    const int size = 8 * (kNumEditorParams - hidden);
    ASSERT_TRUE(plug.DumpPresetBlob(blob.c_str()));
    std::ifstream blobIn(blob);
    std::getline(blobIn, line);
    const std::string head = "  MakePresetFromBlob(\"Lead \\\"A\\\"\", \"";
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    const size_t end = line.find('"', head.size());
    ASSERT_NE(end, std::string::npos);
    const std::string text = line.substr(head.size(), end - head.size());
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(line.substr(end), "\", " + std::to_string(size) + ");");
    EditorPlug other(true, 1);
    other.addNonAutomateParamCount(hidden);
    other.set(0, 0, 0);
    ASSERT_TRUE(other.MakePresetFromBlob("copy", text.c_str(), size));
    ASSERT_TRUE(other.RestorePreset(0));
    std::vector<double> expect = plug.values();
    for (int i = kNumEditorParams - hidden; i < kNumEditorParams; ++i) expect[i] = 0;
    EXPECT_EQ(other.values(), expect);
  }
  EXPECT_FALSE(plug.DumpPresetBlob((root.path + "/no/such/folder/x").c_str()));
}

INSTANTIATE_TEST_SUITE_P(Forms, PresetFiles, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Chunk" : "Params"; });

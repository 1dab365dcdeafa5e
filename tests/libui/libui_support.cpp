#include "tests/libui/libui_support.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IParam.h"

namespace libui {

std::string programName(int bank, int slot) {
  char name[16];
  std::snprintf(name, sizeof name, "b%ds%d", bank, slot);
  std::string text(name);
  text.resize(12, ' ');
  return text;
}

Bytes programDumpOf(int bank, int slot) {
  // Kept once made: the data-safety test asks for the same programs thousands of times.
  static std::map<std::pair<int, int>, Bytes> made;
  auto it = made.find({bank, slot});
  if (it == made.end())
    it = made.emplace(std::make_pair(bank, slot),
                      vectors::programDump(vectors::programDataNamed(slot, programName(bank, slot))))
             .first;
  return it->second;
}

std::vector<Bytes> expectedBank(int bank, std::initializer_list<std::pair<int, Bytes>> changes) {
  std::vector<Bytes> dumps;
  for (int s = 0; s < 128; ++s) dumps.push_back(programDumpOf(bank, s));
  for (const auto& change : changes) dumps[change.first] = change.second;
  return dumps;
}

Bytes raw(const std::vector<Bytes>& dumps) {
  Bytes all;
  for (const Bytes& d : dumps) all.insert(all.end(), d.begin(), d.end());
  return all;
}

Bytes bankBytes(int bank, int count) {
  std::vector<Bytes> dumps;
  for (int slot = 0; slot < count; ++slot) dumps.push_back(programDumpOf(bank, slot));
  return raw(dumps);
}

std::vector<Bytes> readBank(const std::string& path) {
  const Bytes bytes = vectors::readFile(path);
  PatchLibrarian librarian;
  PatchFile bank;
  librarian.loadFromBytes(bytes.data(), bytes.size(), &bank);
  std::vector<Bytes> dumps;
  for (const LibrarianPatch& p : bank.patches) dumps.push_back(p.messages.empty() ? Bytes() : p.messages[0].data);
  return dumps;
}

// ---- LibPlug ----

LibPlug::LibPlug()
    : IEffectVST(IEffectInstanceInfo{guitest::recordingHost}, kNumParams, "2-2", 1, "LibTest", "", "Maker", 0x10000,
                 4322, 1, 0, true, true, false, 0) {
  initialize(IEffectInstanceInfo{guitest::recordingHost}, kNumParams, kNumParams, "2-2", 1, "LibTest", "", "Maker",
             0x10000, 4322, 1, 0, true, true, false, 0);
  for (int idx : {kPatchSelectionListUpper, kPatchSelectionListLower, kCurrentOpenPatchBankL, kCurrentOpenPerfBankL,
                  kCurrentOpenPatchBankR, kCurrentOpenPerfBankR})
    GetParam(idx)->InitEnum(paramName(idx), 0, 1);
  GetParam(kPatchRename)->InitText();
  GetParam(kPatchSearchString)->InitText();
  for (int idx : {kBankEditUnsaved, kDiscardBankData, kPatchSearch, kRefreshFolders, kLibUpperNextBank,
                  kLibUpperPreviousBank, kLibLowerNextBank, kLibLowerPreviousBank, kLibrarianArea, kDeviceOutSelection})
    GetParam(idx)->InitInt(paramName(idx), 0, 0, 1);
  GetParam(kDataType)->InitInt("kDataType", 0, 0, 3);
  guitest::hostLog().clear();
}

void LibPlug::OnParamChange(int idx) {
  if (editor) editor->onParamChange(idx);
}

// ---- LibGraphics ----

std::string LibGraphics::describe(const IPopupMenu* menu) {
  std::string shown;
  for (int i = 0; i < menu->GetNItems(); ++i) {
    const IPopupMenuItem* item = menu->GetItem(i);
    if (i) shown += ",";
    if (item->GetIsSeparator()) {
      shown += "-";
      continue;
    }
    if (item->GetChecked()) shown += "*";
    if (!item->GetEnabled()) shown += "~";
    shown += item->GetText();
    if (item->GetSubmenu()) shown += ">";
  }
  return shown;
}

IPopupMenu* LibGraphics::CreateIPopupMenu(IPopupMenu* menu, IRECT* r) {
  ReleaseMouseCapture();
  menus.push_back(describe(menu));
  menuRects.push_back(*r);
  if (whileMenuOpen) {
    const ModalScope open(this);
    std::function<void()> meanwhile;
    meanwhile.swap(whileMenuOpen);
    meanwhile();
  }
  const std::vector<std::string> path = menuPath;
  menuPath.clear();
  IPopupMenu* current = menu;
  for (size_t step = 0; step < path.size(); ++step) {
    int found = -1;
    for (int i = 0; i < current->GetNItems(); ++i)
      if (path[step] == current->GetItemText(i)) {
        found = i;
        break;
      }
    if (found < 0) return nullptr;
    IPopupMenuItem* item = current->GetItem(found);
    if (step + 1 < path.size()) {
      if (!item->GetSubmenu()) return nullptr;
      current = item->GetSubmenu();
      continue;
    }
    // The platform menus offer no disabled item and no separator.
    if (!item->GetEnabled() || item->GetIsSeparator()) return nullptr;
    current->SetChosenItemIdx(found);
    return current;
  }
  return nullptr;
}

void LibGraphics::PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) {
  TestGraphics::PromptForFile(file, action, dir, extensions);
  if (!fileAnswers.empty()) {
    file->Set(fileAnswers.front().c_str());
    fileAnswers.erase(fileAnswers.begin());
  }
}

// ---- RecordingHost ----

ControlLayer* RecordingHost::librarianLayer(const std::string& name) {
  auto it = layers.find(name);
  return it == layers.end() ? nullptr : it->second;
}

bool RecordingHost::sendProgram(int, int, const LibrarianPatch& program) {
  calls.push_back("send " + program.name);
  sent.push_back(program.messages[0].data);
  return midiOut;
}

bool RecordingHost::storeProgram(int, int slot, const LibrarianPatch& program) {
  calls.push_back("store " + std::to_string(slot) + " " + program.name);
  sent.push_back(program.messages[0].data);
  return midiOut;
}

bool RecordingHost::storeBank(int, const PatchFile& bank) {
  calls.push_back("store bank " + std::to_string(bank.patches.size()) + " " + bank.patches[0].name);
  return midiOut;
}

bool RecordingHost::requestProgram(int slot, int targetSlot, bool toEditor) {
  calls.push_back("request " + std::to_string(slot) + " into " + std::to_string(targetSlot) +
                  (toEditor ? " editor" : " librarian"));
  return midiOut;
}

bool RecordingHost::requestAllPrograms() {
  calls.push_back("request all");
  return midiOut;
}

bool RecordingHost::syncCurrentFromHardware() {
  calls.push_back("sync");
  return midiOut;
}

bool RecordingHost::pushCurrentToHardware() {
  calls.push_back("push");
  return midiOut;
}

bool RecordingHost::initializeCurrentProgram() {
  calls.push_back("initialize");
  return true;
}

// ---- DataFolder ----

DataFolder::DataFolder() {
  // In memory where the machine has it: the tests write thousands of bank files.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/vexmir-libui-XXXXXX";
  root = mkdtemp(pattern.data()) ? pattern : "/tmp";
  setenv("VEXMIR_ROOT", root.c_str(), 1);
  patches = root + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches";
  std::filesystem::create_directories(patches);
}

DataFolder::~DataFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

void DataFolder::write(const std::string& relative, const Bytes& bytes) const {
  const std::filesystem::path path = patches + "/" + relative;
  std::filesystem::create_directories(path.parent_path());
  vectors::writeFile(path.string(), bytes);
}

TwoBanks::TwoBanks() {
  data.write("A.syx", bankBytes(1));
  data.write("B.syx", bankBytes(2));
}

// ---- LibrarianTab ----

namespace {

int scaled(int v, double scale) {
  return static_cast<int>(v * scale);
}

// The slot area's picture: a panel with a darker well behind each column of slots.
PIX_IBitmap* slotAreaPicture(double scale, int w, int h) {
  auto* bm = new PIX_MemBitmap(w, h);
  PIX_FillRect(bm, 0, 0, w, h, PIX_RGBA(34, 37, 43, 255), 1.0f, PIX_BLIT_MODE_COPY);
  const int rowH = static_cast<int>(16 * scale), gap = static_cast<int>(30 * scale);
  const int slotW = scale == 1.0 ? 97 : static_cast<int>(98 * scale);
  const int tops[2] = {1, scale < 1.0    ? static_cast<int>(303 * scale) + 2
                          : scale == 1.0 ? 303
                                         : static_cast<int>(303 * scale) + 1};
  for (int side = 0; side < 2; ++side)
    for (int c = 0; c < 8; ++c) {
      const int left = gap + c * (slotW + gap);
      PIX_FillRect(bm, left - 2, tops[side] - 1, slotW + 4, 16 * rowH + 2, PIX_RGBA(20, 22, 26, 255), 1.0f,
                   PIX_BLIT_MODE_COPY);
      for (int r = 1; r < 16; r += 2)
        PIX_FillRect(bm, left, tops[side] + r * rowH, slotW, rowH, PIX_RGBA(26, 29, 34, 255), 1.0f, PIX_BLIT_MODE_COPY);
    }
  return bm;
}

}  // namespace

LibrarianTab::LibrarianTab(double s, const std::string& patchesFolder)
    : scale(s),
      g(*new LibGraphics{&plug, scaled(1500, s), scaled(667, s)}),
      librarian(nullptr),
      editor(&plug, &librarian, &host) {
  plug.editor = &editor;
  if (!patchesFolder.empty()) editor.patchesFolder = patchesFolder;
  librarian.lowerBankIndex = 0;
  librarian.loadPatchesFromFilesystem(editor.patchesFolder);

  const int gap = static_cast<int>(30 * s), rowH = static_cast<int>(16 * s);
  const int slotW = s == 1.0 ? 97 : static_cast<int>(98 * s);
  const int viewW = gap + 8 * (slotW + gap);
  const int viewH = (s == 1.0 ? 303 : static_cast<int>(303 * s) + 2) + 16 * rowH + 2;
  // The bitmap cache is the process's: each scale's picture needs a name (and id) of its own.
  const int percent = static_cast<int>(s * 100);
  const std::string picture = "resources/img/libview-" + std::to_string(percent) + ".png";
  g.images[picture] = [s, viewW, viewH] { return slotAreaPicture(s, viewW, viewH); };
  plug.AttachGraphics(&g);
  g.LoadIBitmap(3000 + percent, picture.c_str(), 1.0, 1);
  IBitmap viewBitmap = g.getImageById(3000 + percent, 1);
  const int x = scaled(420, s), y = scaled(62, s);

  auto makeLayer = [&](int id, const char* name) {
    auto* layer = new ControlLayer(id, name);
    g.AttachLayer(layer);
    host.layers[name] = layer;
    return layer;
  };
  // As the description builds the tab: the picture of the slots and the two bank list fields.
  ControlLayer* tab = makeLayer(60, "patchLibrarian");
  tab->controls.Add(new IBitmapControl(&plug, x, y, -1, &viewBitmap));
  const IColor white(255, 230, 230, 230);
  IText listStyle(static_cast<int>(13 * s), &white, "DejaVu Sans", IText::kStyleNormal, IText::kAlignNear);
  upperList = new ICaptionControl(&plug, IRECT(scaled(414, s), scaled(39, s), scaled(829, s), scaled(55, s)),
                                  kPatchSelectionListUpper, &listStyle, false);
  lowerList = new ICaptionControl(&plug, IRECT(scaled(414, s), scaled(342, s), scaled(829, s), scaled(360, s)),
                                  kPatchSelectionListLower, &listStyle, false);
  tab->controls.Add(upperList);
  tab->controls.Add(lowerList);
  int id = 80;
  for (const char* name : {"patchRename", "saveChangesLayer", "discardChangesLayerRight", "keepBankOpenLayer",
                           "searchField", "aboutWindow"})
    makeLayer(id++, name);
  const IColor panel(255, 48, 52, 60);
  g.AttachPanelBackground(&panel);

  // The editor's own part of the tab, over the description's rectangle of the slot picture.
  const IRECT described(420, 62, 420 + static_cast<int>(viewW / s), 62 + static_cast<int>(viewH / s));
  for (ControlLayer* layer : editor.buildTab(&g, s, described, kLibrarianArea, tab))
    host.layers[layer->getName()] = layer;
  view = editor.view();
  upper = static_cast<LeftPatchPopupMenu*>(host.layers["LeftPatchPopupMenu"]->controls.Get(0));
  lower = static_cast<RightPatchPopupMenu*>(host.layers["RightPatchPopupMenu"]->controls.Get(0));
  search = static_cast<RightSearchPopupMenu*>(host.layers["RightSearchPopupMenu"]->controls.Get(0));
  menu = static_cast<BankEditPopupMenu*>(host.layers["BANKEDITMENU"]->controls.Get(0));
  tab->Hide(false);
  host.layers["BANKEDITMENU"]->Hide(false);
  editor.librarianTabShown(true);
}

LibrarianTab::~LibrarianTab() {
  plug.editor = nullptr;
}

int LibrarianTab::slotX(int side, int slot) const {
  const IRECT r = view->slotRect(side, slot);
  return (r.L + r.R) / 2;
}

int LibrarianTab::slotY(int side, int slot) const {
  const IRECT r = view->slotRect(side, slot);
  return (r.T + r.B) / 2;
}

void LibrarianTab::click(int side, int slot, bool right) {
  IMouseMod mod(!right, right);
  g.OnMouseDown(slotX(side, slot), slotY(side, slot), &mod);
  g.OnMouseUp(slotX(side, slot), slotY(side, slot), &mod);
}

void LibrarianTab::chooseUpper(const std::vector<std::string>& path) {
  g.menuPath = path;
  IMouseMod mod(true);
  g.OnMouseDown(scaled(500, scale), scaled(45, scale), &mod);
  g.OnMouseUp(scaled(500, scale), scaled(45, scale), &mod);
}

void LibrarianTab::chooseLower(const std::vector<std::string>& path) {
  g.menuPath = path;
  IMouseMod mod(true);
  g.OnMouseDown(scaled(500, scale), scaled(350, scale), &mod);
  g.OnMouseUp(scaled(500, scale), scaled(350, scale), &mod);
}

void LibrarianTab::mainMenu(const std::vector<std::string>& path) {
  g.menuPath = path;
  IMouseMod mod(true);
  g.OnMouseDown(scaled(900, scale), scaled(45, scale), &mod);
  g.OnMouseUp(scaled(900, scale), scaled(45, scale), &mod);
}

TwoBanksTab::TwoBanksTab() {
  chooseUpper({"A.syx"});
  chooseLower({"B.syx"});
}

void TwoBanksTab::copyPaste(int from, int to) {
  g.menuPath = {"Copy"};
  click(1, from, true);
  g.menuPath = {"Paste"};
  click(0, to, true);
}

}  // namespace libui

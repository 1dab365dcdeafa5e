#include "src/UIConfigManager.h"

#include <tinyxml2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FileEncrypt/ResourceKey.h"
#include "FileEncrypt/Tea.h"
#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IGraphicsCaches.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/pix/pix-png.h"
#include "platform/cocoa/cfbundle.h"
#include "src/PictureControl.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"

namespace {

struct ImageRow {
  const char* name;
  int resourceId;
  const char* file;
  int frames;
  bool sideBySide;
};

const ImageRow kImageTable[] = {
#define VEXMIR_IMAGE(name, id, file, frames, sideBySide) {name, id, file, frames, sideBySide},
#include "resources/ImageTable.inc"
#undef VEXMIR_IMAGE
};

const std::vector<std::string> kNoValues;

std::string attr(const tinyxml2::XMLElement* node, const char* name) {
  const char* v = node->Attribute(name);
  return v ? v : "";
}

int intAttr(const tinyxml2::XMLElement* node, const char* name, int fallback = 0) {
  const char* v = node->Attribute(name);
  if (!v) return fallback;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  if (end == v) return fallback;
  return static_cast<int>(std::clamp<long>(n, -1000000, 1000000));
}

// Up to n numbers separated by ","; returns how many were read. Non-finite and absurd numbers are refused.
int getCSDoubles(const std::string& text, double* out, int n) {
  std::vector<std::string> tokens;
  UIConfigManager::Tokenize(text, tokens, ",");
  int read = 0;
  for (int i = 0; i < n && i < static_cast<int>(tokens.size()); ++i) {
    char* end = nullptr;
    const double v = std::strtod(tokens[i].c_str(), &end);
    if (end == tokens[i].c_str() || !std::isfinite(v) || std::fabs(v) > 1e6) continue;
    out[i] = v;
    ++read;
  }
  return read;
}

std::string trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Where the XML before position `cut` leaves elements open, closes them, so that a description damaged further on
// still gives what was read before the damage.
std::string closedPrefix(const std::string& text, size_t cut) {
  std::string prefix = text.substr(0, cut);
  std::vector<std::string> open;
  size_t i = 0;
  const size_t n = prefix.size();
  while (i < n) {
    if (prefix[i] != '<') {
      ++i;
      continue;
    }
    auto skipTo = [&](const char* end) {
      const size_t e = prefix.find(end, i);
      return e == std::string::npos ? std::string::npos : e + std::strlen(end);
    };
    size_t next;
    if (prefix.compare(i, 4, "<!--") == 0) {
      next = skipTo("-->");
    } else if (prefix.compare(i, 9, "<![CDATA[") == 0) {
      next = skipTo("]]>");
    } else if (prefix.compare(i, 2, "<?") == 0 || prefix.compare(i, 2, "<!") == 0) {
      next = skipTo(">");
    } else {
      const bool closing = i + 1 < n && prefix[i + 1] == '/';
      size_t p = i + (closing ? 2 : 1);
      const size_t nameStart = p;
      while (p < n && !std::isspace(static_cast<unsigned char>(prefix[p])) && prefix[p] != '>' && prefix[p] != '/') ++p;
      const std::string name = prefix.substr(nameStart, p - nameStart);
      char quote = 0;
      while (p < n && (quote || prefix[p] != '>')) {
        if (quote && prefix[p] == quote)
          quote = 0;
        else if (!quote && (prefix[p] == '"' || prefix[p] == '\''))
          quote = prefix[p];
        ++p;
      }
      if (p >= n) {
        next = std::string::npos;
      } else {
        next = p + 1;
        if (closing) {
          if (!open.empty() && open.back() == name) open.pop_back();
        } else if (prefix[p - 1] != '/' && !name.empty()) {
          open.push_back(name);
        }
      }
    }
    if (next == std::string::npos) {
      prefix.resize(i);
      break;
    }
    i = next;
  }
  for (auto it = open.rbegin(); it != open.rend(); ++it) prefix += "</" + *it + ">";
  return prefix;
}

size_t lineStart(const std::string& text, int line) {
  size_t pos = 0;
  for (int l = 1; l < line && pos < text.size(); ++l) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return text.size();
    pos = nl + 1;
  }
  return pos;
}

size_t previousLineStart(const std::string& text, size_t pos) {
  if (pos <= 1) return 0;
  const size_t nl = text.rfind('\n', pos - 2);
  return nl == std::string::npos ? 0 : nl + 1;
}

// Parses the text; on an error logs its line and message and parses again the part before the damaged line, so
// that what was read is built. False when nothing usable remains.
template <typename Log>
bool parseTolerant(tinyxml2::XMLDocument& doc, const std::string& text, const char* what, Log log) {
  if (doc.Parse(text.c_str(), text.size()) == tinyxml2::XML_SUCCESS) return true;
  log(std::string("CONFIG READER: ") + what + " is not well-formed XML at line " + std::to_string(doc.ErrorLineNum()) +
      ": " + (doc.ErrorStr() ? doc.ErrorStr() : "") + "; building what was read before it");
  size_t cut = lineStart(text, doc.ErrorLineNum());
  for (int attempt = 0; attempt < 64 && cut > 0; ++attempt) {
    const std::string prefix = closedPrefix(text, cut);
    if (doc.Parse(prefix.c_str(), prefix.size()) == tinyxml2::XML_SUCCESS) return true;
    const size_t next = lineStart(prefix, doc.ErrorLineNum());
    cut = next < cut ? next : previousLineStart(text, cut);
  }
  doc.Clear();
  return false;
}

}  // namespace

UIConfigManager::UIConfigManager() = default;

UIConfigManager::~UIConfigManager() {
  if (!plug) return;
  for (int i = 0; i < kNumParams; ++i) {
    IParam* p = plug->GetParam(i);
    if (p) p->SetControlAction(nullptr);
  }
}

void UIConfigManager::log(const std::string& text) {
  messages.push_back(text);
  if (plug) plug->log(text);
}

void UIConfigManager::setContext(IGraphics* surface, Vexmir* plugin, int style, double scale) {
  graphics = surface;
  plug = plugin;
  uiStyle = style;
  uiScale = scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
}

void UIConfigManager::resourceKey(unsigned int key[4]) {
  teaResourceKey(key);
}

std::string UIConfigManager::decryptResource(const unsigned char* data, size_t size, std::string* tailMessage) {
  std::string text;
  if (!data) return text;
  unsigned int key[4];
  resourceKey(key);
  Tea tea;
  const size_t whole = size / 8 * 8;
  text.reserve(whole);
  for (size_t off = 0; off < whole; off += 8) {
    unsigned char block[8];
    std::memcpy(block, data + off, 8);
    tea.simpledecrypt(block, key);
    text.append(reinterpret_cast<const char*>(block), 8);
  }
  if (whole != size && tailMessage)
    *tailMessage = "CONFIG READER: resource of " + std::to_string(size) +
                   " bytes is not made of whole 8-byte blocks; its last " + std::to_string(size - whole) +
                   " bytes were left out";
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

// The decrypted text of one of the bundle's resources; empty (and logged) when it is missing.
std::string UIConfigManager::loadResource(int id, const char* name) {
  char* data = graphics ? graphics->LoadFile(id, name) : nullptr;
  if (!data) {
    log(std::string("CONFIG READER: ") + name + " MISSING!");
    return "";
  }
  std::string tail;
  const std::string text = decryptResource(reinterpret_cast<unsigned char*>(data),
                                           static_cast<size_t>(graphics->GetLoadedFileSize()), &tail);
  delete[] data;
  if (!tail.empty()) log(tail);
  return text;
}

void UIConfigManager::readUIConfig(IGraphics* surface, Vexmir* plugin, PatchLibrarian*, int style, double scale) {
  setContext(surface, plugin, style, scale);
  if (!graphics) return;
  initImages();
  readSysexValues();
  readUIConfigText(loadResource(kUIConfigResourceId, kUIConfigResource));
}

void UIConfigManager::readSysexValues() {
  if (graphics) readSysexText(loadResource(kSysExResourceId, kSysExResource));
}

void UIConfigManager::readSysexText(const std::string& xml) {
  tinyxml2::XMLDocument doc;
  if (!parseTolerant(doc, xml, "the SysEx description", [this](const std::string& m) { log(m); })) return;
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (!root) return;
  auto lineValues = [](const tinyxml2::XMLElement* line) {
    Values v;
    const char* t = line->GetText();
    std::vector<std::string> parts;
    Tokenize(t ? t : "", parts, "|");
    for (const std::string& p : parts) {
      const std::string s = trimmed(p);
      if (!s.empty()) v.push_back(s);
    }
    return v;
  };
  for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Name(), "entry") != 0) continue;
    SysExContainer entry;
    entry.name = attr(e, "name");
    entry.multi = intAttr(e, "multi") != 0;
    for (const tinyxml2::XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (std::strcmp(c->Name(), "line") == 0) {
        entry.values.push_back(lineValues(c));
      } else if (std::strcmp(c->Name(), "group") == 0) {
        std::vector<Values> group;
        for (const tinyxml2::XMLElement* l = c->FirstChildElement("line"); l; l = l->NextSiblingElement("line"))
          group.push_back(lineValues(l));
        entry.multiValues.push_back(group);
      }
    }
    sysexList.push_back(entry);
  }
}

void UIConfigManager::readUIConfigText(const std::string& xml) {
  tinyxml2::XMLDocument doc;
  if (!parseTolerant(doc, xml, "the user-interface description", [this](const std::string& m) { log(m); })) return;
  tinyxml2::XMLElement* root = doc.RootElement();
  if (!root) return;
  // Value lists and styles first, wherever they stand among the top-level elements.
  for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Name(), "valueList") == 0) {
      std::vector<std::string>& list = valueLists[attr(e, "name")];
      list.clear();
      for (const tinyxml2::XMLElement* item = e->FirstChildElement("item"); item;
           item = item->NextSiblingElement("item"))
        list.push_back(item->GetText() ? item->GetText() : "");
    } else if (std::strcmp(e->Name(), "style") == 0 && uiStyle == 1 && attr(e, "name") == "black") {
      for (const tinyxml2::XMLElement* a = e->FirstChildElement("imageAlias"); a;
           a = a->NextSiblingElement("imageAlias")) {
        const std::string use = attr(a, "use");
        if (images.count(use))
          imageAliases[attr(a, "name")] = use;
        else
          log("CONFIG READER: style image " + use + " MISSING!");
      }
    }
  }
  decodePictures(root);
  readLayerChildren(root, nullptr, -1, "");
}

// Decoding the pictures is most of the editor's start-up; the ones the description names (and the background and
// overlay the editor object attaches) are decoded side by side on a few threads and put into the bitmap cache,
// where the factories then find them. Only at the pictures' own size: other scales take the cache's way.
void UIConfigManager::decodePictures(const tinyxml2::XMLElement* root) {
  auto* mac = dynamic_cast<IGraphicsMac*>(graphics);
  cocoa::Bundle* bundle = mac ? cocoa::Bundle::withIdentifier(mac->GetBundleID()) : nullptr;
  if (!bundle || uiScale != 1.0) return;
  std::set<std::string> names{"BG_ID", "OVERLAYER_ID"};
  std::vector<const tinyxml2::XMLElement*> stack{root};
  while (!stack.empty()) {
    const tinyxml2::XMLElement* e = stack.back();
    stack.pop_back();
    if (const char* image = e->Attribute("imageId")) names.insert(image);
    for (const tinyxml2::XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) stack.push_back(c);
  }
  struct Job {
    int id;
    std::string path;
    PIX_IBitmap* bitmap = nullptr;
  };
  std::vector<Job> jobs;
  std::set<int> queued;
  for (std::string name : names) {
    auto alias = imageAliases.find(name);
    if (alias != imageAliases.end()) name = alias->second;
    auto it = images.find(name);
    if (it == images.end() || s_bitmapCache.Find(it->second.resourceId) || !queued.insert(it->second.resourceId).second)
      continue;
    const std::string file = it->second.file;
    const size_t dot = file.rfind('.');
    const std::string path =
        bundle->pathForResource(file.substr(0, dot), dot == std::string::npos ? "" : file.substr(dot + 1));
    if (!path.empty()) jobs.push_back(Job{it->second.resourceId, path});
  }
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < jobs.size(); i = next++) jobs[i].bitmap = PIX_LoadPNG(jobs[i].path.c_str());
  };
  const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < cores && t < jobs.size(); ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  for (Job& job : jobs) {
    if (!job.bitmap) continue;
    if (s_bitmapCache.Find(job.id))
      delete job.bitmap;
    else
      s_bitmapCache.Add(job.bitmap, job.id);
  }
}

void UIConfigManager::readLayerChildren(tinyxml2::XMLElement* parent, ControlLayer* layer, int timbre,
                                        const std::string& suffix) {
  // Far deeper than any editor needs; a description nested deeper is damaged and would only exhaust the stack.
  constexpr int kMaxLayerDepth = 32;
  if (layerDepth >= kMaxLayerDepth) {
    log("CONFIG READER: layers nested deeper than " + std::to_string(kMaxLayerDepth) + " at line " +
        std::to_string(parent->GetLineNum()) + "; skipped");
    return;
  }
  ++layerDepth;
  for (tinyxml2::XMLElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
    const char* tag = e->Name();
    if (std::strcmp(tag, "layer") == 0) {
      readLayer(e, layer, timbre, suffix);
    } else if (std::strcmp(tag, "multilayer") == 0) {
      if (timbre < 0) {
        readMultiLayer(e, layer, suffix);
      } else {
        log("CONFIG READER: multilayer inside a timbre copy at line " + std::to_string(e->GetLineNum()) +
            " built as a plain layer");
        readLayer(e, layer, timbre, suffix);
      }
    } else if (std::strcmp(tag, "image") == 0 || std::strcmp(tag, "librarianView") == 0) {
      placingOverlay = intAttr(e, "overlay") != 0;
      readPicture(e, layer, std::strcmp(tag, "librarianView") == 0);
      placingOverlay = false;
    } else if (std::strcmp(tag, "shared") == 0) {
      // Read by the multilayer that holds it, once for both timbres.
      if (timbre < 0)
        log("CONFIG READER: shared block outside a multilayer (line " + std::to_string(e->GetLineNum()) + ") skipped");
    } else if (std::strcmp(tag, "valueList") != 0 && std::strcmp(tag, "style") != 0) {
      placingOverlay = intAttr(e, "overlay") != 0;
      processXMLElement(e, layer, timbre);
      placingOverlay = false;
    }
  }
  --layerDepth;
}

void UIConfigManager::addLayer(ControlLayer* layer, ControlLayer* parent) {
  const std::string& name = layer->getName();
  if (!layers.emplace(name, layer).second)
    log("CONFIG READER: layer " + name + " defined twice; the first is found by name");
  if (parent)
    parent->childLayers.Add(layer);
  else if (graphics)
    graphics->AttachLayer(layer);
}

void UIConfigManager::readLayer(tinyxml2::XMLElement* node, ControlLayer* parent, int timbre,
                                const std::string& suffix) {
  auto* layer = new ControlLayer(intAttr(node, "id"), attr(node, "name") + suffix);
  layer->setSelectedZone(intAttr(node, "zone"));
  addLayer(layer, parent);
  if (intAttr(node, "overlay") != 0) overlayLayers.insert(layer);
  readLayerChildren(node, layer, timbre, suffix);
  // An overlay with nothing shown in its place must report its area when it hides, or its pixels stay.
  if (intAttr(node, "repaintWhenHidden") != 0) layer->setIgnoreHiddenWhenUpdatingScreen(true);
  if (intAttr(node, "visible") != 0) layer->Hide(false);
}

void UIConfigManager::readMultiLayer(tinyxml2::XMLElement* node, ControlLayer* parent, const std::string& suffix) {
  const std::string name = attr(node, "name") + suffix;
  auto* layer = new ControlLayer(intAttr(node, "id"), name);
  layer->setSelectedZone(intAttr(node, "zone"));
  addLayer(layer, parent);
  std::vector<std::string> copyNames;
  Tokenize(attr(node, "copyNames"), copyNames, ",");
  for (int t = 0; t < 2; ++t) {
    const std::string copyName =
        t < static_cast<int>(copyNames.size()) ? trimmed(copyNames[t]) : name + "Timbre" + std::to_string(t + 1);
    auto* copy = new ControlLayer(t, copyName);
    addLayer(copy, layer);
    readLayerChildren(node, copy, t, t == 1 ? "T2" : "");
  }
  // What exists once for the program (effects, arpeggiator, step texts, page pictures) is shown with the tab.
  for (tinyxml2::XMLElement* shared = node->FirstChildElement("shared"); shared;
       shared = shared->NextSiblingElement("shared"))
    readLayerChildren(shared, layer, -1, suffix);
  if (intAttr(node, "visible") != 0) layer->Hide(false);
}

void UIConfigManager::readPicture(tinyxml2::XMLElement* node, ControlLayer* layer, bool librarianView) {
  int pos[2] = {0, 0};
  getCSValues(attr(node, "position"), pos, 2);
  IBitmap bitmap = getImageByName(graphics, attr(node, "imageId"));
  if (librarianView) {
    librarianViewParam = paramIndexFromName(attr(node, "paramId"));
    const int w = uiScale > 0.0 ? static_cast<int>(bitmap.W / uiScale) : 0;
    const int h = uiScale > 0.0 ? static_cast<int>(bitmap.FrameHeight() / uiScale) : 0;
    librarianViewRect = IRECT(pos[0], pos[1], pos[0] + w, pos[1] + h);
  }
  place(new PictureControl(plug, static_cast<int>(pos[0] * uiScale), static_cast<int>(pos[1] * uiScale), &bitmap),
        layer);
}

ImageInfo UIConfigManager::getBackgroundImage() const {
  auto alias = imageAliases.find("BG_ID");
  auto it = images.find(alias != imageAliases.end() ? alias->second : "BG_ID");
  return it != images.end() ? it->second : ImageInfo{102, 1, false, "main-frame-bg.png"};
}

ControlLayer* UIConfigManager::getLayer(const std::string& name) const {
  auto it = layers.find(name);
  return it == layers.end() ? nullptr : it->second;
}

const std::vector<std::string>& UIConfigManager::getValueList(const std::string& name) const {
  auto it = valueLists.find(name);
  return it == valueLists.end() ? kNoValues : it->second;
}

IControl* UIConfigManager::getCCControl(int channel, int ccNumber, int subKey) const {
  return findCCControl(ccControls, channel, ccNumber, subKey);
}

IControl* UIConfigManager::getNRPNControl(int channel, int msb, int valueOffset, int lsb, int subKey) const {
  return nrpnControls.findControl(channel, msb, valueOffset, lsb, subKey);
}

IControl* UIConfigManager::getSysExControl(int byte0, int byte1, int byte2, int byte3, int key) const {
  return sysexControls.findControl(byte0, byte1, byte2, byte3, key);
}

// ---- Images ----

void UIConfigManager::initImages() {
  for (const ImageRow& row : kImageTable) preloadImage(row.name, row.resourceId, row.file, row.frames, row.sideBySide);
}

void UIConfigManager::preloadImage(const std::string& name, int resourceId, const std::string& file, int frames,
                                   bool sideBySide) {
  // The row is known from now on; the picture is decoded when the first control names it, so that pictures no
  // control of this style uses (the other colour scheme's) cost nothing at start-up.
  images[name] = ImageInfo{resourceId, frames < 1 ? 1 : frames, sideBySide, file};
}

IBitmap UIConfigManager::getImageByName(IGraphics* surface, std::string name) {
  auto alias = imageAliases.find(name);
  if (alias != imageAliases.end()) name = alias->second;
  auto it = images.find(name);
  if (it == images.end() || !surface) {
    log("CONFIG READER: Image " + name + " MISSING!");
    return IBitmap(nullptr, 0, 0, 1, false);
  }
  const ImageInfo& info = it->second;
  if (!loadedImages.count(info.resourceId)) {
    loadedImages.insert(info.resourceId);
    const std::string path = "resources/img/" + info.file;
    IBitmap bitmap = surface->LoadIBitmap(info.resourceId, path.c_str(), uiScale, info.frames, info.sideBySide);
    if (!bitmap.mData || bitmap.W <= 0 || bitmap.H <= 0) log("CONFIG READER: Image file " + path + " MISSING!");
    return bitmap;
  }
  return surface->getImageById(info.resourceId, info.frames, info.sideBySide, uiScale);
}

// ---- Attribute helpers ----

void UIConfigManager::getCSValues(std::string text, int* out, int n) {
  if (!out) return;
  std::vector<std::string> tokens;
  Tokenize(text, tokens, ",");
  for (int i = 0; i < n && i < static_cast<int>(tokens.size()); ++i) {
    char* end = nullptr;
    const long v = std::strtol(tokens[i].c_str(), &end, 10);
    if (end != tokens[i].c_str()) out[i] = static_cast<int>(std::clamp<long>(v, -1000000, 1000000));
  }
}

void UIConfigManager::getBiDirectLinkValues(std::string text, int out[3], int timbre) {
  out[0] = out[1] = out[2] = -1;
  std::vector<std::string> tokens;
  Tokenize(text, tokens, ",");
  if (tokens.size() < 2) return;
  const int offset = timbre > 0 ? timbre : 0;
  const int a = paramIndexFromName(tokens[0]), b = paramIndexFromName(tokens[1]);
  out[0] = a < 0 ? -1 : a + offset;
  out[1] = b < 0 ? -1 : b + offset;
  if (tokens.size() == 3) out[2] = std::atoi(tokens[2].c_str());
}

const char* UIConfigManager::getParamGroup(int timbre, std::string group) {
  if (timbre >= 0)
    groupLabel = "Timbre " + std::to_string(timbre + 1) + (group.empty() ? "" : ":" + group);
  else
    groupLabel = group;
  return groupLabel.c_str();
}

// ---- The element reader ----

void UIConfigManager::processXMLElement(tinyxml2::XMLElement* node, ControlLayer* layer, int timbre) {
  if (!node) return;
  const std::string tag = node->Name();
  const std::string where = " (line " + std::to_string(node->GetLineNum()) + ")";
  static const char* const kControlTags[] = {"knobcontrol", "buttoncontrol", "menucontrol", "slidercontrol"};
  const bool isControl = std::find_if(std::begin(kControlTags), std::end(kControlTags),
                                      [&](const char* t) { return tag == t; }) != std::end(kControlTags);
  if (!isControl && tag != "switch" && tag != "autooff" && tag != "radio" && tag != "dropMenu" && tag != "multiFx" &&
      tag != "display") {
    log("CONFIG READER: unknown element " + tag + where + " skipped");
    return;
  }

  const std::string ref = attr(node, "paramId");
  const int base = paramIndexFromName(ref);
  const int paramIdx = base < 0 ? -1 : base + (timbre > 0 ? timbre : 0);
  if (base < 0 || paramIdx >= kNumParams) {
    log("CONFIG READER: " + tag + where + " names no parameter of 0.." + std::to_string(kNumParams - 1) + " (\"" + ref +
        "\"); element skipped");
    return;
  }

  const std::string name = attr(node, "name");
  const std::string type = attr(node, "type");
  const std::string group = attr(node, "paramGroup");
  const std::string image = attr(node, "imageId");
  int pos[4] = {0, 0, 0, 0};
  getCSValues(attr(node, "position"), pos, 4);
  int bounds[4] = {0, 0, 0, 0};
  getCSValues(attr(node, "bounds"), bounds, 4);
  double vb[4] = {0.0, 0.0, 0.0, 1.0};
  const int nBounds = getCSDoubles(attr(node, "valueBounds"), vb, 4);
  int valueDisplay[2] = {-1, -1};
  {
    std::vector<std::string> parts;
    Tokenize(attr(node, "valueDisplay"), parts, ":");
    if (parts.size() == 2) {
      valueDisplay[0] = std::atoi(parts[0].c_str());
      valueDisplay[1] = std::atoi(parts[1].c_str());
    }
  }
  int linkValues[3];
  getBiDirectLinkValues(attr(node, "biDirectLink"), linkValues, timbre);
  // A link runs both ways from the element of the timbre-1 copy; the timbre-2 copy of the same element would
  // shift both ends once more and tie the partner to an unrelated parameter, so it takes only the link back.
  const LinkInfo link = timbre == 1 ? LinkInfo{} : LinkInfo{linkValues[0], linkValues[1], linkValues[2]};
  const std::string listName = attr(node, "valueList");
  const std::vector<std::string>& texts = getValueList(listName);
  if (!listName.empty() && !valueLists.count(listName))
    log("CONFIG READER: value list " + listName + where + " MISSING!");
  const int cc = intAttr(node, "ccNumber");
  const int channel = intAttr(node, "channel");
  const int msb = intAttr(node, "msbValue"), lsb = intAttr(node, "lsbValue"), lsbControl = intAttr(node, "lsbControl");
  const int sysexIndex = intAttr(node, "sysexIndex");
  const int changingByte = intAttr(node, "changingByte");
  const int zeroVal = intAttr(node, "msgZeroVal");
  const double onValue = nBounds >= 3 ? vb[2] : 127.0;

  if (isControl) {
    if (type == "ccKnob")
      createCCKnobControl(cc, channel, name, paramIdx, pos[0], pos[1], image, vb[0], vb[1], vb[2], vb[3], link, timbre,
                          layer, group);
    else if (type == "msbLsbKnob")
      createMsbLsbKnobControl(cc, msb, lsb, lsbControl, channel, name, paramIdx, pos[0], pos[1], image, vb[0], vb[1],
                              vb[2], vb[3], link, timbre, layer, group);
    else if (type == "seKnob")
      createSysExKnobControl(name, paramIdx, pos[0], pos[1], image, vb[0], vb[1], vb[2], vb[3], zeroVal, sysexIndex,
                             changingByte, timbre, link, layer, group);
    else if (type == "seKnob2")
      createSysExKnobControl2(name, paramIdx, pos[0], pos[1], image, vb[0], vb[1], vb[2], vb[3], zeroVal, sysexIndex,
                              changingByte, timbre, link, layer, group);
    else if (type == "ccButton")
      createCCBoolControl(cc, channel, name, paramIdx, pos[0], pos[1], image, vb[0], vb[1], onValue, link, timbre,
                          layer, group);
    else if (type == "msbLsbButton")
      createMsbLsbBoolControl(cc, msb, lsb, lsbControl, channel, name, paramIdx, pos[0], pos[1], image, vb[0], vb[1],
                              onValue, link, timbre, layer, group);
    else if (type == "seButton")
      createSysExBoolControl(name, paramIdx, pos[0], pos[1], image, vb[0], zeroVal, sysexIndex, changingByte, timbre,
                             link, layer, group);
    else if (type == "ccMenu")
      createMultiSelectionCCControl(cc, channel, name, paramIdx, pos[0], pos[1], pos[2], 13, vb[0], vb[1], vb[2],
                                    valueDisplay[0], valueDisplay[1], texts, timbre, layer, group);
    else if (type == "msbLsbMenu")
      createMsbLsbSelectionCCControl(cc, msb, lsb, lsbControl, channel, name, paramIdx, pos[0], pos[1], pos[2], 13,
                                     vb[0], vb[1], vb[2], valueDisplay[0], valueDisplay[1], texts, timbre, layer,
                                     group);
    else if (type == "seMenu")
      createMultiSelectionSysExControl(name, paramIdx, pos[0], pos[1], pos[2], 13, vb[0], vb[1], vb[2], valueDisplay[0],
                                       valueDisplay[1], texts, zeroVal, attr(node, "color"), sysexIndex, changingByte,
                                       timbre, layer, group);
    else if (type == "ccSliderVer" || type == "ccSliderHor")
      createCCSliderControl(cc, channel, name, paramIdx, pos[0], pos[1], intAttr(node, "length"), image, vb[0], vb[1],
                            vb[2], link, timbre, layer, group, type == "ccSliderVer" ? kVertical : kHorizontal, false);
    else if (type == "seSliderVer" || type == "seSliderHor")
      createSysExSliderControl(name, paramIdx, pos[0], pos[1], intAttr(node, "length"), image, vb[0], vb[1], vb[2],
                               vb[3], zeroVal, sysexIndex, changingByte, timbre, link, layer, group,
                               type == "seSliderVer" ? kVertical : kHorizontal, false);
    else
      log("CONFIG READER: " + tag + where + " has unknown type \"" + type + "\"; skipped");
  } else if (tag == "switch") {
    createBoolControl(name, paramIdx, static_cast<int>(vb[0]), pos[0], pos[1], image, timbre, layer, group);
  } else if (tag == "autooff") {
    createSwitchControl(name, paramIdx, static_cast<int>(vb[0]), pos[0], pos[1], image, timbre, layer, group);
  } else if (tag == "radio") {
    createRadioControl(name, paramIdx, pos[0], pos[1], image, intAttr(node, "buttons"), timbre, layer, group);
  } else if (tag == "dropMenu") {
    if (type == "textSelection") {
      createDropDownMenu(name, paramIdx, bounds[0], bounds[1], bounds[2], bounds[3], timbre, layer, group);
    } else if (type == "deviceSelection") {
      int inputDev[2] = {0, 0};
      getCSValues(attr(node, "inputDev"), inputDev, 2);
      createMIDIDeviceSelectionControl("MIDI Setup", paramIdx, bounds[0], bounds[1], bounds[2], bounds[3], inputDev[0],
                                       timbre, layer, group);
    } else if (type == "nameSelection") {
      createNameDisplay(name, paramIdx, bounds[0], bounds[1], bounds[2], bounds[3], intAttr(node, "nameLen"), timbre,
                        layer, group);
    } else if (type == "dropSelection") {
      createDropDownMenu2(name, paramIdx, bounds[0], bounds[1], bounds[2], bounds[3], std::trunc(vb[0]),
                          std::trunc(vb[1]), std::trunc(vb[2]), texts, timbre, layer, group);
    } else {
      log("CONFIG READER: dropMenu" + where + " has unknown type \"" + type + "\"; skipped");
    }
  } else if (tag == "multiFx") {
    if (type == "Knob")
      createNoValKnobControl(name, paramIdx, pos[0], pos[1], image, vb[0], vb[1], vb[2], vb[3], timbre, layer, group,
                             texts);
    else if (type == "Menu")
      createNoValDropDown(name, paramIdx, pos[0], pos[1], pos[2], pos[3], vb[0], vb[1], vb[2], valueDisplay[0],
                          valueDisplay[1], intAttr(node, "visible"), texts, timbre, layer, group,
                          intAttr(node, "white") != 0);
    else
      log("CONFIG READER: multiFx" + where + " has unknown type \"" + type + "\"; skipped");
  } else if (tag == "display") {
    int size[1] = {0};
    getCSValues(attr(node, "displaySize"), size, 1);
    createControlDisplay("Display", paramIdx, bounds[0], bounds[1], bounds[2], bounds[3], timbre, layer, group,
                         size[0]);
  }

  IParam* param = plug ? plug->GetParam(paramIdx) : nullptr;
  ControlAction* action = param ? param->GetControlAction() : nullptr;
  if (action) {
    const int ch = node->Attribute("channel") ? channel : 0;
    action->timbre = timbre >= 0 ? timbre : ch - 1;
    // The bound factories link their own controls; switches and unbound knobs (the section locks, timbre tune,
    // bend range and transposition) take the link here.
    if (tag == "switch" || tag == "multiFx") applyLink(action, paramIdx, link);
  }
}

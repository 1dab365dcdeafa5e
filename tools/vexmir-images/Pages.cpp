#include "tools/vexmir-images/Pages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "tools/vexmir-images/Canvas.h"
#include "tools/vexmir-images/Theme.h"

namespace images {

namespace {

bool splitWords(const std::string& text, std::vector<std::string>* words) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size() || text[i] == '#') break;
    std::string w;
    if (text[i] == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string::npos) return false;
      w = text.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < text.size() && text[i] != ' ' && text[i] != '\t') w += text[i++];
    }
    words->push_back(w);
  }
  return true;
}

int num(const LayoutCommand& c, size_t i) {
  return i < c.args.size() ? std::atoi(c.args[i].c_str()) : 0;
}

const std::string& word(const LayoutCommand& c, size_t i) {
  static const std::string empty;
  return i < c.args.size() ? c.args[i] : empty;
}

unsigned themeColor(const Theme& t, const std::string& name) {
  if (name == "title") return t.titleText;
  if (name == "dim") return t.dimText;
  if (name == "accent") return t.accent;
  if (name == "accent2") return t.accent2;
  if (name == "dark") return 0x323C46;
  if (name == "edge") return t.panelEdge;
  if (name.size() == 6) return static_cast<unsigned>(std::strtoul(name.c_str(), nullptr, 16));
  return t.labelText;
}

Align alignOf(const std::string& a) {
  return a == "L" ? Align::Left : a == "R" ? Align::Right : Align::Centre;
}

// A page being drawn: its canvas, where it sits in the editor and its colours.
struct Page {
  std::unique_ptr<Canvas> canvas;
  int ox = 0, oy = 0;
  const Theme* theme = nullptr;
  std::string file;
};

// Draws one drawing command into a page; false for an unknown command.
bool drawCommand(const LayoutCommand& c, Page& p) {
  Canvas& cv = *p.canvas;
  const Theme& t = *p.theme;
  const int x = num(c, 0) - p.ox, y = num(c, 1) - p.oy, w = num(c, 2), h = num(c, 3);
  if (c.name == "fill") {
    cv.fill(x, y, w, h, rgb(themeColor(t, word(c, 4))));
  } else if (c.name == "clear") {
    cv.fill(x, y, w, h, rgb(t.frameBg, 0));
  } else if (c.name == "bar") {
    cv.gradient(x, y, w, h, rgb(t.barBg), rgb(t.frameBg));
    cv.fill(x, y + h - 1, w, 1, rgb(0x000000));
  } else if (c.name == "panel") {
    // A section: rounded body, a title strip with the section's name, and an accent tick on the left.
    cv.roundFill(x, y, w, h, 5, rgb(t.panelEdge));
    cv.roundFill(x + 1, y + 1, w - 2, h - 2, 4, rgb(t.panelBg));
    cv.fill(x + 1, y + 1 + 4, w - 2, 15, rgb(t.titleBg));
    cv.roundFill(x + 1, y + 1, w - 2, 10, 4, rgb(t.titleBg));
    cv.fill(x + 6, y + 5, 3, 12, rgb(themeColor(t, word(c, 5).empty() ? "accent" : word(c, 5))));
    cv.text(word(c, 4), x + 13, y + 1, w - 40, 20, Face::Title, 12, rgb(t.titleText), Align::Left);
  } else if (c.name == "group") {
    // A quieter frame inside a panel, with its name over the top line.
    cv.roundFrame(x, y, w, h, 4, rgb(t.panelEdge));
    const std::string& title = word(c, 4);
    if (!title.empty()) {
      int tw = cv.textWidth(title, Face::Label, 11) + 8;
      cv.fill(x + 8, y - 6, tw, 12, rgb(t.panelBg));
      cv.text(title, x + 12, y - 7, tw, 14, Face::Label, 11, rgb(t.dimText), Align::Left);
    }
  } else if (c.name == "label") {
    cv.text(word(c, 7), x, y, w, h, Face::Label, num(c, 4), rgb(themeColor(t, word(c, 6))), alignOf(word(c, 5)));
  } else if (c.name == "mono") {
    cv.text(word(c, 7), x, y, w, h, Face::MonoBold, num(c, 4), rgb(themeColor(t, word(c, 6))), alignOf(word(c, 5)));
  } else if (c.name == "title") {
    cv.text(word(c, 6), x, y, w, h, Face::Title, num(c, 4), rgb(themeColor(t, word(c, 5))), Align::Left);
  } else if (c.name == "well") {
    const std::string& kind = word(c, 4);
    if (kind == "lcd") {
      cv.roundFill(x, y, w, h, 3, rgb(t.lcdEdge));
      cv.roundFill(x + 1, y + 1, w - 2, h - 2, 2, rgb(t.lcd));
      cv.fill(x + 2, y + 2, w - 4, 1, rgb(0x9DAA97));
    } else {
      cv.roundFill(x, y, w, h, 3, rgb(t.wellEdge));
      cv.roundFill(x + 1, y + 1, w - 2, h - 2, 2, rgb(t.well));
      if (kind == "menu") {
        // A small down arrow at the right tells that the field opens a list.
        const int ax = x + w - 9, ay = y + h / 2 - 1;
        PIX_FillTriangle(cv.bitmap(), ax - 3, ay - 1, ax + 3, ay - 1, ax, ay + 2, rgb(t.dimText), 1.0f, 0);
      }
    }
  } else if (c.name == "hline") {
    cv.fill(x, y, w, 1, rgb(themeColor(t, word(c, 3))));
  } else if (c.name == "vline") {
    cv.fill(x, y, 1, w, rgb(themeColor(t, word(c, 3))));
  } else if (c.name == "slot") {
    // A librarian slot cell: number at the left, the name field beside it.
    cv.fill(x, y, w, h, rgb(num(c, 4) % 2 ? 0x1E2227 : 0x23282E));
  } else {
    return false;
  }
  return true;
}

bool isPreviewCommand(const std::string& name) {
  return name == "ctl" || name == "ctltext" || name == "tab";
}

}  // namespace

bool readLayout(const std::string& path, std::vector<LayoutCommand>* out) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "vexmir-images: cannot read %s\n", path.c_str());
    return false;
  }
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    LayoutCommand c;
    c.line = line;
    std::vector<std::string> words;
    if (!splitWords(text, &words)) {
      std::fprintf(stderr, "vexmir-images: %s:%d: unterminated quote\n", path.c_str(), line);
      return false;
    }
    if (words.empty()) continue;
    c.name = words[0];
    c.args.assign(words.begin() + 1, words.end());
    out->push_back(c);
  }
  return true;
}

bool drawPages(const std::vector<LayoutCommand>& layout, const std::string& dir) {
  // "page FILE BLACKFILE W H X Y" starts a page; every drawing command until the next page goes into it, and
  // is drawn once more with the black scheme when a black file is named ("-" for none).
  bool ok = true;
  size_t i = 0;
  while (i < layout.size()) {
    const LayoutCommand& pc = layout[i];
    if (pc.name != "page") {
      if (!isPreviewCommand(pc.name)) {
        std::fprintf(stderr, "vexmir-images: line %d: '%s' outside a page\n", pc.line, pc.name.c_str());
        return false;
      }
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < layout.size() && layout[end].name != "page") ++end;
    for (int scheme = 0; scheme < 2; ++scheme) {
      const std::string& file = word(pc, scheme);
      if (file.empty() || file == "-") continue;
      Page p;
      p.canvas = std::make_unique<Canvas>(num(pc, 2), num(pc, 3));
      p.ox = num(pc, 4);
      p.oy = num(pc, 5);
      p.theme = scheme ? &blackTheme() : &normalTheme();
      p.canvas->clear(rgb(p.theme->frameBg));
      // "patch FILE BLACKFILE X Y W H" ... "endpatch": a picture of its own that starts as that piece of the page
      // drawn so far and takes the commands in between, which the page does not get (what one of two
      // alternative layers shows over a common area).
      Page patch;
      Page* target = &p;
      for (size_t k = i + 1; k < end; ++k) {
        const LayoutCommand& c = layout[k];
        if (isPreviewCommand(c.name) || c.name == "crop") continue;
        if (c.name == "patch") {
          patch.canvas = std::make_unique<Canvas>(num(c, 4), num(c, 5));
          patch.ox = num(c, 2);
          patch.oy = num(c, 3);
          patch.theme = p.theme;
          PIX_Blit(patch.canvas->bitmap(), p.canvas->bitmap(), 0, 0, patch.ox - p.ox, patch.oy - p.oy, num(c, 4),
                   num(c, 5), 1.0f, 0);
          patch.file = word(c, scheme);
          target = &patch;
          continue;
        }
        if (c.name == "endpatch") {
          if (target == &patch && !patch.file.empty() && patch.file != "-")
            ok &= writePng(patch.canvas->bitmap(), dir + "/" + patch.file);
          target = &p;
          continue;
        }
        if (!drawCommand(c, *target)) {
          std::fprintf(stderr, "vexmir-images: line %d: unknown command '%s'\n", layout[k].line,
                       layout[k].name.c_str());
          return false;
        }
      }
      if (!writePng(p.canvas->bitmap(), dir + "/" + file)) {
        std::fprintf(stderr, "vexmir-images: cannot write %s/%s\n", dir.c_str(), file.c_str());
        ok = false;
      }
      // "crop FILE BLACKFILE X Y W H": a piece of the finished page as a picture of its own (the patches that
      // repaint a switchable area of the page).
      for (size_t k = i + 1; k < end; ++k) {
        const LayoutCommand& c = layout[k];
        if (c.name != "crop" || word(c, scheme).empty() || word(c, scheme) == "-") continue;
        const int cw = num(c, 4), ch = num(c, 5);
        PIX_MemBitmap piece(cw, ch, 4);
        PIX_Blit(&piece, p.canvas->bitmap(), 0, 0, num(c, 2) - p.ox, num(c, 3) - p.oy, cw, ch, 1.0f, 0);
        ok &= writePng(&piece, dir + "/" + word(c, scheme));
      }
    }
    i = end;
  }
  return ok;
}

bool drawPreviews(const std::vector<LayoutCommand>& layout, const std::string& dir, const std::string& prefix) {
  // "tab NAME" lines name the previews; "ctl TABS FILE FRAMES FRAME X Y" blits one frame of a control image,
  // "ctltext TABS X Y W H SIZE COLOR TEXT" writes a menu's or display's sample text; TABS is a comma list or "*".
  std::vector<std::string> tabs;
  for (const LayoutCommand& c : layout)
    if (c.name == "tab") tabs.push_back(word(c, 0));
  std::map<std::string, std::unique_ptr<PIX_IBitmap>> images;
  auto image = [&](const std::string& file) -> PIX_IBitmap* {
    auto& slot = images[file];
    if (!slot) slot.reset(PIX_LoadPNG((dir + "/" + file).c_str()));
    return slot.get();
  };
  auto onTab = [](const std::string& list, const std::string& tab) {
    if (list == "*") return true;
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, ','))
      if (item == tab) return true;
    return false;
  };
  bool ok = true;
  for (const std::string& tab : tabs) {
    Canvas out(1500, 667);
    if (PIX_IBitmap* bg = image("main-frame-bg.png")) PIX_Blit(out.bitmap(), bg, 0, 0, nullptr, 1.0f, 0);
    for (const LayoutCommand& c : layout) {
      if (c.name == "ctl" && onTab(word(c, 0), tab)) {
        PIX_IBitmap* bm = image(word(c, 1));
        if (!bm) {
          std::fprintf(stderr, "vexmir-images: line %d: no image %s\n", c.line, word(c, 1).c_str());
          ok = false;
          continue;
        }
        const int frames = std::max(1, num(c, 2)), fh = bm->getHeight() / frames;
        PIX_Blit(out.bitmap(), bm, num(c, 4), num(c, 5), 0, fh * num(c, 3), bm->getWidth(), fh, 1.0f,
                 PIX_BLIT_USE_SOURCE_ALPHA);
      } else if (c.name == "ctltext" && onTab(word(c, 0), tab)) {
        out.text(word(c, 7), num(c, 1), num(c, 2), num(c, 3), num(c, 4), Face::Mono, num(c, 5),
                 rgb(std::strtoul(word(c, 6).c_str(), nullptr, 16)));
      }
    }
    ok &= writePng(out.bitmap(), prefix + "-" + tab + ".png");
  }
  return ok;
}

bool drawContactSheet(const std::string& out, int columns, int width, const std::vector<std::string>& pictures) {
  if (columns < 1 || width < 16 || pictures.empty()) return false;
  std::vector<std::unique_ptr<PIX_IBitmap>> loaded;
  int cellH = 0;
  for (const std::string& file : pictures) {
    loaded.emplace_back(PIX_LoadPNG(file.c_str()));
    if (!loaded.back()) {
      std::fprintf(stderr, "vexmir-images: cannot read %s\n", file.c_str());
      return false;
    }
    cellH = std::max(cellH, loaded.back()->getHeight() * width / loaded.back()->getWidth());
  }
  const int gap = 8, caption = 18;
  const int rows = (static_cast<int>(pictures.size()) + columns - 1) / columns;
  Canvas sheet(gap + columns * (width + gap), gap + rows * (cellH + caption + gap));
  const Theme& t = normalTheme();
  sheet.clear(rgb(0x101113));
  for (size_t i = 0; i < pictures.size(); ++i) {
    const int x = gap + static_cast<int>(i % columns) * (width + gap);
    const int y = gap + static_cast<int>(i / columns) * (cellH + caption + gap);
    PIX_IBitmap* bm = loaded[i].get();
    const int h = bm->getHeight() * width / bm->getWidth();
    PIX_ScaledBlit(sheet.bitmap(), bm, x, y, width, h, 0.0f, 0.0f, static_cast<float>(bm->getWidth()),
                   static_cast<float>(bm->getHeight()), 1.0f, PIX_BLIT_FILTER_BILINEAR);
    std::string name = pictures[i].substr(pictures[i].find_last_of('/') + 1);
    name = name.substr(0, name.rfind('.'));
    sheet.text(name, x, y + h + 1, width, caption - 2, Face::Label, 12, rgb(t.labelText));
  }
  return writePng(sheet.bitmap(), out);
}

}  // namespace images

#include "src/PortMenu.h"

#include <algorithm>
#include <set>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/kitstring.h"
#include "src/Vexmir.h"

namespace {

const char* const kJoin = "…";
constexpr size_t kDisplayTextMax = IParam::kDisplayTextLen - 1;
// The end a shortened menu text keeps: room for the port part of most names.
constexpr size_t kKeptEnd = 24;

}  // namespace

std::vector<std::string> portMenuTexts(const std::vector<std::string>& names) {
  std::vector<std::string> texts;
  std::set<std::string> taken;
  for (const std::string& name : names) {
    std::string text = name;
    // Longer tails until the text differs from every one before it (two names that differ only in their middle).
    for (size_t tail = kKeptEnd; text.size() > kDisplayTextMax || taken.count(text); tail += 4) {
      const std::string end = KIT_UTF8Tail(name, std::min(tail, kDisplayTextMax - 4));
      text = KIT_UTF8Head(name, kDisplayTextMax - 3 - end.size()) + kJoin + end;
      if (tail >= kDisplayTextMax) break;
    }
    taken.insert(text);
    texts.push_back(text);
  }
  return texts;
}

void setPortMenuTexts(IParam* param, const std::vector<std::string>& names) {
  if (!param) return;
  const std::vector<std::string> texts = portMenuTexts(names);
  param->ResetDisplayTexts();
  for (size_t i = 0; i < texts.size(); ++i) param->SetDisplayText(static_cast<int>(i), texts[i].c_str());
  param->SetBounds(0.0, std::max<double>(1.0, static_cast<double>(texts.size()) - 1.0));
}

PortMenuControl::PortMenuControl(Vexmir* plug, IRECT rect, int paramIdx, IText* text)
    : ICaptionControl(plug, rect, paramIdx, text, true), vexmir_(plug) {}

void PortMenuControl::OnMouseDown(int x, int y, IMouseMod* mod) {
  if (mGrayed || !mod || !(mod->L || mod->R)) return;
  vexmir_->refreshPortMenus();
  if (const char* problem = vexmir_->midiSystemProblem()) vexmir_->displayStatus(problem);
  ICaptionControl::OnMouseDown(x, y, mod);
}

bool PortMenuControl::Draw(IGraphics* graphics) {
  IParam* param = GetParam();
  std::string name = param ? param->GetDisplayText(param->Int()) : "";
  // As every caption: the unit label after the text.
  const std::string label = std::string(" ") + (param ? param->GetLabelForHost() : "");
  if (name != fittedFrom_) {
    fittedFrom_ = name;
    auto fits = [&](const std::string& s) {
      IRECT r = mRECT;
      graphics->DrawIText(&mText, (s + label).c_str(), &r, true);
      return r.W() <= mRECT.W();
    };
    fitted_ = name;
    for (size_t k = KIT_UTF8Count(name); !fits(fitted_) && k-- > 2;)
      fitted_ = KIT_UTF8HeadChars(name, k / 2) + kJoin + KIT_UTF8TailChars(name, k - k / 2);
  }
  setString((fitted_ + label).c_str());
  return ITextControl::Draw(graphics);
}

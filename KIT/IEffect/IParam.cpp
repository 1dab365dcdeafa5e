#include "KIT/IEffect/IParam.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "KIT/kitstring.h"
#include "platform/graphics/coords.h"

namespace {

void copyText(char* dst, const char* src, int size) {
  KIT_UTF8Copy(dst, static_cast<size_t>(size), src);
}

}  // namespace

int IParam::WholeNumber(double v) {
  return platform::intCoord(v);
}

void IParam::initCommon(const char* name, const char* label, const char* group, double defaultVal, int int1, int int2) {
  copyText(mName, name, kNameLen);
  copyText(mLabel, label, kNameLen);
  copyText(mParamGroup, group, kNameLen);
  mDefault = defaultVal;
  Set(defaultVal);
  mInt1 = int1;
  mInt2 = int2;
}

void IParam::InitBool(const char* name, bool defaultVal, const char* label, const char* group, int int1, int int2) {
  if (mType == kTypeNone) mType = kTypeBool;
  initCommon(name, label, group, defaultVal ? 1.0 : 0.0, int1, int2);
  mMin = 0.0;
  mMax = 1.0;
  mStep = 1.0;
  mDisplayPrecision = 0;
  SetDisplayText(0, "off");
  SetDisplayText(1, "on");
}

void IParam::InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label, const char* group,
                     int int1, int int2) {
  if (mType == kTypeNone) mType = kTypeInt;
  initCommon(name, label, group, defaultVal, int1, int2);
  mMin = minVal;
  mMax = maxVal < minVal + 1 ? minVal + 1 : maxVal;
  mStep = 1.0;
  mDisplayPrecision = 0;
}

void IParam::InitEnum(const char* name, int defaultVal, int nEnums, const char* label, const char* group, int int1,
                      int int2) {
  if (mType == kTypeNone) mType = kTypeEnum;
  initCommon(name, label, group, defaultVal, int1, int2);
  mMin = 0.0;
  mMax = nEnums - 1 > 1 ? nEnums - 1 : 1;
  mStep = 1.0;
  mDisplayPrecision = 0;
}

void IParam::InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                        const char* label, const char* group, int int1, int int2) {
  if (mType == kTypeNone) mType = kTypeDouble;
  initCommon(name, label, group, defaultVal, int1, int2);
  mMin = minVal;
  mMax = maxVal < minVal + step ? minVal + step : maxVal;
  mStep = step;
  // Decimals shown: the fewest that make the step whole, tried by repeated multiplication so
  // that the result matches what the step looks like when typed (0.01 gives 2).
  int precision = 6;
  double s = step;
  for (int k = 0; k <= 5; ++k) {
    if (s == std::floor(s)) {
      precision = k;
      break;
    }
    s *= 10.0;
  }
  mDisplayPrecision = precision;
}

void IParam::SetShape(double shape) {
  if (shape != 0.0) mShape = shape;
}

void IParam::SetDisplayText(int value, const char* text) {
  int n = static_cast<int>(mDisplayTexts.size());
  if (value < 0 || value > n) return;  // texts are registered in order, without gaps
  DisplayText entry;
  entry.value = value;
  copyText(entry.text, text, kDisplayTextLen);
  if (value < n) {
    mDisplayTexts[value] = entry;
  } else {
    mDisplayTexts.push_back(entry);
    mMax = value;
  }
  hintChange();
}

const char* IParam::GetDisplayText(int value) const {
  for (const DisplayText& d : mDisplayTexts)
    if (d.value == value) return d.text;
  return "";
}

const char* IParam::GetDisplayTextAtIdx(int idx, int* value) const {
  if (idx < 0 || idx >= GetNDisplayTexts()) {
    if (value) *value = 0;
    return "";
  }
  if (value) *value = mDisplayTexts[idx].value;
  return mDisplayTexts[idx].text;
}

bool IParam::MapDisplayText(const char* text, int* value) const {
  if (!text) return false;
  for (const DisplayText& d : mDisplayTexts) {
    if (std::strcmp(d.text, text) == 0) {
      if (value) *value = d.value;
      return true;
    }
  }
  return false;
}

void IParam::SetNormalized(double normalized) {
  // Normalized values come from hosts, preset files and controls: a NaN or an infinity changes nothing, and
  // anything beyond the ends stands for that end.
  if (!std::isfinite(normalized)) return;
  normalized = normalized < 0.0 ? 0.0 : (normalized > 1.0 ? 1.0 : normalized);
  double v = mMin + (mMax - mMin) * std::pow(normalized, mShape);
  if (mType != kTypeDouble) {
    v = mStep * std::floor(v / mStep + 0.5);
  } else if (mStep > 0.0) {
    // A position that stands for a step lands on it exactly, not a rounding error below it: the integer part of
    // a received 29 of a 0..100 knob is 29, not 28.
    const double steps = (v - mMin) / mStep;
    const double nearest = std::round(steps);
    if (std::fabs(steps - nearest) < 1e-9) v = mMin + nearest * mStep;
  }
  Set(v < mMax ? v : mMax);
}

double IParam::GetNormalized(double value) const {
  // An empty or inverted range (one-text menus, name fields, a port list of only "OFF") has no position.
  if (!(mMax > mMin)) return 0.0;
  double v = value < mMin ? mMin : (value > mMax ? mMax : value);
  return std::pow((v - mMin) / (mMax - mMin), 1.0 / mShape);
}

void IParam::GetDisplayForHost(double value, bool normalized, char* out, bool withDisplayText) const {
  if (!out) return;
  // A host may ask for the text of any value, including NaN and values beyond the range.
  if (!std::isfinite(value)) {
    out[0] = '\0';
    return;
  }
  if (normalized) value = mMin + (mMax - mMin) * std::pow(value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value), mShape);
  if (withDisplayText) {
    int iv = WholeNumber(value);
    for (const DisplayText& d : mDisplayTexts) {
      if (d.value == iv) {
        if (d.text[0]) {
          std::strcpy(out, d.text);
          return;
        }
        break;
      }
    }
  }
  if (mNegateDisplay) value = -value;
  if (mDisplayPrecision > 0)
    std::snprintf(out, 128, "%.*f", mDisplayPrecision, value);
  else
    std::snprintf(out, 128, "%d", WholeNumber(value));
}

const char* IParam::GetLabelForHost() const {
  const char* text = GetDisplayText(static_cast<int>(Value()));
  return text[0] ? "" : mLabel;
}

void IParam::GetBounds(double* minVal, double* maxVal) const {
  if (minVal) *minVal = mMin;
  if (maxVal) *maxVal = mMax;
}

double IParam::DBToAmp() const {
  return std::exp(Value() * 0.1151292546497);
}

// One plug-in parameter: its range, step, shape of the normalized mapping, display texts and the
// MIDI binding that the user-interface configuration hangs on it.
#pragma once

#include <atomic>
#include <vector>

struct ControlAction;

class IParam {
 public:
  enum EParamType { kTypeNone = 0, kTypeBool = 1, kTypeInt = 2, kTypeEnum = 3, kTypeDouble = 4, kTypeText = 5 };

  static constexpr int kNameLen = 55;         // name, label and group: up to 54 characters
  static constexpr int kDisplayTextLen = 56;  // display texts: up to 55 characters

  IParam() = default;

  // A value cut toward zero to an int; NaN gives 0 and values beyond the int range give its ends.
  static int WholeNumber(double v);

  void InitBool(const char* name, bool defaultVal, const char* label = "", const char* group = "", int int1 = 0,
                int int2 = 0);
  void InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label = "", const char* group = "",
               int int1 = 0, int int2 = 0);
  void InitEnum(const char* name, int defaultVal, int nEnums, const char* label = "", const char* group = "",
                int int1 = 0, int int2 = 0);
  void InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                  const char* label = "", const char* group = "", int int1 = 0, int int2 = 0);
  void InitText() { mType = kTypeText; }

  void SetShape(double shape);
  void SetDisplayText(int value, const char* text);
  void ResetDisplayTexts() {
    mDisplayTexts.clear();
    hintChange();
  }
  const char* GetDisplayText(int value) const;
  int GetNDisplayTexts() const { return static_cast<int>(mDisplayTexts.size()); }
  const char* GetDisplayTextAtIdx(int idx, int* value = nullptr) const;
  bool MapDisplayText(const char* text, int* value) const;

  void Set(double value) {
    mValue.store(value, std::memory_order_relaxed);
    hintChange();
  }
  void SetNormalized(double normalized);
  double Value() const { return mValue.load(std::memory_order_relaxed); }
  bool Bool() const { return Value() >= 0.5; }
  int Int() const { return static_cast<int>(Value()); }
  double GetNormalized() const { return GetNormalized(Value()); }
  double GetNormalized(double value) const;
  double GetDefault() const { return mDefault; }
  double GetStep() const { return mStep; }
  double GetShape() const { return mShape; }
  int GetPrecision() const { return mDisplayPrecision; }
  EParamType Type() const { return static_cast<EParamType>(mType); }

  void GetDisplayForHost(char* out, bool withDisplayText = true) const {
    GetDisplayForHost(Value(), false, out, withDisplayText);
  }
  // out must hold at least 128 characters.
  void GetDisplayForHost(double value, bool normalized, char* out, bool withDisplayText = true) const;
  const char* GetNameForHost() const { return mName; }
  const char* GetLabelForHost() const;
  const char* GetParamGroupForHost() const { return mParamGroup; }
  void GetBounds(double* minVal, double* maxVal) const;
  double GetMin() const { return mMin; }
  double GetMax() const { return mMax; }
  double GetRange() const { return mMax - mMin; }
  double DBToAmp() const;

  void SetDisplayNegated(bool negate) { mNegateDisplay = negate; }
  bool DisplayNegated() const { return mNegateDisplay; }
  void SetBounds(double minVal, double maxVal) {
    mMin = minVal;
    mMax = maxVal;
  }

  ControlAction* GetControlAction() const { return mControlAction; }
  void SetControlAction(ControlAction* action) { mControlAction = action; }
  // The flag that every change of the value or the display texts raises (its plug-in's hint that the project may
  // have changed); none by default.
  void SetChangeHint(std::atomic<bool>* hint) { mChangeHint = hint; }
  int GetInt1() const { return mInt1; }
  int GetInt2() const { return mInt2; }

 private:
  struct DisplayText {
    int value;
    char text[kDisplayTextLen];
  };

  void hintChange() {
    if (mChangeHint) mChangeHint->store(true, std::memory_order_release);
  }
  void initCommon(const char* name, const char* label, const char* group, double defaultVal, int int1, int int2);

  int mType = kTypeNone;
  // Set by the MIDI input, the transfer jobs, the host and the main thread, read by all of them; a single value
  // with no lock of its own, so atomic (relaxed: it orders nothing else).
  std::atomic<double> mValue{0.0};
  double mMin = 0.0, mMax = 1.0;
  double mStep = 1.0;
  double mShape = 1.0;
  double mDefault = 0.0;
  int mInt1 = 0, mInt2 = 0;
  int mDisplayPrecision = 0;
  char mName[kNameLen] = {};
  char mLabel[kNameLen] = {};
  char mParamGroup[kNameLen] = {};
  bool mNegateDisplay = false;
  std::vector<DisplayText> mDisplayTexts;
  ControlAction* mControlAction = nullptr;  // not owned
  std::atomic<bool>* mChangeHint = nullptr;  // not owned
};

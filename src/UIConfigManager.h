// The editor's builder: reads the user-interface description and the SysEx tables from the bundle once at
// start-up and turns every element into a parameter (name, range, default, group, value texts), a control on the
// surface or in a ControlLayer, and the parameter's ControlAction with its entry in the routing tables through
// which MIDI from the synthesizer finds the control again.
//
// Threads: everything here runs on the thread that constructs the plug-in, before any MIDI port delivers; the
// routing tables are read-only afterwards and may be read from the MIDI input thread without a lock.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "src/ControlAction.h"
#include "src/ControlContainers.h"

namespace tinyxml2 {
class XMLElement;
}

class ControlLayer;
class ICaptionControl;
class IControl;
class IGraphics;
class IParam;
class PatchLibrarian;
class Vexmir;

struct ImageInfo {
  int resourceId = 0;
  int frames = 1;
  bool sideBySide = false;  // frames left to right (true) or stacked top to bottom (false)
  std::string file;         // under resources/img/
};

// One value line of a SysEx entry: its strings.
using Values = std::vector<std::string>;

// One entry of the SysEx description; the first string of its first value line is the message template.
struct SysExContainer {
  std::vector<Values> values;
  std::vector<std::vector<Values>> multiValues;
  bool multi = false;
  std::string name;  // for people and the dump tool
};

class UIConfigManager {
 public:
  // The resources in the bundle and their resource numbers.
  static constexpr const char* kUIConfigResource = "resources/uiconfig.tea";
  static constexpr int kUIConfigResourceId = 100;
  static constexpr const char* kSysExResource = "resources/sysex.tea";
  static constexpr int kSysExResourceId = 101;

  UIConfigManager();
  // Frees the ControlActions it made and clears the parameters' pointers to them; controls and layers belong to
  // the surface.
  ~UIConfigManager();
  UIConfigManager(const UIConfigManager&) = delete;
  UIConfigManager& operator=(const UIConfigManager&) = delete;

  // Builds the whole editor: images, SysEx tables, then every layer and control of the description. style 0 is
  // "normal", 1 "black". Bad content is logged ("CONFIG READER: ...") and skipped; it never stops the build.
  void readUIConfig(IGraphics* surface, Vexmir* plug, PatchLibrarian* librarian, int uiStyle, double uiScale);
  void readSysexValues();
  // The same from texts instead of the bundle's resources (tools, tests, fuzzing). Call setContext first.
  void setContext(IGraphics* surface, Vexmir* plug, int uiStyle, double uiScale);
  void readSysexText(const std::string& xml);
  void readUIConfigText(const std::string& xml);

  // The decrypted text of a resource: whole 8-byte blocks decrypted with the resources' key; a tail shorter than
  // a block is dropped and logged. Stops at the first zero byte.
  static std::string decryptResource(const unsigned char* data, size_t size, std::string* tailMessage = nullptr);
  // The resources' 128-bit key, built at run time.
  static void resourceKey(unsigned int key[4]);

  // Images: the fixed table. A picture is decoded into the bitmap cache, at the UI scale, when a control first
  // names it.
  void initImages();
  void preloadImage(const std::string& name, int resourceId, const std::string& file, int frames, bool sideBySide);
  IBitmap getImageByName(IGraphics* graphics, std::string name);

  // One element of the description (controls, switches, menus, displays, multi-effect controls); layers are
  // walked by the reader itself. timbre is -1 outside the per-timbre copies, else the copy index.
  void processXMLElement(tinyxml2::XMLElement* node, ControlLayer* layer, int timbre);
  // Up to n integers separated by ","; slots without a number keep what the caller had in them.
  static void getCSValues(std::string text, int* out, int n);
  // "a,b[,c]" parameter references -> {index(a) + timbre, index(b) + timbre, c or -1} (timbre counted when 0 or
  // more); fewer than two references gives {-1, -1, -1}.
  static void getBiDirectLinkValues(std::string text, int out[3], int timbre);
  // "Timbre t+1:group" for a timbre of 0 or more, else the group. Valid until the next call.
  const char* getParamGroup(int timbre, std::string group);

  // SysEx value tables.
  static void Tokenize(const std::string& text, std::vector<std::string>& tokens, const std::string& delimiters);
  static std::vector<int> convertStringSysextoVector(std::string text);
  static void calculateSysexWithChangingByte(std::string tmpl, int changingByte, int count,
                                             ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithTwoChangingBytes(std::string tmpl, int changingByte, int count,
                                                 ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteEQ(std::string tmpl, int changingByte, int count,
                                               ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteTempo(std::string tmpl, int changingByte, int count,
                                                  ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteSwing(std::string tmpl, int changingByte, int count,
                                                  ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteVelo(std::string tmpl, int changingByte, int count,
                                                 ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteTranspose(std::string tmpl, int changingByte, int count,
                                                      ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteTuning(std::string tmpl, int changingByte, int count,
                                                   ControlActionSysExMessage* out, int firstValue, int timbre);
  static void calculateSysexWithChangingByteModSeq(std::string tmpl, int changingByte, int count,
                                                   ControlActionSysExMessage* out, int firstValue, int timbre);

  // Button factories.
  void createBoolControl(std::string name, int paramIdx, int defaultValue, int x, int y, std::string imageName,
                         int timbre, ControlLayer* layer, std::string group);
  void createSwitchControl(std::string name, int paramIdx, int defaultValue, int x, int y, std::string imageName,
                           int timbre, ControlLayer* layer, std::string group);
  IControl* createAutoOffSwitchControl(std::string name, int paramIdx, int x, int y, std::string imageName, int timbre,
                                       ControlLayer* layer, std::string group);
  void createRadioControl(std::string name, int paramIdx, int x, int y, std::string imageName, int buttons, int timbre,
                          ControlLayer* layer, std::string group);
  void createCCBoolControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y,
                           std::string imageName, double defaultValue, double offValue, double onValue, LinkInfo link,
                           int timbre, ControlLayer* layer, std::string group);
  void createMsbLsbBoolControl(int ccNumber, int msbValue, int lsbValue, int lsbControl, int channel, std::string name,
                               int paramIdx, int x, int y, std::string imageName, double defaultValue, double offValue,
                               double onValue, LinkInfo link, int timbre, ControlLayer* layer, std::string group);
  void createSysExBoolControl(std::string name, int paramIdx, int x, int y, std::string imageName, double defaultValue,
                              int zeroValueMessage, int sysexIndex, int changingByte, int timbre, LinkInfo link,
                              ControlLayer* layer, std::string group);

  // Knob factories.
  void createNoValKnobControl(std::string name, int paramIdx, int x, int y, std::string imageName, double defaultValue,
                              double minValue, double maxValue, double step, int timbre, ControlLayer* layer,
                              std::string group, const std::vector<std::string>& valueTexts = {});
  void createCCKnobControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y,
                           std::string imageName, double defaultValue, double minValue, double maxValue, double step,
                           LinkInfo link, int timbre, ControlLayer* layer, std::string group);
  void createMsbLsbKnobControl(int ccNumber, int msbValue, int lsbValue, int lsbControl, int channel, std::string name,
                               int paramIdx, int x, int y, std::string imageName, double defaultValue, double minValue,
                               double maxValue, double step, LinkInfo link, int timbre, ControlLayer* layer,
                               std::string group);
  void createSysExKnobControl(std::string name, int paramIdx, int x, int y, std::string imageName, double defaultValue,
                              double minValue, double maxValue, double step, int zeroValueMessage, int sysexIndex,
                              int changingByte, int timbre, LinkInfo link, ControlLayer* layer, std::string group);
  void createSysExKnobControl2(std::string name, int paramIdx, int x, int y, std::string imageName, double defaultValue,
                               double minValue, double maxValue, double step, int zeroValueMessage, int sysexIndex,
                               int changingByte, int timbre, LinkInfo link, ControlLayer* layer, std::string group);

  // Selection factories.
  void createDropDownMenu(std::string name, int paramIdx, int x, int y, int w, int h, int timbre, ControlLayer* layer,
                          std::string group);
  void createDropDownMenu2(std::string name, int paramIdx, int x, int y, int w, int h, double defaultValue,
                           double minValue, double maxValue, std::vector<std::string> valueTexts, int timbre,
                           ControlLayer* layer, std::string group);
  void createMIDIDeviceSelectionControl(std::string name, int paramIdx, int x, int y, int w, int h, int direction,
                                        int timbre, ControlLayer* layer, std::string group);
  void createNoValDropDown(std::string name, int paramIdx, int x, int y, int w, int h, double defaultValue,
                           double minValue, double maxValue, int firstNumber, int lastNumber, int visible,
                           std::vector<std::string> valueTexts, int timbre, ControlLayer* layer, std::string group,
                           bool white);
  void createMultiSelectionCCControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y, int w,
                                     int h, double defaultValue, double minValue, double maxValue, int firstNumber,
                                     int lastNumber, std::vector<std::string> valueTexts, int timbre,
                                     ControlLayer* layer, std::string group);
  void createMsbLsbSelectionCCControl(int ccNumber, int msbValue, int lsbValue, int lsbControl, int channel,
                                      std::string name, int paramIdx, int x, int y, int w, int h, double defaultValue,
                                      double minValue, double maxValue, int firstNumber, int lastNumber,
                                      std::vector<std::string> valueTexts, int timbre, ControlLayer* layer,
                                      std::string group);
  void createMultiSelectionSysExControl(std::string name, int paramIdx, int x, int y, int w, int h, double defaultValue,
                                        double minValue, double maxValue, int firstNumber, int lastNumber,
                                        std::vector<std::string> valueTexts, int zeroValueMessage, std::string color,
                                        int sysexIndex, int changingByte, int timbre, ControlLayer* layer,
                                        std::string group);

  // Display factories.
  void createControlDisplay(std::string name, int paramIdx, int x, int y, int w, int h, int timbre, ControlLayer* layer,
                            std::string group, int displaySize);
  void createNameDisplay(std::string name, int paramIdx, int x, int y, int w, int h, int nameLength, int timbre,
                         ControlLayer* layer, std::string group);

  // Slider factories.
  void createCCSliderControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y, int length,
                             std::string imageName, double defaultValue, double minValue, double maxValue,
                             LinkInfo link, int timbre, ControlLayer* layer, std::string group, EDirection direction,
                             bool flag);
  void createSysExSliderControl(std::string name, int paramIdx, int x, int y, int length, std::string imageName,
                                double defaultValue, double minValue, double maxValue, double step, int zeroOffset,
                                int sysexIndex, int changingByte, int timbre, LinkInfo link, ControlLayer* layer,
                                std::string group, EDirection direction, bool flag);

  // A value-table builder (the calculateSysex... operations).
  using SysExBuilder = void (*)(std::string, int, int, ControlActionSysExMessage*, int, int);

  // The background the editor object attaches: the image "BG_ID", or its substitute in the style.
  ImageInfo getBackgroundImage() const;

  // The layer of that name (null when the description has none).
  ControlLayer* getLayer(const std::string& name) const;
  // The value list of that name (empty when none).
  const std::vector<std::string>& getValueList(const std::string& name) const;

  // Look-ups of the routing tables (null when any level is missing; nothing is created).
  IControl* getCCControl(int channel, int ccNumber, int subKey) const;
  IControl* getNRPNControl(int channel, int msb, int valueOffset, int lsb, int subKey) const;
  IControl* getSysExControl(int byte0, int byte1, int byte2, int byte3, int key) const;

  // What the reader logged while building (also written to the debug log when that is on).
  const std::vector<std::string>& getMessages() const { return messages; }

  // Fields the factories share.
  std::map<std::string, ImageInfo> images;
  std::map<std::string, std::string> imageAliases;  // the style's image substitutions
  std::set<int> loadedImages;                       // resource ids decoded by this editor
  double uiScale = 1.0;
  int uiStyle = 0;
  IGraphics* graphics = nullptr;
  Vexmir* plug = nullptr;
  std::vector<SysExContainer> sysexList;
  std::string groupLabel;

  // The routing tables.
  CCControlMap ccControls;
  NRPNControlContainer nrpnControls;
  SysExControlContainer sysexControls;
  // Program values by three keys; kept for the MIDI side, never filled.
  std::map<int, std::map<int, std::map<int, int>>> programValues;

  std::map<std::string, ControlLayer*> layers;
  // Controls and layers the description declares as overlays: they may lie over other controls.
  std::set<const IControl*> overlayControls;
  std::set<const ControlLayer*> overlayLayers;
  // Where the librarian's slot view lies (unscaled editor pixels) and its parameter, from the description.
  IRECT librarianViewRect;
  int librarianViewParam = -1;
  std::map<std::string, std::vector<std::string>> valueLists;

 private:
  void log(const std::string& text);
  std::string loadResource(int id, const char* name);
  void decodePictures(const tinyxml2::XMLElement* root);
  void readLayerChildren(tinyxml2::XMLElement* parent, ControlLayer* layer, int timbre, const std::string& suffix);
  void readLayer(tinyxml2::XMLElement* node, ControlLayer* parent, int timbre, const std::string& suffix);
  void readMultiLayer(tinyxml2::XMLElement* node, ControlLayer* parent, const std::string& suffix);
  void addLayer(ControlLayer* layer, ControlLayer* parent);
  void readPicture(tinyxml2::XMLElement* node, ControlLayer* layer, bool librarianView);

  // Steps shared by the factories.
  IParam* paramAt(int paramIdx, const char* factory);
  std::string boundName(const std::string& name, int timbre) const;
  IRECT scaledRect(int x, int y, int w, int h) const;
  void place(IControl* control, ControlLayer* layer);
  ControlAction* bindAction(IParam* param, int type, IControl* control);
  void applyLink(ControlAction* action, int paramIdx, LinkInfo link);
  bool isMixerLayer(const ControlLayer* layer) const;
  bool isSettingsLayer(const ControlLayer* layer) const;
  void registerSysEx(ControlAction* action, int changingByte, unsigned char key, IControl* control);
  bool buildSysEx(const char* factory, int paramIdx, int sysexIndex, int changingByte, int count, int firstValue,
                  int timbre, SysExBuilder builder, bool writesHighByte, bool twoByteShift,
                  ControlActionSysExMessage* out);
  IText textStyle(int size, IColor color) const;
  bool setValueTexts(IParam* param, int n, const std::vector<std::string>& texts, int firstNumber, int lastNumber);
  ICaptionControl* createMenu(const char* factory, const std::string& displayName, int paramIdx, int x, int y, int w,
                              int h, double defaultValue, double minValue, double maxValue, int firstNumber,
                              int lastNumber, const std::vector<std::string>& valueTexts, int timbre,
                              ControlLayer* layer, const std::string& group, IColor color);

  std::vector<std::unique_ptr<ControlAction>> ownedActions;
  bool placingOverlay = false;
  int layerDepth = 0;  // the element being built is declared an overlay
  std::vector<std::string> messages;
};

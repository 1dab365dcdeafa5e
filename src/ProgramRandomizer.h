// The program randomizer: draws the sound parameters of the current program from a table of 297
// random bytes, section by section in the order of the program dump, and leaves every section whose
// lock parameter is exactly 1.0 as it is. It works on the editor's parameters through a small target
// interface, so that it can be tested on a plain array of values.
#pragma once

#include <array>
#include <cstdint>
#include <random>

class RandomizerTarget {
 public:
  virtual ~RandomizerTarget() = default;
  virtual double value(int paramIdx) = 0;
  virtual void bounds(int paramIdx, double* minValue, double* maxValue) = 0;
  // Sets a plain value, limited to the parameter's range, without parameter logic or MIDI.
  virtual void setValue(int paramIdx, double plainValue) = 0;
  // Greys (true) or restores (false) the timbre 2 controls for the single voice mode.
  virtual void greyTimbreLayer(bool grey) = 0;
};

class ProgramRandomizer {
 public:
  static constexpr int kTableSize = 297;

  // The generator is seeded once, here: two fills in the same second differ.
  explicit ProgramRandomizer(uint32_t seed);

  // Fills the table with values 0..255.
  void randomGenerator();
  // Folds a table value into a parameter's range: m = max truncated, r = (max - min) truncated; for
  // m = 1 subtract 2 while above r, else subtract m while above r. The result is not offset by the
  // minimum. A range whose integer maximum is below 1 cannot be folded by steps: the value is then
  // limited to 0..r (0 when r is negative) instead of looping.
  static int fold(int entryValue, double minValue, double maxValue);
  // The fold of table entry `entry` with the bounds of parameter `paramIdx`.
  int randomizer(RandomizerTarget& target, int paramIdx, int entry) const;
  // Draws the program-wide settings and both timbres.
  void randomizePatchSettings(RandomizerTarget& target) const;

  std::array<int, kTableSize>& table() { return randomTable; }
  const std::array<int, kTableSize>& table() const { return randomTable; }

 private:
  std::array<int, kTableSize> randomTable{};
  std::mt19937 generator;
};

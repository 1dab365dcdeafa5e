// Floating-point coordinates and sizes turned into integer ones. Windows, views and the editor hand positions and
// sizes straight from their callers, who may pass any value; a plain cast of a value beyond the int range is
// undefined, so every such conversion goes through here.
#pragma once

#include <climits>

namespace platform {

// Truncates toward zero as a cast does; a value beyond the int range gives the nearest end of it, and NaN gives 0.
// Callers round first where they round (intCoord(v + 0.5), intCoord(std::floor(v))).
constexpr int intCoord(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(v);
}

// An integer sum or difference of coordinates, taken in 64 bits by the caller, brought back to the int range: a value
// beyond it gives the nearest end. Edges and sizes near the ends of the range (a rectangle from INT_MIN to INT_MAX is
// a common way to say "everything") then stay in order instead of wrapping round.
constexpr int satInt(long long v) {
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// A coordinate moved by an amount, at the nearest end of the int range where it would pass one.
constexpr int satAdd(long long v, long long by) {
  return satInt(v + by);
}

// The same within the 16-bit range of the platform's older rectangles and points.
constexpr short shortCoord(double v) {
  const int i = intCoord(v);
  return static_cast<short>(i > 32767 ? 32767 : i < -32768 ? -32768 : i);
}

}  // namespace platform

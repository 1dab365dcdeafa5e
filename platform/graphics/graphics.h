// Bitmap drawing contexts over memory pixels: the drawing half of the desktop platform that the
// window layer's memory and window contexts stand on.
//
// A context draws into 32-bit pixels laid out as one leading byte followed by red, green and blue.
// The leading byte is either ignored (opaque pixels; drawing leaves it alone) or, for images handed
// to drawImage, a straight (not premultiplied) alpha. Coordinates go through the current transform
// (an affine matrix from user space to device pixels, whose y counts memory rows from the top). At
// creation user space has y up from the bottom row, as on the platform the editor was designed for;
// callers flip it once (translate by the height, scale y by -1) to get y growing downwards.
//
// A context is not locked: one thread uses it at a time. Distinct contexts may be used concurrently.
#pragma once

#include <cstdint>
#include <vector>

namespace platform::gfx {

struct Color {
  float r = 0, g = 0, b = 0, a = 1;  // 0..1 each
};

// A colour from an integer 0xRRGGBB (each channel byte / 255) and an alpha.
Color colorFromRGB(int rgb, float alpha = 1.0f);

struct Point {
  float x = 0, y = 0;
};

struct Rect {
  float x = 0, y = 0, w = 0, h = 0;
};

// x' = a*x + c*y + tx, y' = b*x + d*y + ty.
struct Affine {
  float a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  Affine then(const Affine& next) const;  // this transform followed by `next`
};

// Pixels of an image to draw: rows of `rowBytes`, each pixel a leading byte then R, G, B.
struct ImageView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int rowBytes = 0;
  bool leadingAlpha = false;  // true: the leading byte is straight alpha; false: the image is opaque
};

class Context {
 public:
  // A context over `pixels` (not owned) of width x height pixels, `rowBytes` apart. Returns null
  // for a null buffer, a size below 1, or rows shorter than width x 4 bytes.
  static Context* createOverMemory(uint8_t* pixels, int width, int height, int rowBytes);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  uint8_t* pixels() const { return pixels_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int rowBytes() const { return rowBytes_; }

  // Graphics state: transform, clip, colours, line width, antialiasing. save() pushes a copy,
  // restore() pops it (an unmatched restore does nothing).
  void save();
  void restore();
  int saveDepth() const { return static_cast<int>(stack_.size()); }
  // Sets the current state back to the one the context was created with (transform, whole-surface clip, colours,
  // line width, antialiasing); the saved states stay as they are.
  void resetState();

  void translate(float dx, float dy);
  void scale(float sx, float sy);
  void concat(const Affine& m);
  const Affine& transform() const { return state_.ctm; }

  // Intersects the clip with the rectangle in user space. Clips are axis-aligned in device space:
  // the transformed rectangle's bounds, rounded to whole pixels.
  void clipToRect(const Rect& r);
  // The current clip in device pixels: [x0, x1) x [y0, y1).
  void deviceClip(int& x0, int& y0, int& x1, int& y1) const;

  void setFillColor(const Color& c) { state_.fill = c; }
  void setStrokeColor(const Color& c) { state_.stroke = c; }
  void setLineWidth(float w) { state_.lineWidth = w < 0 ? 0 : w; }
  float lineWidth() const { return state_.lineWidth; }
  void setAntialias(bool on) { state_.antialias = on; }
  bool antialias() const { return state_.antialias; }
  const Color& fillColor() const { return state_.fill; }

  void fillRect(const Rect& r);
  void strokeRect(const Rect& r, float width);
  // Sets the pixels of the rectangle to transparent black (all four bytes 0) inside the clip.
  void clearRect(const Rect& r);
  void fillEllipse(const Rect& r);
  void strokeEllipse(const Rect& r);

  // The current path, in user space (transformed when points are added).
  void beginPath();
  void moveTo(float x, float y);
  void lineTo(float x, float y);
  void curveTo(float c1x, float c1y, float c2x, float c2y, float x, float y);
  void closePath();
  bool hasCurrentPoint() const { return haveCurrent_; }
  void fillPath();    // non-zero winding; empties the path
  void strokePath();  // current stroke colour and line width, butt caps, mitred joins; empties the path

  // Draws the image scaled into the rectangle (user space), source-over with `alpha`, sampling the
  // nearest source pixel. As on the platform this stands in for, the image's first row lands at the
  // rectangle's maximum y in user space: a flipped context flips back to draw an image upright.
  void drawImage(const ImageView& image, const Rect& r, float alpha = 1.0f);

  // Blends an 8-bit coverage mask (255 = covered) in `color` with its top-left byte on device pixel
  // (x, y), inside the clip. Text rendering draws its glyphs this way.
  void drawCoverage(int x, int y, const uint8_t* mask, int w, int h, int maskRowBytes, const Color& color);

 private:
  Context() = default;
  struct State {
    Affine ctm;
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
    Color fill{0, 0, 0, 1};
    Color stroke{0, 0, 0, 1};
    float lineWidth = 1;
    bool antialias = true;
  };
  using Polygon = std::vector<Point>;  // device space

  void addDevicePoint(Point p);
  void fillPolygons(const std::vector<Polygon>& polys, const Color& c);
  void strokePolygons(const std::vector<Polygon>& lines, const std::vector<bool>& closed, const Color& c, float w);
  void blendSpan(uint8_t* row, int x, int n, const float* coverage, const Color& c);

  uint8_t* pixels_ = nullptr;
  int width_ = 0, height_ = 0, rowBytes_ = 0;
  State state_;
  std::vector<State> stack_;
  std::vector<Polygon> path_;
  std::vector<bool> pathClosed_;
  bool haveCurrent_ = false;
  Point start_;
  std::vector<float> accum_;  // scratch for the scan converter
};

}  // namespace platform::gfx

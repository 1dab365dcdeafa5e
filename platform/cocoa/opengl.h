// The headless stand-in for the platform's OpenGL contexts: there is no GL here, so a context only records what it
// was made with, the view it was bound to and how often it was made current and updated, so that callers can be
// checked for binding and clearing correctly.
#pragma once

#include <vector>

#include "platform/cocoa/object.h"

namespace cocoa {

class OpenGLPixelFormat : public Object {
 public:
  explicit OpenGLPixelFormat(std::vector<int> attributes) : attributes(std::move(attributes)) {}
  const std::vector<int> attributes;
};

class OpenGLContext : public Object {
 public:
  // The format is read, not kept; `share` is not used by the stand-in.
  OpenGLContext(OpenGLPixelFormat* format, OpenGLContext* share);
  const std::vector<int>& attributes() const { return attributes_; }
  // The view drawn into (not retained, as on the platform), or null.
  void setView(Object* view) { view_ = view; }
  Object* view() const { return view_; }
  void makeCurrentContext();
  // Follows the bound view's size and place.
  void update() { ++updates_; }
  int timesUpdated() const { return updates_; }
  // The calling thread's current context (not retained), or null.
  static OpenGLContext* currentContext();
  static void clearCurrentContext();
  int timesMadeCurrent() const { return madeCurrent_; }
  // Contexts alive now, for tests of their release.
  static int liveCount();

 protected:
  ~OpenGLContext() override;

 private:
  std::vector<int> attributes_;
  int madeCurrent_ = 0;
  int updates_ = 0;
  Object* view_ = nullptr;
};

}  // namespace cocoa

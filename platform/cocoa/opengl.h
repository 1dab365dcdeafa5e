// The headless stand-in for the platform's OpenGL contexts: there is no GL here, so a context only records what it
// was made with and when it was made current, so that callers can be checked for binding and clearing correctly.
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
  void makeCurrentContext();
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
};

}  // namespace cocoa

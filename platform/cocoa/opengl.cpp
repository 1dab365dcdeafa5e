#include "platform/cocoa/opengl.h"

#include <atomic>

namespace cocoa {

namespace {
thread_local OpenGLContext* t_current = nullptr;
std::atomic<int> g_live{0};
}  // namespace

OpenGLContext::OpenGLContext(OpenGLPixelFormat* format, OpenGLContext*) {
  if (format) attributes_ = format->attributes;
  ++g_live;
}

OpenGLContext::~OpenGLContext() {
  if (t_current == this) t_current = nullptr;
  --g_live;
}

void OpenGLContext::makeCurrentContext() {
  t_current = this;
  ++madeCurrent_;
}

OpenGLContext* OpenGLContext::currentContext() {
  return t_current;
}

void OpenGLContext::clearCurrentContext() {
  t_current = nullptr;
}

int OpenGLContext::liveCount() {
  return g_live.load();
}

}  // namespace cocoa

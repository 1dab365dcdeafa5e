// The least of the platform's views and windows that the system services need: a window stands for its content
// view, and a view knows its window. The window layer's views and windows derive from these.
#pragma once

#include "platform/cocoa/application.h"
#include "platform/cocoa/object.h"

namespace cocoa {

class Window;

class View : public Object {
 public:
  Window* window() const { return window_; }
  void setWindow(Window* window) { window_ = window; }
  // Point conversion into this view's coordinates from its window's (the platform's convertPoint:fromView:nil) and
  // from the screen's. Without geometry of its own a view uses the same coordinates as its window.
  virtual Point convertFromWindow(Point p) const { return p; }
  virtual Point convertFromScreen(Point p) const { return p; }

 private:
  Window* window_ = nullptr;  // not retained: the window owns its views
};

class Window : public Object {
 public:
  View* contentView() const { return contentView_; }
  // Retains the new content view and releases the old one.
  void setContentView(View* view);

 protected:
  ~Window() override;

 private:
  View* contentView_ = nullptr;
};

}  // namespace cocoa

#include "platform/cocoa/view.h"

namespace cocoa {

void Window::setContentView(View* view) {
  if (view == contentView_) return;
  if (view) {
    view->retain();
    view->setWindow(this);
  }
  if (contentView_) {
    if (contentView_->window() == this) contentView_->setWindow(nullptr);
    contentView_->release();
  }
  contentView_ = view;
}

Window::~Window() {
  setContentView(nullptr);
}

}  // namespace cocoa

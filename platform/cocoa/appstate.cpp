#include "platform/cocoa/appstate.h"

namespace cocoa::application {

namespace {
bool g_active = true;
unsigned g_presentation = 0;
}  // namespace

bool isActive() {
  return g_active;
}

void setActive(bool active) {
  g_active = active;
}

unsigned presentationOptions() {
  return g_presentation;
}

void setPresentationOptions(unsigned options) {
  g_presentation = options;
}

}  // namespace cocoa::application

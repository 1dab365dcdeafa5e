#include "platform/cocoa/appstate.h"

namespace cocoa::application {

namespace {
bool g_active = true;
unsigned g_presentation = 0;
int g_systemVersion = 0x1068;
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

int systemVersion() {
  return g_systemVersion;
}

void setSystemVersion(int version) {
  g_systemVersion = version;
}

}  // namespace cocoa::application

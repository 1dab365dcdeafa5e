// The application-wide state that the window layer reads and sets besides windows and events: whether the
// application is active (frontmost), its presentation options (menu bar and Dock hiding) and the system version
// it reports. Main thread only.
#pragma once

namespace cocoa::application {

bool isActive();
void setActive(bool active);

// Presentation option bits: 1 Dock hidden automatically, 2 Dock hidden, 4 menu bar hidden automatically.
unsigned presentationOptions();
void setPresentationOptions(unsigned options);

// The system version as the platform's version query answers it (0x1068 for 10.6.8); tests may set it.
int systemVersion();
void setSystemVersion(int version);

}  // namespace cocoa::application

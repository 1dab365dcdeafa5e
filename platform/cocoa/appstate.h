// The application-wide state that the window layer reads and sets besides windows and events: whether the
// application is active (frontmost), and its presentation options (menu bar and Dock
// hiding). Main thread only.
#pragma once

namespace cocoa::application {

bool isActive();
void setActive(bool active);

// Presentation option bits: 1 Dock hidden automatically, 2 Dock hidden, 4 menu bar hidden automatically.
unsigned presentationOptions();
void setPresentationOptions(unsigned options);

}  // namespace cocoa::application

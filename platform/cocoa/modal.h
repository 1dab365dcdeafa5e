// The headless model of the platform's modal loops: a window run modally (runModalForWindow:), and modal sessions
// that a caller runs one pass at a time. A modal loop runs the calling thread's run loop in the modal-panel mode and
// hands queued events to their windows, so work that a test queued with RunLoop::perform (typing into the dialog,
// pressing its buttons) happens inside the loop, as the user's actions would.
#pragma once

#include "platform/cocoa/view.h"

namespace cocoa {

// The platform's modal responses.
enum : int { kModalResponseStop = -1000, kModalResponseAbort = -1001, kModalResponseContinue = -1002 };

struct ModalSession;

namespace modal {
// Main thread. Runs `window` modally until stop, stopWithCode or abort; returns the response. A loop that nothing
// ends within the idle limit (model seconds) is aborted, so that an unscripted dialog cannot hang a test.
int runForWindow(Window* window);
ModalSession* beginSession(Window* window);
// One pass: events and run-loop work due now. kModalResponseContinue while the session goes on.
int runSession(ModalSession* session);
void endSession(ModalSession* session);
// End the innermost modal loop or session.
void stop();
void stopWithCode(int code);
void abort();
// The window of the innermost modal loop or session, or null.
Window* modalWindow();
void setIdleLimit(double seconds);
double idleLimit();
}  // namespace modal

}  // namespace cocoa

// The headless model of the platform's modal dialogs and of the workspace: open and save panels, user-notification
// alerts and URL opening (the workspace opens for real on a desktop, see workspace::setOpensOnDesktop). What the user answers is scripted by tests (and the test host); what was shown is
// recorded so that they can check it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/cocoa/object.h"

namespace cocoa {

enum ModalResponse { kModalResponseCancel = 0, kModalResponseOK = 1 };

// The save panel; OpenPanel adds what only an open panel has.
class SavePanel : public Object {
 public:
  std::string title;
  // A view shown in the panel (retained); null for none.
  Object* accessoryView() const { return accessory_; }
  void setAccessoryView(Object* view);
  bool canCreateDirectories = false;
  std::vector<std::string> allowedFileTypes;
  bool allowsOtherFileTypes = true;
  bool canHide = true;
  // Runs modally: takes the next scripted answer, or, with none, asks the runner (Cancel without one). The chosen
  // path is kept in url().
  int runModal(const std::string& directory, const std::string& fileName);
  const std::string& url() const { return url_; }
  // Every chosen path (open panels may return several).
  const std::vector<std::string>& urls() const { return urls_; }
  virtual bool isOpenPanel() const { return false; }

 protected:
  ~SavePanel() override;

 private:
  std::string url_;
  std::vector<std::string> urls_;
  Object* accessory_ = nullptr;
};

class OpenPanel : public SavePanel {
 public:
  bool canChooseFiles = true;
  bool canChooseDirectories = false;
  bool resolvesAliases = true;
  bool allowsMultipleSelection = false;
  bool isOpenPanel() const override { return true; }
};

struct ShownPanel {
  bool open = false;
  std::string title;
  bool hasAccessory = false;
  bool allowsMultipleSelection = false;
  bool canCreateDirectories = false;
  std::string directory;
  std::string fileName;
  std::vector<std::string> types;
  bool allowsOtherTypes = true;
  bool canChooseFiles = false;
  bool canChooseDirectories = false;
  bool resolvesAliases = false;
  // What the panel listed when it came up: its folder (the one asked for, or the nearest that exists) and the names
  // of its rows, sub-folders first.
  std::string folder;
  std::vector<std::string> rows;
  // A path the script chose that the panel does not offer (a file of another type): the panel was cancelled.
  std::string refused;
};

// A row of a file panel's list: a sub-folder or a file the panel offers.
struct PanelRow {
  std::string name;  // ".." for the way up
  bool folder = false;
};

namespace panels {
// The next panel returns OK with that path; scriptCancel makes it return Cancel. Unscripted panels are cancelled.
void scriptChoice(const std::string& path);
// The next panel returns OK with these paths (an open panel that allows several).
void scriptChoices(const std::vector<std::string>& paths);
void scriptCancel();
void clearScript();
// What the user answered a panel: OK with the chosen paths, or Cancel.
struct Answer {
  bool ok = false;
  std::vector<std::string> paths;
};
// Shows the panels that nothing scripted to the user (a display's file panels); null to cancel them again.
void setRunner(std::function<Answer(const ShownPanel&)> runner);
std::vector<ShownPanel> shownPanels();
void clearShown();
bool isFolder(const std::string& path);
// The folder above ("/" above a folder in the root).
std::string parentOf(const std::string& folder);
// Whether a panel allowing these types offers a file of this name: its extension, in any case, is one of them
// (with or without a leading dot); no types offer every file.
bool offersFile(const std::vector<std::string>& types, const std::string& name);
// Names as people sort them: letters without regard to case, runs of digits by their value ("Bank 9" before
// "Bank 10"); names equal so are ordered by their bytes.
bool namesInOrder(const std::string& a, const std::string& b);
// The path with "." and ".." taken as the folders they name, by the names as a shell's cd takes them.
std::string resolvedPath(const std::string& path);
// The folder a panel starts in, resolved: "~" is the home folder, a relative folder lies in it, and a folder that does
// not exist gives way to the nearest one above it that does.
std::string startFolder(const std::string& directory);
// The rows the panel lists in a folder: ".." (but in "/"), the sub-folders, then the files it offers, hidden names
// left out, each group in the order people sort names. A folder that cannot be read gives its error.
std::vector<PanelRow> listFolder(const ShownPanel& panel, const std::string& folder, std::string* error = nullptr);
}  // namespace panels

// User-notification alerts (the Core Foundation kind): a header, a message and up to three buttons.
enum AlertResponse {
  kAlertDefaultResponse = 0,
  kAlertAlternateResponse = 1,
  kAlertOtherResponse = 2,
  kAlertCancelResponse = 3
};

struct ShownAlert {
  std::string header;
  std::string message;
  std::string defaultButton;  // "" for the platform's OK
  std::string alternateButton;
  std::string otherButton;
  int level = 0;
  double timeout = 0;
};

// Shows the alert and waits for the scripted answer; with none, the runner's answer, else the cancel response (an
// alert nobody was shown is no consent). An answer on a button the alert does not have is none: the cancel response.
// Returns 0 and stores the response.
int userNotificationDisplayAlert(double timeout, int level, const char* header, const char* message,
                                 const char* defaultButton, const char* alternateButton, const char* otherButton,
                                 unsigned long* response);

namespace alerts {
void scriptResponse(int response);
void clearScript();
// Shows the alerts that nothing scripted to the user and returns the response; null to leave them unanswered again.
void setRunner(std::function<int(const ShownAlert&)> runner);
std::vector<ShownAlert> shownAlerts();
void clearShown();
}  // namespace alerts

// URLs as the platform makes them: from a string (null when the text is not a valid URL) or from a file path.
class URL : public Object {
 public:
  // Null for empty text or text with characters a URL may not hold unescaped (blanks, quotes, angle brackets...).
  static URL* withString(const std::string& text);
  static URL* fileURLWithPath(const std::string& path);
  const std::string& absoluteString() const { return text_; }
  bool isFileURL() const { return file_; }

 private:
  URL(std::string text, bool file) : text_(std::move(text)), file_(file) {}
  std::string text_;
  bool file_;
};

// NSRunAlertPanel: title, message and up to three buttons (default, alternate, other; empty for none). Answers 1
// for the default button, 0 for the alternate and -1 for the other, from the scripted response (0 default, 1
// alternate, 2 other). An alert that ends without an answer (the cancel response: unscripted and shown to nobody,
// answered on a button it does not have, its window closed by the window manager, the host's window destroyed, the
// display lost) answers kAlertPanelUnanswered, never the default button.
constexpr int kAlertPanelUnanswered = -2;
int runAlertPanel(const std::string& title, const std::string& message, const std::string& defaultButton,
                  const std::string& alternateButton, const std::string& otherButton);

namespace workspace {
// Opens a file with its default application, or with a named one; launches an application. Recorded as
// "file:PATH", "file:PATH with:APP" and "launch:APP"; answered with the scripted success, or, on the desktop, with
// whether the desktop's opener took the file (an application named is the Mac's: the desktop picks its own).
bool openFile(const std::string& path, const std::string& application = "");
bool launchApplication(const std::string& application);
// Opens the URL: recorded, and answered with the scripted success (true unless set otherwise); on the desktop the
// desktop's opener gets the address (a file URL as its path).
bool openURL(URL* url);
void setOpenSucceeds(bool succeeds);
// Whether files and addresses really open, with the desktop's opener (xdg-open on the PATH), or are only recorded
// (the default: tests never start an opener). An editor shown on a real display turns it on while it is there.
void setOpensOnDesktop(bool onDesktop);
std::vector<std::string> openedURLs();
void clearOpened();
}  // namespace workspace

}  // namespace cocoa

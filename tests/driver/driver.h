// Drives another process's windows from a Windows test program, the way an
// operator would: start the program, find its windows, read and type texts,
// press buttons, answer message boxes and file dialogs, take a screenshot.
//
// Use: link `qova_test_driver` and include "tests/driver/driver.h".
//
//   qova::driver::Child child;
//   ASSERT_TRUE(startProgram(exe, folder, &child));
//   HWND dlg = findTopWindow("QOVA Startup", 10000, child.id);
//   setItemText(dlg, 1002, "30");
//   clickLater(item(dlg, 1000));              // the click opens a message box
//   HWND box = findMessageBox("Error", 10000, child.id);
//   EXPECT_EQ(messageBoxText(box), "Could not spawn process.");
//   answer(box, IDOK);
//   click(item(dlg, 1008));
//   DWORD code; EXPECT_TRUE(waitForExit(child, 10000, &code));
//
// Every wait has a timeout (milliseconds) and every message sent to the other
// process uses SendMessageTimeoutA, so a hung or blocked program fails the
// test instead of hanging it. `click` waits until the button's command has
// been handled; a command that opens a modal loop (a message box, a file
// dialog) or blocks (waiting for a child process) must use `clickLater`,
// which posts the click and returns at once. A process id of 0 matches
// windows of any process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace qova::driver {

// How long one message sent to the other process may take.
constexpr DWORD kSendTimeoutMs = 5000;

struct Child {
  HANDLE process = nullptr;
  DWORD id = 0;
};

// Starts `exe` with `folder` as its working folder (empty: this process's)
// and `arguments` after the quoted program name on its command line.
bool startProgram(const std::string& exe, const std::string& folder, Child* child,
                  const std::string& arguments = "");
// True when the process ended within the timeout; *exitCode then holds its code.
bool waitForExit(const Child& child, DWORD timeoutMs, DWORD* exitCode);
// Ends the process if it still runs and closes the handle. Safe to repeat.
void endProgram(Child* child);
// Ends a program that still runs with its own command: posts WM_COMMAND `id`
// to each of its top windows with one of these captions, gives it `graceMs`
// to end, and only then ends it as endProgram does.
void quitProgram(Child* child, const std::vector<std::string>& captions, int id, DWORD graceMs);
// The id of a running process started from `exe` (a full path, compared
// without regard to case), for programs that another program starts; 0 when
// none appears within the timeout.
DWORD findProcess(const std::string& exe, DWORD timeoutMs);

// Polls `condition` every 50 ms until it holds or the timeout passes.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// A top-level window with this exact caption (and class, when given) that
// belongs to `processId`; null when none appears within the timeout.
HWND findTopWindow(const std::string& caption, DWORD timeoutMs, DWORD processId = 0,
                   const char* className = nullptr);
HWND item(HWND dialog, int id);

// WM_GETTEXT / WM_SETTEXT. `text` gives "" when the window does not answer.
std::string text(HWND window);
bool setText(HWND window, const std::string& value);
std::string itemText(HWND dialog, int id);
// The entries of a combo box (`combo`) or the lines of a list box of another
// process, in the ANSI code page. Asked for in UTF-16: Wine hands the A forms
// of these messages across processes in UTF-16 without converting them back.
std::vector<std::string> entries(HWND control, bool combo);
bool setItemText(HWND dialog, int id, const std::string& value);

// BM_CLICK sent (returns after the command was handled) or posted.
bool click(HWND button);
bool clickLater(HWND button);
bool isVisible(HWND window);
// Posts WM_COMMAND with `id` and notification code 0 to `window`.
bool postCommand(HWND window, int id);

// Message boxes: dialogs of class #32770 with the caption given.
HWND findMessageBox(const std::string& caption, DWORD timeoutMs, DWORD processId = 0);
std::string messageBoxText(HWND box);
bool messageBoxHasIcon(HWND box);
// Presses the button with this id (IDOK, IDYES, IDNO, IDCANCEL).
bool answer(HWND box, int id);

// Common Open / Save As dialog: types `path` into the file name field and
// presses OK. False when the dialog has no file name field.
bool chooseFile(HWND dialog, const std::string& path);

// Writes what the window shows (frame included) as a 24-bit .bmp file. The
// window is raised above the others for the copy, since the tests share one
// screen.
bool saveScreenshot(HWND window, const std::string& bmpPath);

}  // namespace qova::driver

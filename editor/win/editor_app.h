// EditorApp: the one application object of QOVAMAKE, and the start-up,
// error reporting and shutdown that act on it.
//
// The object is reached through EditorApp::acquire / EditorApp::release; every
// function that touches it holds a reference (AppRef) for its work, and the
// entry point holds one for the whole run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/app_object.h"
#include "editor/record_store.h"

namespace qova {

struct EditorApp {
  // Bits of errorFlags: what reportStartupError does with errorText.
  enum : uint32_t {
    StartupLog = 0x01,         // write it to the run log
    StartupMessageBox = 0x02,  // show it in an "Error" box without owner
    StartupQuit = 0x04,        // end the program with exit code 4
  };

  static EditorApp& acquire() { return AppObject<EditorApp>::acquire(); }
  static void release() { AppObject<EditorApp>::release(); }

  HWND mainWindow = nullptr;
  std::vector<HWND> correctButtons;  // radios 1022, 1023, 1024, 1026, 1030
  std::vector<HWND> responseEdits;   // edits 1007, 1008, 1009, 1010, 1029
  std::set<HWND> searchWindows;      // every open Find Record / Search Results window
  HINSTANCE instance = nullptr;
  uint32_t errorFlags = 0;
  std::string errorText;
  std::string logFileName;  // never set: the run log's default file applies
  // The open database. Its prompts are the editor's only way to ask the user
  // anything: the window, the dialogs and the store all show their message
  // boxes and file dialogs through store.prompts.
  RecordStore store;
};

using EditorRef = AppRef<EditorApp>;

// Exit code after a start-up failure.
constexpr int kStartupFailureExitCode = 4;

// Acts on errorFlags: logs errorText, shows it, and shuts down with exit
// code 4, each when its bit is set.
void reportStartupError();

// Ends the run with `exitCode`: stores it in the editor window's user data
// and destroys the window (its WM_DESTROY posts the quit message with it), or
// posts the quit message at once when there is no window. Saves nothing.
void shutdownEditor(int exitCode);

// The whole run: creates the editor window (reporting a failure), runs the
// message loop and returns the quit message's code. `prompts` become the
// store's prompts before the window exists.
int runEditor(HINSTANCE instance, const Prompts& prompts);

}  // namespace qova

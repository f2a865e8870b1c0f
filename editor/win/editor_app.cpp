#include "editor/win/editor_app.h"

#include "common/run_log.h"
#include "editor/win/main_window.h"

namespace qova {

void reportStartupError() {
  EditorRef app;
  if (app->errorFlags & EditorApp::StartupLog) {
    RunLog::process().write(app->errorText.c_str(), app->logFileName.c_str());
  }
  if ((app->errorFlags & EditorApp::StartupMessageBox) && app->store.prompts.messageBox) {
    app->store.prompts.messageBox(
        MessageRequest{nullptr, app->errorText, "Error", kMbIconExclamation});
  }
  if (app->errorFlags & EditorApp::StartupQuit) shutdownEditor(kStartupFailureExitCode);
}

void shutdownEditor(int exitCode) {
  EditorRef app;
  if (app->mainWindow != nullptr) {
    SetWindowLongPtrA(app->mainWindow, GWLP_USERDATA, static_cast<LONG_PTR>(exitCode));
    DestroyWindow(app->mainWindow);
  } else {
    PostQuitMessage(exitCode);
  }
}

int runEditor(HINSTANCE instance, const Prompts& prompts) {
  EditorRef app;
  app->instance = instance;
  app->store.prompts = prompts;
  if (!createMainWindow()) reportStartupError();

  // Only the editor window gets the dialog manager's keyboard handling (Tab,
  // Enter); the modeless search windows are dispatched like plain windows.
  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (app->mainWindow != nullptr && IsDialogMessageA(app->mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace qova

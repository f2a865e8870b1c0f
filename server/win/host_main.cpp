// QOVAHOST's entry point: start-up, the lobby, and the main loop, which
// takes every window message that is there and otherwise waits for the
// game's next turn (a socket ready, a message, the deadline) and takes it.
// The exit code is the quit message's value, which shutdownServer hands over
// through the Statistics window.
#include <windows.h>

#include "common/win/dialogs.h"
#include "server/game_engine.h"
#include "server/host_commands.h"
#include "server/server_app.h"
#include "server/socket.h"
#include "server/startup.h"
#include "server/win/host_windows.h"
#include "server/win/resource.h"

namespace qova {

namespace {

ServerShell windowsShell() {
  ServerShell shell;
  shell.prompts.messageBox = showMessageBox;
  shell.destroyMainWindow = [](void* window, int32_t exitCode) {
    HWND main = static_cast<HWND>(window);
    SetWindowLongPtrA(main, GWLP_USERDATA, static_cast<LONG_PTR>(exitCode));
    DestroyWindow(main);
  };
  shell.postQuit = [](int32_t exitCode) { PostQuitMessage(exitCode); };
  shell.deleteMarkerFile = [](const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  };
  return shell;
}

// True when the lobby ended with Start or Quit and the main loop must run;
// false with errorText set.
bool startServer() {
  if (!startServerCore()) return false;
  ServerAppRef app;
  HWND main =
      CreateDialogParamA(static_cast<HINSTANCE>(app->instance), MAKEINTRESOURCEA(IDD_STATISTICS),
                         nullptr, statisticsDialogProc, 0);
  if (main == nullptr) {
    app->errorText = kMsgCreatingWindow;
    return false;
  }
  app->mainWindow = main;
  if (!runLobby()) return false;
  // After Quit the window is gone already and the quit message posted.
  if (app->mainWindow != nullptr) ShowWindow(static_cast<HWND>(app->mainWindow), SW_SHOW);
  return true;
}

}  // namespace

SocketWait& hostWait() {
  static SocketWait wait;
  wait.watchMessages(true);
  return wait;
}

}  // namespace qova

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  qova::ServerApp& app = qova::ServerApp::acquire();
  app.instance = instance;
  app.shell = qova::windowsShell();
  app.feed.port = qova::kRoomFeedPort;  // opened with the lobby
  app.feed.onCommand = [&app](const qova::FeedCommand& command) {
    return qova::runHostCommand(app, qova::processGame(), command);
  };
  if (!qova::startServer()) qova::reportError();
  // Every message that is there is taken before the next turn; with none
  // there the loop waits for the game's next turn, or for a message.
  qova::SocketWait& wait = qova::hostWait();
  MSG msg = {};
  for (;;) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    qova::WaitOutcome woke = qova::WaitOutcome::kTimeout;
    if (!qova::gameWaitTurn(app, qova::processGame(), wait, -1, &woke)) {
      qova::reportError();
    } else if (woke != qova::WaitOutcome::kMessage && woke != qova::WaitOutcome::kWoken) {
      qova::showGameControls();
    }
  }
  qova::socketCleanup();
  qova::ServerApp::release();
  return static_cast<int>(msg.wParam);
}

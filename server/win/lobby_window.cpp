// The lobby window and its loop: window messages for the lobby only, and
// with none there a wait for the lobby's sockets and a pass over those that
// are ready (accept, greet, drop). The count of connected players is shown
// in control 1002, their names in the list 1003, from which Remove Player
// takes one out.
#include <windows.h>

#include <string>

#include "common/win/dialogs.h"
#include "server/game_engine.h"
#include "server/lobby.h"
#include "server/socket.h"
#include "server/startup.h"
#include "server/win/host_windows.h"
#include "server/win/resource.h"
#include "wire/server_marker.h"

namespace qova {

namespace {

void showCount(HWND lobby, size_t count) {
  SetDlgItemInt(lobby, IDC_LOBBY_COUNT, static_cast<UINT>(count), FALSE);
}

int listSelection(HWND dialog, int id) {
  LRESULT at = SendDlgItemMessageA(dialog, id, LB_GETCURSEL, 0, 0);
  return at == LB_ERR ? -1 : static_cast<int>(at);
}

// The count and the names in joining order; the chosen name stays chosen.
void showPlayers(HWND lobby) {
  ServerAppRef app;
  showCount(lobby, app->clients.size());
  std::string chosen =
      entryText(lobby, IDC_LOBBY_PLAYERS, listSelection(lobby, IDC_LOBBY_PLAYERS), false);
  SendDlgItemMessageA(lobby, IDC_LOBBY_PLAYERS, LB_RESETCONTENT, 0, 0);
  int keep = -1;
  for (size_t i = 0; i < app->players.size(); ++i) {
    const std::string& name = app->players[i].name;
    SendDlgItemMessageA(lobby, IDC_LOBBY_PLAYERS, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(name.c_str()));
    if (keep < 0 && !chosen.empty() && name == chosen) keep = static_cast<int>(i);
  }
  if (keep >= 0) SendDlgItemMessageA(lobby, IDC_LOBBY_PLAYERS, LB_SETCURSEL, keep, 0);
}

void removeChosen(HWND lobby) {
  ServerAppRef app;
  int index = listSelection(lobby, IDC_LOBBY_PLAYERS);
  removeChosenPlayer(*app, processGame(), lobby, index,
                     entryText(lobby, IDC_LOBBY_PLAYERS, index, false), false,
                     "Choose a player in the list first.");
  showPlayers(lobby);
}

}  // namespace

bool runLobby() {
  ServerAppRef app;
  app->errorFlags = kStartupErrorFlags;
  app->exitCode = 1;
  HWND lobby = CreateDialogParamA(static_cast<HINSTANCE>(app->instance),
                                  MAKEINTRESOURCEA(IDD_LOBBY), nullptr, lobbyDialogProc, 0);
  if (lobby == nullptr) {
    app->errorText = kMsgCreatingWindow;
    return false;
  }
  showCount(lobby, 0);
  LobbyState state;
  if (!beginLobby(*app, state)) {
    DestroyWindow(lobby);
    return false;
  }
  // A message for the lobby, or else a wait and one pass over the sockets
  // that are ready.
  SocketWait& wait = hostWait();
  bool inputSeen = false;  // a wait ended for input
  while (app->lobbyOutcome == kLobbyWaiting) {
    MSG msg;
    if (PeekMessageA(&msg, lobby, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    if (inputSeen) {
      // The input that ended the wait may be for another window (the hidden
      // Statistics window): it stays queued for the main loop. Marking the
      // queue as looked at keeps it from ending every wait; the lobby's
      // queue is looked at once more in case its input came meanwhile.
      inputSeen = false;
      GetQueueStatus(QS_ALLINPUT);
      continue;
    }
    LobbyPass pass = lobbyWaitPass(*app, state, wait);
    if (pass == LobbyPass::kMessage) {
      inputSeen = true;
      continue;
    }
    if (pass == LobbyPass::kFailed) {
      DestroyWindow(lobby);
      return false;
    }
    if (pass == LobbyPass::kChanged) showPlayers(lobby);
  }
  // Start and Quit have destroyed the window already; the close box has not.
  if (IsWindow(lobby)) DestroyWindow(lobby);
  endLobby(*app, state);
  return true;
}

INT_PTR CALLBACK lobbyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // 127.0.0.1 when the host's own name does not resolve: the server
      // still listens there, and the marker still tells other servers that
      // one runs (docs/decisions/server-unresolved-host.md).
      std::string address = localHostAddress();
      SetDlgItemTextA(dialog, IDC_LOBBY_ADDRESS, address.c_str());
      ServerAppRef app;
      writeServerMarker(app->markerPath, address);
      return TRUE;
    }
    case WM_CLOSE: {
      ServerAppRef app;
      app->lobbyOutcome = kLobbyQuit;
      return TRUE;
    }
    case WM_COMMAND: {
      WORD id = LOWORD(wParam);
      if (id == IDC_LOBBY_REMOVE) {
        removeChosen(dialog);
      } else if (id == IDC_LOBBY_START || id == IDC_LOBBY_QUIT) {
        ServerAppRef app;
        app->lobbyOutcome = id == IDC_LOBBY_START ? kLobbyStart : kLobbyQuit;
        DestroyWindow(dialog);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace qova

// The windows of QOVAHOST: the lobby ("Waiting for Clients...") with its own
// polling loop, and the Statistics window, the main window of the game.
// Everything that is not window work is done by the engine in server/.
#pragma once

#include <windows.h>

#include "net/socket_wait.h"

namespace qova {

// The one wait of the process, over its sockets and its window messages,
// shared by the lobby's loop and the main loop.
SocketWait& hostWait();

// Runs the lobby until Start, Quit or a failure. True when the operator
// ended it (after Quit the server is already shutting down); false with
// errorText set when the window or the sockets failed.
bool runLobby();

// Brings the Statistics window's answers line, its Hold / Go On button and
// its "Hold after each round" box up to date with the game (which a feed
// client's command may have changed); cheap when nothing changed, so the
// main loop calls it after every turn.
void showGameControls();

INT_PTR CALLBACK lobbyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK statisticsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qova

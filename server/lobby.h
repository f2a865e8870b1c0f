// The lobby's sockets: the listening socket, accepting at most one player per
// pass with its handshake, and dropping connected players whose socket turns
// readable. The Win32 shell owns the "Waiting for Clients..." window and its
// message pumping; between messages it calls lobbyPass.
#pragma once

#include <cstdint>
#include <optional>

#include "server/server_app.h"
#include "server/socket.h"

namespace qova {

struct LobbyState {
  std::optional<Socket> listener;  // open from beginLobby to endLobby
  uint16_t port = kListenPort;     // tests listen on 0 (a free port)
  uint32_t handshakeTimeoutMs = kHandshakeTimeoutMs;
};

// Sets flags 0x1B and exit code 1 and opens the listening socket. False with
// "Error setting up listening socket." (the shell then destroys its window).
bool beginLobby(ServerApp& app, LobbyState& lobby);

enum class LobbyPass {
  kFailed = -1,    // accept failed: errorText set, listening socket closed
  kUnchanged = 0,  // nobody joined or left
  kChanged = 1,    // the connected count (app.clients.size()) changed
};

// One pass: when a connection waits, accept it, greet it and append player
// and client together (a silent or over-long handshake is closed instead);
// then drop, in order, every client whose socket is readable, removing its
// PlayerRecord at the same position. `waitMs` lets a test or a quiet lobby
// wait that long for a connection; the shell passes 0.
LobbyPass lobbyPass(ServerApp& app, LobbyState& lobby, int waitMs = 0);

// Leaving the lobby: closes the listening socket and, when lobbyOutcome is
// LobbyQuit, runs shutdownServer(0). The shell destroys its window first.
void endLobby(ServerApp& app, LobbyState& lobby);

}  // namespace qova

// The lobby's sockets: the listening socket, accepting at most one connection
// per pass, the handshakes under way, and dropping connected players whose
// socket turns readable. The Win32 shell owns the "Waiting for Clients..."
// window and its message pumping; between messages it calls lobbyWaitPass,
// which waits until one of those sockets is ready, a message comes or a
// handshake's time runs out, and then makes one pass over what is ready.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "net/socket_wait.h"
#include "server/server_app.h"
#include "server/socket.h"
#include "wire/play_rules.h"

namespace qova {

// How long the lobby stops accepting after the process or system ran out of
// descriptors, so that the connections already there keep being served.
constexpr uint32_t kAcceptBackoffMs = 100;

struct LobbyState {
  std::optional<Socket> listener;  // open from beginLobby to endLobby
  uint16_t port = kServerPort;     // tests listen on 0 (a free port)
  uint32_t handshakeTimeoutMs = kHandshakeTimeoutMs;
  // Accepted connections that have their settings and owe their name, in
  // the order they were accepted. They are not players yet.
  std::vector<std::unique_ptr<PendingHandshake>> handshakes;
  bool acceptPaused = false;  // out of descriptors: no accept until the back-off ends
  uint32_t pausedAt = 0;      // tick of the failure
  // What the last wait was asked and found, in the order a pass looks: the
  // listening socket, the handshakes, the clients (as they were then).
  std::vector<PollEntry> sockets;
  size_t askedHandshakes = 0;
  size_t askedClients = 0;
};

// Sets flags kStartupErrorFlags and exit code 1 and opens the listening socket. False with
// "Error setting up listening socket." (the shell then destroys its window).
bool beginLobby(ServerApp& app, LobbyState& lobby);

enum class LobbyPass {
  kFailed = -1,    // the listening socket failed: errorText set, listening socket closed
  kUnchanged = 0,  // nobody joined or left
  kChanged = 1,    // the connected count (app.clients.size()) changed
  kMessage = 2,    // lobbyWaitPass only: a window message or a wake ended the wait; no pass
};

// One pass, never waiting when `waitMs` is 0: when a connection waits,
// accept it and send it the settings; then give every handshake under way
// one look without waiting, in order: a named one becomes a player (player
// and client appended together), a silent, over-long or empty-named one is
// closed; then drop, in order, every client whose socket is readable,
// removing its PlayerRecord at the same position. A connection that fails
// before it is taken, or descriptors running out, is no connection this pass;
// only a listening socket that is gone fails the lobby.
//
// With `waitMs` above 0 (tests, a quiet lobby) passes repeat for up to that
// long until a handshake has ended or a player has left.
LobbyPass lobbyPass(ServerApp& app, LobbyState& lobby, int waitMs = 0);

// The lobby's own loop step: waits with `wait` until the listening socket,
// a handshake or a client is readable, a handshake's time (or the accept
// back-off) runs out, a message or a wake comes, or `limitMs` passes
// (negative: no limit), then makes the pass above over the sockets that the
// wait found ready, touching no other. kMessage when a message or wake ended
// the wait (the caller takes its messages and comes back).
LobbyPass lobbyWaitPass(ServerApp& app, LobbyState& lobby, SocketWait& wait, int limitMs = -1);

// Leaving the lobby: closes the listening socket and the handshakes still
// under way and, when lobbyOutcome is kLobbyQuit, runs shutdownServer(0). The
// shell destroys its window first.
void endLobby(ServerApp& app, LobbyState& lobby);

}  // namespace qova

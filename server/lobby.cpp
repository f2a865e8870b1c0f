#include "server/lobby.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "common/tick.h"
#include "server/client_connection.h"

namespace qova {

namespace {

// While handshakes are under way a waiting pass looks at them this often.
constexpr int kHandshakeLookMs = 5;

struct PassOutcome {
  bool failed = false;
  bool changed = false;  // the connected count changed
  bool settled = false;  // a handshake ended or a player left
};

void waitFor(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Takes one waiting connection, if any, and greets it. False when the
// listening socket has failed.
bool acceptOne(ServerApp& app, LobbyState& lobby, int waitMs) {
  if (lobby.acceptPaused) {
    uint32_t paused = tickCount() - lobby.pausedAt;
    if (paused < kAcceptBackoffMs) {
      waitFor(std::min(waitMs, static_cast<int>(kAcceptBackoffMs - paused)));
      return true;
    }
    lobby.acceptPaused = false;
  }
  if (!lobby.listener->pollReadable(waitMs)) return true;
  AcceptError error;
  Socket socket = lobby.listener->accept(&error);
  if (socket.isValid()) {
    std::string settings =
        settingsMessage(app.timeLimitText, app.questionsPerRound, app.questions.responseCount());
    lobby.handshakes.push_back(
        std::make_unique<PendingHandshake>(socket, settings, lobby.handshakeTimeoutMs));
    return true;
  }
  switch (error) {
    case AcceptError::kNone:
    case AcceptError::kTransient:
      return true;  // that connection is gone; the next one is taken as usual
    case AcceptError::kNoDescriptors:
      // The connection stays queued and the listener readable; accepting
      // again at once would only fail again, so accepting pauses while the
      // rest of the lobby goes on.
      lobby.acceptPaused = true;
      lobby.pausedAt = tickCount();
      return true;
    case AcceptError::kListenerGone:
      break;
  }
  app.errorText = kMsgAccept;
  return false;
}

PassOutcome passOnce(ServerApp& app, LobbyState& lobby, int waitMs) {
  PassOutcome out;
  if (!lobby.listener) {
    waitFor(waitMs);
  } else if (!acceptOne(app, lobby, waitMs)) {
    lobby.listener.reset();
    lobby.handshakes.clear();
    out.failed = true;
    return out;
  }
  // Players join in the order their handshakes end; handshakes that end on
  // the same pass join in the order of their connections.
  for (size_t i = 0; i < lobby.handshakes.size();) {
    PendingHandshake& handshake = *lobby.handshakes[i];
    HandshakeResult result = handshake.poll(0);
    if (result == HandshakeResult::kPending) {
      ++i;
      continue;
    }
    if (result == HandshakeResult::kClosed ||
        (result == HandshakeResult::kNamed && !handshake.name().empty())) {
      // A peer that closed during the handshake is added with an empty name
      // and dropped again by the scan below, on this same pass.
      PlayerRecord player;
      player.name = handshake.name();
      app.players.push_back(std::move(player));
      app.clients.push_back(std::make_unique<ClientConnection>(handshake.socket()));
      out.changed = true;
    }
    // Otherwise (silent, over-long, or an empty name, which could not be
    // told from the empty line that ends the results) the connection is
    // closed and the lobby goes on as if it had never connected.
    lobby.handshakes.erase(lobby.handshakes.begin() + static_cast<std::ptrdiff_t>(i));
    out.settled = true;
  }
  // Any readability drops a player now: a close, or bytes that a player
  // program must not send before the first question. The entry that moves
  // into place i is polled on the next pass.
  for (size_t i = 0; i < app.clients.size(); ++i) {
    if (app.clients[i]->hasIncomingData()) {
      app.clients.erase(app.clients.begin() + static_cast<std::ptrdiff_t>(i));
      app.players.erase(app.players.begin() + static_cast<std::ptrdiff_t>(i));
      out.changed = true;
      out.settled = true;
    }
  }
  return out;
}

}  // namespace

bool beginLobby(ServerApp& app, LobbyState& lobby) {
  app.errorFlags = kStartupErrorFlags;
  app.exitCode = 1;
  lobby.listener.emplace();
  if (!lobby.listener->listen(lobby.port, kListenBacklog)) {
    lobby.listener.reset();
    app.errorText = kMsgListeningSocket;
    return false;
  }
  return true;
}

LobbyPass lobbyPass(ServerApp& app, LobbyState& lobby, int waitMs) {
  const uint32_t start = tickCount();
  bool changed = false;
  for (;;) {
    uint32_t elapsed = tickCount() - start;
    int left = waitMs > 0 && elapsed < static_cast<uint32_t>(waitMs)
                   ? waitMs - static_cast<int>(elapsed)
                   : 0;
    // Handshakes under way are looked at between short waits.
    int wait = lobby.handshakes.empty() ? left : std::min(left, kHandshakeLookMs);
    PassOutcome pass = passOnce(app, lobby, wait);
    if (pass.failed) return LobbyPass::kFailed;
    changed = changed || pass.changed;
    if (pass.settled || left == 0) break;
  }
  return changed ? LobbyPass::kChanged : LobbyPass::kUnchanged;
}

void endLobby(ServerApp& app, LobbyState& lobby) {
  lobby.listener.reset();
  lobby.handshakes.clear();
  if (app.lobbyOutcome == kLobbyQuit) shutdownServer(0);
}

}  // namespace qova

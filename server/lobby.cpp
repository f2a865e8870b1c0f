#include "server/lobby.h"

#include <algorithm>
#include <string>

#include "common/tick.h"
#include "server/client_connection.h"

namespace qova {

namespace {

struct PassOutcome {
  bool failed = false;
  bool changed = false;  // the connected count changed
  bool settled = false;  // a handshake ended or a player left
};

// Takes one waiting connection and greets it. False when the listening
// socket has failed.
bool acceptOne(ServerApp& app, LobbyState& lobby) {
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

// The sooner of two due times in milliseconds (-1: none).
int soonest(int a, int b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }

// Fills lobby.sockets with what the next wait is to ask about, in the order
// a pass looks at them, and gives the milliseconds until a handshake's time
// or the accept back-off runs out (-1: nothing falls due).
int prepareWait(ServerApp& app, LobbyState& lobby) {
  int due = -1;
  auto sooner = [&due](uint32_t ms) {
    int m = ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms);
    if (due < 0 || m < due) due = m;
  };
  if (lobby.acceptPaused) {
    uint32_t paused = tickCount() - lobby.pausedAt;
    if (paused >= kAcceptBackoffMs) {
      lobby.acceptPaused = false;
    } else {
      sooner(kAcceptBackoffMs - paused);
    }
  }
  lobby.askedHandshakes = lobby.handshakes.size();
  lobby.askedClients = app.clients.size();
  lobby.sockets.resize(1 + lobby.askedHandshakes + lobby.askedClients);
  PollEntry* e = lobby.sockets.data();
  *e = PollEntry{};
  if (lobby.listener) {
    e->handle = lobby.listener->handle();
    e->wantRead = !lobby.acceptPaused;
  }
  ++e;
  for (const auto& handshake : lobby.handshakes) {
    *e = PollEntry{};
    e->handle = handshake->socket().handle();
    e->wantRead = true;
    ++e;
    sooner(handshake->remainingMs());
  }
  for (const auto& client : app.clients) {
    *e = PollEntry{};
    e->handle = client->handle();
    e->wantRead = true;
    ++e;
  }
  return due;
}

// One pass over what the last wait found ready (lobby.sockets).
PassOutcome passOnce(ServerApp& app, LobbyState& lobby) {
  PassOutcome out;
  const PollEntry* handshakeReady = lobby.sockets.data() + 1;
  const PollEntry* clientReady = handshakeReady + lobby.askedHandshakes;
  if (lobby.listener && lobby.sockets[0].readable && !acceptOne(app, lobby)) {
    lobby.listener.reset();
    lobby.handshakes.clear();
    out.failed = true;
    return out;
  }
  // Players join in the order their handshakes end; handshakes that end on
  // the same pass join in the order of their connections. A handshake taken
  // on this pass was not asked about yet: it is looked at on the next one.
  std::vector<bool> joinedClosed;  // per client joining now: its peer has closed
  for (size_t i = 0, k = 0; i < lobby.handshakes.size(); ++k) {
    PendingHandshake& handshake = *lobby.handshakes[i];
    HandshakeResult result =
        handshake.advance(k < lobby.askedHandshakes && handshakeReady[k].readable);
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
      // Only a name accepted makes a player the room hears of.
      if (result == HandshakeResult::kNamed) player.number = ++app.lastPlayerNumber;
      app.players.push_back(std::move(player));
      app.clients.push_back(std::make_unique<ClientConnection>(handshake.socket()));
      roomFeedJoin(app, app.players.size() - 1);
      joinedClosed.push_back(result == HandshakeResult::kClosed);
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
  // into place i is looked at on the next pass. A player who joined on this
  // pass is readable when its peer closed (the wait saw its handshake so).
  for (size_t i = 0, k = 0; i < app.clients.size(); ++i, ++k) {
    bool readable =
        k < lobby.askedClients ? clientReady[k].readable : joinedClosed[k - lobby.askedClients];
    if (readable) {
      const int32_t number = app.players[i].number;
      app.clients.erase(app.clients.begin() + static_cast<std::ptrdiff_t>(i));
      app.players.erase(app.players.begin() + static_cast<std::ptrdiff_t>(i));
      roomFeedDrop(app, number);
      out.changed = true;
      out.settled = true;
      ++k;  // the entry that moved into place i
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
  // Without the feed's port the server plays on as before (a run-log line).
  openRoomFeed(app);
  return true;
}

LobbyPass lobbyPass(ServerApp& app, LobbyState& lobby, int waitMs) {
  const uint32_t start = tickCount();
  const size_t before = app.clients.size();
  bool changed = false;
  for (;;) {
    uint32_t elapsed = tickCount() - start;
    int left = waitMs > 0 && elapsed < static_cast<uint32_t>(waitMs)
                   ? waitMs - static_cast<int>(elapsed)
                   : 0;
    int due = prepareWait(app, lobby);
    const size_t first = lobby.sockets.size();
    due = soonest(due, roomFeedAddEntries(app, lobby.sockets));
    int wait = due < 0 ? left : std::min(left, due);
    if (pollSockets(lobby.sockets.data(), lobby.sockets.size(), wait) < 0) {
      for (PollEntry& e : lobby.sockets) e.readable = e.writable = false;
    }
    roomFeedService(app, lobby.sockets, first);
    PassOutcome pass = passOnce(app, lobby);
    if (pass.failed) return LobbyPass::kFailed;
    changed = changed || pass.changed;
    if (pass.settled || left == 0 || app.lobbyOutcome != kLobbyWaiting) break;
  }
  return changed || app.clients.size() != before ? LobbyPass::kChanged : LobbyPass::kUnchanged;
}

LobbyPass lobbyWaitPass(ServerApp& app, LobbyState& lobby, SocketWait& wait, int limitMs) {
  // A feed client's REMOVE takes a player out during the feed's service.
  const size_t before = app.clients.size();
  int due = prepareWait(app, lobby);
  const size_t first = lobby.sockets.size();
  due = soonest(due, roomFeedAddEntries(app, lobby.sockets));
  int timeout = due < 0 ? limitMs : limitMs < 0 ? due : std::min(due, limitMs);
  switch (wait.wait(lobby.sockets.data(), lobby.sockets.size(), timeout)) {
    case WaitOutcome::kMessage:
    case WaitOutcome::kWoken:
      // Nothing was queried; the feed still sends what has fallen due.
      for (PollEntry& e : lobby.sockets) e.readable = e.writable = false;
      roomFeedService(app, lobby.sockets, first);
      return LobbyPass::kMessage;
    case WaitOutcome::kFailed:
      // The wait could not be made: a plain look at the sockets instead.
      if (pollSockets(lobby.sockets.data(), lobby.sockets.size(), 0) < 0) {
        for (PollEntry& e : lobby.sockets) e.readable = e.writable = false;
      }
      break;
    case WaitOutcome::kReady:
    case WaitOutcome::kTimeout:
      break;
  }
  roomFeedService(app, lobby.sockets, first);
  PassOutcome pass = passOnce(app, lobby);
  if (pass.failed) return LobbyPass::kFailed;
  return pass.changed || app.clients.size() != before ? LobbyPass::kChanged : LobbyPass::kUnchanged;
}

void endLobby(ServerApp& app, LobbyState& lobby) {
  lobby.listener.reset();
  lobby.handshakes.clear();
  if (app.lobbyOutcome == kLobbyStart) roomFeedStart(app);
  if (app.lobbyOutcome == kLobbyQuit) shutdownServer(0);
}

}  // namespace qova

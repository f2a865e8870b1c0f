#include "server/lobby.h"

#include <memory>
#include <string>

#include "server/client_connection.h"

namespace qova {

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
  bool changed = false;
  if (lobby.listener && lobby.listener->pollReadable(waitMs)) {
    Socket socket = lobby.listener->accept();
    if (!socket.isValid()) {
      app.errorText = kMsgAccept;
      lobby.listener.reset();
      return LobbyPass::kFailed;
    }
    app.players.push_back(PlayerRecord());
    std::string settings =
        settingsMessage(app.timeLimitText, app.questionsPerRound, app.questions.responseCount());
    std::string name;
    HandshakeResult result = performHandshake(socket, settings, name, lobby.handshakeTimeoutMs);
    if (result == HandshakeResult::kTimedOut || result == HandshakeResult::kTooLong) {
      // Not a player program that keeps to the conversation: closed, and the
      // lobby goes on as if it had never connected.
      app.players.pop_back();
    } else {
      // A peer that closed during the handshake is added with an empty name
      // and dropped again by the scan below, on this same pass.
      app.players.back().name = name;
      app.clients.push_back(std::make_unique<ClientConnection>(socket));
      changed = true;
    }
  }
  // Any readability drops a player now: a close, or bytes that a player
  // program must not send before the first question. The entry that moves
  // into place i is polled on the next pass.
  for (size_t i = 0; i < app.clients.size(); ++i) {
    if (app.clients[i]->hasIncomingData()) {
      app.clients.erase(app.clients.begin() + static_cast<std::ptrdiff_t>(i));
      app.players.erase(app.players.begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
    }
  }
  return changed ? LobbyPass::kChanged : LobbyPass::kUnchanged;
}

void endLobby(ServerApp& app, LobbyState& lobby) {
  lobby.listener.reset();
  if (app.lobbyOutcome == LobbyQuit) shutdownServer(0);
}

}  // namespace qova

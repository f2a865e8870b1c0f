#include "server/host_commands.h"

namespace qova {

const char kRefusedStarted[] = "The quiz has already started.";
const char kRefusedNoPlayers[] = "No players have joined.";
const char kRefusedNotStarted[] = "The quiz has not started.";
const char kRefusedNoQuestion[] = "No question is out.";
const char kRefusedNoPlayer[] = "No such player.";
const char kRefusedUnknown[] = "Unknown command.";

std::string runHostCommand(ServerApp& app, GameState& game, const FeedCommand& command) {
  const bool inLobby = app.lobbyOutcome == kLobbyWaiting;
  switch (command.verb) {
    case FeedVerb::kStart:
      if (!inLobby) return kRefusedStarted;
      if (app.clients.empty()) return kRefusedNoPlayers;
      app.lobbyOutcome = kLobbyStart;
      return "";
    case FeedVerb::kEndQuestion:
      if (inLobby) return kRefusedNotStarted;
      return endQuestion(app, game) ? "" : kRefusedNoQuestion;
    case FeedVerb::kHold:
      if (inLobby) return kRefusedNotStarted;
      holdGame(app, game);
      return "";
    case FeedVerb::kGoOn:
      if (inLobby) return kRefusedNotStarted;
      goOn(app, game);
      return "";
    case FeedVerb::kHoldAfterRound:
      setHoldAfterRound(app, game, command.on);
      return "";
    case FeedVerb::kRemove:
      for (size_t i = 0; i < app.players.size(); ++i) {
        if (command.player > 0 && app.players[i].number == command.player) {
          removePlayer(app, game, i);
          return "";
        }
      }
      return kRefusedNoPlayer;
    case FeedVerb::kUnknown:
      break;
  }
  return kRefusedUnknown;
}

}  // namespace qova

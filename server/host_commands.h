// The host's commands from the room feed, run as the server's own controls
// would run them, without the questions the windows ask first (the device
// that sent the command has asked): START as the lobby's Start, END QUESTION
// as End Question, HOLD and GO ON as the Statistics window's Hold / Go On
// button, HOLD AFTER ROUND as its check box, REMOVE as Remove Player. The
// windows follow what a command did on their next look at the game.
#pragma once

#include <string>

#include "server/feed_command.h"
#include "server/game_engine.h"
#include "server/server_app.h"

namespace qova {

// The reasons a command is refused, as the feed sends them.
extern const char kRefusedStarted[];     // "The quiz has already started."
extern const char kRefusedNoPlayers[];   // "No players have joined."
extern const char kRefusedNotStarted[];  // "The quiz has not started."
extern const char kRefusedNoQuestion[];  // "No question is out."
extern const char kRefusedNoPlayer[];    // "No such player."
extern const char kRefusedUnknown[];     // "Unknown command."

// Runs `command` on the lobby (while app.lobbyOutcome is kLobbyWaiting) or
// the game: "" when done, else the reason it was refused. START in the lobby
// sets app.lobbyOutcome to kLobbyStart, which ends the lobby's loop as the
// window's Start does; unlike that button it refuses a lobby without
// players. HOLD while held and GO ON while not held are done (nothing
// changes): two host devices may press at once.
std::string runHostCommand(ServerApp& app, GameState& game, const FeedCommand& command);

}  // namespace qova

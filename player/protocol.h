// The conversation as a player program presents it: the messages and the
// texts it sends come from wire/player_side.h (ServerStream, ServerMessage,
// GameSettings, Question, ResultEntry, SummaryEntry, answerMessage,
// nameMessage, secondsText, kMaxServerLine); here is what a player program
// makes of them for its player.
#pragma once

#include <vector>

#include "wire/player_side.h"

namespace qova {

// The time limit of the settings in seconds when it is a positive number
// (read as atof reads it), else 0: no limit.
double timeLimitSeconds(const GameSettings& settings);

// Leaderboard order: most correct answers overall first, then the lower
// overall average time; equal players keep the server's order.
std::vector<SummaryEntry> leaderboard(const std::vector<SummaryEntry>& summary);

}  // namespace qova

// The rules that every player program and the quiz server read the same
// way: where the server listens, how the operator's time limit is read, what
// time a player is given when it runs out, how the correct response is
// named, how long results stay up and how long a name may be. Each rule is
// written here once; the players' programs, the browser players' gateway
// and the server all take it from here.
#pragma once

#include <cstdint>
#include <string>

#include "wire/player_side.h"

namespace qova {

// The quiz server's TCP port.
constexpr uint16_t kServerPort = 5632;

// The longest player name, in characters (bytes of Windows-1252).
constexpr size_t kMaxNameLength = 40;

// How long a player program keeps a question's results, and a round's
// leaderboard, in view before the next question is shown. The server sends
// the next question the moment the last answer is in; without a pause the
// results would flash by. The question's time starts when it is shown.
constexpr int64_t kResultsPauseMs = 3000;
constexpr int64_t kLeaderboardPauseMs = 6000;

// The time limit in seconds when `timeLimitText` (as the operator entered it
// in config.ini) reads as a positive number by atof's rules, else 0: no
// limit.
double timeLimitSeconds(const std::string& timeLimitText);

// The time text of an answer that ran out of time: the limit itself with two
// decimals ("30.00" for 30, "2.50" for 2.5), whoever records it (a player
// program at its countdown's end, or the server at its deadline).
std::string timeoutTimeText(double limitSeconds);

// The number (1-based) of the question's correct response, 0 when its
// correct character names none of its responses.
int correctResponseNumber(const Question& question);

}  // namespace qova

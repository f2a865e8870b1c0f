// The game: one non-blocking turn at a time. The message loop calls gameTick
// whenever no window message waits; each call polls the players whose answer
// is awaited and, once none is, sends the results, the round summary at the
// end of a round, and the next question.
#pragma once

#include <cstdint>
#include <vector>

#include "common/random.h"
#include "qdb/question_record.h"
#include "server/server_app.h"

namespace qova {

struct GameState {
  bool gameStarting = true;
  std::vector<ServerQuestionRecord> roundQuestions;
  int32_t questionIndex = 0;   // questions of this round already sent
  int32_t pendingAnswers = 0;  // clients whose answer is still awaited
};

// `n` distinct record numbers in 1..recordCount, in the order drawn, each
// 1 + r mod recordCount. Up to 32768 records r is one value of the
// generator; above, r joins two values (three above 2^30) so that every
// record can be drawn. Requires 0 <= n <= recordCount.
std::vector<int32_t> drawRecordNumbers(int32_t n, int32_t recordCount,
                                       RandomGenerator& random = processRandom());

// Draws and fetches the round, then appends an empty round to every player.
// False when the database cannot be read: no round is begun.
bool startRound(ServerApp& app, GameState& game);
// Sends the next question to every client and awaits every answer.
void broadcastQuestion(ServerApp& app, GameState& game);

// One turn. False when no client is left: errorText "All clients have
// dropped.", errorFlags kDroppedErrorFlags, exitCode 0, for reportError. False too when a
// round's questions cannot be read from the database: "Error loading
// questions.", reported as a start-up failure is (kStartupErrorFlags, exit code 1).
bool gameTick(ServerApp& app, GameState& game);
// The turn of the process's game, on the process's ServerApp.
bool gameTick();

}  // namespace qova

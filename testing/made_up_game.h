// A made-up game of any size for the results' benchmarks and browser tests:
// players with varied names (some beyond ASCII, some hostile), rounds of
// questions of varied difficulty, every player answering every question.
// The same arguments always give the same game.
#pragma once

#include <vector>

#include "server/server_app.h"

namespace qova::testing {

struct MadeUpGame {
  std::vector<PlayerRecord> players;
  std::vector<std::vector<AskedQuestion>> askedRounds;
};

MadeUpGame madeUpGame(int players, int rounds, int questionsPerRound);

}  // namespace qova::testing

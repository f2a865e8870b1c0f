#include "testing/made_up_game.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/random.h"

namespace qova::testing {

namespace {

const char* const kFirst[] = {"Ann",  "Bob",         "Zo\xEB",   "Lena",  "Mateo",     "Aisha",
                              "Kai",  "Fran\xE7ois", "Nora",     "Omar",  "J\xFCrgen", "Siobh\xE1n",
                              "Yuki", "Priya",       "Tom\xE1s", "Ingrid"};
const char* const kLast[] = {"Smith",
                             "O'Brien",
                             "M\xFCller",
                             "Garc\xED"
                             "a",
                             "Nguyen",
                             "Kowalski",
                             "Okafor",
                             "Rossi",
                             "Dubois",
                             "Haddad",
                             "Lee",
                             "Andersen"};
const char* const kHostile[] = {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>",
                                "&amp;"};
const char* const kTopics[] = {"the capital of", "the largest river in", "the currency of",
                               "the highest mountain in", "the national dish of"};
const char* const kPlaces[] = {"France", "Peru",  "Kenya", "Japan", "Canada",
                               "Norway", "Chile", "Egypt", "India", "Mexico"};

}  // namespace

MadeUpGame madeUpGame(int players, int rounds, int questionsPerRound) {
  RandomGenerator random;
  random.seed(2026);
  MadeUpGame game;
  for (int r = 0; r < rounds; ++r) {
    std::vector<AskedQuestion>& round = game.askedRounds.emplace_back();
    for (int q = 0; q < questionsPerRound; ++q) {
      const int n = r * questionsPerRound + q;
      AskedQuestion asked;
      asked.recordNumber = 1 + (n * 37) % 5000;
      asked.question = std::string("What is ") + kTopics[n % 5] + " " + kPlaces[(n / 5) % 10] +
                       "? (question " + std::to_string(n + 1) + ")";
      asked.correctResponse =
          std::string("Answer ") + std::to_string(1 + n % 4) + " for " + kPlaces[(n / 5) % 10];
      round.push_back(asked);
    }
  }
  for (int p = 0; p < players; ++p) {
    PlayerRecord player;
    if (p < 3 && players >= 10) {
      player.name = kHostile[p];
    } else {
      player.name = std::string(kFirst[p % 16]) + " " + kLast[(p / 16) % 12];
      if (p >= 16 * 12) player.name += " " + std::to_string(p / (16 * 12) + 1);
    }
    // Stronger players answer more often right, and faster.
    const int skill = 30 + (p * 53) % 65;
    for (int r = 0; r < rounds; ++r) {
      std::vector<Response>& round = player.rounds.emplace_back();
      for (int q = 0; q < questionsPerRound; ++q) {
        const int difficulty = ((r * questionsPerRound + q) * 29) % 40;
        const bool right = static_cast<int>(random.next() % 100) < skill - difficulty + 20;
        const int tenths = std::max(5, 20 + static_cast<int>(random.next() % 250) - skill / 2);
        char time[16];
        std::snprintf(time, sizeof time, "%d.%d", tenths / 10 + 1, tenths % 10);
        round.push_back(Response{time, right});
      }
    }
    game.players.push_back(player);
  }
  return game;
}

}  // namespace qova::testing

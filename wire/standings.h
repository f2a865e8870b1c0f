// How a player program reads the standings the server sends: the order of a
// round summary's leaderboard and its places, and which row of a question's
// results or of a leaderboard is the player's own. Names alone do not tell:
// two players may share one, so the own row is the one whose name and
// whose figures are what this player sent.
#pragma once

#include <string>
#include <vector>

#include "wire/player_side.h"

namespace qova {

// Leaderboard order: most correct answers overall first, then the lower
// overall average time; equal players keep the server's order.
std::vector<SummaryEntry> leaderboard(const std::vector<SummaryEntry>& summary);

// The 1-based place of each row of a leaderboard in that order: a row with
// the same correct count and the same average text overall as the row
// before it shares that row's place; the next one after a tie skips the
// places the tie took (1, 2, 2, 4).
std::vector<int> leaderboardPlaces(const std::vector<SummaryEntry>& order);

// What a player sent for the question just played.
struct SentAnswer {
  std::string timeText;
  bool correct = false;
};

// Whether `row` of a question's results is the one `name` got for `sent`.
bool isOwnResult(const ResultEntry& row, const std::string& name, const SentAnswer& sent);
// The index of the first such row of `results`, -1 when there is none.
int ownResultRow(const std::vector<ResultEntry>& results, const std::string& name,
                 const SentAnswer& sent);

// What a player knows of its own figures: the answers it sent and how many
// of them were right, in the round under way and overall. Time-outs count
// as (wrong) answers, as the server counts them.
struct AnswerTally {
  int roundAnswers = 0;
  int roundCorrect = 0;
  int totalAnswers = 0;
  int totalCorrect = 0;

  void count(bool correct);
  // The round's summary has been read: the next answer opens a new round.
  void endRound() { roundAnswers = roundCorrect = 0; }
};

// The index of the first row of a summary or leaderboard with `name` and the
// counts of `tally`, -1 when there is none (the player answered nothing, or
// another player took its place).
int ownStandingRow(const std::vector<SummaryEntry>& rows, const std::string& name,
                   const AnswerTally& tally);

}  // namespace qova

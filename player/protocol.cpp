#include "player/protocol.h"

#include <algorithm>

#include "common/number_format.h"
#include "wire/play_rules.h"

namespace qova {

double timeLimitSeconds(const GameSettings& settings) {
  return timeLimitSeconds(settings.timeLimitText);
}

std::vector<SummaryEntry> leaderboard(const std::vector<SummaryEntry>& summary) {
  std::vector<SummaryEntry> sorted = summary;
  std::stable_sort(sorted.begin(), sorted.end(), [](const SummaryEntry& a, const SummaryEntry& b) {
    if (a.totalCorrect != b.totalCorrect) return a.totalCorrect > b.totalCorrect;
    return parseDecimal(a.totalAverage) < parseDecimal(b.totalAverage);
  });
  return sorted;
}

}  // namespace qova

#include "wire/standings.h"

#include <algorithm>

#include "common/number_format.h"

namespace qova {

std::vector<SummaryEntry> leaderboard(const std::vector<SummaryEntry>& summary) {
  std::vector<SummaryEntry> sorted = summary;
  std::stable_sort(sorted.begin(), sorted.end(), [](const SummaryEntry& a, const SummaryEntry& b) {
    if (a.totalCorrect != b.totalCorrect) return a.totalCorrect > b.totalCorrect;
    return parseDecimal(a.totalAverage) < parseDecimal(b.totalAverage);
  });
  return sorted;
}

std::vector<int> leaderboardPlaces(const std::vector<SummaryEntry>& order) {
  std::vector<int> places;
  places.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    bool tied = i > 0 && order[i].totalCorrect == order[i - 1].totalCorrect &&
                order[i].totalAverage == order[i - 1].totalAverage;
    places.push_back(tied ? places.back() : static_cast<int>(i) + 1);
  }
  return places;
}

bool isOwnResult(const ResultEntry& row, const std::string& name, const SentAnswer& sent) {
  return row.name == name && row.timeText == sent.timeText && row.correct == sent.correct;
}

int ownResultRow(const std::vector<ResultEntry>& results, const std::string& name,
                 const SentAnswer& sent) {
  for (size_t i = 0; i < results.size(); ++i) {
    if (isOwnResult(results[i], name, sent)) return static_cast<int>(i);
  }
  return -1;
}

void AnswerTally::count(bool correct) {
  ++roundAnswers;
  ++totalAnswers;
  if (correct) {
    ++roundCorrect;
    ++totalCorrect;
  }
}

int ownStandingRow(const std::vector<SummaryEntry>& rows, const std::string& name,
                   const AnswerTally& tally) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const SummaryEntry& e = rows[i];
    if (e.name == name && e.roundAnswers == tally.roundAnswers &&
        e.roundCorrect == tally.roundCorrect && e.totalAnswers == tally.totalAnswers &&
        e.totalCorrect == tally.totalCorrect) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace qova

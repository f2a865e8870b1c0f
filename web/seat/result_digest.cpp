#include "web/seat/result_digest.h"

#include <algorithm>

#include "common/number_format.h"

namespace qova::web {

ResultDigest digestResults(std::shared_ptr<const std::vector<ResultEntry>> entries) {
  ResultDigest d;
  d.entries = std::move(entries);
  const std::vector<ResultEntry>& rows = *d.entries;
  d.players = static_cast<int>(rows.size());
  // (time, index) of the right rows: the fastest kFastestRows of them.
  std::vector<std::pair<double, int>> right;
  for (size_t i = 0; i < rows.size(); ++i) {
    d.rowsByName[rows[i].name].push_back(static_cast<int>(i));
    if (rows[i].correct) right.emplace_back(parseDecimal(rows[i].timeText), static_cast<int>(i));
  }
  d.right = static_cast<int>(right.size());
  size_t n = std::min<size_t>(right.size(), kFastestRows);
  std::partial_sort(right.begin(), right.begin() + static_cast<std::ptrdiff_t>(n), right.end());
  for (size_t i = 0; i < n; ++i) d.fastest.push_back(right[i].second);
  d.inline_all = d.players <= kInlineRows;
  if (d.inline_all) {
    for (int i = 0; i < d.players; ++i) d.shown.push_back(i);
  } else {
    d.shown = d.fastest;
  }
  return d;
}

int ownResultRow(const ResultDigest& digest, const std::string& name, const SentAnswer& sent) {
  auto found = digest.rowsByName.find(name);
  if (found == digest.rowsByName.end()) return -1;
  for (int i : found->second) {
    if (isOwnResult((*digest.entries)[static_cast<size_t>(i)], name, sent)) return i;
  }
  return -1;
}

StandingsDigest digestStandings(const std::vector<SummaryEntry>& summary) {
  StandingsDigest d;
  d.order = leaderboard(summary);
  d.places = leaderboardPlaces(d.order);
  d.players = static_cast<int>(d.order.size());
  d.shown = d.players <= kInlineRows ? d.players : kTopRows;
  for (size_t i = 0; i < d.order.size(); ++i) {
    d.rowsByName[d.order[i].name].push_back(static_cast<int>(i));
  }
  return d;
}

int ownStandingRow(const StandingsDigest& digest, const std::string& name,
                   const AnswerTally& tally) {
  auto found = digest.rowsByName.find(name);
  if (found == digest.rowsByName.end()) return -1;
  for (int i : found->second) {
    const SummaryEntry& e = digest.order[static_cast<size_t>(i)];
    if (e.roundAnswers == tally.roundAnswers && e.roundCorrect == tally.roundCorrect &&
        e.totalAnswers == tally.totalAnswers && e.totalCorrect == tally.totalCorrect) {
      return i;
    }
  }
  return -1;
}

}  // namespace qova::web

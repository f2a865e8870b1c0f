#include "web/seat/shared_rows.h"

#include "web/seat/page_message.h"

namespace qova::web {

std::shared_ptr<const SharedResults> SharedRows::results(
    const std::shared_ptr<const std::vector<ResultEntry>>& entries) {
  if (lastResults_ && entries == lastEntries_) return lastResults_;
  auto read = std::make_shared<SharedResults>();
  read->digest = digestResults(entries);
  read->json = std::make_shared<const std::string>(resultsShared(read->digest));
  lastEntries_ = entries;
  lastResults_ = read;
  return lastResults_;
}

std::shared_ptr<const Leaderboard> SharedRows::leaderboard(
    const std::shared_ptr<const std::vector<SummaryEntry>>& summary) {
  if (lastBoard_ && summary == lastSummary_) return lastBoard_;
  auto board = std::make_shared<Leaderboard>();
  board->digest = digestStandings(*summary);
  board->json = std::make_shared<const std::string>(standingsShared(board->digest));
  lastSummary_ = summary;
  lastBoard_ = board;
  return lastBoard_;
}

}  // namespace qova::web

#include "web/shared_rows.h"

#include "web/page_message.h"
#include "wire/standings.h"

namespace qova::web {

std::shared_ptr<const SharedResults> SharedRows::results(
    const std::shared_ptr<const std::vector<ResultEntry>>& entries) {
  if (lastResults_ && entries == lastEntries_) return lastResults_;
  auto read = std::make_shared<SharedResults>();
  read->entries = entries;
  read->rowsJson = std::make_shared<const std::string>(resultsRows(*entries));
  for (size_t i = 0; i < entries->size(); ++i) {
    read->rowsByName[(*entries)[i].name].push_back(static_cast<int>(i));
  }
  lastEntries_ = entries;
  lastResults_ = read;
  return lastResults_;
}

std::shared_ptr<const Leaderboard> SharedRows::leaderboard(
    const std::shared_ptr<const std::vector<SummaryEntry>>& summary) {
  if (lastBoard_ && summary == lastSummary_) return lastBoard_;
  auto board = std::make_shared<Leaderboard>();
  board->order = qova::leaderboard(*summary);
  std::vector<int> ranks = leaderboardPlaces(board->order);
  board->rowsJson = std::make_shared<const std::string>(leaderboardRows(board->order, ranks));
  lastSummary_ = summary;
  lastBoard_ = board;
  return lastBoard_;
}

}  // namespace qova::web

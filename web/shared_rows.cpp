#include "web/shared_rows.h"

#include "player/protocol.h"  // leaderboard order, shared with QOVAPLAY
#include "web/page_message.h"

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
  std::vector<int> ranks(board->order.size());
  for (size_t i = 0; i < board->order.size(); ++i) {
    const SummaryEntry& e = board->order[i];
    bool tie = i > 0 && e.totalCorrect == board->order[i - 1].totalCorrect &&
               e.totalAverage == board->order[i - 1].totalAverage;
    ranks[i] = tie ? ranks[i - 1] : static_cast<int>(i) + 1;
  }
  board->rowsJson = std::make_shared<const std::string>(leaderboardRows(board->order, ranks));
  lastSummary_ = summary;
  lastBoard_ = board;
  return lastBoard_;
}

}  // namespace qova::web

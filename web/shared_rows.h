// The rows of result and leaderboard messages, built once per distinct
// content: the server sends every player the same results, so with many web
// seats each one finds the rows already built by the first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wire/player_side.h"

namespace qova::web {

struct Leaderboard {
  std::vector<SummaryEntry> order;              // leaderboard order
  std::shared_ptr<const std::string> rowsJson;  // [{"rank":..,"name":..,...}, ...]
};

class SharedRows {
 public:
  // The JSON array of the results rows: [{"name":..,"time":..,"right":..}, ...].
  std::shared_ptr<const std::string> results(const std::vector<ResultEntry>& entries);
  // The summary in leaderboard order and its JSON rows; ranks are shared by
  // players with the same correct count and the same average overall.
  std::shared_ptr<const Leaderboard> leaderboard(const std::vector<SummaryEntry>& summary);

 private:
  std::vector<ResultEntry> lastResults_;
  std::shared_ptr<const std::string> lastResultsJson_;
  std::vector<SummaryEntry> lastSummary_;
  std::shared_ptr<const Leaderboard> lastBoard_;
};

}  // namespace qova::web

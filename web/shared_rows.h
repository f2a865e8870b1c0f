// The rows of result and leaderboard messages, built once per distinct
// content: the server sends every player the same results, so with many web
// seats each one finds the rows already built by the first.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "player/protocol.h"

namespace qova::web {

struct Leaderboard {
  std::vector<SummaryEntry> order;              // leaderboard order
  std::shared_ptr<const std::string> rowsJson;  // [{"rank":..,"name":..,...}, ...]
};

// A results message read once for every seat that received the same bytes.
struct SharedResults {
  std::vector<ResultEntry> entries;
  std::shared_ptr<const std::string> rowsJson;
  // The rows of each name, in order: a seat finds its own row without
  // going through every row.
  std::unordered_map<std::string, std::vector<int>> rowsByName;
};

class SharedRows {
 public:
  // The results message `raw` (from its first line to its closing empty
  // line, CR LF included) read as a player's stream reads it; the last one
  // read is kept, so every further seat with the same bytes gets it without
  // reading. Null when the message breaks the protocol.
  std::shared_ptr<const SharedResults> readResults(const char* raw, size_t size);
  // The length of the last results (summary) message read when `held`
  // begins with its bytes, so that it needs no reading; else 0.
  size_t knownResults(const std::string& held) const;
  size_t knownSummary(const std::string& held) const;
  // The same for a round summary message.
  std::shared_ptr<const Leaderboard> readSummary(const char* raw, size_t size);

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
  std::string lastResultsRaw_;
  std::shared_ptr<const SharedResults> lastRead_;
  std::string lastSummaryRaw_;
  std::shared_ptr<const Leaderboard> lastReadBoard_;
};

}  // namespace qova::web

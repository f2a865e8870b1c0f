// The rows of result and leaderboard messages, built once per distinct
// content: the server sends every player the same results, so with many web
// seats each one finds the rows already built by the first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/player_side.h"

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
  // How much of a seat's held bytes has been found equal to the last
  // message read; the seat keeps it between calls, so that each byte is
  // compared once. `of` tells which message it was compared with.
  struct Known {
    size_t checked = 0;
    uint64_t of = 0;
  };
  // The length of the last results (summary) message read when `held`
  // begins with its bytes, so that it needs no reading; else 0, with
  // *partial true when `held` is the beginning of those bytes.
  size_t knownResults(const std::string& held, Known* known, bool* partial) const;
  size_t knownSummary(const std::string& held, Known* known, bool* partial) const;
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
  uint64_t resultsRead_ = 1, summaryRead_ = 1;  // counts of messages read, for Known::of
};

}  // namespace qova::web

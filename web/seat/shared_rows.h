// The digests of result and summary messages and the part of the page's
// message every seat shares, built once per message the server sent: every
// seat receives the same results and summaries, which its stream reads
// through lists() once for all seats; the first seat that shows them builds
// them here, and the others find them built.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "web/seat/result_digest.h"
#include "web/seat/shared_lists.h"
#include "wire/player_side.h"

namespace qova::web {

// A results message as every seat that received it shows it.
struct SharedResults {
  ResultDigest digest;
  std::shared_ptr<const std::string> json;  // resultsShared(digest)
};

struct Leaderboard {
  StandingsDigest digest;
  std::shared_ptr<const std::string> json;  // standingsShared(digest)
};

class SharedRows {
 public:
  // `maxListBytes`: the longest results or summary message a seat takes
  // (SeatStream::setMaxListBytes).
  explicit SharedRows(size_t maxListBytes = static_cast<size_t>(-1))
      : maxListBytes_(maxListBytes) {}
  size_t maxListBytes() const { return maxListBytes_; }

  // What the seats' streams read results and summaries through.
  SharedLists* lists() { return &lists_; }

  // The digest of the results `entries` (as a stream holds them); the same
  // object for every seat whose stream gave the same entries.
  std::shared_ptr<const SharedResults> results(
      const std::shared_ptr<const std::vector<ResultEntry>>& entries);
  // The summary in leaderboard order with its places.
  std::shared_ptr<const Leaderboard> leaderboard(
      const std::shared_ptr<const std::vector<SummaryEntry>>& summary);

 private:
  size_t maxListBytes_;
  SharedLists lists_;
  std::shared_ptr<const std::vector<ResultEntry>> lastEntries_;
  std::shared_ptr<const SharedResults> lastResults_;
  std::shared_ptr<const std::vector<SummaryEntry>> lastSummary_;
  std::shared_ptr<const Leaderboard> lastBoard_;
};

}  // namespace qova::web

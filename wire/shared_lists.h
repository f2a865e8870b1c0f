// Results and round summaries read once for many streams. A gateway plays
// many seats against one server, and the server sends every player the same
// results and summaries: long messages (lines for every player) that each
// seat would otherwise read on its own. Streams that share a SharedLists
// take such a message whole, compare it with the last one read (its length
// and a 128-bit digest of its bytes: no copy of the bytes is kept), and read
// it only when they differ; equal messages give the very same entries to
// every stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/player_side.h"

namespace qova {

class SharedLists {
 public:
  // Reads the whole `kind` message of `size` bytes (from its first line to
  // its closing empty line, CR LF included) unless it is the last one read.
  // False when it breaks the protocol.
  bool read(ServerMessage kind, const char* data, size_t size);

  // The entries of the last message read of each kind.
  const std::shared_ptr<const std::vector<ResultEntry>>& results() const { return results_; }
  const std::shared_ptr<const std::vector<SummaryEntry>>& summary() const { return summary_; }

 private:
  // What identifies the last message read of one kind.
  struct Last {
    size_t size = 0;  // 0: none yet
    uint64_t digest[2] = {0, 0};
  };

  Last resultsLast_, summaryLast_;
  std::shared_ptr<const std::vector<ResultEntry>> results_;
  std::shared_ptr<const std::vector<SummaryEntry>> summary_;
};

}  // namespace qova

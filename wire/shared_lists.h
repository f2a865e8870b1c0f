// Results and round summaries read once for many streams. A gateway plays
// many seats against one server, and the server sends every player the same
// results and summaries: long messages (lines for every player) that each
// seat would otherwise read on its own. Streams that share a SharedLists
// take such a message whole, compare its bytes with those of the last one
// read, and read it only when they differ; equal bytes give the very same
// entries to every stream.
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
  // The length of the last `kind` message read (kResults or kSummary) when
  // the `size` bytes at `data` begin with all of its bytes; else 0, with
  // *partial true when they are the beginning of those bytes. *known
  // carries the comparison from one call to the next for the same bytes
  // (the caller resets it when it drops the bytes it compared).
  size_t known(ServerMessage kind, const char* data, size_t size, KnownBytes* known,
               bool* partial) const;
  // Reads the whole `kind` message of `size` bytes (from its first line to
  // its closing empty line, CR LF included) unless it is the last one read.
  // False when it breaks the protocol.
  bool read(ServerMessage kind, const char* data, size_t size);

  // The entries of the last message read of each kind.
  const std::shared_ptr<const std::vector<ResultEntry>>& results() const { return results_; }
  const std::shared_ptr<const std::vector<SummaryEntry>>& summary() const { return summary_; }

 private:
  // The bytes of the last message read of one kind.
  struct Last {
    std::string raw;
    uint64_t serial = 0;  // counts the messages read; 0: none yet
  };
  const Last& last(ServerMessage kind) const {
    return kind == ServerMessage::kResults ? resultsRaw_ : summaryRaw_;
  }

  Last resultsRaw_, summaryRaw_;
  uint64_t serials_ = 0;
  std::shared_ptr<const std::vector<ResultEntry>> results_;
  std::shared_ptr<const std::vector<SummaryEntry>> summary_;
};

}  // namespace qova

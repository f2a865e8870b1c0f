// Results and round summaries read once for many streams. A gateway plays
// many seats against one server, and the server sends every player the same
// results and summaries: long messages (lines for every player) that each
// seat would otherwise read on its own. Streams that share a SharedLists
// compare the bytes they receive with the last such message read, as they
// arrive, and read a message only when it differs; equal messages give the
// very same entries to every stream. One copy of the last message of each
// kind is kept: at most the bound on one message, beside the many seats'
// buffers that each hold as much.
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

  // The bytes of the last `kind` message read (empty: none yet). A stream
  // whose bytes begin with them holds that very message.
  const std::string& lastBytes(ServerMessage kind) const {
    return kind == ServerMessage::kResults ? resultsBytes_ : summaryBytes_;
  }
  // Counts the messages read: lastBytes() changed when this did.
  uint64_t version() const { return version_; }

  // The entries of the last message read of each kind.
  const std::shared_ptr<const std::vector<ResultEntry>>& results() const { return results_; }
  const std::shared_ptr<const std::vector<SummaryEntry>>& summary() const { return summary_; }

 private:
  std::string resultsBytes_, summaryBytes_;
  uint64_t version_ = 0;
  std::shared_ptr<const std::vector<ResultEntry>> results_;
  std::shared_ptr<const std::vector<SummaryEntry>> summary_;
};

}  // namespace qova

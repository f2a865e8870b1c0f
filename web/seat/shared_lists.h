// Results and round summaries read once for many streams. A gateway plays
// many seats against one server, and the server sends every player the same
// results and summaries: long messages (lines for every player) that each
// seat would otherwise read on its own. Seat streams that share a
// SharedLists (web/seat/seat_stream.h) compare the bytes they receive with
// the last such message read, as they arrive, and read a message only when
// it differs; equal messages give the very same entries to every stream.
// The last message of each kind is kept whole: at most the bound on one
// message, beside the many seats' buffers that could each hold as much.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "wire/player_side.h"

namespace qova::web {

// One results or round summary message as read: its bytes, from its first
// line to its closing empty line, and its entries (those of its kind).
struct ListMessage {
  std::string bytes;
  std::shared_ptr<const std::vector<ResultEntry>> results;
  std::shared_ptr<const std::vector<SummaryEntry>> summary;
};

class SharedLists {
 public:
  // Reads the whole `kind` message of `size` bytes (from its first line to
  // its closing empty line, CR LF included) unless it is the last one read.
  // False when it breaks the protocol.
  bool read(ServerMessage kind, const char* data, size_t size);

  // The last `kind` message read; null when none has been. A stream whose
  // bytes begin with its bytes holds that very message.
  const std::shared_ptr<const ListMessage>& last(ServerMessage kind) const {
    return kind == ServerMessage::kResults ? results_ : summary_;
  }

 private:
  std::shared_ptr<const ListMessage> results_, summary_;
};

}  // namespace qova::web

#include "web/seat/seat_stream.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qova::web {

namespace {

bool isList(ServerMessage kind) {
  return kind == ServerMessage::kResults || kind == ServerMessage::kSummary;
}

}  // namespace

void SeatStream::feed(const char* data, size_t size) {
  if (stream_.broken()) return;
  size_t equal = compareOnArrival(data, size);
  stream_.feed(data + equal, size - equal);
}

ServerMessage SeatStream::next() {
  if (stream_.broken()) return ServerMessage::kNone;
  ServerMessage kind = stream_.due();
  if (!ownRead_ && isList(kind)) {
    ServerMessage m = ServerMessage::kNone;
    Shared taken = takeShared(kind, &m);
    if (taken == Shared::kTaken) return m;
    if (taken == Shared::kWait) return ServerMessage::kNone;
  }
  // Settings and questions, and a list message read line by line.
  ServerMessage m = stream_.next();
  if (isList(m) || m == ServerMessage::kViolation) listOver();
  return m;
}

void SeatStream::listOver() {
  ownRead_ = false;
  frameScan_ = frameLines_ = 0;
  sameAs_.reset();
  same_ = 0;
  unbuffered_ = false;
}

ServerMessage SeatStream::take(ServerMessage kind, const ListMessage& read, size_t received) {
  ServerMessage m = kind == ServerMessage::kResults ? stream_.takeResults(read.results, received)
                                                    : stream_.takeSummary(read.summary, received);
  listOver();
  return m;
}

SeatStream::Shared SeatStream::takeShared(ServerMessage kind, ServerMessage* m) {
  // Most often every seat receives the message another seat has just read:
  // comparing bytes is far cheaper than finding its lines.
  bool wait = false;
  if (sameAsLast(kind, &wait)) {
    *m = take(kind, *sameAs_, unbuffered_ ? 0 : same_);
    return Shared::kTaken;
  }
  if (wait) return Shared::kWait;
  size_t whole = frame(kind);
  if (whole == 0) {
    // The message is not whole yet: it may not grow past the bound.
    if (stream_.pending().size() <= stream_.maxListBytes()) return Shared::kWait;
    *m = stream_.failTooLarge();
    listOver();
    return Shared::kTaken;
  }
  if (whole != std::string::npos && whole > stream_.maxListBytes()) {
    *m = stream_.failTooLarge();
    listOver();
    return Shared::kTaken;
  }
  if (whole == std::string::npos || !shared_->read(kind, stream_.pending().data(), whole)) {
    ownRead_ = true;
    return Shared::kOwnRead;
  }
  *m = take(kind, *shared_->last(kind), whole);
  return Shared::kTaken;
}

size_t SeatStream::compareOnArrival(const char* data, size_t size) {
  if (ownRead_ || !stream_.pending().empty() || same_ == std::string::npos ||
      !isList(stream_.due())) {
    return 0;
  }
  if (same_ == 0) sameAs_ = shared_->last(stream_.due());
  // With none read yet the bytes are kept, to be compared once another
  // stream has read one (the first message of a game reaches every seat at
  // about the same time).
  if (!sameAs_) return 0;
  if (sameAs_->bytes.size() > stream_.maxListBytes()) {
    same_ = std::string::npos;
    return 0;
  }
  const std::string& bytes = sameAs_->bytes;
  if (same_ == bytes.size()) return 0;  // whole: what follows is the next message
  size_t n = std::min(size, bytes.size() - same_);
  if (std::memcmp(data, bytes.data() + same_, n) != 0) {
    // They differ: the bytes held by the comparison go to the stream, and
    // the message is framed and read from there.
    stream_.feed(bytes.data(), same_);
    same_ = std::string::npos;
    unbuffered_ = false;
    return 0;
  }
  same_ += n;
  unbuffered_ = true;
  return n;
}

bool SeatStream::sameAsLast(ServerMessage kind, bool* wait) {
  if (same_ == std::string::npos) {
    // It differs from sameAs_, most often the message before it; another
    // stream that received it sooner may have read it since.
    const std::shared_ptr<const ListMessage>& last = shared_->last(kind);
    if (unbuffered_ || !last || last == sameAs_) return false;
    sameAs_ = last;
    same_ = 0;
  }
  if (unbuffered_) {
    // The bytes so far arrived equal and are held by sameAs_ alone.
    if (same_ == sameAs_->bytes.size()) return true;
    *wait = true;
    return false;
  }
  if (same_ == 0) sameAs_ = shared_->last(kind);
  if (!sameAs_) return false;  // framed meanwhile; compared once one has been read
  if (sameAs_->bytes.size() > stream_.maxListBytes()) {
    same_ = std::string::npos;
    return false;
  }
  const std::string& bytes = sameAs_->bytes;
  std::string_view held = stream_.pending();
  size_t upTo = std::min(held.size(), bytes.size());
  if (std::memcmp(held.data() + same_, bytes.data() + same_, upTo - same_) != 0) {
    same_ = std::string::npos;
    return false;
  }
  same_ = upTo;
  // The message ends at its closing line, so equal bytes end there too.
  if (upTo == bytes.size()) return true;
  *wait = true;
  return false;
}

size_t SeatStream::frame(ServerMessage kind) {
  // A message ends with an empty line where an entry (3 lines of results,
  // 7 of a summary) would start.
  const size_t entryLines = kind == ServerMessage::kResults ? 3 : 7;
  std::string_view held = stream_.pending();
  const char* data = held.data();
  for (;;) {
    size_t end = held.find("\r\n", frameScan_);
    if (end == std::string_view::npos) {
      return held.size() - frameScan_ > kMaxServerLine + 1 ? std::string::npos : 0;
    }
    size_t length = end - frameScan_;
    size_t at = frameLines_ % entryLines;
    if (length > kMaxServerLine || frameLines_ / entryLines >= kMaxListedPlayers) {
      return std::string::npos;
    }
    if (at == 0 && length == 0) return end + 2;
    if (entryLines == 3 && at == 2 &&
        !(length == 1 && (data[frameScan_] == 'r' || data[frameScan_] == 'w'))) {
      return std::string::npos;
    }
    ++frameLines_;
    frameScan_ = end + 2;
  }
}

}  // namespace qova::web

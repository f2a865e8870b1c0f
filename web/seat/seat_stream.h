// A seat's reading of the quiz server's messages: the player's stream of
// the line protocol (wire/player_side.h), whose results and round summaries
// are read once for all the seats that share a SharedLists. Every seat of a
// gateway receives the same results and summaries (lines for every player),
// so a seat compares the bytes it receives with the last such message read,
// as they arrive, and reads one itself only when it differs.
//
// What a SeatStream yields is what a ServerStream yields for the same bytes,
// violations included, with one difference in timing: a broken summary entry
// is found when the summary's closing line arrives, not at the entry (a
// broken verdict, a line too long and too many players are found as they
// arrive).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "web/seat/shared_lists.h"
#include "wire/player_side.h"

namespace qova::web {

class SeatStream {
 public:
  // `shared` must outlive the stream.
  explicit SeatStream(SharedLists* shared) : shared_(shared) {}

  // As ServerStream's.
  void setMaxListBytes(size_t bytes) { stream_.setMaxListBytes(bytes); }
  void feed(const char* data, size_t size);
  ServerMessage next();
  bool atMessageBoundary() const { return stream_.atMessageBoundary() && !holding(); }
  bool midMessage() const { return stream_.midMessage() || holding(); }

  // What was read, as ServerStream gives it; sharedResults() and
  // sharedSummary() are the same objects for every stream that received the
  // same message as the one that read it.
  const GameSettings& settings() const { return stream_.settings(); }
  const Question& question() const { return stream_.question(); }
  const std::vector<ResultEntry>& results() const { return stream_.results(); }
  const std::vector<SummaryEntry>& summary() const { return stream_.summary(); }
  const std::shared_ptr<const std::vector<ResultEntry>>& sharedResults() const {
    return stream_.sharedResults();
  }
  const std::shared_ptr<const std::vector<SummaryEntry>>& sharedSummary() const {
    return stream_.sharedSummary();
  }
  const std::string& violation() const { return stream_.violation(); }
  bool tooLarge() const { return stream_.tooLarge(); }

 private:
  enum class Shared { kTaken, kWait, kOwnRead };

  // True while bytes of the message under way are held by the comparison
  // alone (they arrived equal to sameAs_ and were not fed to stream_).
  bool holding() const { return unbuffered_ && same_ > 0; }
  // The results or summary (`kind`) due, through shared_: kTaken with *m
  // set, kWait for more bytes, kOwnRead when stream_ must read the message
  // line by line (it then finds what is wrong).
  Shared takeShared(ServerMessage kind, ServerMessage* m);
  // Hands `read` to stream_ as the `kind` message due, whose first
  // `received` bytes stream_ holds.
  ServerMessage take(ServerMessage kind, const ListMessage& read, size_t received);
  // The number of bytes at the start of `data`, just received, that are
  // equal to sameAs_ and need not be kept; 0 unless nothing is pending and
  // a results or summary message is due.
  size_t compareOnArrival(const char* data, size_t size);
  // Compares the message under way with sameAs_: true when it is that
  // message whole; *wait when all of it so far is equal.
  bool sameAsLast(ServerMessage kind, bool* wait);
  // The length of the `kind` message whole at the front of what stream_
  // holds, 0 while more bytes are needed, npos when its lines break the
  // protocol. Only the lines' ends are looked at, and the verdicts, so that
  // a bad verdict ends the stream as soon as it arrives.
  size_t frame(ServerMessage kind);
  // The results or summary message due was taken, or the stream broke: the
  // next one is compared afresh.
  void listOver();

  SharedLists* shared_;
  ServerStream stream_;
  bool ownRead_ = false;  // stream_ reads the list message due line by line
  // The results or summary under way compared with the last one shared_
  // read, sameAs_: same_ bytes of it are equal so far (npos: they differ,
  // and the message is framed, until another stream reads a newer one).
  // Bytes that arrive equal while nothing is pending are not fed to stream_
  // (unbuffered_): sameAs_ holds them.
  std::shared_ptr<const ListMessage> sameAs_;
  size_t same_ = 0;
  bool unbuffered_ = false;
  // frame(): pending bytes before frameScan_ are whole lines of the message.
  size_t frameScan_ = 0;
  size_t frameLines_ = 0;
};

}  // namespace qova::web

// The server's end of one player program's connection: the handshake (S1
// out, P1 in) and the connection that sends the game's messages and reads
// the answers. The messages themselves are built and read by
// wire/server_side.h. Sends never block: what the socket does not take at
// once waits in the connection's outbox and goes out, in order, on later
// flushes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/tick.h"
#include "qdb/question_record.h"
#include "server/socket.h"
#include "wire/server_side.h"

namespace qova {

// Bounds on what a player program may make the server hold, besides the
// messages' own (wire/wire.h; docs/decisions/server-bounds.md).
constexpr size_t kMaxOutboxBytes = 16 << 20;  // unsent bytes of earlier messages to one client
constexpr uint32_t kHandshakeTimeoutMs = 5000;

enum class HandshakeResult {
  kPending,   // no name line yet and time is left (PendingHandshake::poll only)
  kNamed,     // the name line arrived; `name` holds it
  kClosed,    // the peer closed or failed first; `name` stays empty
  kTimedOut,  // no name line within the wait: the caller closes the connection
  kTooLong,   // the name line exceeded kMaxNameBytes: the caller closes it
};

// One handshake under way: S1 has gone out and the name line (P1) is
// awaited, for at most `timeoutMs` from construction. The lobby keeps one per
// new connection and polls it on each of its passes, so that no connection
// holds up the others; a finished handshake keeps its result.
class PendingHandshake {
 public:
  // Sends `settings` on `socket` at once (a shared reference is kept).
  PendingHandshake(const Socket& socket, const std::string& settings,
                   uint32_t timeoutMs = kHandshakeTimeoutMs, TickSource ticks = tickCount);
  PendingHandshake(const PendingHandshake&) = delete;
  PendingHandshake& operator=(const PendingHandshake&) = delete;

  // Waits at most `waitMs` (and never past the deadline) for bytes, takes
  // one receive of them, and says where the handshake stands. The name is
  // the text before the first CR LF; whatever follows in the same receive is
  // discarded.
  HandshakeResult poll(int waitMs = 0);
  // The same step when the caller's wait has already said whether bytes (or
  // a close) are waiting: receives only when `readable`, then judges the
  // deadline.
  HandshakeResult advance(bool readable);
  // Milliseconds left until the deadline.
  uint32_t remainingMs() const;

  const std::string& name() const { return reader_.name(); }
  const Socket& socket() const { return socket_; }

 private:
  Socket socket_;
  uint32_t timeoutMs_;
  TickSource ticks_;
  uint32_t start_;
  NameReader reader_;
  HandshakeResult result_ = HandshakeResult::kPending;
};

// Sends S1 on `socket` and reads P1 into `name`: the text before the first
// CR LF, whatever follows in the same receive being discarded. Waits at most
// `timeoutMs` in all, measured with `ticks`. Never gives kPending.
HandshakeResult performHandshake(Socket& socket, const std::string& settings, std::string& name,
                                 uint32_t timeoutMs = kHandshakeTimeoutMs,
                                 TickSource ticks = tickCount);

class ClientConnection {
 public:
  // Takes a shared reference to `socket`; no answer awaited.
  explicit ClientConnection(const Socket& socket);
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  // Lobby: anything waiting (bytes or a close) drops the player.
  bool hasIncomingData() { return socket_.pollReadable(); }

  // Queues S2 and awaits an answer. What was received before is emptied,
  // unless an answer is still owed (see answerRecorded): then those bytes
  // are the start of that late answer and are kept.
  void sendQuestion(const ServerQuestionRecord& question);
  // Queues `bytes` behind what is already waiting and tries to send.
  void send(const std::string& bytes);
  // Sends what waits in the outbox as far as the socket takes it now.
  void flush();
  bool hasPendingOutput() const { return outboxSent_ < outbox_.size(); }

  // Reads what has arrived, without waiting. False when the player has
  // dropped: closed, failed (also a failed send), an answer beyond
  // kMaxAnswerBytes, or an outbox beyond kMaxOutboxBytes. Sets answered() once time line, CR LF and
  // one more byte are in. A complete answer while answers are owed is the
  // oldest owed one: it is taken out and discarded, and the bytes after it
  // go on as the awaited answer.
  bool pollAnswer();
  // The same when the caller's wait has already said whether the socket is
  // readable: receives only then.
  bool pollAnswer(bool readable);
  // A failed send or an outbox past its bound: the next poll drops the
  // player whatever its socket says, so a waiting loop must not wait for it.
  bool dropPending() const { return overflowed_ || failed_; }
  // The server has recorded the awaited answer itself (the deadline, or the
  // operator ended the question): no answer is awaited now, and the one the
  // player program still sends for that question is owed and will be
  // discarded when it comes, so that each later answer pairs with its own
  // question.
  void answerRecorded();
  int32_t owedAnswers() const { return owedAnswers_; }
  // The complete answer: time text before the first CR LF, correct when the
  // byte after it is 'r'.
  Response takeAnswer() const;

  bool answered() const { return answered_; }
  std::string received() const { return answer_.received(); }
  Socket& socket() { return socket_; }
  Socket::Handle handle() const { return socket_.handle(); }

 private:
  AnswerReader answer_;
  char receiveBuffer_[256];
  bool answered_ = true;
  int32_t owedAnswers_ = 0;  // late answers still to come, each to be discarded
  Socket socket_;
  std::string outbox_;
  size_t outboxSent_ = 0;
  bool overflowed_ = false;  // outbox past its bound: dropped at the next poll
  bool failed_ = false;      // a send failed: the next receive finds the close
};

}  // namespace qova

// The server's side of one player program's connection, and the messages of
// the line protocol: S1 settings, P1 name, S2 question, P2 answer, S3 results,
// S4 round summary. Every line ends with CR LF; each block is built whole in
// memory. Sends never block: what the socket does not take at once waits in
// the connection's outbox and goes out, in order, on later flushes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/tick.h"
#include "qdb/question_record.h"
#include "server/socket.h"

namespace qova {

// Bounds on what a player program may make the server hold (docs/decisions.md).
constexpr size_t kMaxNameBytes = 1024;        // the name line, CR LF not counted
constexpr size_t kMaxAnswerBytes = 4096;      // a pending answer
constexpr size_t kMaxOutboxBytes = 16 << 20;  // unsent bytes to one client
constexpr uint32_t kHandshakeTimeoutMs = 5000;

// One answer: the time text exactly as sent, and the verdict.
struct Response {
  std::string timeText;
  bool correct = false;
};

// One player's name and rounds of answers, in question order.
struct PlayerRecord {
  std::string name;
  std::vector<std::vector<Response>> rounds;
};

// The six figures of one player's S4 block.
struct RoundTotals {
  int32_t roundCorrect = 0;
  float roundAverage = 0;
  int32_t roundAnswers = 0;
  int32_t totalCorrect = 0;
  float totalAverage = 0;
  int32_t totalAnswers = 0;
};

// S4 figures of a player from its rounds: the last round and all rounds,
// times read like atof and summed in single precision, averages
// sum / count in single precision (0 / 0 gives NaN, as the division does; a
// sum beyond the range gives an infinity). roundSummaryBlock writes NaN as 0
// and an infinity as the largest finite value with its sign.
RoundTotals roundTotals(const PlayerRecord& player);

// Message texts, byte for byte.
std::string settingsMessage(const std::string& timeLimitText, int32_t questionsPerRound,
                            int32_t responseCount);                 // S1
std::string questionMessage(const ServerQuestionRecord& question);  // S2
std::string resultLineBlock(const PlayerRecord& player);            // one player of S3
std::string roundSummaryBlock(const PlayerRecord& player, const RoundTotals& totals);  // of S4
inline const char* blankLine() { return "\r\n"; }  // ends S3 and S4

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
  // Milliseconds left until the deadline.
  uint32_t remainingMs() const;

  const std::string& name() const { return name_; }
  const Socket& socket() const { return socket_; }

 private:
  Socket socket_;
  uint32_t timeoutMs_;
  TickSource ticks_;
  uint32_t start_;
  std::string text_;  // bytes received so far, the name line not yet complete
  std::string name_;
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

  // Queues S2, then empties `received` and awaits an answer.
  void sendQuestion(const ServerQuestionRecord& question);
  // Queues `bytes` behind what is already waiting and tries to send.
  void send(const std::string& bytes);
  // Sends what waits in the outbox as far as the socket takes it now.
  void flush();
  bool hasPendingOutput() const { return outboxSent_ < outbox_.size(); }

  // Reads what has arrived, without waiting. False when the player has
  // dropped: closed, failed (also a failed send), an answer beyond
  // kMaxAnswerBytes, or an outbox beyond kMaxOutboxBytes. Sets answered() once time line, CR LF and
  // one more byte are in.
  bool pollAnswer();
  // The complete answer: time text before the first CR LF, correct when the
  // byte after it is 'r'.
  Response takeAnswer() const;

  bool answered() const { return answered_; }
  const std::string& received() const { return received_; }
  Socket& socket() { return socket_; }

 private:
  std::string received_;
  char receiveBuffer_[256];
  bool answered_ = true;
  Socket socket_;
  std::string outbox_;
  size_t outboxSent_ = 0;
  bool overflowed_ = false;  // outbox past its bound: dropped at the next poll
  bool failed_ = false;      // a send failed: the next receive finds the close
};

}  // namespace qova

#include "server/client_connection.h"

#include <algorithm>
#include <climits>

namespace qova {

PendingHandshake::PendingHandshake(const Socket& socket, const std::string& settings,
                                   uint32_t timeoutMs, TickSource ticks)
    : socket_(socket), timeoutMs_(timeoutMs), ticks_(ticks), start_(ticks()) {
  socket_.send(settings.data(), static_cast<int>(settings.size()));
}

uint32_t PendingHandshake::remainingMs() const {
  uint32_t elapsed = ticks_() - start_;
  return elapsed >= timeoutMs_ ? 0 : timeoutMs_ - elapsed;
}

HandshakeResult PendingHandshake::poll(int waitMs) {
  if (result_ != HandshakeResult::kPending) return result_;
  uint32_t left = remainingMs();
  int wait = waitMs < 0 ? 0 : waitMs;
  if (static_cast<uint32_t>(wait) > left) wait = static_cast<int>(left);
  return advance(socket_.pollReadable(wait));
}

HandshakeResult PendingHandshake::advance(bool readable) {
  if (result_ != HandshakeResult::kPending) return result_;
  // Bytes that have arrived are taken even at the deadline; the deadline is
  // judged after them, so a peer that trickles bytes cannot outlast it.
  if (readable) {
    char buffer[256];
    int got = socket_.recv(buffer, sizeof buffer);
    // A waited-on socket may be non-blocking (Windows), and a readiness
    // report may find nothing after all: then nothing has come.
    if (got == 0 || got == -1) return result_ = HandshakeResult::kClosed;
    if (got > 0) {
      switch (reader_.feed(buffer, static_cast<size_t>(got))) {
        case NameReader::Status::kPending:
          break;
        case NameReader::Status::kNamed:
          return result_ = HandshakeResult::kNamed;
        case NameReader::Status::kTooLong:
          return result_ = HandshakeResult::kTooLong;
      }
    }
  }
  if (remainingMs() == 0) return result_ = HandshakeResult::kTimedOut;
  return HandshakeResult::kPending;
}

HandshakeResult performHandshake(Socket& socket, const std::string& settings, std::string& name,
                                 uint32_t timeoutMs, TickSource ticks) {
  PendingHandshake handshake(socket, settings, timeoutMs, ticks);
  HandshakeResult result;
  do {
    result = handshake.poll(static_cast<int>(handshake.remainingMs()));
  } while (result == HandshakeResult::kPending);
  name = handshake.name();
  return result;
}

ClientConnection::ClientConnection(const Socket& socket) : socket_(socket) {}

void ClientConnection::sendQuestion(const ServerQuestionRecord& question) {
  send(questionMessage(question));
  // Bytes after a complete answer are dropped, as they always were; bytes of
  // an owed answer are its beginning and must stay, or its rest would be
  // read as the start of the answer to this question.
  if (owedAnswers_ == 0) answer_.clear();
  answered_ = false;
}

void ClientConnection::answerRecorded() {
  if (answered_) return;
  answered_ = true;
  ++owedAnswers_;
}

void ClientConnection::send(const std::string& bytes) {
  if (failed_ || overflowed_) return;
  if (!hasPendingOutput()) {
    outbox_.clear();
    outboxSent_ = 0;
    size_t sent = 0;
    while (sent < bytes.size()) {
      int n = socket_.sendNoWait(bytes.data() + sent,
                                 static_cast<int>(std::min<size_t>(bytes.size() - sent, INT_MAX)));
      if (n < 0) {
        failed_ = true;
        return;
      }
      if (n == 0) break;
      sent += static_cast<size_t>(n);
    }
    if (sent < bytes.size()) outbox_.assign(bytes, sent, std::string::npos);
  } else {
    outbox_ += bytes;
    flush();
  }
  const size_t pending = outbox_.size() - outboxSent_;
  if (pending > kMaxOutboxBytes && pending > bytes.size()) {
    // A player program that has stopped reading: dropped at its next poll.
    // One message alone never counts: a question may be longer than the
    // bound (up to 65 lines of a question file's longest line).
    overflowed_ = true;
    outbox_.clear();
    outboxSent_ = 0;
  }
}

void ClientConnection::flush() {
  while (hasPendingOutput() && !failed_) {
    size_t left = outbox_.size() - outboxSent_;
    int n = socket_.sendNoWait(outbox_.data() + outboxSent_,
                               static_cast<int>(std::min<size_t>(left, INT_MAX)));
    if (n < 0) failed_ = true;
    if (n <= 0) break;
    outboxSent_ += static_cast<size_t>(n);
  }
  if (failed_ || outboxSent_ == outbox_.size()) {
    outbox_.clear();
    outboxSent_ = 0;
  } else if (outboxSent_ > (1u << 16) && outboxSent_ * 2 > outbox_.size()) {
    outbox_.erase(0, outboxSent_);
    outboxSent_ = 0;
  }
}

bool ClientConnection::pollAnswer() {
  // A send that failed or a reader that stopped: the player is gone either way.
  if (overflowed_ || failed_) return false;
  return pollAnswer(socket_.pollReadable());
}

bool ClientConnection::pollAnswer(bool readable) {
  if (overflowed_ || failed_) return false;
  if (!readable) return true;
  int got = socket_.recv(receiveBuffer_, sizeof receiveBuffer_);
  // Nothing after all on a non-blocking socket (Windows, see socket_wait.h).
  if (got == kSocketWouldBlock) return true;
  if (got <= 0) return false;
  AnswerReader::Status status = answer_.feed(receiveBuffer_, static_cast<size_t>(got));
  // Owed answers come first, in the order of their questions.
  while (status == AnswerReader::Status::kComplete && owedAnswers_ > 0) {
    --owedAnswers_;
    status = answer_.dropAnswer();
  }
  switch (status) {
    case AnswerReader::Status::kPending:
      return true;
    case AnswerReader::Status::kComplete:
      answered_ = true;
      return true;
    case AnswerReader::Status::kTooLong:
      break;
  }
  return false;
}

Response ClientConnection::takeAnswer() const { return answer_.answer(); }

}  // namespace qova

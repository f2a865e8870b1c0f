#include "server/client_connection.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "common/number_format.h"

namespace qova {

namespace {

void appendLine(std::string& out, const std::string& text) {
  out += text;
  out += "\r\n";
}

// An average as the wire carries it, 4 significant digits. A sum that left
// the single-precision range gives an infinity, which player programs cannot
// read as a number: it goes out as the largest finite single-precision value
// with the infinity's sign. NaN goes out as 0 (formatGcvt's rule).
std::string averageText(float average) {
  if (std::isinf(average)) average = std::copysign(std::numeric_limits<float>::max(), average);
  return formatGcvt(average, 4);
}

}  // namespace

RoundTotals roundTotals(const PlayerRecord& player) {
  RoundTotals t;
  float roundSum = 0, totalSum = 0;
  for (size_t r = 0; r < player.rounds.size(); ++r) {
    bool last = r + 1 == player.rounds.size();
    for (const Response& response : player.rounds[r]) {
      float seconds = static_cast<float>(parseDecimal(response.timeText));
      totalSum += seconds;
      ++t.totalAnswers;
      if (response.correct) ++t.totalCorrect;
      if (last) {
        roundSum += seconds;
        ++t.roundAnswers;
        if (response.correct) ++t.roundCorrect;
      }
    }
  }
  t.roundAverage = roundSum / static_cast<float>(t.roundAnswers);
  t.totalAverage = totalSum / static_cast<float>(t.totalAnswers);
  return t;
}

std::string settingsMessage(const std::string& timeLimitText, int32_t questionsPerRound,
                            int32_t responseCount) {
  std::string out;
  appendLine(out, timeLimitText);
  appendLine(out, std::to_string(questionsPerRound));
  appendLine(out, std::to_string(responseCount));
  return out;
}

std::string questionMessage(const ServerQuestionRecord& question) {
  std::string out;
  appendLine(out, question.question);
  for (const std::string& response : question.responses) appendLine(out, response);
  // An empty correct line in the file is passed on as an empty line rather
  // than as a NUL byte.
  if (question.correct != '\0') out += question.correct;
  out += "\r\n";
  return out;
}

std::string resultLineBlock(const PlayerRecord& player) {
  const Response& last = player.rounds.back().back();
  std::string out;
  appendLine(out, player.name);
  appendLine(out, last.timeText);
  appendLine(out, last.correct ? "r" : "w");
  return out;
}

std::string roundSummaryBlock(const PlayerRecord& player, const RoundTotals& t) {
  std::string out;
  appendLine(out, player.name);
  appendLine(out, std::to_string(t.roundCorrect));
  appendLine(out, averageText(t.roundAverage));
  appendLine(out, std::to_string(t.roundAnswers));
  appendLine(out, std::to_string(t.totalCorrect));
  appendLine(out, averageText(t.totalAverage));
  appendLine(out, std::to_string(t.totalAnswers));
  return out;
}

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
  // Bytes that have arrived are taken even at the deadline; the deadline is
  // judged after them, so a peer that trickles bytes cannot outlast it.
  if (socket_.pollReadable(wait)) {
    char buffer[256];
    int got = socket_.recv(buffer, sizeof buffer);
    if (got <= 0) return result_ = HandshakeResult::kClosed;
    size_t from = text_.empty() ? 0 : text_.size() - 1;
    text_.append(buffer, static_cast<size_t>(got));
    size_t end = text_.find("\r\n", from);
    if (end != std::string::npos) {
      if (end > kMaxNameBytes) return result_ = HandshakeResult::kTooLong;
      name_ = text_.substr(0, end);
      text_.clear();
      return result_ = HandshakeResult::kNamed;
    }
    if (text_.size() > kMaxNameBytes + 1) return result_ = HandshakeResult::kTooLong;
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
  received_.clear();
  answered_ = false;
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
  if (outbox_.size() - outboxSent_ > kMaxOutboxBytes) {
    // A player program that has stopped reading: dropped at its next poll.
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
  if (!socket_.pollReadable()) return true;
  int got = socket_.recv(receiveBuffer_, sizeof receiveBuffer_);
  if (got <= 0) return false;
  received_.append(receiveBuffer_, static_cast<size_t>(got));
  size_t end = received_.find("\r\n");
  if (end != std::string::npos && received_.size() >= end + 3) {
    answered_ = true;
    return true;
  }
  // The time line, CR LF and verdict of a real answer are a few bytes; a
  // stream that runs past the bound is not a player program.
  return received_.size() <= kMaxAnswerBytes;
}

Response ClientConnection::takeAnswer() const {
  Response response;
  size_t end = received_.find("\r\n");
  response.timeText = received_.substr(0, end);
  response.correct = end + 2 < received_.size() && received_[end + 2] == 'r';
  return response;
}

}  // namespace qova

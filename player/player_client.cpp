#include "player/player_client.h"

#include <chrono>

namespace qova {

const char* stateName(ClientState state) {
  switch (state) {
    case ClientState::kIdle:
      return "idle";
    case ClientState::kConnecting:
      return "connecting";
    case ClientState::kSettings:
      return "settings";
    case ClientState::kLobby:
      return "lobby";
    case ClientState::kAnswering:
      return "answering";
    case ClientState::kWaiting:
      return "waiting";
    case ClientState::kBetween:
      return "between";
    case ClientState::kClosed:
      return "closed";
  }
  return "";
}

PlayerClient::~PlayerClient() { close(); }

bool PlayerClient::connect(const std::string& host, uint16_t port, const std::string& name,
                           bool holdName) {
  close();
  stream_ = ServerStream();
  pending_.clear();
  peerClosed_ = peerFailed_ = false;
  peerError_.clear();
  outbox_.clear();
  outboxStart_ = 0;
  error_.clear();
  closedCleanly_ = false;
  name_ = name;
  holdName_ = holdName;
  if (!startSockets()) {
    error_ = "the network could not be started";
    state_ = ClientState::kClosed;
    return false;
  }
  socket_ = startConnect(host, port, &error_);
  if (socket_ == kNoSocket) {
    state_ = ClientState::kClosed;
    return false;
  }
  state_ = ClientState::kConnecting;
  return true;
}

bool PlayerClient::sendName(const std::string& name) {
  if (state_ != ClientState::kSettings) return false;
  name_ = name;
  state_ = ClientState::kLobby;
  return sendRaw(nameMessage(name));
}

bool PlayerClient::sendAnswer(const std::string& timeText, bool correct) {
  return markAnswered(timeText, correct) && sendRaw(answerMessage(timeText, correct));
}

bool PlayerClient::markAnswered(const std::string& timeText, bool correct) {
  if (state_ != ClientState::kAnswering) return false;
  answeredTime_ = timeText;
  answeredCorrect_ = correct;
  state_ = ClientState::kWaiting;
  return true;
}

bool PlayerClient::sendRaw(const std::string& bytes) {
  if (socket_ == kNoSocket || state_ == ClientState::kConnecting) return false;
  outbox_ += bytes;
  flush();
  return true;
}

void PlayerClient::close() {
  if (socket_ != kNoSocket) closeSocket(socket_);
  socket_ = kNoSocket;
  if (state_ != ClientState::kIdle) state_ = ClientState::kClosed;
}

void PlayerClient::flush() {
  while (socket_ != kNoSocket && outboxStart_ < outbox_.size()) {
    int n = sendSome(socket_, outbox_.data() + outboxStart_, outbox_.size() - outboxStart_);
    if (n <= 0) break;  // would block, or failed: the next receive tells
    outboxStart_ += static_cast<size_t>(n);
  }
  if (outboxStart_ == outbox_.size()) {
    outbox_.clear();
    outboxStart_ = 0;
  }
}

void PlayerClient::closeWith(ClientEvent event, const std::string& error,
                             std::vector<ClientEvent>* events) {
  error_ = error;
  closedIn_ = state_;
  if (socket_ != kNoSocket) closeSocket(socket_);
  socket_ = kNoSocket;
  state_ = ClientState::kClosed;
  events->push_back(event);
}

void PlayerClient::pollEntry(PollEntry* entry) const {
  entry->handle = socket_;
  entry->wantRead = socket_ != kNoSocket && state_ != ClientState::kConnecting;
  entry->wantWrite =
      socket_ != kNoSocket && (state_ == ClientState::kConnecting || pendingOutput() > 0);
}

void PlayerClient::handleReady(const PollEntry& entry, std::vector<ClientEvent>* events) {
  if (socket_ == kNoSocket) return;
  if (state_ == ClientState::kConnecting) {
    if (!entry.writable) return;
    std::string why;
    if (!finishConnect(socket_, &why)) {
      closeWith(ClientEvent::kConnectFailed, why, events);
      return;
    }
    state_ = ClientState::kSettings;
    events->push_back(ClientEvent::kConnected);
    return;
  }
  if (entry.writable) flush();
  if (entry.readable && !peerClosed_) readAvailable();
  deliver(events);
}

bool PlayerClient::hasPendingInput() const {
  return socket_ != kNoSocket && state_ != ClientState::kConnecting &&
         (peerClosed_ || stream_.hasCompleteLine());
}

void PlayerClient::readAvailable() {
  char buffer[16384];
  // A few reads per call at most, so one busy connection cannot starve the
  // others of a program that holds many.
  for (int reads = 0; reads < 4; ++reads) {
    int n = receiveSome(socket_, buffer, sizeof buffer);
    if (n == kSocketWouldBlock) return;
    if (n <= 0) {
      peerClosed_ = true;
      peerFailed_ = n < 0;
      if (peerFailed_) peerError_ = lastSocketError();
      return;
    }
    stream_.feed(buffer, static_cast<size_t>(n));
    if (n < static_cast<int>(sizeof buffer)) return;
  }
}

void PlayerClient::deliver(std::vector<ClientEvent>* events) {
  if (takeMessage(events) || !peerClosed_ || socket_ == kNoSocket) return;
  // A reset counts as a close: a server that closes a connection with our
  // unread bytes in it resets it, as one that quits mid-question does.
  closedCleanly_ = stream_.atMessageBoundary();
  std::string why;
  if (stream_.midMessage()) {
    why = std::string("the server closed the connection in the middle of the ") +
          stream_.expectedMessage();
  } else if (!closedCleanly_) {
    why = std::string("the server closed the connection before the ") + stream_.expectedMessage();
  } else {
    why = "the server closed the connection";
  }
  if (peerFailed_) why += " (" + peerError_ + ")";
  closeWith(ClientEvent::kClosed, why, events);
}

// One message at a time: the caller sees each message's content before the
// next one (which may already be buffered) replaces it.
bool PlayerClient::takeMessage(std::vector<ClientEvent>* events) {
  ServerMessage m = stream_.next();
  switch (m) {
    case ServerMessage::kNone:
      return false;
    case ServerMessage::kViolation:
      closeWith(ClientEvent::kViolation, stream_.violation(), events);
      break;
    case ServerMessage::kSettings:
      state_ = ClientState::kSettings;
      events->push_back(ClientEvent::kSettings);
      if (!holdName_) sendName(name_);
      break;
    case ServerMessage::kQuestion:
      if (state_ == ClientState::kSettings) {
        closeWith(ClientEvent::kViolation,
                  "a question arrived before this player had sent its name", events);
        break;
      }
      answeredTime_.clear();
      answeredCorrect_ = false;
      state_ = ClientState::kAnswering;
      events->push_back(ClientEvent::kQuestion);
      break;
    case ServerMessage::kResults:
      if (state_ == ClientState::kAnswering) {
        // The server recorded this player's answer itself (its deadline, or
        // its operator ended the question). It still takes one answer per
        // question and discards this one, so that the next answer pairs with
        // the next question: the row it recorded goes back as that answer.
        std::string time = secondsText(0);
        bool correct = false;
        for (const ResultEntry& e : stream_.results()) {
          if (e.name == name_) {
            time = e.timeText;
            correct = e.correct;
            break;
          }
        }
        sendAnswer(time, correct);
      }
      state_ = stream_.summaryExpected() ? ClientState::kWaiting : ClientState::kBetween;
      events->push_back(ClientEvent::kResults);
      break;
    case ServerMessage::kSummary:
      state_ = ClientState::kBetween;
      events->push_back(ClientEvent::kSummary);
      break;
  }
  return true;
}

bool PlayerClient::step(int timeoutMs, std::vector<ClientEvent>* events) {
  if (socket_ == kNoSocket) return false;
  PollEntry entry;
  pollEntry(&entry);
  bool pending = hasPendingInput();
  if (pollSockets(&entry, 1, pending ? 0 : timeoutMs) > 0 || pending) handleReady(entry, events);
  return socket_ != kNoSocket;
}

ClientEvent PlayerClient::waitFor(ClientEvent wanted, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    while (!pending_.empty()) {
      ClientEvent e = pending_.front();
      pending_.erase(pending_.begin());
      if (e == wanted || e == ClientEvent::kClosed || e == ClientEvent::kConnectFailed ||
          e == ClientEvent::kViolation) {
        return e;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || socket_ == kNoSocket) {
      if (socket_ != kNoSocket || error_.empty()) error_ = "timed out";
      return ClientEvent::kClosed;
    }
    step(static_cast<int>(left.count()), &pending_);
  }
}

}  // namespace qova

// One player's connection to a quiz server: connects, sends the name when
// the settings have arrived, sends answers, and turns the server's bytes into
// events. It never blocks unless asked to: a window loop calls step(0) from a
// timer, a console program waits in step(timeout) or waitFor(), and a program
// holding many clients polls their handles itself and calls handleReady().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/net.h"
#include "wire/player_side.h"

namespace qova {

enum class ClientEvent {
  kConnected,      // the connection stands
  kConnectFailed,  // it could not be made; error() says why
  kSettings,       // settings(); the name goes out now unless holdName was set
  kQuestion,       // question(); answer it with sendAnswer
  kResults,        // results() of the question answered last
  kSummary,        // summary() of the round just ended
  kViolation,      // the server broke the protocol; error() says how; closed
  kClosed,         // the server closed the connection (or it failed); see closedCleanly()
};

// Where the conversation stands.
enum class ClientState {
  kIdle,  // not connected
  kConnecting,
  kSettings,   // connected, waiting for the settings
  kLobby,      // name sent, waiting for the first question
  kAnswering,  // a question came, this player has not answered yet
  kWaiting,    // answered, waiting for the results (and the summary)
  kBetween,    // results (and summary) in, waiting for the next question
  kClosed,
};

const char* stateName(ClientState state);

class PlayerClient {
 public:
  PlayerClient() = default;
  ~PlayerClient();
  PlayerClient(const PlayerClient&) = delete;
  PlayerClient& operator=(const PlayerClient&) = delete;

  // Starts connecting. `name` goes out when the settings arrive (P1 must
  // follow them) unless holdName is true, in which case sendName is up to
  // the caller. False with error() set when it fails at once.
  bool connect(const std::string& host, uint16_t port, const std::string& name,
               bool holdName = false);

  // Sends the name now (for a held name). False when not connected.
  bool sendName(const std::string& name);
  // Answers the current question; only in state kAnswering. False otherwise.
  bool sendAnswer(const std::string& timeText, bool correct);
  // Counts the current question as answered with this time and verdict
  // without sending anything, for a caller that sends the bytes itself with
  // sendRaw (in pieces, say). Only in state kAnswering.
  bool markAnswered(const std::string& timeText, bool correct);
  // Queues arbitrary bytes (for tests of how the server copes).
  bool sendRaw(const std::string& bytes);
  // Closes the connection now; no event follows.
  void close();

  // Waits up to timeoutMs for the network and handles what came, appending
  // events to *events. Returns false once the client is closed.
  bool step(int timeoutMs, std::vector<ClientEvent>* events);
  // Steps until `wanted` or a terminal event (closed, failed, violation)
  // arrives or timeoutMs pass; returns the last event seen, or kClosed with
  // error() "timed out" when none of those came in time.
  ClientEvent waitFor(ClientEvent wanted, int timeoutMs);

  // For callers that poll many clients: fill the entry, poll, then hand the
  // readiness back.
  void pollEntry(PollEntry* entry) const;
  // Each call yields at most one message event, so the caller sees each
  // message before the next replaces it; while hasPendingInput() is true,
  // call handleReady again (ready or not) without waiting.
  void handleReady(const PollEntry& entry, std::vector<ClientEvent>* events);
  bool hasPendingInput() const;

  ClientState state() const { return state_; }
  const std::string& error() const { return error_; }
  // After kClosed: true when the server closed between two messages.
  bool closedCleanly() const { return closedCleanly_; }
  // After kClosed, kViolation or kConnectFailed: the state the client was in.
  ClientState closedIn() const { return closedIn_; }
  // Bytes queued but not yet taken by the system.
  size_t pendingOutput() const { return outbox_.size() - outboxStart_; }

  const GameSettings& settings() const { return stream_.settings(); }
  const Question& question() const { return stream_.question(); }
  const std::vector<ResultEntry>& results() const { return stream_.results(); }
  const std::vector<SummaryEntry>& summary() const { return stream_.summary(); }
  // The last time text and verdict sent, for the current question.
  const std::string& answeredTime() const { return answeredTime_; }
  bool answeredCorrect() const { return answeredCorrect_; }
  const std::string& name() const { return name_; }

 private:
  void flush();
  void readAvailable();
  void deliver(std::vector<ClientEvent>* events);
  bool takeMessage(std::vector<ClientEvent>* events);
  void closeWith(ClientEvent event, const std::string& error, std::vector<ClientEvent>* events);

  SocketHandle socket_ = kNoSocket;
  ClientState state_ = ClientState::kIdle;
  ServerStream stream_;
  std::string outbox_;
  size_t outboxStart_ = 0;
  std::string name_;
  bool holdName_ = false;
  std::string answeredTime_;
  bool answeredCorrect_ = false;
  std::string error_;
  bool closedCleanly_ = false;
  ClientState closedIn_ = ClientState::kIdle;
  bool peerClosed_ = false;  // the server's close was read; buffered messages go first
  bool peerFailed_ = false;
  std::string peerError_;
  std::vector<ClientEvent> pending_;  // seen by waitFor but not yet returned
};

}  // namespace qova

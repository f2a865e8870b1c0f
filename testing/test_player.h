// Scripted players for tests and benchmarks: many PlayerClients in one
// thread, driven by one poll over all their connections. Each player follows
// a plan (name, answer delay, verdicts, time texts, how many questions to
// play, one optional misbehaviour), checks every message against what it
// sent, and writes one transcript line per event:
//
//   <player> <event> <fields...>
//
// events: connecting, connected, connect-failed, settings, name, question,
// answer, results, result (verbose), summary, standing (verbose), left,
// closed, violation. The last line of run() is "done players=N violations=V".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "player/player_client.h"
#include "wire/play_rules.h"

namespace qova {

enum class Misbehaviour {
  kNone,
  kNoName,         // never send the name
  kDropHandshake,  // close as soon as the settings arrive, without a name
  kDropLobby,      // close right after sending the name
  kDropQuestion,   // close when question `atQuestion` arrives, unanswered
  kDropAnswered,   // close right after answering question `atQuestion`
  kPieces,         // send every answer in three pieces: time CR / LF / verdict
  kLobbyBytes,     // send a byte during the lobby, after the name
  kFloodName,      // send `floodBytes` bytes without a line end instead of the name
  kFloodAnswer,    // same instead of the answer to question `atQuestion`
  kStall,          // at question `atQuestion` neither read nor answer for `stallMs`
                   // (a suspended program), then answer it late and read on
};

// Parses "no-name", "drop:handshake", "drop:lobby", "drop:question[:N]",
// "drop:answered[:N]", "pieces", "lobby-bytes", "flood:name[:BYTES]",
// "flood:answer[:BYTES[:N]]", "stall[:MS[:N]]". False when the text names
// none of them.
bool parseMisbehaviour(const std::string& text, Misbehaviour* kind, int* atQuestion,
                       size_t* floodBytes, int* stallMs = nullptr);

struct PlayerPlan {
  std::string name;
  int answerDelayMs = 0;           // from the question's arrival to the answer
  std::string verdicts = "r";      // cycled over the questions; 'r' right, else wrong
  std::vector<std::string> times;  // cycled; empty: the measured delay, two decimals
  int questionsToPlay = 0;         // leave after this many questions; 0: play on
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  int atQuestion = 1;  // 1-based question count of the whole game
  size_t floodBytes = 1 << 20;
  int pieceDelayMs = 50;  // between the pieces of kPieces, and before kLobbyBytes
  // kStall: longer than the server's deadline, so that the server records
  // the answer (Wrong, the limit as its time), and the one sent late changes
  // nothing.
  int stallMs = 20000;
};

struct GroupOptions {
  std::string host = "127.0.0.1";
  uint16_t port = kServerPort;
  std::vector<PlayerPlan> players;
  std::ostream* transcript = nullptr;  // none: no transcript
  bool verbose = false;                // also one line per player listed in results and summaries
  int timeoutMs = 0;                   // give up after this long without any event; 0: never
  // A connect that fails within this long of start() is tried again every
  // 100 ms: a server shows its window and address a moment before it
  // listens. 0: one try.
  int connectRetryMs = 0;
};

// What one player saw and did.
struct PlayerReport {
  int questions = 0;  // questions received
  int answers = 0;    // answers sent
  int results = 0;    // results messages received
  int summaries = 0;  // round summaries received
  std::vector<std::string> violations;
  bool connected = false;
  bool closedByServer = false;
  bool closedCleanly = false;  // the server's close came between two messages
  bool left = false;           // this player closed (plan or misbehaviour)
  std::string closeText;
  std::vector<std::string> answerTimes;  // every answer's time text, in order
  std::string verdictsSent;              // 'r' or 'w' per answer, in order
};

class PlayerGroup {
 public:
  explicit PlayerGroup(GroupOptions options);
  ~PlayerGroup();
  PlayerGroup(const PlayerGroup&) = delete;
  PlayerGroup& operator=(const PlayerGroup&) = delete;

  // Starts every player's connection.
  void start();
  // Waits up to timeoutMs (0: just look) for the network or the next planned
  // action, and handles both. False once every player has finished.
  bool step(int timeoutMs);
  // start(), then step until every player has finished or options.timeoutMs
  // passed without an event. Returns the number of violations (a timeout
  // counts as one).
  int run();

  bool finished() const;
  int violations() const;
  const std::vector<PlayerReport>& reports() const { return reports_; }
  // The client of player i, for tests that look further.
  const PlayerClient& client(size_t i) const;

 private:
  struct Player;
  void connect(size_t i);
  void connectFailed(size_t i);
  void handle(size_t i, ClientEvent event);
  void act(size_t i, std::chrono::steady_clock::time_point now);
  void answer(size_t i);
  void leave(size_t i, const std::string& why);
  void violation(size_t i, const std::string& text);
  void checkResults(size_t i);
  void checkSummary(size_t i);
  void line(size_t i, const std::string& text);

  GroupOptions options_;
  std::vector<std::unique_ptr<Player>> players_;
  std::vector<PlayerReport> reports_;
  std::chrono::steady_clock::time_point lastEvent_;
  std::chrono::steady_clock::time_point startedAt_;
  int extraViolations_ = 0;
};

}  // namespace qova

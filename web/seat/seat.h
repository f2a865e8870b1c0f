// One web player's seat: its conversation with the quiz server and with its
// page, as a plain state machine. It owns no socket and no clock: the
// network shell hands it what arrived and the time (monotonic milliseconds),
// and carries out what it asks for in SeatOutput.
//
//   connecting --settings--> lobby --question--> question --answer/time-out-->
//   answered --results--> results [--summary--> leaderboard] --question--> ...
//   any state --server closed, refused or broke the protocol--> ended
//
// The seat never tells its page the correct response before the player has
// answered (or the time has run out); it judges the choice itself and times
// it from the question's release (the end of the pause before it), whether a
// page was there or not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "web/seat/page_message.h"
#include "web/seat/seat_stream.h"
#include "web/seat/shared_rows.h"
#include "wire/play_rules.h"
#include "wire/player_side.h"
#include "wire/standings.h"

namespace qova::web {

// How long a question waits for a seat whose page is gone when the server
// set no time limit.
constexpr int64_t kAbsentPageHoldMs = 60000;
// A seat whose server has said nothing this long after the join tells its
// page that it still waits.
constexpr int64_t kServerSilentNoticeMs = 30000;
// Time limits above this are taken as this (a day), so that sums of
// milliseconds stay far from overflow.
constexpr int64_t kMaxTimeLimitMs = 86400000;
// Requests for pages of all rows: at most kRowsBurst at once, then one per
// kRowsRefillMs; the others go unanswered.
constexpr int kRowsBurst = 8;
constexpr int64_t kRowsRefillMs = 250;

// How long the page keeps showing results (and a round's leaderboard)
// before the next question goes to it; tests shorten them.
struct SeatPauses {
  int64_t afterResultsMs = kResultsPauseMs;
  int64_t afterLeaderboardMs = kLeaderboardPauseMs;
};

struct SeatOutput {
  std::string toServer;          // bytes to send to the server, in order
  std::vector<PageText> toPage;  // messages for the page (dropped when none is attached)
  bool closeServer = false;      // close the server connection
};

enum class SeatState { kConnecting, kLobby, kQuestion, kAnswered, kResults, kLeaderboard, kEnded };

// Why the server connection ended.
enum class ServerEnd {
  kRefused,  // the connection could not be made
  kClosed,   // the server closed it (or the connection failed)
};

class Seat {
 public:
  // `wireName` in Windows-1252 as the server will see it; `rows` is shared by
  // every seat of the gateway and outlives them.
  Seat(std::string token, std::string wireName, SharedRows* rows, SeatPauses pauses = {});

  // Bytes from the server.
  void serverBytes(const char* data, size_t size, int64_t now, SeatOutput* out);
  // The server connection ended or could not be made. `gameBegun`: another
  // seat has seen a question, so a refusal means the server no longer admits
  // players.
  void serverEnded(ServerEnd how, bool gameBegun, SeatOutput* out);
  // A page took the seat (after join or resume): it gets the current state.
  void attach(int64_t now, SeatOutput* out);
  // The page's socket closed; the seat keeps playing.
  void detach(int64_t now);
  // The page's answer. False when the message cannot be right whatever the
  // timing (a choice beyond the responses): the shell then closes that page.
  // Answers for an earlier question, or a second answer, are ignored.
  bool answer(int64_t q, int choice, int64_t now, SeatOutput* out);
  // The page asks for a page of all rows of the last results (or of the
  // last standings) from row `from`; nothing is sent when there are none
  // yet or when the page asks too often (see kRowsBurst).
  void rows(bool standings, int64_t from, int64_t now, SeatOutput* out);
  // The time has come (or passed) for something the seat waits for.
  void tick(int64_t now, SeatOutput* out);
  // The host holds the game (or goes on). While held, once the results or
  // the leaderboard on the page have had their pause, the page is told the
  // quiz is paused; the next question replaces that notice.
  void setHeld(bool held, int64_t now, SeatOutput* out);
  bool pausedShown() const { return pausedShown_; }
  // When tick must be called next, -1 when never.
  int64_t deadline() const;

  SeatState state() const { return state_; }
  bool attached() const { return attached_; }
  // Whether the page has had its welcome (and with it the token).
  bool welcomed() const { return welcomed_; }
  bool seenQuestion() const { return questionCount_ > 0; }
  const std::string& token() const { return token_; }
  const std::string& wireName() const { return wireName_; }

  // What the room screen reads (web/seat/screen_state.h). The question in hand
  // (its number q, whether it has gone to the page and when), the choice
  // sent for it (0: none or timed out), the last results and the round's
  // leaderboard once it has been shown.
  int64_t questionNumber() const { return questionCount_; }
  const Question& question() const { return question_; }
  bool released() const { return released_; }
  int64_t questionAt() const { return questionAt_; }
  int64_t limitMs() const { return limitMs_; }
  int questionsPerRound() const { return stream_.settings().questionsPerRound; }
  int choice() const { return choice_; }
  const std::shared_ptr<const SharedResults>& results() const { return results_; }
  const std::shared_ptr<const Leaderboard>& shownBoard() const {
    return boardShown_ ? board_ : kNoBoard;
  }

 private:
  void onMessage(ServerMessage m, int64_t now, SeatOutput* out);
  void onResults(std::shared_ptr<const SharedResults> results, int64_t now, SeatOutput* out);
  void onSummary(std::shared_ptr<const Leaderboard> board, int64_t now, SeatOutput* out);
  // The round's leaderboard, held while its last results were shown, goes
  // to the page.
  void showBoard(SeatOutput* out);
  // The paused notice is due once pauseUntil_ comes.
  bool pausedDue() const;
  // The held question goes to the page: its time starts now.
  void release(int64_t now, SeatOutput* out);
  void end(const std::string& message, SeatOutput* out);
  void sendAnswer(int choice, bool timedOut, const std::string& timeText, SeatOutput* out);
  void emit(PageText text, SeatOutput* out) const;
  void emitState(int64_t now, SeatOutput* out);
  PageText questionText(int64_t now) const;
  static PageText silenceText();
  PageText answeredText() const;
  PageText resultsText() const;
  PageText leaderboardText() const;
  PageText endedText() const;
  int correctNumber() const;
  int leaderboardMe() const;

  static inline const std::shared_ptr<const Leaderboard> kNoBoard;

  std::string token_;
  std::string wireName_;
  SharedRows* rows_;
  SeatPauses pauses_;
  // Reads results and summaries through rows_: long messages, the same
  // bytes for every seat, read once for all of them.
  SeatStream stream_;
  SeatState state_ = SeatState::kConnecting;
  bool attached_ = false;
  bool welcomed_ = false;
  int64_t detachedAt_ = 0;
  int64_t joinedAt_ = -1;        // the first attach; -1: none yet
  bool silenceNoticed_ = false;  // the page was told the server is silent

  double limitSeconds_ = 0;    // 0: no limit
  int64_t limitMs_ = 0;        // the same in milliseconds, at most kMaxTimeLimitMs
  int64_t questionCount_ = 0;  // the page's question number q
  Question question_;
  // When the question was released to the page (its time starts), or, while
  // it is held (released_ false), when it will be.
  int64_t questionAt_ = 0;
  bool released_ = false;
  int64_t pauseUntil_ = 0;     // the results shown now stay until then
  bool held_ = false;          // the host holds the game
  bool pausedShown_ = false;   // the page has the paused notice
  bool boardShown_ = false;    // the last view shown is the leaderboard
  bool boardPending_ = false;  // the leaderboard waits for the results' pause
  int64_t boardAt_ = 0;        // when it goes to the page
  int choice_ = 0;             // 0: timed out
  bool timedOut_ = false;
  std::string timeSent_;
  bool rightSent_ = false;
  AnswerTally tally_;  // what this player sent, for finding its own standing

  std::shared_ptr<const SharedResults> results_;
  int resultsMe_ = -1;
  int64_t resultsQ_ = 0;  // the question results_ are of (the page's q)
  std::shared_ptr<const Leaderboard> board_;
  int boardMe_ = -1;  // the seat's own row of board_
  int leaderboardRound_ = 0;
  std::string endMessage_;
  int rowsTokens_ = kRowsBurst;  // rows requests the page may make now
  int64_t rowsAt_ = 0;           // when the bucket was last refilled
};

}  // namespace qova::web

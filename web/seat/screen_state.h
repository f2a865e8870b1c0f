// The room screen's state: what a projector shows of the game, followed
// through the web seats, without sockets and without a clock of its own.
// The registry tells it after each event which seat may have changed (and
// which seat is gone); the shell sends view() to every open screen when
// viewVersion() moves, and countText() when only the answered count moved.
//
//   idle (no web player seated) <-> lobby --question released--> question
//   --results arrived--> reveal [--round's leaderboard shown--> standings]
//   --next question released--> question ... --every seat ended--> end
//
// It keeps the seats' pace: a view changes when the first seat reaches it,
// which is when the phones do (the same pauses). Fairness: no message holds
// the correct response, nor how the web players chose, before some seat
// holds the server's results for that question. Every message is bounded
// whatever the number of players: at most five response counts, at most
// kFastestRows fastest answers and kTopRows rows, the lobby's latest kLobbyNames names with the
// count of all.
//
// While the quiz server's room feed is open (feedOpened .. feedClosed) the
// screen shows the whole room from it instead: every player in the lobby,
// the answers in and awaited over all players, the server's results and
// summaries with names from the joins. The seats then only give how the
// phones chose, shown at the reveal as the phones' choices. The feed's
// questions, summaries and end are held for the players' pauses after the
// results and the standings before them, as the players' programs hold
// them; wakeAt() says when the shell must call wake(). A feed that closes
// after its END still shows what it held at the same pace (wakeAt() and
// wake() go on), and the podium stays; a feed lost before its end leaves
// the screen to the seats again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "web/seat/page_message.h"
#include "web/seat/result_digest.h"
#include "web/seat/room_feed.h"
#include "web/seat/seat.h"

namespace qova::web {

constexpr size_t kLobbyNames = 30;      // names the lobby view lists (the latest)
constexpr size_t kScreenResponses = 5;  // responses (and their counts) shown
// Feed messages held for the pauses; past this many, or past this many bytes
// held (a server far ahead of the room), they are shown at once.
constexpr size_t kMaxHeldFeedMessages = 4096;
constexpr size_t kMaxHeldFeedBytes = 64u << 20;

enum class ScreenView { kIdle, kLobby, kQuestion, kReveal, kStandings, kEnd };

class ScreenState {
 public:
  // The seat `id` may have changed (it joined, the server or its page said
  // something, its time came, it ended).
  void seatChanged(uint64_t id, const Seat& seat);
  // The seat is forgotten.
  void seatRemoved(uint64_t id);

  // The players' pauses, as the seats keep them.
  void setPauses(SeatPauses pauses) { pauses_ = pauses; }

  // A feed connection whose greeting was read: the room starts afresh.
  void feedOpened(int64_t now);
  // The feed's next message. False, with *error, when it does not fit the
  // room told so far: the shell then closes the connection (and calls
  // feedClosed).
  bool feedMessage(const FeedMessage& m, int64_t now, std::string* error);
  void feedClosed();
  bool feedOpen() const { return feedOpen_; }
  // The time the held feed messages are due, -1 when none are held (also
  // after feedClosed, when the feed told its end); the shell calls wake(now)
  // then.
  int64_t wakeAt() const;
  void wake(int64_t now);

  ScreenView view() const { return feedShown_ ? feedView_ : view_; }
  // Moves whenever viewText would differ other than in its countdown or its
  // answered count.
  uint64_t viewVersion() const { return viewVersion_; }
  // Moves whenever the answered count or the seated count of a question changes.
  uint64_t countVersion() const { return countVersion_; }

  // The whole current view; `now` for the countdown. Sent to a screen that
  // opens and whenever viewVersion moves.
  PageText viewText(int64_t now) const;
  // {"t":"screen.count","answered":N,"seated":M}: the live count alone.
  PageText countText() const;

  // The host's hold as the screen shows it: true while the feed says the
  // game is held and the reveal or the standings on screen have had their
  // players' pause (when the room would have moved on). holdVersion moves
  // when it changes; the shell then sends holdText.
  bool holdShown() const { return holdShown_; }
  uint64_t holdVersion() const { return holdVersion_; }
  // {"t":"screen.hold","held":B}
  PageText holdText() const;

  // Web players seated (welcomed, not ended), and of those the ones who
  // chose a response to the question on screen.
  size_t seated() const { return seated_; }
  size_t answered() const { return answered_; }

 private:
  struct SeatInfo {
    std::string name;  // Windows-1252
    bool seated = false;
    int64_t q = 0;   // the question the choice is for
    int choice = 0;  // 0: none
  };
  struct Row {
    int place = 0;
    std::string name;
    int correct = 0;
    int answers = 0;
    std::string average;
    int up = 0;  // places gained since the last standings; 0: none or new
  };

  // The seats' view moved (sent unless the feed's view is shown).
  void changed() {
    if (!feedShown_) ++viewVersion_;
  }
  void countChanged() {
    if (!feedShown_) ++countVersion_;
  }
  void showFeed(const FeedMessage& m, int64_t now);
  // Whether the hold is on screen by `now`, and holdShown_ set so.
  bool holdDue(int64_t now) const;
  void settleHold(int64_t now);
  void drainFeed(int64_t now);
  void feedReveal();
  void feedStandings();
  PageText feedViewText(int64_t now) const;
  std::string feedQuestionJson(int64_t now) const;
  void settleIdle();
  void startQuestion(const Seat& seat);
  void reveal(const std::shared_ptr<const SharedResults>& results);
  void standings(const std::shared_ptr<const Leaderboard>& board);
  std::string questionJson(int64_t now) const;
  std::string rowsJson(const std::vector<Row>& rows) const;

  std::map<uint64_t, SeatInfo> seats_;  // by seat id, which grows with each join
  size_t seated_ = 0;
  size_t answered_ = 0;  // seated seats whose choice for q_ is in
  ScreenView view_ = ScreenView::kIdle;
  uint64_t viewVersion_ = 1;
  uint64_t countVersion_ = 1;

  // The question on screen.
  int64_t q_ = 0;
  Question question_;  // holds the correct response: never sent before the reveal
  int questionsPerRound_ = 0;
  int64_t questionAt_ = 0;
  int64_t limitMs_ = 0;

  // The reveal.
  std::shared_ptr<const SharedResults> results_;
  std::vector<int> counts_;  // web players' choices per response
  int phones_ = 0;           // web players whose choice is counted
  int right_ = 0;            // players right, from the server's results
  int players_ = 0;          // players in the server's results
  std::vector<std::pair<std::string, std::string>> fastest_;  // name, time

  // The standings (and, at the end, the podium).
  std::shared_ptr<const Leaderboard> board_;
  StandingsDigest lastStandings_;  // the round before's, for who moved up
  int boardRound_ = 0;
  std::vector<Row> rows_;

  SeatPauses pauses_;

  // The room feed.
  bool feedOpen_ = false;
  bool feedShown_ = false;  // the feed's view is on screen (open, or closed after its END)
  RoomFeed feedLive_;       // every message as it comes, to check it
  RoomFeed feedRoom_;       // what the screen shows, at the players' pace
  std::deque<FeedMessage> feedHeld_;
  size_t feedHeldBytes_ = 0;    // what feedHeld_ holds, roughly
  int64_t feedPauseUntil_ = 0;  // held messages wait until then
  ScreenView feedView_ = ScreenView::kLobby;
  int64_t feedQuestionAt_ = 0;  // the question's release on screen
  int64_t feedLimitMs_ = 0;
  std::vector<int> feedCounts_;  // the phones' choices per response
  int feedPhones_ = 0;           // phones whose choice is counted
  int feedRight_ = 0;
  std::vector<std::pair<std::string, std::string>> feedFastest_;  // name, time
  int feedBoardRound_ = 0;
  std::vector<Row> feedRows_;
  std::map<int, int> feedPlaces_;  // player number: place at the last standings
  bool holdShown_ = false;
  uint64_t holdVersion_ = 1;
};

}  // namespace qova::web

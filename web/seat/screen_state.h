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
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "web/seat/page_message.h"
#include "web/seat/result_digest.h"
#include "web/seat/seat.h"

namespace qova::web {

constexpr size_t kLobbyNames = 30;      // names the lobby view lists (the latest)
constexpr size_t kScreenResponses = 5;  // responses (and their counts) shown

enum class ScreenView { kIdle, kLobby, kQuestion, kReveal, kStandings, kEnd };

class ScreenState {
 public:
  // The seat `id` may have changed (it joined, the server or its page said
  // something, its time came, it ended).
  void seatChanged(uint64_t id, const Seat& seat);
  // The seat is forgotten.
  void seatRemoved(uint64_t id);

  ScreenView view() const { return view_; }
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

  void changed() { ++viewVersion_; }
  void settleIdle();
  void startQuestion(const Seat& seat);
  void reveal(const std::shared_ptr<const SharedResults>& results);
  void standings(const std::shared_ptr<const Leaderboard>& board);
  std::string questionJson(int64_t now) const;
  std::string rowsJson() const;

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
  int right_ = 0;            // players right, from the server's results
  int players_ = 0;          // players in the server's results
  std::vector<std::pair<std::string, std::string>> fastest_;  // name, time

  // The standings (and, at the end, the podium).
  std::shared_ptr<const Leaderboard> board_;
  StandingsDigest lastStandings_;  // the round before's, for who moved up
  int boardRound_ = 0;
  std::vector<Row> rows_;
};

}  // namespace qova::web

// The room as the quiz server's feed tells it: every player by number with
// the name they joined with, whether the game has started, the question out
// with its answer counts, the last results with their players' names and
// the last round's summary. Messages come from FeedReader in order; one that
// does not fit what was told before (a number reused or never joined, a
// message out of turn, a row for a player who is not in) breaks the feed. A client that connects
// midway is told the current state first, which this reads like any other run of messages. No
// sockets, no clock.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "web/seat/feed_reader.h"
#include "wire/player_side.h"

namespace qova::web {

enum class RoomPhase {
  kLobby,     // players join
  kStarted,   // Start pressed, no question seen yet
  kQuestion,  // a question is out
  kResults,   // its results are in (a summary may follow)
  kEnded,
};

class RoomFeed {
 public:
  // Applies the next message. False, with *error, when it does not fit.
  bool apply(const FeedMessage& m, std::string* error);

  RoomPhase phase() const { return phase_; }
  const FeedMessage& settings() const { return settings_; }
  // The players still in, by number: the order they joined in.
  const std::map<int, std::string>& players() const { return players_; }

  // The question out, or the last one: kind kQuestion only once one came.
  const FeedMessage& question() const { return question_; }
  bool haveQuestion() const { return question_.kind == FeedKind::kQuestion; }
  // Answers in and awaited for it; before any count, none in and every
  // player still in awaited.
  int received() const { return received_; }
  int awaited() const;

  // The last results with each row's name from the players' joins, in the
  // server's order, and the correct response's number (0: none).
  const std::vector<ResultEntry>& results() const { return results_; }
  const std::vector<int>& resultPlayers() const { return resultPlayers_; }
  int correct() const { return correct_; }
  // Whether those results are the question's (a client that joined between
  // questions gets the last results without their question).
  bool resultsOfQuestion() const { return resultsOfQuestion_; }

  // The last round's summary, names from the joins; round 0: none yet.
  int summaryRound() const { return summaryRound_; }
  const std::vector<SummaryEntry>& summary() const { return summary_; }
  const std::vector<int>& summaryPlayers() const { return summaryPlayers_; }

  // The hold as the last HOLD told it: whether the next question waits for
  // Go On, and whether the server holds by itself after each round.
  bool held() const { return held_; }
  bool holdAfterRound() const { return holdAfterRound_; }

 private:
  bool fail(std::string* error, std::string why) const;

  RoomPhase phase_ = RoomPhase::kLobby;
  bool settled_ = false;
  FeedMessage settings_;
  std::map<int, std::string> players_;
  int lastJoined_ = 0;
  FeedMessage question_;
  int received_ = 0;
  int awaited_ = -1;  // -1: no count yet
  std::vector<ResultEntry> results_;
  std::vector<int> resultPlayers_;
  int correct_ = 0;
  bool resultsOfQuestion_ = false;
  bool summaryDue_ = false;  // results in: their round's summary may follow
  int summaryRound_ = 0;
  std::vector<SummaryEntry> summary_;
  std::vector<int> summaryPlayers_;
  bool held_ = false;
  bool holdAfterRound_ = false;
};

}  // namespace qova::web

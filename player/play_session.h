// What the players' program shows and does, without any window: the views a
// player goes through (join, waiting, question, results, leaderboard, end),
// the countdown, the response time and the verdict, and the texts for a
// refused or lost connection. The Windows program draws this state and
// passes on clicks, keys and a timer; tests drive it directly.
//
// Times are seconds of a monotonic clock given by the caller.
#pragma once

#include <string>
#include <vector>

#include "player/player_client.h"
#include "wire/play_rules.h"
#include "wire/standings.h"

namespace qova {

enum class PlayView {
  kJoin,         // address and name; message() tells why a join failed
  kConnecting,   // join pressed, waiting for the server's settings
  kWaiting,      // joined, waiting for the first question
  kQuestion,     // a question, answered or not
  kResults,      // everybody's result for the question just played
  kLeaderboard,  // the summary of the round just ended
  kEnd,          // the server has gone; the last leaderboard and message()
};

struct ResultRow {
  std::string name;
  std::string timeText;
  bool correct = false;
  bool own = false;
};

struct StandingRow {
  int place = 0;  // 1-based; players equal in correct answers and time share one
  SummaryEntry entry;
  bool own = false;
};

// Splits "host" or "host:port" (surrounding blanks ignored; no port: the
// quiz server's). False when the host is empty or the port is not a number
// from 1 to 65535.
bool parseServerAddress(const std::string& text, std::string* host, uint16_t* port);

// The address to offer: the running server's announcement in the marker
// file at `markerPath` when it holds one, else the first line of `rememberedPath`, else "".
std::string initialServerAddress(const std::string& markerPath, const std::string& rememberedPath);
// The name line of `rememberedPath` (its second line), or "".
std::string rememberedPlayerName(const std::string& rememberedPath);
// Writes address and name, each a CR LF line. False when it cannot.
bool rememberServer(const std::string& rememberedPath, const std::string& address,
                    const std::string& name);

class PlaySession {
 public:
  // How long a join may wait for the server's settings before giving up.
  static constexpr double kJoinSeconds = 15;

  // Starts joining. False, with message() set and the view kJoin, when the
  // address or the name is not usable or the connection fails at once.
  bool join(const std::string& address, const std::string& name, double now);
  // Handles what the server sent and the countdown. True when what is shown
  // changed (the view, the countdown's second, the marks).
  bool tick(double now);
  // The player chooses response `number` (1-based). Only the first choice of
  // a question counts; false for any other.
  bool choose(int number, double now);
  // Closes the connection and goes back to the join view.
  void leave();

  PlayView view() const { return view_; }
  const std::string& message() const { return message_; }
  const std::string& playerName() const { return name_; }
  const std::string& address() const { return address_; }
  const GameSettings& settings() const { return client_.settings(); }
  const Question& question() const { return client_.question(); }

  // Question view: whether a time limit runs, and the seconds left of it.
  bool hasTimeLimit() const { return timeLimit_ > 0; }
  double secondsLeft(double now) const;
  bool answered() const { return answered_; }
  bool timedOut() const { return timedOut_; }
  int chosen() const { return chosen_; }  // 0: none (not answered, or timed out)
  // The correct response's number, 0 when the question names none of them.
  int correctNumber() const;
  const std::string& answerTime() const { return answerTime_; }
  bool answerCorrect() const { return answerCorrect_; }

  const std::vector<ResultRow>& results() const { return results_; }
  // The last leaderboard, best first.
  const std::vector<StandingRow>& standings() const { return standings_; }
  int roundsPlayed() const { return roundsPlayed_; }

  // Where a successful join is remembered; empty: nowhere.
  std::string rememberedPath;

 private:
  void handle(ClientEvent event, double now);
  void answer(const std::string& timeText, bool correct);

  PlayerClient client_;
  PlayView view_ = PlayView::kJoin;
  std::string message_;
  std::string name_;
  std::string address_;
  double timeLimit_ = 0;
  double shownAt_ = 0;
  double holdUntil_ = 0;
  double joinedAt_ = 0;
  int lastSecondShown_ = -1;
  bool answered_ = false;
  bool timedOut_ = false;
  int chosen_ = 0;
  std::string answerTime_;
  bool answerCorrect_ = false;
  AnswerTally tally_;
  std::vector<ResultRow> results_;
  std::vector<StandingRow> standings_;
  int roundsPlayed_ = 0;
};

}  // namespace qova

#include "web/seat/room_feed.h"

#include <set>

#include "wire/wire.h"

namespace qova::web {

bool RoomFeed::fail(std::string* error, std::string why) const {
  *error = std::move(why);
  return false;
}

int RoomFeed::awaited() const {
  return awaited_ >= 0 ? awaited_ : static_cast<int>(players_.size());
}

bool RoomFeed::apply(const FeedMessage& m, std::string* error) {
  if (!settled_ && m.kind != FeedKind::kSettings) return fail(error, "a message before SETTINGS");
  // A row's player must be in: the server lists only its players.
  auto rowsIn = [this](const auto& rows) {
    std::set<int> seen;
    for (const auto& r : rows) {
      if (!players_.count(r.player) || !seen.insert(r.player).second) return false;
    }
    return true;
  };
  switch (m.kind) {
    case FeedKind::kSettings:
      if (settled_) return fail(error, "SETTINGS twice");
      settings_ = m;
      settled_ = true;
      return true;
    case FeedKind::kJoin:
      if (phase_ != RoomPhase::kLobby) return fail(error, "JOIN after START");
      if (m.player <= lastJoined_) return fail(error, "JOIN: a player number used before");
      // No results message may list more, so no sound server holds more.
      if (players_.size() >= kMaxListedPlayers) return fail(error, "JOIN: too many players");
      lastJoined_ = m.player;
      players_[m.player] = m.name;
      return true;
    case FeedKind::kDrop:
    case FeedKind::kRemove:
      if (players_.erase(m.player) == 0) return fail(error, "DROP or REMOVE of a player not in");
      return true;
    case FeedKind::kStart:
      if (phase_ != RoomPhase::kLobby) return fail(error, "START twice");
      phase_ = RoomPhase::kStarted;
      return true;
    case FeedKind::kQuestion:
      if (phase_ != RoomPhase::kStarted && phase_ != RoomPhase::kResults) {
        return fail(error, "QUESTION out of turn");
      }
      question_ = m;
      received_ = 0;
      awaited_ = -1;
      summaryDue_ = false;
      phase_ = RoomPhase::kQuestion;
      return true;
    case FeedKind::kAnswers:
      if (phase_ != RoomPhase::kQuestion) return fail(error, "ANSWERS with no question out");
      received_ = m.received;
      awaited_ = m.awaited;
      return true;
    case FeedKind::kResults: {
      // Between questions a client that joins midway gets the last results
      // right after START, without their question.
      if (phase_ != RoomPhase::kQuestion && phase_ != RoomPhase::kStarted) {
        return fail(error, "RESULTS out of turn");
      }
      if (!rowsIn(m.results)) return fail(error, "RESULTS: a row for a player who is not in");
      resultsOfQuestion_ = phase_ == RoomPhase::kQuestion;
      correct_ = m.correct;
      results_.clear();
      resultPlayers_.clear();
      for (const FeedResultRow& r : m.results) {
        results_.push_back(ResultEntry{players_[r.player], r.timeText, r.right});
        resultPlayers_.push_back(r.player);
      }
      summaryDue_ = true;
      phase_ = RoomPhase::kResults;
      return true;
    }
    case FeedKind::kSummary:
      if (!summaryDue_) return fail(error, "SUMMARY not right after RESULTS");
      if (!rowsIn(m.summary)) return fail(error, "SUMMARY: a row for a player who is not in");
      summaryDue_ = false;
      summaryRound_ = m.round;
      summary_.clear();
      summaryPlayers_.clear();
      for (const FeedSummaryRow& r : m.summary) {
        summary_.push_back(SummaryEntry{players_[r.player], r.roundRight, r.roundAverage,
                                        r.roundAnswers, r.totalRight, r.totalAverage,
                                        r.totalAnswers});
        summaryPlayers_.push_back(r.player);
      }
      return true;
    case FeedKind::kEnd:
      phase_ = RoomPhase::kEnded;
      return true;
    case FeedKind::kHold:
      held_ = m.held;
      holdAfterRound_ = m.holdAfterRound;
      return true;
    case FeedKind::kDone:
    case FeedKind::kRefused:
      return true;  // answers to one client, not news of the room
  }
  return fail(error, "an unknown message");
}

}  // namespace qova::web

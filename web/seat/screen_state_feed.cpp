// The room screen's views from the quiz server's room feed (ScreenState,
// screen_state.h): the whole room, at the players' pace.
#include <algorithm>
#include <cmath>

#include "web/seat/screen_state.h"
#include "web/seat/text_codec.h"
#include "wire/play_rules.h"
#include "wire/standings.h"

namespace qova::web {

namespace {

std::string num(const char* key, int64_t value) {
  return std::string(",\"") + key + "\":" + std::to_string(value);
}

// Another player's text, clipped as every row a page is sent.
std::string shown(const char* key, const std::string& cp1252, size_t maxChars) {
  return std::string(",\"") + key +
         "\":" + jsonString(cp1252ToUtf8(clipForDisplay(cp1252, maxChars)));
}

// Messages that wait for the players' pauses: the next question, a round's
// standings (after its results) and the end (after the last standings).
bool paced(FeedKind k) {
  return k == FeedKind::kQuestion || k == FeedKind::kSummary || k == FeedKind::kEnd;
}

// Roughly the bytes a held message takes.
size_t heldBytes(const FeedMessage& m) {
  size_t n = sizeof m + m.name.size() + m.text.size() + m.timeLimitText.size();
  for (const std::string& r : m.responses) n += sizeof r + r.size();
  for (const FeedResultRow& r : m.results) n += sizeof r + r.timeText.size();
  for (const FeedSummaryRow& r : m.summary) {
    n += sizeof r + r.roundAverage.size() + r.totalAverage.size();
  }
  return n;
}

}  // namespace

void ScreenState::feedOpened(int64_t now) {
  feedOpen_ = true;
  feedShown_ = true;
  feedLive_ = RoomFeed();
  feedRoom_ = RoomFeed();
  feedHeld_.clear();
  feedHeldBytes_ = 0;
  feedPauseUntil_ = now;
  feedView_ = ScreenView::kLobby;
  feedRows_.clear();
  feedPlaces_.clear();
  feedBoardRound_ = 0;
  ++viewVersion_;
  ++countVersion_;
  settleHold(now);
}

void ScreenState::feedClosed() {
  if (!feedOpen_) return;
  feedOpen_ = false;
  // The server sends END and exits at once, while the screen may still hold
  // the last reveal and standings: an end told keeps what is held, shown at
  // the players' pace up to the podium, which then stays. A feed lost before
  // its end leaves the screen to the seats.
  if (feedLive_.phase() == RoomPhase::kEnded) return;
  feedHeld_.clear();
  feedHeldBytes_ = 0;
  if (feedRoom_.phase() != RoomPhase::kEnded) feedShown_ = false;
  ++viewVersion_;
  ++countVersion_;
  settleHold(0);
}

bool ScreenState::feedMessage(const FeedMessage& m, int64_t now, std::string* error) {
  if (!feedOpen_) return true;
  if (!feedLive_.apply(m, error)) return false;
  if (isCommandAnswer(m)) return true;  // for the host pages alone
  // The counts alone move a held question's figure: only the last counts;
  // the same for the hold (Hold then Go On behind a held message shows
  // nothing).
  if ((m.kind == FeedKind::kAnswers || m.kind == FeedKind::kHold) && !feedHeld_.empty() &&
      feedHeld_.back().kind == m.kind) {
    feedHeld_.back() = m;
  } else {
    feedHeld_.push_back(m);
    feedHeldBytes_ += heldBytes(m);
  }
  drainFeed(now);
  settleHold(now);
  return true;
}

int64_t ScreenState::wakeAt() const {
  // Held messages outlive the feed only when they lead to its end.
  if (!feedHeld_.empty()) return feedPauseUntil_;
  if (!feedOpen_) return -1;
  // The hold goes on screen once the view's pause is over.
  if (!holdShown_ && feedRoom_.held() &&
      (feedView_ == ScreenView::kReveal || feedView_ == ScreenView::kStandings)) {
    return feedPauseUntil_;
  }
  return -1;
}

void ScreenState::wake(int64_t now) {
  drainFeed(now);
  settleHold(now);
}

bool ScreenState::holdDue(int64_t now) const {
  return feedOpen_ && feedRoom_.held() && now >= feedPauseUntil_ &&
         (feedView_ == ScreenView::kReveal || feedView_ == ScreenView::kStandings);
}

void ScreenState::settleHold(int64_t now) {
  bool shown = holdDue(now);
  if (shown == holdShown_) return;
  holdShown_ = shown;
  ++holdVersion_;
}

PageText ScreenState::holdText() const {
  PageText t;
  t.head = std::string("{\"t\":\"screen.hold\",\"held\":") + (holdShown_ ? "true" : "false") + "}";
  return t;
}

void ScreenState::drainFeed(int64_t now) {
  while (!feedHeld_.empty()) {
    const FeedMessage& m = feedHeld_.front();
    bool bounded = feedHeld_.size() <= kMaxHeldFeedMessages && feedHeldBytes_ <= kMaxHeldFeedBytes;
    if (paced(m.kind) && now < feedPauseUntil_ && bounded) return;
    showFeed(m, now);
    feedHeldBytes_ -= std::min(feedHeldBytes_, heldBytes(m));
    feedHeld_.pop_front();
  }
}

// The next message reaches the screen. feedLive_ took the same messages in
// the same order, so feedRoom_ takes it too.
void ScreenState::showFeed(const FeedMessage& m, int64_t now) {
  std::string ignored;
  feedRoom_.apply(m, &ignored);
  switch (m.kind) {
    case FeedKind::kSettings:
    case FeedKind::kStart:
      break;
    case FeedKind::kJoin:
    case FeedKind::kDrop:
    case FeedKind::kRemove:
      if (feedView_ == ScreenView::kLobby) ++viewVersion_;
      // Before the first counts every player still in is awaited.
      ++countVersion_;
      break;
    case FeedKind::kQuestion: {
      feedView_ = ScreenView::kQuestion;
      feedQuestionAt_ = now;
      double limit = timeLimitSeconds(m.timeLimitText);
      feedLimitMs_ = limit > 0 ? static_cast<int64_t>(std::llround(limit * 1000)) : 0;
      ++viewVersion_;
      ++countVersion_;
      break;
    }
    case FeedKind::kAnswers:
      ++countVersion_;
      break;
    case FeedKind::kResults:
      // Between questions a new connection gets results without their
      // question: nothing to reveal them on, and no pause to keep.
      if (feedRoom_.resultsOfQuestion()) {
        feedPauseUntil_ = now + pauses_.afterResultsMs;
        feedReveal();
      }
      break;
    case FeedKind::kSummary:
      feedPauseUntil_ = now + pauses_.afterLeaderboardMs;
      feedStandings();
      break;
    case FeedKind::kEnd:
      feedView_ = ScreenView::kEnd;
      ++viewVersion_;
      break;
    case FeedKind::kHold:
    case FeedKind::kDone:
    case FeedKind::kRefused:
      break;
  }
}

void ScreenState::feedReveal() {
  const FeedMessage& q = feedRoom_.question();
  feedCounts_.assign(std::min(q.responses.size(), kScreenResponses), 0);
  feedPhones_ = 0;
  // The phones' choices, when the seats are on the same question.
  if (q_ > 0 && question_.round == q.round && question_.number == q.number) {
    for (const auto& s : seats_) {
      const SeatInfo& info = s.second;
      if (info.q != q_ || info.choice < 1) continue;
      ++feedPhones_;
      if (static_cast<size_t>(info.choice) <= feedCounts_.size()) {
        ++feedCounts_[static_cast<size_t>(info.choice - 1)];
      }
    }
  }
  ResultDigest digest =
      digestResults(std::make_shared<const std::vector<ResultEntry>>(feedRoom_.results()));
  feedRight_ = digest.right;
  feedFastest_.clear();
  for (int i : digest.fastest) {
    const ResultEntry& e = feedRoom_.results()[static_cast<size_t>(i)];
    feedFastest_.emplace_back(e.name, e.timeText);
  }
  feedView_ = ScreenView::kReveal;
  ++viewVersion_;
}

void ScreenState::feedStandings() {
  // Rows named by their index, so that players who share a name keep
  // their own places and moves.
  const std::vector<SummaryEntry>& summary = feedRoom_.summary();
  std::vector<SummaryEntry> keyed = summary;
  for (size_t i = 0; i < keyed.size(); ++i) keyed[i].name = std::to_string(i);
  std::vector<SummaryEntry> order = leaderboard(keyed);
  std::vector<int> places = leaderboardPlaces(order);
  std::map<int, int> placesNow;
  feedRows_.clear();
  for (size_t i = 0; i < order.size(); ++i) {
    size_t at = std::stoul(order[i].name);
    int player = feedRoom_.summaryPlayers()[at];
    placesNow[player] = places[i];
    if (i >= static_cast<size_t>(kTopRows)) continue;
    const SummaryEntry& e = summary[at];
    Row r{places[i],      clipForDisplay(e.name, kMaxShownName),
          e.totalCorrect, e.totalAnswers,
          e.totalAverage, 0};
    auto before = feedPlaces_.find(player);
    if (before != feedPlaces_.end() && before->second > r.place) r.up = before->second - r.place;
    feedRows_.push_back(std::move(r));
  }
  feedPlaces_ = std::move(placesNow);
  feedBoardRound_ = feedRoom_.summaryRound();
  feedView_ = ScreenView::kStandings;
  ++viewVersion_;
}

std::string ScreenState::feedQuestionJson(int64_t now) const {
  const FeedMessage& q = feedRoom_.question();
  std::string json = num("round", q.round) + num("number", q.number) +
                     num("of", q.questionsPerRound) +
                     ",\"text\":" + jsonString(cp1252ToUtf8(q.text)) + ",\"responses\":[";
  for (size_t i = 0; i < q.responses.size() && i < kScreenResponses; ++i) {
    if (i) json += ',';
    json += jsonString(cp1252ToUtf8(q.responses[i]));
  }
  int64_t left = feedLimitMs_ > 0 ? std::max<int64_t>(0, feedQuestionAt_ + feedLimitMs_ - now) : 0;
  return json + "]" + num("timeLimitMs", feedLimitMs_) + num("timeLeftMs", left) +
         num("answered", feedRoom_.received()) +
         num("seated", feedRoom_.received() + feedRoom_.awaited());
}

PageText ScreenState::feedViewText(int64_t now) const {
  std::string json;
  switch (feedView_) {
    case ScreenView::kIdle:
    case ScreenView::kLobby: {
      const std::map<int, std::string>& players = feedRoom_.players();
      json = "{\"t\":\"screen\",\"view\":\"lobby\"" +
             num("count", static_cast<int64_t>(players.size())) + ",\"names\":[";
      // The latest joins, in the order they came.
      size_t skip = players.size() > kLobbyNames ? players.size() - kLobbyNames : 0;
      bool first = true;
      for (const auto& p : players) {
        if (skip > 0) {
          --skip;
          continue;
        }
        if (!first) json += ',';
        first = false;
        json += jsonString(cp1252ToUtf8(clipForDisplay(p.second, kMaxShownName)));
      }
      json += "]";
      break;
    }
    case ScreenView::kQuestion:
      json = "{\"t\":\"screen\",\"view\":\"question\"" + feedQuestionJson(now);
      break;
    case ScreenView::kReveal: {
      json = "{\"t\":\"screen\",\"view\":\"reveal\"" + feedQuestionJson(now) +
             num("correct", feedRoom_.correct()) + ",\"counts\":[";
      for (size_t i = 0; i < feedCounts_.size(); ++i) {
        json += (i ? "," : "") + std::to_string(feedCounts_[i]);
      }
      json += "]" + std::string(",\"countsOf\":\"phones\"") + num("phones", feedPhones_) +
              num("right", feedRight_) +
              num("players", static_cast<int64_t>(feedRoom_.results().size())) + ",\"fastest\":[";
      for (size_t i = 0; i < feedFastest_.size(); ++i) {
        if (i) json += ',';
        json += "{\"name\":" +
                jsonString(cp1252ToUtf8(clipForDisplay(feedFastest_[i].first, kMaxShownName))) +
                shown("time", feedFastest_[i].second, kMaxShownTime) + "}";
      }
      json += "]";
      break;
    }
    case ScreenView::kStandings:
      json = "{\"t\":\"screen\",\"view\":\"standings\"" + num("round", feedBoardRound_) +
             rowsJson(feedRows_);
      break;
    case ScreenView::kEnd:
      json = "{\"t\":\"screen\",\"view\":\"end\"" + rowsJson(feedRows_);
      break;
  }
  PageText t;
  t.head = json + "}";
  return t;
}

}  // namespace qova::web

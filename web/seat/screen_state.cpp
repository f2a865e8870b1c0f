#include "web/seat/screen_state.h"

#include <algorithm>

#include "web/seat/result_digest.h"
#include "web/seat/text_codec.h"

namespace qova::web {

namespace {

std::string num(const char* key, int64_t value) {
  return std::string(",\"") + key + "\":" + std::to_string(value);
}

std::string str(const char* key, const std::string& cp1252) {
  return std::string(",\"") + key + "\":" + jsonString(cp1252ToUtf8(cp1252));
}

PageText plainText(std::string json) {
  PageText t;
  t.head = std::move(json);
  return t;
}

const char* viewName(ScreenView v) {
  switch (v) {
    case ScreenView::kIdle:
      return "idle";
    case ScreenView::kLobby:
      return "lobby";
    case ScreenView::kQuestion:
      return "question";
    case ScreenView::kReveal:
      return "reveal";
    case ScreenView::kStandings:
      return "standings";
    case ScreenView::kEnd:
      return "end";
  }
  return "idle";
}

// Whether the seat's results are those of question q: it shows them, or
// they came with the next question behind them, still held for the pause.
// A seat on q itself still holds the results of the question before.
bool holdsResultsOf(const Seat& seat, int64_t q) {
  SeatState s = seat.state();
  if (s == SeatState::kResults || s == SeatState::kLeaderboard) return seat.questionNumber() == q;
  return s == SeatState::kQuestion && !seat.released() && seat.questionNumber() == q + 1;
}

bool isSeated(const Seat& seat) {
  return seat.welcomed() && seat.state() != SeatState::kConnecting &&
         seat.state() != SeatState::kEnded;
}

}  // namespace

void ScreenState::seatChanged(uint64_t id, const Seat& seat) {
  auto [it, fresh] = seats_.try_emplace(id);
  SeatInfo& info = it->second;
  if (fresh) info.name = seat.wireName();
  bool seated = isSeated(seat);
  if (seated != info.seated) {
    info.seated = seated;
    bool answeredNow = q_ > 0 && info.q == q_;
    if (seated) {
      ++seated_;
      answered_ += answeredNow;
    } else {
      --seated_;
      answered_ -= answeredNow;
    }
    countChanged();
    if (view_ == ScreenView::kLobby || view_ == ScreenView::kIdle) changed();
  }
  if (seated && (view_ == ScreenView::kIdle || view_ == ScreenView::kEnd) &&
      seat.state() == SeatState::kLobby) {
    // A new game's lobby: what the last one left is let go.
    view_ = ScreenView::kLobby;
    q_ = 0;
    answered_ = 0;
    for (auto& s : seats_) s.second.q = 0;
    results_.reset();
    board_.reset();
    lastStandings_ = StandingsDigest();
    rows_.clear();
    changed();
    if (feedShown_ && !feedOpen_) {
      // The podium a closed feed left gives way to the new game.
      feedShown_ = false;
      ++viewVersion_;
    }
  }
  if (seated) {
    if (seat.questionNumber() > q_ && seat.released()) startQuestion(seat);
    // The choice, once sent (a time-out sends none).
    if (seat.questionNumber() == q_ && seat.state() != SeatState::kQuestion && seat.choice() != 0 &&
        info.q != q_) {
      info.q = q_;
      info.choice = seat.choice();
      ++answered_;
      countChanged();
    }
    if (view_ == ScreenView::kQuestion && seat.results() && seat.results() != results_ &&
        holdsResultsOf(seat, q_)) {
      reveal(seat.results());
    }
    const std::shared_ptr<const Leaderboard>& board = seat.shownBoard();
    if (board && board != board_ && view_ == ScreenView::kReveal) standings(board);
  }
  settleIdle();
}

void ScreenState::seatRemoved(uint64_t id) {
  auto it = seats_.find(id);
  if (it == seats_.end()) return;
  if (it->second.seated) {
    --seated_;
    if (q_ > 0 && it->second.q == q_) --answered_;
    countChanged();
    if (view_ == ScreenView::kLobby) changed();
  }
  seats_.erase(it);
  settleIdle();
}

// With no web player left seated the screen can follow nothing more: after
// a round's standings that is the end (kept on screen), before it idle.
void ScreenState::settleIdle() {
  if (seated_ > 0 || view_ == ScreenView::kIdle || view_ == ScreenView::kEnd) return;
  view_ = board_ ? ScreenView::kEnd : ScreenView::kIdle;
  changed();
}

void ScreenState::startQuestion(const Seat& seat) {
  q_ = seat.questionNumber();
  question_ = seat.question();
  questionsPerRound_ = seat.questionsPerRound();
  questionAt_ = seat.questionAt();
  limitMs_ = seat.limitMs();
  view_ = ScreenView::kQuestion;
  answered_ = 0;
  countChanged();
  changed();
}

void ScreenState::reveal(const std::shared_ptr<const SharedResults>& shared) {
  results_ = shared;
  const SharedResults& results = *shared;
  counts_.assign(std::min(question_.responses.size(), kScreenResponses), 0);
  phones_ = 0;
  for (const auto& s : seats_) {
    const SeatInfo& info = s.second;
    if (info.q != q_ || info.choice < 1) continue;
    ++phones_;
    if (static_cast<size_t>(info.choice) <= counts_.size()) {
      ++counts_[static_cast<size_t>(info.choice - 1)];
    }
  }
  const ResultDigest& digest = results.digest;
  right_ = digest.right;
  players_ = digest.players;
  fastest_.clear();
  for (int i : digest.fastest) {
    const ResultEntry& e = (*digest.entries)[static_cast<size_t>(i)];
    fastest_.emplace_back(e.name, e.timeText);
  }
  view_ = ScreenView::kReveal;
  changed();
}

void ScreenState::standings(const std::shared_ptr<const Leaderboard>& board) {
  board_ = board;
  boardRound_ = question_.round;
  const StandingsDigest& digest = board->digest;
  rows_.clear();
  for (size_t i = 0; i < digest.order.size() && i < static_cast<size_t>(kTopRows); ++i) {
    const SummaryEntry& e = digest.order[i];
    Row r{digest.places[i], e.name, e.totalCorrect, e.totalAnswers, e.totalAverage, 0};
    // Up: the best place the name had at the round before (names may repeat
    // among direct players; the best is the fair reading).
    auto before = lastStandings_.rowsByName.find(e.name);
    if (before != lastStandings_.rowsByName.end() && !before->second.empty()) {
      int was = lastStandings_.places[static_cast<size_t>(before->second.front())];
      if (was > r.place) r.up = was - r.place;
    }
    rows_.push_back(std::move(r));
  }
  lastStandings_ = digest;
  view_ = ScreenView::kStandings;
  changed();
}

std::string ScreenState::questionJson(int64_t now) const {
  std::string json = num("round", question_.round) + num("number", question_.number) +
                     num("of", questionsPerRound_) + str("text", question_.text) +
                     ",\"responses\":[";
  for (size_t i = 0; i < question_.responses.size() && i < kScreenResponses; ++i) {
    if (i) json += ',';
    json += jsonString(cp1252ToUtf8(question_.responses[i]));
  }
  int64_t left = limitMs_ > 0 ? std::max<int64_t>(0, questionAt_ + limitMs_ - now) : 0;
  return json + "]" + num("timeLimitMs", limitMs_) + num("timeLeftMs", left);
}

std::string ScreenState::rowsJson(const std::vector<Row>& rows) const {
  std::string json = ",\"rows\":[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    if (i) json += ',';
    json += "{\"place\":" + std::to_string(r.place) + str("name", r.name) +
            num("correct", r.correct) + num("answers", r.answers) + str("average", r.average) +
            num("up", r.up) + "}";
  }
  return json + "]";
}

PageText ScreenState::viewText(int64_t now) const {
  if (feedShown_) return feedViewText(now);
  std::string json = std::string("{\"t\":\"screen\",\"view\":\"") + viewName(view_) + "\"";
  switch (view_) {
    case ScreenView::kIdle:
      break;
    case ScreenView::kLobby: {
      std::vector<const SeatInfo*> names;
      for (const auto& s : seats_) {
        if (s.second.seated) names.push_back(&s.second);
      }
      // The latest joins, shown in the order they came.
      size_t from = names.size() > kLobbyNames ? names.size() - kLobbyNames : 0;
      json += num("count", static_cast<int64_t>(names.size())) + ",\"names\":[";
      for (size_t i = from; i < names.size(); ++i) {
        if (i > from) json += ',';
        json += jsonString(cp1252ToUtf8(names[i]->name));
      }
      json += "]";
      break;
    }
    case ScreenView::kQuestion:
      json += questionJson(now) + num("answered", static_cast<int64_t>(answered())) +
              num("seated", static_cast<int64_t>(seated_));
      break;
    case ScreenView::kReveal: {
      json += questionJson(now) + num("answered", static_cast<int64_t>(answered())) +
              num("seated", static_cast<int64_t>(seated_)) +
              num("correct", question_.correct ? question_.correct - '0' : 0) + ",\"counts\":[";
      for (size_t i = 0; i < counts_.size(); ++i)
        json += (i ? "," : "") + std::to_string(counts_[i]);
      json += "]" + std::string(",\"countsOf\":\"phones\"") + num("phones", phones_) +
              num("right", right_) + num("players", players_) + ",\"fastest\":[";
      for (size_t i = 0; i < fastest_.size(); ++i) {
        if (i) json += ',';
        json += "{\"name\":" + jsonString(cp1252ToUtf8(fastest_[i].first)) +
                str("time", fastest_[i].second) + "}";
      }
      json += "]";
      break;
    }
    case ScreenView::kStandings:
      json += num("round", boardRound_) + rowsJson(rows_);
      break;
    case ScreenView::kEnd:
      json += rowsJson(rows_);
      break;
  }
  return plainText(json + "}");
}

PageText ScreenState::countText() const {
  if (feedShown_) {
    return plainText("{\"t\":\"screen.count\"" + num("answered", feedRoom_.received()) +
                     num("seated", feedRoom_.received() + feedRoom_.awaited()) + "}");
  }
  return plainText("{\"t\":\"screen.count\"" + num("answered", static_cast<int64_t>(answered())) +
                   num("seated", static_cast<int64_t>(seated_)) + "}");
}

}  // namespace qova::web

#include "web/seat.h"

#include <algorithm>
#include <cmath>

#include "web/text_codec.h"

namespace qova::web {

namespace {

PageText plain(std::string json) {
  PageText t;
  t.head = std::move(json);
  return t;
}

std::string q(const char* key, int64_t value) {
  return std::string(",\"") + key + "\":" + std::to_string(value);
}

}  // namespace

Seat::Seat(std::string token, std::string wireName, SharedRows* rows, SeatPauses pauses)
    : token_(std::move(token)), wireName_(std::move(wireName)), rows_(rows), pauses_(pauses) {}

void Seat::serverBytes(const char* data, size_t size, int64_t now, SeatOutput* out) {
  if (state_ == SeatState::kEnded) return;
  held_.append(data, size);
  while (state_ != SeatState::kEnded && !held_.empty()) {
    if (heldNext_ != Held::kNone && !stream_.midMessage()) {
      // Most seats receive what another seat has already read: no need to
      // look for its end line by line.
      bool partial = false;
      size_t whole = heldNext_ == Held::kResults ? rows_->knownResults(held_, &known_, &partial)
                                                 : rows_->knownSummary(held_, &known_, &partial);
      if (partial) break;  // so far the bytes another seat has read: wait for the rest
      if (whole > 0) heldScan_ = heldLines_ = 0;
      if (whole == 0) whole = frameHeld();
      if (whole == 0) break;
      if (whole != std::string::npos && takeShared(whole, now, out)) continue;
    }
    stream_.feed(held_.data(), held_.size());
    held_.clear();
    heldScan_ = heldLines_ = 0;
    known_ = SharedRows::Known();
    while (state_ != SeatState::kEnded) {
      ServerMessage m = stream_.next();
      if (m == ServerMessage::kNone) break;
      onMessage(m, now, out);
    }
  }
  // A long message's buffer is not kept for the seat's whole life.
  if (held_.empty() && held_.capacity() > 4096) std::string().swap(held_);
}

size_t Seat::frameHeld() {
  // The lines a stream would take: CR LF ends them; a message ends with an
  // empty line where an entry (3 lines of results, 7 of a summary) would start.
  const size_t entryLines = heldNext_ == Held::kResults ? 3 : 7;
  for (;;) {
    size_t end = held_.find("\r\n", heldScan_);
    if (end == std::string::npos) {
      return held_.size() - heldScan_ > kMaxServerLine + 1 ? std::string::npos : 0;
    }
    size_t length = end - heldScan_;
    size_t at = heldLines_ % entryLines;
    if (length > kMaxServerLine || heldLines_ / entryLines >= kMaxListedPlayers) {
      return std::string::npos;
    }
    if (at == 0 && length == 0) {
      heldScan_ = heldLines_ = 0;
      return end + 2;
    }
    // A wrong verdict ends the seat at once, as the stream would.
    if (entryLines == 3 && at == 2 &&
        !(length == 1 && (held_[heldScan_] == 'r' || held_[heldScan_] == 'w'))) {
      return std::string::npos;
    }
    ++heldLines_;
    heldScan_ = end + 2;
  }
}

bool Seat::takeShared(size_t size, int64_t now, SeatOutput* out) {
  std::shared_ptr<const SharedResults> results;
  std::shared_ptr<const Leaderboard> board;
  if (heldNext_ == Held::kResults) {
    results = rows_->readResults(held_.data(), size);
    if (!results) return false;
  } else {
    board = rows_->readSummary(held_.data(), size);
    if (!board) return false;
  }
  held_.erase(0, size);
  known_ = SharedRows::Known();
  stream_.feed("\r\n", 2);
  ServerMessage m = stream_.next();
  if (results && m == ServerMessage::kResults) {
    onResults(results->entries, results->rowsJson, &results->rowsByName, now, out);
  } else if (board && m == ServerMessage::kSummary) {
    onSummary(board, now, out);
  } else {
    onMessage(ServerMessage::kViolation, now, out);
  }
  return true;
}

void Seat::onMessage(ServerMessage m, int64_t now, SeatOutput* out) {
  switch (m) {
    case ServerMessage::kNone:
      return;
    case ServerMessage::kViolation:
      end("The quiz server sent a message that could not be read.", out);
      return;
    case ServerMessage::kSettings: {
      double seconds = limitSeconds_ = timeLimitSeconds(stream_.settings().timeLimitText);
      limitMs_ = seconds * 1000 >= kMaxTimeLimitMs
                     ? kMaxTimeLimitMs
                     : static_cast<int64_t>(std::llround(seconds * 1000));
      if (seconds > 0 && limitMs_ == 0) limitMs_ = 1;
      out->toServer += nameMessage(wireName_);
      state_ = SeatState::kLobby;
      if (attached_) emitState(now, out);
      return;
    }
    case ServerMessage::kQuestion:
      question_ = stream_.question();
      ++questionCount_;
      choice_ = 0;
      timedOut_ = false;
      state_ = SeatState::kQuestion;
      released_ = false;
      questionAt_ = std::max(now, pauseUntil_);
      heldNext_ = Held::kResults;
      if (now >= questionAt_) release(now, out);
      return;
    case ServerMessage::kResults:
      onResults(stream_.results(), rows_->results(stream_.results()), nullptr, now, out);
      return;
    case ServerMessage::kSummary:
      onSummary(rows_->leaderboard(stream_.summary()), now, out);
      return;
  }
}

void Seat::onResults(const std::vector<ResultEntry>& entries,
                     std::shared_ptr<const std::string> rowsJson,
                     const std::unordered_map<std::string, std::vector<int>>* rowsByName,
                     int64_t now, SeatOutput* out) {
  heldNext_ = stream_.summaryExpected() ? Held::kSummary : Held::kNone;
  if (state_ == SeatState::kQuestion) {
    // The server recorded this seat's answer itself (its deadline, or its
    // operator ended the question). It still takes one answer per question
    // and discards this one, so that the next answer pairs with the next
    // question: the row it recorded goes back as that answer.
    choice_ = 0;
    timedOut_ = true;
    timeSent_ = secondsText(0);
    rightSent_ = false;
    for (const ResultEntry& e : entries) {
      if (e.name == wireName_) {
        timeSent_ = e.timeText;
        rightSent_ = e.correct;
        break;
      }
    }
    out->toServer += answerMessage(timeSent_, rightSent_);
    state_ = SeatState::kAnswered;
  }
  // The server sends results only once every player has answered.
  if (state_ != SeatState::kAnswered) {
    end("The quiz server sent results before this player had answered.", out);
    return;
  }
  resultsRows_ = std::move(rowsJson);
  // The seat's own row: the first with its name, time and verdict.
  std::vector<int> all;
  const std::vector<int>* mine = &all;
  if (rowsByName) {
    auto found = rowsByName->find(wireName_);
    static const std::vector<int> kNone;
    mine = found == rowsByName->end() ? &kNone : &found->second;
  } else {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name == wireName_) all.push_back(static_cast<int>(i));
    }
  }
  resultsMe_ = -1;
  for (int i : *mine) {
    if (isOwnResult(entries[static_cast<size_t>(i)], wireName_, {timeSent_, rightSent_})) {
      resultsMe_ = i;
      break;
    }
  }
  state_ = SeatState::kResults;
  pauseUntil_ = now + pauses_.afterResultsMs;
  boardShown_ = false;
  emit(resultsText(), out);
}

void Seat::onSummary(std::shared_ptr<const Leaderboard> board, int64_t now, SeatOutput* out) {
  heldNext_ = Held::kNone;
  board_ = std::move(board);
  boardMe_ = ownStandingRow(board_->order, wireName_, tally_);
  tally_.endRound();
  leaderboardRound_ = question_.round;
  // The summary comes right behind the round's last results: those stay on
  // the page for their pause first, then the leaderboard for its own.
  boardAt_ = std::max(now, pauseUntil_);
  pauseUntil_ = boardAt_ + pauses_.afterLeaderboardMs;
  boardPending_ = true;
  if (now >= boardAt_) showBoard(out);
}

void Seat::showBoard(SeatOutput* out) {
  boardPending_ = false;
  boardShown_ = true;
  if (state_ == SeatState::kResults) state_ = SeatState::kLeaderboard;
  emit(leaderboardText(), out);
}

void Seat::release(int64_t now, SeatOutput* out) {
  released_ = true;
  questionAt_ = now;
  shownAt_ = attached_ ? now : -1;
  emit(questionText(now), out);
}

void Seat::serverEnded(ServerEnd how, bool gameBegun, SeatOutput* out) {
  if (state_ == SeatState::kEnded) return;
  if (state_ == SeatState::kConnecting) {
    // No seat was granted yet: the page may try again.
    std::string message;
    if (gameBegun) {
      message = "The game has already begun.";
    } else if (how == ServerEnd::kRefused) {
      message = "The quiz server cannot be reached.";
    } else {
      message = "The quiz server closed the connection.";
    }
    state_ = SeatState::kEnded;
    out->closeServer = true;
    emit(plain("{\"t\":\"refused\",\"message\":" + jsonString(message) + "}"), out);
    return;
  }
  end(stream_.atMessageBoundary() && held_.empty() ? "The quiz server has ended the game."
                                                   : "The connection to the quiz server was lost.",
      out);
}

void Seat::end(const std::string& message, SeatOutput* out) {
  state_ = SeatState::kEnded;
  endMessage_ = message;
  out->closeServer = true;
  emit(endedText(), out);
}

void Seat::attach(int64_t now, SeatOutput* out) {
  attached_ = true;
  if (state_ == SeatState::kQuestion && released_ && shownAt_ < 0) shownAt_ = now;
  if (state_ != SeatState::kConnecting) emitState(now, out);
}

void Seat::detach(int64_t now) {
  attached_ = false;
  detachedAt_ = now;
}

bool Seat::answer(int64_t qNumber, int choice, int64_t now, SeatOutput* out) {
  if (choice < 1) return false;
  if (state_ != SeatState::kConnecting && choice > stream_.settings().responseCount) return false;
  if (state_ != SeatState::kQuestion || !released_ || qNumber != questionCount_) return true;
  int64_t due = deadline();
  if (due >= 0 && now >= due) {
    tick(now, out);  // too late: the time-out stands
    return true;
  }
  int64_t elapsed = now - (shownAt_ >= 0 ? shownAt_ : now);
  if (limitMs_ > 0) elapsed = std::min(elapsed, limitMs_);
  sendAnswer(choice, false, secondsText(static_cast<double>(elapsed) / 1000), out);
  return true;
}

void Seat::tick(int64_t now, SeatOutput* out) {
  if (boardPending_ && now >= boardAt_ && state_ != SeatState::kEnded) showBoard(out);
  if (state_ == SeatState::kQuestion && !released_) {
    if (now >= questionAt_) release(now, out);
    return;
  }
  int64_t due = deadline();
  if (state_ != SeatState::kQuestion || due < 0 || now < due) return;
  if (limitMs_ > 0) {
    sendAnswer(0, true, timeoutTimeText(limitSeconds_), out);
    return;
  }
  int64_t since = shownAt_ >= 0 ? shownAt_ : questionAt_;
  sendAnswer(0, true, secondsText(static_cast<double>(now - since) / 1000), out);
}

int64_t Seat::deadline() const {
  if (boardPending_ && state_ != SeatState::kEnded) return boardAt_;
  if (state_ != SeatState::kQuestion) return -1;
  if (!released_) return questionAt_;
  if (limitMs_ > 0) return questionAt_ + limitMs_;
  if (!attached_) return std::max(questionAt_, detachedAt_) + kAbsentPageHoldMs;
  return -1;
}

void Seat::sendAnswer(int choice, bool timedOut, const std::string& timeText, SeatOutput* out) {
  choice_ = choice;
  timedOut_ = timedOut;
  timeSent_ = timeText;
  int correct = correctNumber();
  rightSent_ = !timedOut && correct != 0 && choice == correct;
  tally_.count(rightSent_);
  out->toServer += answerMessage(timeSent_, rightSent_);
  state_ = SeatState::kAnswered;
  emit(answeredText(), out);
}

int Seat::correctNumber() const { return correctResponseNumber(question_); }

int Seat::leaderboardMe() const { return board_ ? boardMe_ : -1; }

void Seat::emit(PageText text, SeatOutput* out) const {
  if (attached_) out->toPage.push_back(std::move(text));
}

void Seat::emitState(int64_t now, SeatOutput* out) {
  out->toPage.push_back(welcomeText());
  // The welcome carries the token: from now on the page can come back.
  welcomed_ = true;
  switch (state_) {
    case SeatState::kConnecting:
      return;
    case SeatState::kLobby:
      out->toPage.push_back(plain("{\"t\":\"lobby\"}"));
      return;
    case SeatState::kQuestion:
      if (released_) {
        out->toPage.push_back(questionText(now));
      } else {
        out->toPage.push_back(boardShown_ ? leaderboardText() : resultsText());
      }
      return;
    case SeatState::kAnswered:
      out->toPage.push_back(questionText(now));
      out->toPage.push_back(answeredText());
      return;
    case SeatState::kResults:
      out->toPage.push_back(resultsText());
      return;
    case SeatState::kLeaderboard:
      out->toPage.push_back(leaderboardText());
      return;
    case SeatState::kEnded:
      out->toPage.push_back(endedText());
      return;
  }
}

PageText Seat::welcomeText() const {
  const GameSettings& s = stream_.settings();
  return plain("{\"t\":\"welcome\",\"token\":" + jsonString(token_) +
               ",\"name\":" + jsonString(cp1252ToUtf8(wireName_)) +
               ",\"settings\":{\"questionsPerRound\":" + std::to_string(s.questionsPerRound) +
               q("responseCount", s.responseCount) + q("timeLimitMs", limitMs_) + "}}");
}

PageText Seat::questionText(int64_t now) const {
  std::string json = "{\"t\":\"question\"" + q("q", questionCount_) + q("round", question_.round) +
                     q("number", question_.number) + q("of", stream_.settings().questionsPerRound) +
                     ",\"text\":" + jsonString(cp1252ToUtf8(question_.text)) + ",\"responses\":[";
  for (size_t i = 0; i < question_.responses.size(); ++i) {
    if (i) json += ',';
    json += jsonString(cp1252ToUtf8(question_.responses[i]));
  }
  int64_t left = limitMs_ > 0 ? std::max<int64_t>(0, questionAt_ + limitMs_ - now) : 0;
  json += "]" + q("timeLimitMs", limitMs_) + q("timeLeftMs", left) + "}";
  return plain(std::move(json));
}

PageText Seat::answeredText() const {
  return plain("{\"t\":\"answered\"" + q("q", questionCount_) + q("choice", choice_) +
               q("correct", correctNumber()) + ",\"right\":" + (rightSent_ ? "true" : "false") +
               ",\"time\":" + jsonString(timeSent_) +
               ",\"timedOut\":" + (timedOut_ ? "true" : "false") + "}");
}

PageText Seat::resultsText() const {
  PageText t;
  t.head = "{\"t\":\"results\"" + q("q", questionCount_) + q("round", question_.round) +
           q("number", question_.number) + q("correct", correctNumber()) + ",\"rows\":";
  t.shared = resultsRows_;
  t.tail = q("me", resultsMe_) + "}";
  return t;
}

PageText Seat::leaderboardText() const {
  PageText t;
  t.head = "{\"t\":\"leaderboard\"" + q("round", leaderboardRound_) + ",\"final\":false,\"rows\":";
  t.shared = board_->rowsJson;
  t.tail = q("me", leaderboardMe()) + "}";
  return t;
}

PageText Seat::endedText() const {
  PageText t;
  t.head = "{\"t\":\"ended\",\"message\":" + jsonString(endMessage_) + ",\"rows\":";
  if (board_) {
    t.shared = board_->rowsJson;
  } else {
    t.head += "[]";
  }
  t.tail = q("me", leaderboardMe()) + "}";
  return t;
}

}  // namespace qova::web

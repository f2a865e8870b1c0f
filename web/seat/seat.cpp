#include "web/seat/seat.h"

#include <algorithm>
#include <cmath>

#include "web/seat/text_codec.h"
#include "wire/play_rules.h"
#include "wire/standings.h"

namespace qova::web {

Seat::Seat(std::string token, std::string wireName, SharedRows* rows, SeatPauses pauses)
    : token_(std::move(token)),
      wireName_(std::move(wireName)),
      rows_(rows),
      pauses_(pauses),
      stream_(rows->lists()) {
  stream_.setMaxListBytes(rows->maxListBytes());
}

void Seat::serverBytes(const char* data, size_t size, int64_t now, SeatOutput* out) {
  if (state_ == SeatState::kEnded) return;
  stream_.feed(data, size);
  while (state_ != SeatState::kEnded) {
    ServerMessage m = stream_.next();
    if (m == ServerMessage::kNone) break;
    onMessage(m, now, out);
  }
}

void Seat::onMessage(ServerMessage m, int64_t now, SeatOutput* out) {
  switch (m) {
    case ServerMessage::kNone:
      return;
    case ServerMessage::kViolation:
      end(stream_.tooLarge() ? "The quiz server sent a message larger than this gateway can hold."
                             : "The quiz server sent a message that could not be read.",
          out);
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
      pausedShown_ = false;
      questionAt_ = std::max(now, pauseUntil_);
      if (now >= questionAt_) release(now, out);
      return;
    case ServerMessage::kResults:
      onResults(rows_->results(stream_.sharedResults()), now, out);
      return;
    case ServerMessage::kSummary:
      onSummary(rows_->leaderboard(stream_.sharedSummary()), now, out);
      return;
  }
}

void Seat::onResults(std::shared_ptr<const SharedResults> results, int64_t now, SeatOutput* out) {
  if (state_ == SeatState::kQuestion) {
    // The server recorded this seat's answer itself (its deadline, or its
    // operator ended the question). It still takes one answer per question
    // and discards this one, so that the next answer pairs with the next
    // question: the row it recorded goes back as that answer.
    choice_ = 0;
    timedOut_ = true;
    timeSent_ = secondsText(0);
    rightSent_ = false;
    auto named = results->digest.rowsByName.find(wireName_);
    if (named != results->digest.rowsByName.end()) {
      const ResultEntry& e = (*results->digest.entries)[static_cast<size_t>(named->second.front())];
      timeSent_ = e.timeText;
      rightSent_ = e.correct;
    }
    out->toServer += answerMessage(timeSent_, rightSent_);
    tally_.count(rightSent_);
    state_ = SeatState::kAnswered;
  }
  // The server sends results only once every player has answered.
  if (state_ != SeatState::kAnswered) {
    end("The quiz server sent results before this player had answered.", out);
    return;
  }
  results_ = std::move(results);
  // The seat's own row: the first with its name, time and verdict.
  resultsMe_ = ownResultRow(results_->digest, wireName_, {timeSent_, rightSent_});
  resultsQ_ = questionCount_;
  state_ = SeatState::kResults;
  pauseUntil_ = now + pauses_.afterResultsMs;
  boardShown_ = false;
  emit(resultsText(), out);
}

void Seat::onSummary(std::shared_ptr<const Leaderboard> board, int64_t now, SeatOutput* out) {
  board_ = std::move(board);
  boardMe_ = ownStandingRow(board_->digest, wireName_, tally_);
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
  // The question's time starts now for every seat, with a page or not: a
  // page that comes later gets what is left of it.
  released_ = true;
  questionAt_ = now;
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
    emit(pageRefused(message), out);
    return;
  }
  end(stream_.atMessageBoundary() ? "The quiz server has ended the game."
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
  if (joinedAt_ < 0) joinedAt_ = now;
  if (state_ != SeatState::kConnecting) {
    emitState(now, out);
  } else if (silenceNoticed_) {
    out->toPage.push_back(silenceText());
  }
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
  int64_t elapsed = now - questionAt_;
  if (limitMs_ > 0) elapsed = std::min(elapsed, limitMs_);
  sendAnswer(choice, false, secondsText(static_cast<double>(elapsed) / 1000), out);
  return true;
}

void Seat::tick(int64_t now, SeatOutput* out) {
  if (state_ == SeatState::kConnecting) {
    if (!silenceNoticed_ && joinedAt_ >= 0 && now >= joinedAt_ + kServerSilentNoticeMs) {
      silenceNoticed_ = true;
      emit(silenceText(), out);
    }
    return;
  }
  if (boardPending_ && now >= boardAt_ && state_ != SeatState::kEnded) showBoard(out);
  if (pausedDue() && now >= pauseUntil_) {
    pausedShown_ = true;
    emit(pagePaused(), out);
  }
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
  sendAnswer(0, true, secondsText(static_cast<double>(now - questionAt_) / 1000), out);
}

int64_t Seat::deadline() const {
  if (state_ == SeatState::kConnecting) {
    return silenceNoticed_ || joinedAt_ < 0 ? -1 : joinedAt_ + kServerSilentNoticeMs;
  }
  if (boardPending_ && state_ != SeatState::kEnded) return boardAt_;
  if (pausedDue()) return pauseUntil_;
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

bool Seat::pausedDue() const {
  return held_ && !pausedShown_ && !boardPending_ &&
         (state_ == SeatState::kResults || state_ == SeatState::kLeaderboard);
}

void Seat::setHeld(bool held, int64_t now, SeatOutput* out) {
  held_ = held;
  if (pausedDue() && now >= pauseUntil_) {
    pausedShown_ = true;
    emit(pagePaused(), out);
  }
}

void Seat::emitState(int64_t now, SeatOutput* out) {
  out->toPage.push_back(pageWelcome(token_, wireName_, stream_.settings(), limitMs_));
  // The welcome carries the token: from now on the page can come back.
  welcomed_ = true;
  switch (state_) {
    case SeatState::kConnecting:
      return;
    case SeatState::kLobby:
      out->toPage.push_back(pageLobby());
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
      if (pausedShown_ && held_) out->toPage.push_back(pagePaused());
      return;
    case SeatState::kLeaderboard:
      out->toPage.push_back(leaderboardText());
      if (pausedShown_ && held_) out->toPage.push_back(pagePaused());
      return;
    case SeatState::kEnded:
      out->toPage.push_back(endedText());
      return;
  }
}

PageText Seat::questionText(int64_t now) const {
  int64_t left = limitMs_ > 0 ? std::max<int64_t>(0, questionAt_ + limitMs_ - now) : 0;
  return pageQuestion(questionCount_, question_, stream_.settings().questionsPerRound, limitMs_,
                      left);
}

PageText Seat::silenceText() {
  PageText t;
  t.head = "{\"t\":\"waiting\",\"message\":" +
           jsonString("The quiz server has not answered yet; still waiting for it.") + "}";
  return t;
}

PageText Seat::answeredText() const {
  return pageAnswered(questionCount_, choice_, correctNumber(), rightSent_, timeSent_, timedOut_);
}

PageText Seat::resultsText() const {
  return pageResults(resultsQ_, question_, correctNumber(), results_->digest, results_->json,
                     resultsMe_);
}

PageText Seat::leaderboardText() const {
  return pageLeaderboard(leaderboardRound_, board_->digest, board_->json, leaderboardMe());
}

PageText Seat::endedText() const {
  return pageEnded(endMessage_, board_ ? &board_->digest : nullptr, board_ ? board_->json : nullptr,
                   leaderboardMe());
}

void Seat::rows(bool standings, int64_t from, int64_t now, SeatOutput* out) {
  // A bucket of kRowsBurst requests that refills one every kRowsRefillMs:
  // a page that floods requests gets no more answers than that.
  int64_t refilled = (now - rowsAt_) / kRowsRefillMs;
  if (refilled > 0) {
    rowsTokens_ = static_cast<int>(std::min<int64_t>(kRowsBurst, rowsTokens_ + refilled));
    rowsAt_ += refilled * kRowsRefillMs;
  }
  if (rowsTokens_ == kRowsBurst) rowsAt_ = now;
  if (rowsTokens_ == 0) return;
  --rowsTokens_;
  if (standings) {
    if (board_)
      emit(pageStandingRows(leaderboardRound_, board_->digest, from, leaderboardMe()), out);
  } else if (results_) {
    emit(pageResultRows(resultsQ_, results_->digest, from, resultsMe_), out);
  }
}

}  // namespace qova::web

#include "player/play_session.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "wire/server_marker.h"

namespace qova {

namespace {

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// Lines of a small text file (LF ends a line, one CR before it dropped);
// at most a few short lines are looked at.
std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (lines.size() < 4 && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 255) line.resize(255);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

bool parseServerAddress(const std::string& text, std::string* host, uint16_t* port) {
  std::string t = trimmed(text);
  *port = kServerPort;
  size_t colon = t.rfind(':');
  if (colon != std::string::npos) {
    std::string digits = t.substr(colon + 1);
    char* end = nullptr;
    long p = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || p < 1 || p > 65535) return false;
    *port = static_cast<uint16_t>(p);
    t = trimmed(t.substr(0, colon));
  }
  if (t.empty() || t.find_first_of(" \t") != std::string::npos) return false;
  *host = t;
  return true;
}

std::string initialServerAddress(const std::string& markerPath, const std::string& rememberedPath) {
  // Anything odd in the marker (an empty or damaged file) falls back to the
  // remembered address.
  std::string marker;
  if (readServerMarker(markerPath, &marker)) return marker;
  std::vector<std::string> remembered = readLines(rememberedPath);
  return remembered.empty() ? "" : trimmed(remembered[0]);
}

std::string rememberedPlayerName(const std::string& rememberedPath) {
  std::vector<std::string> remembered = readLines(rememberedPath);
  return remembered.size() < 2 ? "" : remembered[1];
}

bool rememberServer(const std::string& rememberedPath, const std::string& address,
                    const std::string& name) {
  std::ofstream out(rememberedPath, std::ios::binary | std::ios::trunc);
  out << address << "\r\n" << name << "\r\n";
  return static_cast<bool>(out.flush());
}

bool PlaySession::join(const std::string& address, const std::string& name, double now) {
  client_.close();
  view_ = PlayView::kJoin;
  results_.clear();
  standings_.clear();
  roundsPlayed_ = 0;
  tally_ = AnswerTally();
  std::string host;
  uint16_t port;
  if (!parseServerAddress(address, &host, &port)) {
    message_ = "Enter the server's address, for example 192.168.1.20.";
    return false;
  }
  if (name.empty() || name.size() > kMaxNameLength ||
      name.find_first_of("\r\n") != std::string::npos) {
    message_ = "Enter your name (1 to " + std::to_string(kMaxNameLength) + " characters).";
    return false;
  }
  address_ = trimmed(address);
  name_ = name;
  if (!client_.connect(host, port, name)) {
    message_ = "Could not reach the server at " + address_ + ": " + client_.error() + ".";
    return false;
  }
  message_.clear();
  view_ = PlayView::kConnecting;
  holdUntil_ = joinedAt_ = now;
  return true;
}

void PlaySession::leave() {
  client_.close();
  view_ = PlayView::kJoin;
  message_.clear();
}

double PlaySession::secondsLeft(double now) const {
  if (!hasTimeLimit()) return 0;
  double left = timeLimit_ - (now - shownAt_);
  return left > 0 ? left : 0;
}

int PlaySession::correctNumber() const { return correctResponseNumber(client_.question()); }

bool PlaySession::choose(int number, double now) {
  if (view_ != PlayView::kQuestion || answered_ || number < 1 ||
      number > static_cast<int>(client_.question().responses.size())) {
    return false;
  }
  chosen_ = number;
  answer(secondsText(now - shownAt_), number == correctNumber());
  return true;
}

void PlaySession::answer(const std::string& timeText, bool correct) {
  answered_ = true;
  answerTime_ = timeText;
  answerCorrect_ = correct;
  tally_.count(correct);
  client_.sendAnswer(timeText, correct);
}

bool PlaySession::tick(double now) {
  bool changed = false;
  if (view_ == PlayView::kQuestion && !answered_ && hasTimeLimit()) {
    if (now - shownAt_ >= timeLimit_) {
      // Out of time: the limit itself and a wrong verdict, as the server
      // records it at its own deadline.
      timedOut_ = true;
      answer(timeoutTimeText(timeLimit_), false);
      changed = true;
    } else {
      int second = static_cast<int>(std::ceil(secondsLeft(now)));
      changed = second != lastSecondShown_;
      lastSecondShown_ = second;
    }
  }
  if (view_ == PlayView::kConnecting && now - joinedAt_ >= kJoinSeconds) {
    client_.close();
    view_ = PlayView::kJoin;
    message_ = "The server at " + address_ +
               " did not answer. Check the address and that the quiz server is running.";
    return true;
  }
  // Results and leaderboards stay up for a while: the next message waits in
  // the connection until then.
  if (now < holdUntil_) return changed;
  if (view_ == PlayView::kJoin || view_ == PlayView::kEnd) return changed;
  // A handful of messages per tick at most; each step yields one.
  for (int i = 0; i < 8 && now >= holdUntil_; ++i) {
    std::vector<ClientEvent> events;
    client_.step(0, &events);
    if (events.empty()) break;
    for (ClientEvent e : events) handle(e, now);
    changed = true;
    if (view_ == PlayView::kJoin || view_ == PlayView::kEnd) break;
  }
  return changed;
}

void PlaySession::handle(ClientEvent event, double now) {
  bool inGame = view_ == PlayView::kQuestion || view_ == PlayView::kResults ||
                view_ == PlayView::kLeaderboard || roundsPlayed_ > 0;
  switch (event) {
    case ClientEvent::kConnected:
      break;
    case ClientEvent::kConnectFailed:
      view_ = PlayView::kJoin;
      message_ = "The server at " + address_ + " refused the connection (" + client_.error() +
                 "). Check the address; the quiz server must be running and still waiting "
                 "for players.";
      break;
    case ClientEvent::kSettings:
      view_ = PlayView::kWaiting;
      timeLimit_ = timeLimitSeconds(client_.settings().timeLimitText);
      if (!rememberedPath.empty()) rememberServer(rememberedPath, address_, name_);
      break;
    case ClientEvent::kQuestion:
      view_ = PlayView::kQuestion;
      shownAt_ = now;
      answered_ = timedOut_ = false;
      chosen_ = 0;
      answerTime_.clear();
      lastSecondShown_ = -1;
      break;
    case ClientEvent::kResults: {
      if (view_ == PlayView::kQuestion && !answered_) {
        // The server ended the question before this player answered; the
        // client has answered with the row recorded for the player.
        answered_ = true;
        answerTime_ = client_.answeredTime();
        answerCorrect_ = client_.answeredCorrect();
      }
      view_ = PlayView::kResults;
      holdUntil_ = now + kResultsPauseMs / 1000.0;
      results_.clear();
      const std::vector<ResultEntry>& entries = client_.results();
      int own = ownResultRow(entries, name_, SentAnswer{answerTime_, answerCorrect_});
      for (size_t i = 0; i < entries.size(); ++i) {
        const ResultEntry& e = entries[i];
        results_.push_back(ResultRow{e.name, e.timeText, e.correct, static_cast<int>(i) == own});
      }
      break;
    }
    case ClientEvent::kSummary: {
      view_ = PlayView::kLeaderboard;
      holdUntil_ = now + kLeaderboardPauseMs / 1000.0;
      ++roundsPlayed_;
      standings_.clear();
      std::vector<SummaryEntry> board = leaderboard(client_.summary());
      std::vector<int> places = leaderboardPlaces(board);
      int own = ownStandingRow(board, name_, tally_);
      tally_.endRound();
      for (size_t i = 0; i < board.size(); ++i) {
        standings_.push_back(StandingRow{places[i], board[i], static_cast<int>(i) == own});
      }
      break;
    }
    case ClientEvent::kViolation:
      view_ = inGame ? PlayView::kEnd : PlayView::kJoin;
      message_ = "The server at " + address_ +
                 " sent something this program does not understand (" + client_.error() +
                 "), so the connection was closed.";
      break;
    case ClientEvent::kClosed:
      if (!inGame) {
        view_ = PlayView::kJoin;
        message_ = client_.closedIn() == ClientState::kSettings
                       ? "The server at " + address_ +
                             " closed the connection before the game. It may be busy or no "
                             "longer taking players."
                       : "The server closed the connection before the game started: the "
                         "operator may have ended the quiz. Join again when a new game opens.";
      } else {
        view_ = PlayView::kEnd;
        message_ = client_.closedCleanly()
                       ? "The quiz is over: the server has ended the game."
                       : "The connection to the server was lost (" + client_.error() + ").";
      }
      break;
  }
}

}  // namespace qova

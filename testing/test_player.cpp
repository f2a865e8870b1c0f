#include "testing/test_player.h"

#include <algorithm>
#include <cstdlib>

#include "common/number_format.h"
#include "wire/play_rules.h"
#include "wire/standings.h"

namespace qova {

using Clock = std::chrono::steady_clock;

namespace {

// Bytes sent during the lobby go out this long after the name, so that the
// server has taken the name line on its own and sees them as lobby traffic.
constexpr int kLobbyBytesDelayMs = 250;

enum class Action { kNone, kConnect, kAnswer, kPiece2, kPiece3, kLobbyBytes };

constexpr int kConnectRetryDelayMs = 100;

}  // namespace

struct PlayerGroup::Player {
  PlayerClient client;
  PlayerPlan plan;
  Action action = Action::kNone;
  Clock::time_point due;
  Clock::time_point questionArrived;
  int questionCount = 0;  // questions of the whole game received
  bool finished = false;
  // Own answers since the last summary and over the game, to check the
  // summary the way the server computes it: single-precision sums.
  int roundAnswers = 0, roundCorrect = 0, totalAnswers = 0, totalCorrect = 0;
  float roundSum = 0, totalSum = 0;
  std::vector<std::string> lastResultNames;
  std::string unsentPieces;  // kPieces: the rest of the answer message
  bool stalled = false;      // kStall: neither reading nor answering now
};

bool parseMisbehaviour(const std::string& text, Misbehaviour* kind, int* atQuestion,
                       size_t* floodBytes, int* stallMs) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t colon = text.find(':', from);
    parts.push_back(text.substr(from, colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  auto number = [&](size_t i, long low, long* value) {
    if (i >= parts.size()) return true;
    char* end = nullptr;
    long v = std::strtol(parts[i].c_str(), &end, 10);
    if (parts[i].empty() || *end != '\0' || v < low) return false;
    *value = v;
    return true;
  };
  long question = 1, bytes = static_cast<long>(*floodBytes);
  long stall = stallMs ? *stallMs : 0;
  const std::string& head = parts[0];
  std::string step = parts.size() > 1 ? parts[1] : "";
  if (head == "no-name" && parts.size() == 1) {
    *kind = Misbehaviour::kNoName;
  } else if (head == "pieces" && parts.size() == 1) {
    *kind = Misbehaviour::kPieces;
  } else if (head == "lobby-bytes" && parts.size() == 1) {
    *kind = Misbehaviour::kLobbyBytes;
  } else if (head == "drop" && step == "handshake" && parts.size() == 2) {
    *kind = Misbehaviour::kDropHandshake;
  } else if (head == "drop" && step == "lobby" && parts.size() == 2) {
    *kind = Misbehaviour::kDropLobby;
  } else if (head == "drop" && (step == "question" || step == "answered") && parts.size() <= 3 &&
             number(2, 1, &question)) {
    *kind = step == "question" ? Misbehaviour::kDropQuestion : Misbehaviour::kDropAnswered;
  } else if (head == "flood" && step == "name" && parts.size() <= 3 && number(2, 1, &bytes)) {
    *kind = Misbehaviour::kFloodName;
  } else if (head == "flood" && step == "answer" && parts.size() <= 4 && number(2, 1, &bytes) &&
             number(3, 1, &question)) {
    *kind = Misbehaviour::kFloodAnswer;
  } else if (head == "stall" && stallMs && parts.size() <= 3 && number(1, 0, &stall) &&
             number(2, 1, &question)) {
    *kind = Misbehaviour::kStall;
    *stallMs = static_cast<int>(stall);
  } else {
    return false;
  }
  *atQuestion = static_cast<int>(question);
  *floodBytes = static_cast<size_t>(bytes);
  return true;
}

PlayerGroup::PlayerGroup(GroupOptions options) : options_(std::move(options)) {
  for (const PlayerPlan& plan : options_.players) {
    players_.push_back(std::make_unique<Player>());
    players_.back()->plan = plan;
  }
  reports_.resize(players_.size());
  lastEvent_ = Clock::now();
}

PlayerGroup::~PlayerGroup() = default;

const PlayerClient& PlayerGroup::client(size_t i) const { return players_[i]->client; }

void PlayerGroup::line(size_t i, const std::string& text) {
  if (options_.transcript) *options_.transcript << i << ' ' << text << '\n';
}

void PlayerGroup::violation(size_t i, const std::string& text) {
  reports_[i].violations.push_back(text);
  line(i, "violation " + text);
}

void PlayerGroup::leave(size_t i, const std::string& why) {
  Player& p = *players_[i];
  p.client.close();
  p.finished = true;
  p.action = Action::kNone;
  reports_[i].left = true;
  line(i, "left " + why);
}

void PlayerGroup::start() {
  startSockets();
  lastEvent_ = Clock::now();
  startedAt_ = lastEvent_;
  for (size_t i = 0; i < players_.size(); ++i) {
    line(i, "connecting " + options_.host + ":" + std::to_string(options_.port));
    connect(i);
  }
}

void PlayerGroup::connect(size_t i) {
  Player& p = *players_[i];
  if (!p.client.connect(options_.host, options_.port, p.plan.name, true)) connectFailed(i);
}

void PlayerGroup::connectFailed(size_t i) {
  Player& p = *players_[i];
  Clock::time_point now = Clock::now();
  if (now - startedAt_ < std::chrono::milliseconds(options_.connectRetryMs)) {
    p.client.close();
    p.action = Action::kConnect;
    p.due = now + std::chrono::milliseconds(kConnectRetryDelayMs);
    return;
  }
  p.finished = true;
  violation(i, "could not connect: " + p.client.error());
}

bool PlayerGroup::finished() const {
  return std::all_of(players_.begin(), players_.end(),
                     [](const std::unique_ptr<Player>& p) { return p->finished; });
}

int PlayerGroup::violations() const {
  int n = extraViolations_;
  for (const PlayerReport& r : reports_) n += static_cast<int>(r.violations.size());
  return n;
}

bool PlayerGroup::step(int timeoutMs) {
  Clock::time_point now = Clock::now();
  std::vector<PollEntry> entries(players_.size());
  for (size_t i = 0; i < players_.size(); ++i) {
    const Player& p = *players_[i];
    if (!p.finished && !p.stalled) p.client.pollEntry(&entries[i]);
    if (!p.finished && !p.stalled && p.client.hasPendingInput()) timeoutMs = 0;
    if (!p.finished && p.action != Action::kNone) {
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(p.due - now).count();
      if (wait < 0) wait = 0;
      if (wait < timeoutMs) timeoutMs = static_cast<int>(wait);
    }
  }
  pollSockets(entries.data(), entries.size(), timeoutMs);
  std::vector<ClientEvent> events;
  for (size_t i = 0; i < players_.size(); ++i) {
    Player& p = *players_[i];
    if (p.finished || p.stalled) continue;
    if (!(entries[i].readable || entries[i].writable || p.client.hasPendingInput())) continue;
    events.clear();
    p.client.handleReady(entries[i], &events);
    for (ClientEvent e : events) {
      if (!p.finished) handle(i, e);
    }
  }
  now = Clock::now();
  for (size_t i = 0; i < players_.size(); ++i) {
    Player& p = *players_[i];
    if (!p.finished && p.action != Action::kNone && p.due <= now) act(i, now);
  }
  return !finished();
}

int PlayerGroup::run() {
  start();
  while (step(100)) {
    if (options_.timeoutMs > 0 &&
        Clock::now() - lastEvent_ > std::chrono::milliseconds(options_.timeoutMs)) {
      for (size_t i = 0; i < players_.size(); ++i) {
        Player& p = *players_[i];
        if (p.finished) continue;
        violation(i, std::string("timed out with nothing from the server, state ") +
                         stateName(p.client.state()));
        p.client.close();
        p.finished = true;
      }
    }
  }
  if (options_.transcript) {
    *options_.transcript << "done players=" << players_.size() << " violations=" << violations()
                         << '\n';
    options_.transcript->flush();
  }
  return violations();
}

void PlayerGroup::handle(size_t i, ClientEvent event) {
  Player& p = *players_[i];
  PlayerReport& r = reports_[i];
  PlayerClient& c = p.client;
  const PlayerPlan& plan = p.plan;
  lastEvent_ = Clock::now();
  switch (event) {
    case ClientEvent::kConnected:
      r.connected = true;
      line(i, "connected");
      break;
    case ClientEvent::kConnectFailed:
      connectFailed(i);
      break;
    case ClientEvent::kSettings: {
      const GameSettings& s = c.settings();
      line(i, "settings time=" + s.timeLimitText +
                  " questions=" + std::to_string(s.questionsPerRound) +
                  " responses=" + std::to_string(s.responseCount));
      switch (plan.misbehaviour) {
        case Misbehaviour::kNoName:
          line(i, "holding-name");
          break;
        case Misbehaviour::kDropHandshake:
          leave(i, "step=handshake");
          break;
        case Misbehaviour::kFloodName:
          c.sendRaw(std::string(plan.floodBytes, 'x'));
          line(i, "flooding step=name bytes=" + std::to_string(plan.floodBytes));
          break;
        default:
          c.sendName(plan.name);
          line(i, "name " + plan.name);
          if (plan.misbehaviour == Misbehaviour::kDropLobby) {
            leave(i, "step=lobby");
          } else if (plan.misbehaviour == Misbehaviour::kLobbyBytes) {
            p.action = Action::kLobbyBytes;
            p.due = Clock::now() + std::chrono::milliseconds(kLobbyBytesDelayMs);
          }
      }
      break;
    }
    case ClientEvent::kQuestion: {
      const Question& q = c.question();
      ++r.questions;
      int n = ++p.questionCount;
      p.questionArrived = Clock::now();
      line(i, "question round=" + std::to_string(q.round) + " number=" + std::to_string(q.number) +
                  " correct=" + std::string(1, q.correct));
      if (p.action == Action::kLobbyBytes) p.action = Action::kNone;
      if (plan.misbehaviour == Misbehaviour::kDropQuestion && n == plan.atQuestion) {
        leave(i, "step=question number=" + std::to_string(n));
      } else if (plan.misbehaviour == Misbehaviour::kStall && n == plan.atQuestion) {
        p.stalled = true;
        p.action = Action::kAnswer;
        p.due = p.questionArrived + std::chrono::milliseconds(plan.stallMs);
        line(i, "stalling ms=" + std::to_string(plan.stallMs));
      } else if (plan.misbehaviour == Misbehaviour::kFloodAnswer && n == plan.atQuestion) {
        c.sendRaw(std::string(plan.floodBytes, 'x'));
        line(i, "flooding step=answer bytes=" + std::to_string(plan.floodBytes));
      } else {
        p.action = Action::kAnswer;
        p.due = p.questionArrived + std::chrono::milliseconds(plan.answerDelayMs);
      }
      break;
    }
    case ClientEvent::kResults: {
      ++r.results;
      const Question& q = c.question();
      line(i, "results round=" + std::to_string(q.round) + " number=" + std::to_string(q.number) +
                  " players=" + std::to_string(c.results().size()));
      if (options_.verbose) {
        for (const ResultEntry& e : c.results()) {
          line(i, "result " + e.name + " " + e.timeText + " " + (e.correct ? "r" : "w"));
        }
      }
      checkResults(i);
      bool roundEnds = c.state() == ClientState::kWaiting;
      if (plan.questionsToPlay > 0 && p.questionCount >= plan.questionsToPlay && !roundEnds) {
        leave(i, "after=" + std::to_string(p.questionCount));
      }
      break;
    }
    case ClientEvent::kSummary:
      ++r.summaries;
      line(i, "summary round=" + std::to_string(c.question().round) +
                  " players=" + std::to_string(c.summary().size()));
      if (options_.verbose) {
        for (const SummaryEntry& e : c.summary()) {
          line(i, "standing " + e.name + " " + std::to_string(e.roundCorrect) + " " +
                      e.roundAverage + " " + std::to_string(e.roundAnswers) + " " +
                      std::to_string(e.totalCorrect) + " " + e.totalAverage + " " +
                      std::to_string(e.totalAnswers));
        }
      }
      checkSummary(i);
      if (plan.questionsToPlay > 0 && p.questionCount >= plan.questionsToPlay) {
        leave(i, "after=" + std::to_string(p.questionCount));
      }
      break;
    case ClientEvent::kViolation:
      p.finished = true;
      violation(i, c.error());
      break;
    case ClientEvent::kClosed:
      p.finished = true;
      p.action = Action::kNone;
      r.closedByServer = true;
      r.closedCleanly = c.closedCleanly();
      r.closeText = c.error();
      line(i, std::string("closed ") + (r.closedCleanly ? "clean" : "broken") + " state=" +
                  stateName(c.closedIn()) + " questions=" + std::to_string(p.questionCount));
      if (!r.closedCleanly) violation(i, c.error());
      break;
  }
}

void PlayerGroup::act(size_t i, Clock::time_point now) {
  Player& p = *players_[i];
  Action action = p.action;
  p.action = Action::kNone;
  switch (action) {
    case Action::kNone:
      break;
    case Action::kConnect:
      connect(i);
      break;
    case Action::kLobbyBytes:
      p.client.sendRaw("x");
      line(i, "lobby-bytes");
      break;
    case Action::kAnswer:
      answer(i);
      break;
    case Action::kPiece2:
      p.client.sendRaw(p.unsentPieces.substr(0, 1));  // LF
      p.unsentPieces.erase(0, 1);
      p.action = Action::kPiece3;
      p.due = now + std::chrono::milliseconds(p.plan.pieceDelayMs);
      break;
    case Action::kPiece3:
      p.client.sendRaw(p.unsentPieces);  // the verdict
      p.unsentPieces.clear();
      break;
  }
}

void PlayerGroup::answer(size_t i) {
  Player& p = *players_[i];
  PlayerReport& r = reports_[i];
  const PlayerPlan& plan = p.plan;
  size_t k = static_cast<size_t>(r.answers);
  std::string timeText;
  if (plan.times.empty()) {
    std::chrono::duration<double> elapsed = Clock::now() - p.questionArrived;
    timeText = secondsText(elapsed.count());
  } else {
    timeText = plan.times[k % plan.times.size()];
  }
  bool correct = !plan.verdicts.empty() && plan.verdicts[k % plan.verdicts.size()] == 'r';
  Clock::time_point now = Clock::now();
  if (p.stalled) {
    // Past the server's deadline: it has recorded Wrong with the limit as
    // the time, and discards this answer when it comes. The checks of the
    // results and the summary expect what the server recorded.
    p.stalled = false;
    std::string recorded = timeoutTimeText(timeLimitSeconds(p.client.settings().timeLimitText));
    p.client.markAnswered(recorded, false);
    p.client.sendRaw(answerMessage(timeText, correct));
    line(i, "answer-late time=" + timeText + " verdict=" + (correct ? "r" : "w"));
    timeText = recorded;
    correct = false;
  } else if (plan.misbehaviour == Misbehaviour::kPieces) {
    p.client.markAnswered(timeText, correct);
    // The time line up to its CR, then the LF, then the verdict.
    std::string bytes = answerMessage(timeText, correct);
    p.client.sendRaw(bytes.substr(0, timeText.size() + 1));
    p.unsentPieces = bytes.substr(timeText.size() + 1);
    p.action = Action::kPiece2;
    p.due = now + std::chrono::milliseconds(plan.pieceDelayMs);
  } else {
    p.client.sendAnswer(timeText, correct);
  }
  ++r.answers;
  r.answerTimes.push_back(timeText);
  r.verdictsSent += correct ? 'r' : 'w';
  float seconds = static_cast<float>(parseDecimal(timeText));
  ++p.roundAnswers;
  ++p.totalAnswers;
  p.roundCorrect += correct ? 1 : 0;
  p.totalCorrect += correct ? 1 : 0;
  p.roundSum += seconds;
  p.totalSum += seconds;
  line(i, "answer time=" + timeText + " verdict=" + (correct ? "r" : "w"));
  if (plan.misbehaviour == Misbehaviour::kDropAnswered && p.questionCount == plan.atQuestion) {
    leave(i, "step=answered number=" + std::to_string(p.questionCount));
  }
}

void PlayerGroup::checkResults(size_t i) {
  Player& p = *players_[i];
  const PlayerClient& c = p.client;
  p.lastResultNames.clear();
  bool found = false;
  for (const ResultEntry& e : c.results()) {
    p.lastResultNames.push_back(e.name);
    if (isOwnResult(e, p.plan.name, {c.answeredTime(), c.answeredCorrect()})) found = true;
  }
  if (!found) {
    violation(i, "the results of round " + std::to_string(c.question().round) + " question " +
                     std::to_string(c.question().number) + " lack this player's answer (" +
                     p.plan.name + " " + c.answeredTime() + " " +
                     (c.answeredCorrect() ? "r" : "w") + ")");
  }
}

void PlayerGroup::checkSummary(size_t i) {
  Player& p = *players_[i];
  const PlayerClient& c = p.client;
  std::vector<std::string> names;
  bool found = false;
  std::string roundAverage = averageText(p.roundSum / static_cast<float>(p.roundAnswers));
  std::string totalAverage = averageText(p.totalSum / static_cast<float>(p.totalAnswers));
  for (const SummaryEntry& e : c.summary()) {
    names.push_back(e.name);
    if (e.name == p.plan.name && e.roundCorrect == p.roundCorrect &&
        e.roundAnswers == p.roundAnswers && e.totalCorrect == p.totalCorrect &&
        e.totalAnswers == p.totalAnswers && e.roundAverage == roundAverage &&
        e.totalAverage == totalAverage) {
      found = true;
    }
  }
  int round = c.question().round;
  if (!found) {
    violation(i, "the summary of round " + std::to_string(round) + " lacks this player's line (" +
                     p.plan.name + " " + std::to_string(p.roundCorrect) + " " + roundAverage + " " +
                     std::to_string(p.roundAnswers) + " " + std::to_string(p.totalCorrect) + " " +
                     totalAverage + " " + std::to_string(p.totalAnswers) + ")");
  }
  if (names != p.lastResultNames) {
    violation(i, "the summary of round " + std::to_string(round) +
                     " lists other players than the results before it");
  }
  if (p.roundAnswers != c.settings().questionsPerRound) {
    violation(i, "the summary of round " + std::to_string(round) + " came after " +
                     std::to_string(p.roundAnswers) + " answers, not " +
                     std::to_string(c.settings().questionsPerRound));
  }
  p.roundAnswers = p.roundCorrect = 0;
  p.roundSum = 0;
}

}  // namespace qova

// The scripted players against the real quiz engine on loopback: the engine
// runs its lobby and its game turns on a thread of its own, as the server's
// one thread would, and the players check every message they get.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "player/play_session.h"
#include "qdb/qdb_file.h"
#include "server/game_engine.h"
#include "server/lobby.h"
#include "server/room_feed.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"
#include "testing/test_player.h"

namespace qova {
namespace {

using Clock = std::chrono::steady_clock;
using testing::LoopbackPeer;

struct EngineTest : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  std::thread server;
  std::atomic<bool> start{false}, stop{false}, gameOver{false};
  std::atomic<int> connected{0};

  void SetUp() override {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "20";
    testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(12, 5));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 12);
    lobby.port = 0;
    lobby.handshakeTimeoutMs = 300;
    ASSERT_TRUE(beginLobby(*app, lobby));
  }
  void TearDown() override {
    stop = true;
    start = true;
    if (server.joinable()) server.join();
  }

  // The server's thread: lobby passes until `start`, then game turns until
  // the game ends by itself or `stop` asks for the operator's quit.
  void runServer(int questionsPerRound) {
    app->questionsPerRound = questionsPerRound;
    server = std::thread([this] {
      while (!start) {
        lobbyPass(*app, lobby, 2);
        connected = static_cast<int>(app->clients.size());
      }
      app->lobbyOutcome = kLobbyStart;
      endLobby(*app, lobby);
      while (!stop) {
        if (!gameTick(*app, game)) {
          gameOver = true;
          return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      shutdownServer(0);
    });
  }

  // Steps the players until `done` holds; false after `ms`.
  static bool pumpUntil(PlayerGroup& group, int ms, const std::function<bool()>& done) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (Clock::now() > end) return false;
      group.step(5);
    }
    return true;
  }

  static GroupOptions options(uint16_t port, std::ostringstream* transcript,
                              std::vector<PlayerPlan> plans) {
    GroupOptions o;
    o.port = port;
    o.players = std::move(plans);
    o.transcript = transcript;
    return o;
  }
};

PlayerPlan plan(const std::string& name, const std::string& verdicts,
                std::vector<std::string> times, int delayMs = 0) {
  PlayerPlan p;
  p.name = name;
  p.verdicts = verdicts;
  p.times = std::move(times);
  p.answerDelayMs = delayMs;
  return p;
}

TEST_F(EngineTest, ThreePlayersTwoRoundsThenTheOperatorQuits) {
  std::ostringstream transcript;
  uint16_t port = lobby.listener->localPort();
  PlayerGroup group(options(port, &transcript,
                            {plan("Ann", "rw", {"1.5", "2"}, 20), plan("Bob", "r", {}, 40),
                             plan("Cy", "wwr", {"0.25", "12", "7"})}));
  runServer(3);
  group.start();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return connected == 3; })) << transcript.str();
  start = true;
  ASSERT_TRUE(pumpUntil(group, 10000, [&] {
    return std::all_of(group.reports().begin(), group.reports().end(),
                       [](const PlayerReport& r) { return r.summaries >= 2; });
  })) << transcript.str();
  stop = true;
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return group.finished(); })) << transcript.str();
  server.join();

  EXPECT_EQ(group.violations(), 0) << transcript.str();
  for (size_t i = 0; i < 3; ++i) {
    const PlayerReport& r = group.reports()[i];
    EXPECT_TRUE(r.closedByServer);
    EXPECT_TRUE(r.closedCleanly) << r.closeText;
    EXPECT_GE(r.results, 6);
    EXPECT_EQ(group.client(i).settings().timeLimitText, "20");
    EXPECT_EQ(group.client(i).settings().responseCount, 5);
    EXPECT_EQ(group.client(i).summary().size(), 3u);
  }
  EXPECT_EQ(group.reports()[0].verdictsSent.substr(0, 6), "rwrwrw");
  EXPECT_EQ(group.reports()[2].answerTimes[1], "12");
  // Bob's measured times: at least his delay, two decimals.
  EXPECT_EQ(group.reports()[1].answerTimes[0].size(), 4u);
  EXPECT_GE(group.reports()[1].answerTimes[0], "0.04");
}

TEST_F(EngineTest, MisbehavingPlayersAreDroppedAndTheOthersPlayOn) {
  std::ostringstream transcript;
  uint16_t port = lobby.listener->localPort();
  std::vector<PlayerPlan> plans = {
      plan("Ann", "r", {"1"}), plan("Bob", "w", {"2"}), plan("Cy", "rw", {"3"}),
      plan("Dee", "r", {"4"}), plan("Eve", "r", {}),    plan("Fay", "r", {}),
      plan("Gus", "r", {}),    plan("Hal", "r", {}),    plan("Ivy", "r", {})};
  plans[1].misbehaviour = Misbehaviour::kDropQuestion;
  plans[1].atQuestion = 2;
  plans[2].misbehaviour = Misbehaviour::kPieces;
  plans[2].pieceDelayMs = 30;
  plans[3].misbehaviour = Misbehaviour::kDropAnswered;
  plans[3].atQuestion = 1;
  plans[4].misbehaviour = Misbehaviour::kLobbyBytes;
  plans[5].misbehaviour = Misbehaviour::kNoName;
  plans[6].misbehaviour = Misbehaviour::kFloodName;
  plans[6].floodBytes = 100000;
  plans[7].misbehaviour = Misbehaviour::kFloodAnswer;
  plans[7].floodBytes = 100000;
  plans[8].misbehaviour = Misbehaviour::kDropLobby;
  for (PlayerPlan& p : plans) p.questionsToPlay = 4;
  PlayerGroup group(options(port, &transcript, plans));
  runServer(2);
  group.start();
  // The lobby keeps Ann, Bob, Cy, Dee and Hal; the others are gone.
  ASSERT_TRUE(pumpUntil(group, 8000, [&] {
    const auto& r = group.reports();
    return connected == 5 && r[4].closedByServer && r[5].closedByServer && r[6].closedByServer &&
           r[8].left;
  })) << transcript.str();
  start = true;
  ASSERT_TRUE(pumpUntil(group, 10000, [&] { return group.finished(); })) << transcript.str();
  // Everyone left after four questions: the engine ends the game itself.
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return gameOver.load(); }));
  server.join();
  EXPECT_EQ(app->errorText, "All clients have dropped.");

  EXPECT_EQ(group.violations(), 0) << transcript.str();
  const auto& r = group.reports();
  EXPECT_EQ(r[0].results, 4);
  EXPECT_EQ(r[0].summaries, 2);
  EXPECT_EQ(r[2].summaries, 2);
  EXPECT_EQ(r[1].answers, 1);
  EXPECT_EQ(r[3].answers, 1);
  EXPECT_TRUE(r[7].closedByServer);  // its flood instead of an answer
  EXPECT_EQ(r[7].answers, 0);
  // The last results list only the two who stayed.
  std::vector<std::string> names;
  for (const ResultEntry& e : group.client(0).results()) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Ann", "Cy"}));
}

// Questions and responses as long as a question file allows reach the players
// whole: the server's and the players' line bounds agree.
TEST_F(EngineTest, LongestLinesAQuestionFileAllowsArePlayed) {
  const std::string longest(static_cast<size_t>(kMaxLineBound), 'q');
  testing::writeFileBytes(dir.file("long.qdb"),
                          testing::qdbBytes(kMaxLineBound, 4,
                                            {{longest, {"a", "b", "c", longest}, 1},
                                             {"Short", {"a", "b", "c", "d"}, 2}}));
  ASSERT_EQ(app->questions.load(dir.file("long.qdb")), 2);

  std::ostringstream transcript;
  PlayerGroup group(options(lobby.listener->localPort(), &transcript, {plan("Ann", "r", {})}));
  runServer(2);
  group.start();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return connected == 1; }));
  start = true;
  ASSERT_TRUE(pumpUntil(group, 10000, [&] { return group.reports()[0].summaries >= 2; }));
  stop = true;
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return group.finished(); }));
  server.join();
  EXPECT_EQ(group.violations(), 0) << transcript.str().substr(0, 2000);
  EXPECT_GE(group.reports()[0].questions, 4);  // the next round's first may be in too
  EXPECT_TRUE(group.reports()[0].closedCleanly) << group.reports()[0].closeText;
  // Both records were asked in each round; the long one kept every byte.
  const Question& last = group.client(0).question();
  const bool lastWasLong = last.text == longest;
  EXPECT_TRUE(lastWasLong || last.text == "Short");
  if (lastWasLong) {
    EXPECT_EQ(last.responses[3], longest);
  }
}

// An empty name would open that player's block of the results and of the
// summary with the line that ends those messages: the lobby closes such a
// connection, and the others see every message well formed.
TEST_F(EngineTest, AnEmptyNameNeverJoinsAndTheOthersPlayARound) {
  std::ostringstream transcript;
  uint16_t port = lobby.listener->localPort();
  std::vector<PlayerPlan> plans = {plan("Ann", "rw", {"1.5", "2"}), plan("", "r", {"3"}),
                                   plan("Bob", "r", {"4"})};
  for (PlayerPlan& p : plans) p.questionsToPlay = 2;
  PlayerGroup group(options(port, &transcript, plans));
  runServer(2);
  group.start();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] {
    return connected == 2 && group.reports()[1].closedByServer;
  })) << transcript.str();
  start = true;
  ASSERT_TRUE(pumpUntil(group, 10000, [&] { return group.finished(); })) << transcript.str();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return gameOver.load(); }));
  server.join();

  EXPECT_EQ(group.violations(), 0) << transcript.str();
  const auto& r = group.reports();
  EXPECT_EQ(r[1].questions, 0);
  for (size_t i : {0u, 2u}) {
    EXPECT_EQ(r[i].results, 2) << transcript.str();
    EXPECT_EQ(r[i].summaries, 1) << transcript.str();
    std::vector<std::string> names;
    for (const SummaryEntry& e : group.client(i).summary()) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Ann", "Bob"}));
  }
}

// Times that overflow a single-precision sum reach every player program as
// numbers it can read; each player checks its own line against its sums.
TEST_F(EngineTest, OverflowingTimesReachTheSummaryAsNumbers) {
  std::ostringstream transcript;
  uint16_t port = lobby.listener->localPort();
  std::vector<PlayerPlan> plans = {plan("Ann", "r", {"1e39", "1"}), plan("Bob", "w", {"-1e39"}),
                                   plan("Cy", "r", {"3e38", "1"}),
                                   plan("Dee", "r", {"1e39", "-1e39"})};
  for (PlayerPlan& p : plans) p.questionsToPlay = 4;
  PlayerGroup group(options(port, &transcript, plans));
  runServer(2);
  group.start();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return connected == 4; })) << transcript.str();
  start = true;
  ASSERT_TRUE(pumpUntil(group, 10000, [&] { return group.finished(); })) << transcript.str();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return gameOver.load(); }));
  server.join();

  EXPECT_EQ(group.violations(), 0) << transcript.str();
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(group.reports()[i].summaries, 2) << transcript.str();
  // The second round: Ann 1e39 and 1 again; Cy's 3e38 and 1 overflow only
  // overall; Dee's infinities of both signs give NaN, sent as 0.
  std::vector<std::string> lines;
  for (const SummaryEntry& e : group.client(0).summary()) {
    lines.push_back(e.name + " " + e.roundAverage + " " + e.totalAverage);
  }
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Ann 3.403e+038 3.403e+038", "Bob -3.403e+038 -3.403e+038",
                                      "Cy 1.5e+038 3.403e+038", "Dee 0. 0."}));
}

// A suspended player program (its connection open, nothing read or sent)
// holds no question past the deadline: with a limit of 2 s each results
// message reaches the others within 18 s of its question. What it sends when
// it wakes is discarded, and its later answers count for their own questions.
TEST_F(EngineTest, AStalledPlayerHoldsNoQuestionPastTheDeadline) {
  app->timeLimitText = "2";
  std::ostringstream transcript;
  std::vector<PlayerPlan> plans = {plan("Ann", "r", {"1"}, 20), plan("Bob", "w", {"2"}, 40),
                                   plan("Cy", "r", {"0.10", "0.20", "0.30"})};
  plans[2].misbehaviour = Misbehaviour::kStall;
  plans[2].atQuestion = 1;
  plans[2].stallMs = 19000;  // past question 1's deadline, 17 s after it went out
  for (PlayerPlan& p : plans) p.questionsToPlay = 3;
  PlayerGroup group(options(lobby.listener->localPort(), &transcript, plans));
  runServer(3);
  group.start();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return connected == 3; })) << transcript.str();
  start = true;
  // Ann's question and results times, as she gets them.
  std::vector<Clock::time_point> asked, told;
  auto end = Clock::now() + std::chrono::seconds(60);
  while (!group.finished() && Clock::now() < end) {
    group.step(5);
    const PlayerReport& ann = group.reports()[0];
    if (static_cast<size_t>(ann.questions) > asked.size()) asked.push_back(Clock::now());
    if (static_cast<size_t>(ann.results) > told.size()) told.push_back(Clock::now());
  }
  ASSERT_TRUE(group.finished()) << transcript.str();
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return gameOver.load(); }));
  server.join();

  EXPECT_EQ(group.violations(), 0) << transcript.str();
  ASSERT_EQ(told.size(), 3u);
  ASSERT_GE(asked.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(told[k] - asked[k]);
    EXPECT_LE(waited.count(), 18000) << "question " << k + 1;
    if (k == 0) {
      EXPECT_GE(waited.count(), 16500) << "the first waited for the deadline";
    }
  }
  // Cy's late "0.10 r" changed nothing: question 1 is the deadline's Wrong,
  // and his answers to 2 and 3 are his own.
  const SummaryEntry* cy = nullptr;
  for (const SummaryEntry& e : group.client(0).summary()) {
    if (e.name == "Cy") cy = &e;
  }
  ASSERT_NE(cy, nullptr);
  EXPECT_EQ(cy->roundCorrect, 2);
  EXPECT_EQ(cy->roundAnswers, 3);
  EXPECT_EQ(cy->roundAverage, "0.8333");  // (2.00 + 0.20 + 0.30) / 3
  EXPECT_EQ(group.reports()[2].answerTimes, (std::vector<std::string>{"2.00", "0.20", "0.30"}));
  EXPECT_NE(transcript.str().find("2 answer-late time=0.10 verdict=r"), std::string::npos);
}

// The players' program times out by itself at the limit, long before the
// server's deadline: its own answer is the one the results carry, and the
// server never recorded one for it.
TEST_F(EngineTest, APlayerProgramThatTimesOutItselfIsNeverHitByTheDeadline) {
  app->timeLimitText = "1";
  runServer(2);
  PlaySession session;
  double t0 = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  auto now = [&] {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count() - t0;
  };
  ASSERT_TRUE(
      session.join("127.0.0.1:" + std::to_string(lobby.listener->localPort()), "Ann", now()));
  auto until = [&](const std::function<bool()>& done, double seconds) {
    double stop = now() + seconds;
    while (!done() && now() < stop) {
      session.tick(now());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  };
  ASSERT_TRUE(until([&] { return connected == 1; }, 5));
  start = true;
  ASSERT_TRUE(until([&] { return session.view() == PlayView::kQuestion; }, 5));
  double shown = now();
  ASSERT_TRUE(until([&] { return session.view() == PlayView::kResults; }, 20));
  double waited = now() - shown;
  EXPECT_GE(waited, 1.0);
  EXPECT_LT(waited, 5.0) << "results came only " << waited << " s after the question";
  EXPECT_TRUE(session.timedOut());
  ASSERT_EQ(session.results().size(), 1u);
  EXPECT_TRUE(session.results()[0].own);
  EXPECT_EQ(session.results()[0].timeText, session.answerTime());
  stop = true;
  server.join();
  ASSERT_EQ(app->players.size(), 1u);
  EXPECT_EQ(app->players[0].rounds[0][0].timeText, session.answerTime());
}

// A server may show its address a moment before it listens: players told to
// retry join once it does; players told not to report the refusal at once.
TEST_F(EngineTest, RefusedConnectsAreRetriedOnlyWithinTheRetryTime) {
  uint16_t port = lobby.listener->localPort();
  lobby.listener.reset();
  std::ostringstream transcript;
  GroupOptions once = options(port, &transcript, {plan("Ann", "r", {})});
  PlayerGroup refused(once);
  refused.start();
  ASSERT_TRUE(pumpUntil(refused, 3000, [&] { return refused.finished(); }));
  EXPECT_EQ(refused.violations(), 1);
  EXPECT_FALSE(refused.reports()[0].connected);

  GroupOptions patient = options(port, &transcript, {plan("Bob", "r", {})});
  patient.connectRetryMs = 10000;
  PlayerGroup group(patient);
  group.start();
  pumpUntil(group, 400, [] { return false; });
  EXPECT_FALSE(group.finished());
  EXPECT_EQ(group.violations(), 0) << transcript.str();
  lobby.listener.emplace();
  ASSERT_TRUE(lobby.listener->listen(port, kListenBacklog));
  runServer(2);
  ASSERT_TRUE(pumpUntil(group, 5000, [&] { return connected == 1; })) << transcript.str();
  EXPECT_TRUE(group.reports()[0].connected);
  EXPECT_EQ(group.violations(), 0) << transcript.str();
}

// The room feed's lines, split into fields.
std::vector<std::vector<std::string>> feedLines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::vector<std::string> fields;
    std::string line = text.substr(at, end - at);
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
      fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    lines.push_back(fields);
  }
  return lines;
}

TEST_F(EngineTest, TheRoomFeedTellsEveryEventOfATwoRoundGameInOrder) {
  app->feed.port = 0;
  ASSERT_TRUE(openRoomFeed(*app));
  LoopbackPeer feed;
  ASSERT_TRUE(feed.connect(roomFeedPort(*app)));
  ASSERT_TRUE(feed.send("QOVA ROOM FEED\t1\r\n"));

  std::ostringstream transcript;
  std::vector<PlayerPlan> plans = {plan("Ann", "rw", {"1.5", "2"}), plan("Bob", "r", {"0.75"}),
                                   plan("Cy", "r", {"3"})};
  plans[2].misbehaviour = Misbehaviour::kDropQuestion;
  plans[2].atQuestion = 3;  // the first of the second round, unanswered
  PlayerGroup group(options(lobby.listener->localPort(), &transcript, plans));
  runServer(2);
  group.start();
  std::string text;
  auto pump = [&](int ms, const std::function<bool()>& done) {
    return pumpUntil(group, ms, [&] {
      text += feed.readAvailable(0);
      return done();
    });
  };
  ASSERT_TRUE(pump(5000, [&] { return connected == 3; })) << transcript.str();
  start = true;
  ASSERT_TRUE(pump(10000, [&] {
    return group.reports()[0].summaries >= 2 && group.reports()[1].summaries >= 2;
  })) << transcript.str();
  stop = true;
  ASSERT_TRUE(pump(5000, [&] { return group.finished(); })) << transcript.str();
  server.join();
  text += feed.readAvailable(200);
  ASSERT_TRUE(feed.waitClosed(2000));

  // Every line, the counts aside, in order; the players by their numbers.
  std::vector<std::vector<std::string>> lines = feedLines(text);
  ASSERT_GE(lines.size(), 2u) << text;
  EXPECT_EQ(lines[0], (std::vector<std::string>{"QOVA ROOM FEED", "1"}));
  EXPECT_EQ(lines[1], (std::vector<std::string>{"SETTINGS", "20", "2", "5"}));
  ASSERT_GE(lines.size(), 3u) << text;
  EXPECT_EQ(lines[2], (std::vector<std::string>{"HOLD", "0", "0"}));  // never held here
  std::map<std::string, std::string> number;                          // name -> number
  std::vector<std::string> events;
  std::vector<std::string> counts;  // the counts of the question out
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::vector<std::string>& f = lines[i];
    if (f[0] == "JOIN") {
      ASSERT_EQ(f.size(), 3u);
      EXPECT_EQ(number.count(f[2]), 0u);
      number[f[2]] = f[1];
      events.push_back("JOIN " + f[2]);
    } else if (f[0] == "ANSWERS") {
      ASSERT_EQ(f.size(), 3u);
      counts.push_back(f[1] + "/" + f[2]);
    } else if (f[0] == "QUESTION") {
      ASSERT_EQ(f.size(), 11u);  // five responses
      EXPECT_EQ(f[4], "20");
      events.push_back("QUESTION " + f[1] + "." + f[2] + "/" + f[3]);
      counts.clear();
    } else if (f[0] == "RESULTS" || f[0] == "SUMMARY") {
      const size_t n = static_cast<size_t>(std::stoi(f[2]));
      std::string event = f[0] + " " + f[2];
      for (size_t k = 1; k <= n && i + k < lines.size(); ++k) {
        const std::vector<std::string>& row = lines[i + k];
        ASSERT_EQ(row.size(), f[0] == "RESULTS" ? 3u : 7u);
        for (const auto& [name, num] : number) {
          if (row[0] == num) event += " " + name + (f[0] == "RESULTS" ? ":" + row[2] : "");
        }
      }
      i += n;
      if (f[0] == "RESULTS") {
        // The count before it was the last: every answer in.
        ASSERT_FALSE(counts.empty()) << text;
        EXPECT_EQ(counts.back(), f[2] + "/0") << event;
      }
      events.push_back(event);
    } else {
      std::string event = f[0];
      for (size_t k = 1; k < f.size(); ++k) {
        bool named = false;
        if (f[0] == "DROP" || f[0] == "REMOVE") {
          for (const auto& [name, num] : number) {
            if (f[k] == num) event += " " + name, named = true;
          }
        }
        if (!named) event += " " + f[k];
      }
      events.push_back(event);
    }
  }
  ASSERT_EQ(number.size(), 3u) << text;
  std::set<std::string> numbers;
  for (const auto& entry : number) numbers.insert(entry.second);
  EXPECT_EQ(numbers, (std::set<std::string>{"1", "2", "3"}));
  // The joins come in the order the server took the names.
  std::vector<std::string> joins(events.begin(), events.begin() + 3);
  std::sort(joins.begin(), joins.end());
  EXPECT_EQ(joins, (std::vector<std::string>{"JOIN Ann", "JOIN Bob", "JOIN Cy"}));
  const std::vector<std::string> expected = {
      "START 3",
      "QUESTION 1.1/2",
      "RESULTS 3 Ann:r Bob:r Cy:r",
      "QUESTION 1.2/2",
      "RESULTS 3 Ann:w Bob:r Cy:r",
      "SUMMARY 3 Ann Bob Cy",
      "QUESTION 2.1/2",
      "DROP Cy",
      "RESULTS 2 Ann:r Bob:r",
      "QUESTION 2.2/2",
      "RESULTS 2 Ann:w Bob:r",
      "SUMMARY 2 Ann Bob",
  };
  ASSERT_GE(events.size(), 3 + expected.size() + 1) << text;
  EXPECT_EQ(std::vector<std::string>(events.begin() + 3, events.begin() + 3 + expected.size()),
            expected)
      << text;
  EXPECT_EQ(events.back(), "END") << text;
  EXPECT_EQ(group.violations(), 0) << transcript.str();
}

}  // namespace
}  // namespace qova

#include "server/game_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "qdb/read_error_test_support.h"
#include "server/lobby.h"
#include "net/loopback_peer.h"
#include "server/server_test_support.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

TEST(DrawRecordNumbers, StatedSequenceUpTo32768Records) {
  // Seed 1 gives 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, ...
  struct Case {
    int32_t n, records;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {6, 10, {2, 8, 5, 1, 10, 9}},  // 15724 -> 5 and 29358 -> 9 repeat and are drawn again
      {3, 32768, {42, 18468, 6335}}, {1, 1, {1}}, {0, 10, {}}, {-4, 10, {}}, {5, 0, {}},
  };
  for (const Case& c : cases) {
    RandomGenerator g;
    g.seed(1);
    EXPECT_EQ(drawRecordNumbers(c.n, c.records, g), c.expected) << c.n << " of " << c.records;
  }
}

TEST(DrawRecordNumbers, LargerDatabasesReachEveryRecord) {
  RandomGenerator g;
  g.seed(1);
  const int32_t records = 40000;
  // Two generator values form each draw.
  EXPECT_EQ(drawRecordNumbers(1, records, g),
            std::vector<int32_t>{1 + ((41 << 15) | 18467) % records});
  g.seed(7);
  std::vector<int32_t> all = drawRecordNumbers(records, records, g);
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<size_t>(records));
  for (int32_t i = 0; i < records; ++i) ASSERT_EQ(all[i], i + 1);
  // No round asks for more than the records there are.
  EXPECT_EQ(drawRecordNumbers(12, 10, g).size(), 10u);
}

TEST(DrawRecordNumbers, DistinctWithinARoundInDrawOrder) {
  RandomGenerator g;
  g.seed(12345);
  for (int round = 0; round < 50; ++round) {
    std::vector<int32_t> numbers = drawRecordNumbers(20, 25, g);
    std::set<int32_t> unique(numbers.begin(), numbers.end());
    EXPECT_EQ(unique.size(), 20u);
    EXPECT_GE(*unique.begin(), 1);
    EXPECT_LE(*unique.rbegin(), 25);
  }
}

// The question message of record n of the test question file.
std::string questionText(int32_t n) {
  const testing::TestRecord r = testing::numberedRecord(n, 4);
  return questionMessage({r.question, r.responses, static_cast<char>('0' + r.correct)});
}

// The next message of the length of `expected`, counted in lines.
std::string readLike(LoopbackPeer& peer, const std::string& expected) {
  int lines = 0;
  for (size_t at = expected.find("\r\n"); at != std::string::npos;
       at = expected.find("\r\n", at + 2)) {
    ++lines;
  }
  return peer.readLines(lines, 2000);
}

struct GameTest : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;
  RandomGenerator expectedDraws;

  void setUp(int records, int32_t perRound, const std::vector<std::string>& names) {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "20";
    app->questionsPerRound = perRound;
    testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(records));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), records);
    lobby.port = 0;
    ASSERT_TRUE(beginLobby(*app, lobby));
    for (const std::string& name : names) {
      peers.push_back(std::make_unique<LoopbackPeer>());
      ASSERT_TRUE(peers.back()->connect(lobby.listener->localPort()));
      peers.back()->send(name + "\r\n");
      ASSERT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kChanged);
      ASSERT_EQ(peers.back()->readLines(3, 2000).substr(0, 4), "20\r\n");
    }
    app->lobbyOutcome = kLobbyStart;
    endLobby(*app, lobby);
    seedRandom(99);
    expectedDraws.seed(99);
  }
  std::vector<int32_t> nextRound() {
    return drawRecordNumbers(app->questionsPerRound, app->questions.recordCount(), expectedDraws);
  }
  LoopbackPeer& peer(size_t i) { return *peers[i]; }

  // Calls gameTick until `done` holds, at most about two seconds; false when
  // it never did or the game ended.
  bool tickUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (!gameTick(*app, game)) return false;
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  size_t answersOf(size_t player) {
    const PlayerRecord& p = app->players[player];
    return p.rounds.empty() ? 0 : p.rounds.back().size();
  }
  // Nothing arrives at any open peer within a short while.
  void expectSilence() {
    for (auto& p : peers) {
      if (p->isOpen()) {
        EXPECT_EQ(p->readAvailable(40), "");
      }
    }
  }
};

TEST_F(GameTest, ThreeQuestionsTwoPlayersWhatGoesOutOnWhichTurn) {
  setUp(5, 3, {"Ann", "Bob"});
  std::vector<int32_t> round1 = nextRound();
  // First call: question 1 of round 1, nothing else.
  ASSERT_TRUE(gameTick(*app, game));
  for (size_t i = 0; i < 2; ++i)
    EXPECT_EQ(readLike(peer(i), questionText(round1[0])), questionText(round1[0]));

  // Ann answers first: stored at once, nothing sent until Bob answers.
  peer(0).send("1.5\r\nr");
  ASSERT_TRUE(tickUntil([&] { return answersOf(0) == 1; }));
  EXPECT_EQ(game.pendingAnswers, 1);
  expectSilence();
  peer(1).send("2\r\nw");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 2; }));  // the next question is out
  std::string results1 = "Ann\r\n1.5\r\nr\r\nBob\r\n2\r\nw\r\n\r\n";
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(readLike(peer(i), results1 + questionText(round1[1])),
              results1 + questionText(round1[1]));
  }
  // The same call sent question 2 as it sent the results: the awaited count
  // was reset and the question index moved.
  EXPECT_EQ(game.questionIndex, 2);
  EXPECT_EQ(game.pendingAnswers, 2);

  peer(0).send("3\r\nw");
  peer(1).send("4\r\nr");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 3; }));
  for (size_t i = 0; i < 2; ++i) {
    std::string expected = "Ann\r\n3\r\nw\r\nBob\r\n4\r\nr\r\n\r\n" + questionText(round1[2]);
    EXPECT_EQ(readLike(peer(i), expected), expected);
  }

  // The round's last answers: results, summary and the next round's first
  // question in one call.
  std::vector<int32_t> round2 = nextRound();
  peer(0).send("12\r\nr");
  peer(1).send("0.5\r\nr");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 1; }));
  std::string expected =
      "Ann\r\n12\r\nr\r\nBob\r\n0.5\r\nr\r\n\r\n"
      "Ann\r\n2\r\n5.5\r\n3\r\n2\r\n5.5\r\n3\r\n"
      "Bob\r\n2\r\n2.167\r\n3\r\n2\r\n2.167\r\n3\r\n\r\n" +
      questionText(round2[0]);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(peer(i), expected), expected);
  ASSERT_EQ(app->players[0].rounds.size(), 2u);
  EXPECT_EQ(app->players[0].rounds[0].size(), 3u);
  EXPECT_TRUE(app->players[1].rounds[1].empty());
}

TEST_F(GameTest, SummaryAveragesTwelveAndAHalf) {
  setUp(3, 1, {"Cy", "Di"});
  ASSERT_TRUE(gameTick(*app, game));
  peer(0).readLines(6, 1000);
  peer(1).readLines(6, 1000);
  peer(0).send("12\r\nr");
  peer(1).send("0.5\r\nw");
  ASSERT_TRUE(tickUntil([&] { return game.pendingAnswers == 2; }));
  std::string got = peer(0).readLines(6 + 1 + 14 + 1, 1000);
  EXPECT_NE(got.find("Cy\r\n1\r\n12.\r\n1\r\n1\r\n12.\r\n1\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("Di\r\n0\r\n0.5\r\n1\r\n0\r\n0.5\r\n1\r\n\r\n"), std::string::npos) << got;
}

TEST_F(GameTest, DropWhileAwaitedGoesOnWithTheOthers) {
  setUp(5, 3, {"Ann", "Bob", "Cy"});
  std::vector<int32_t> round1 = nextRound();
  ASSERT_TRUE(gameTick(*app, game));
  for (auto& p : peers) p->readLines(6, 1000);
  peer(1).close();  // Bob leaves before answering
  peer(0).send("1\r\nr");
  peer(2).send("2\r\nr");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 2; }));
  std::string expected = "Ann\r\n1\r\nr\r\nCy\r\n2\r\nr\r\n\r\n" + questionText(round1[1]);
  EXPECT_EQ(readLike(peer(0), expected), expected);
  EXPECT_EQ(readLike(peer(2), expected), expected);
  ASSERT_EQ(app->players.size(), 2u);
  EXPECT_EQ(app->players[0].name, "Ann");
  EXPECT_EQ(app->players[1].name, "Cy");
  EXPECT_EQ(app->clients.size(), 2u);
}

TEST_F(GameTest, LastAwaitedDroppingReleasesTheResultsOnThatCall) {
  setUp(5, 3, {"Ann", "Bob", "Cy"});
  std::vector<int32_t> round1 = nextRound();
  ASSERT_TRUE(gameTick(*app, game));
  for (auto& p : peers) p->readLines(6, 1000);
  peer(0).send("1\r\nr");
  peer(2).send("2\r\nw");
  ASSERT_TRUE(tickUntil([&] { return answersOf(0) == 1 && answersOf(2) == 1; }));
  expectSilence();
  peer(1).close();
  ASSERT_TRUE(tickUntil([&] { return app->clients.size() == 2; }));
  // The call that dropped Bob also sent the results without him.
  EXPECT_EQ(game.questionIndex, 2);
  std::string expected = "Ann\r\n1\r\nr\r\nCy\r\n2\r\nw\r\n\r\n" + questionText(round1[1]);
  EXPECT_EQ(readLike(peer(0), expected), expected);
  EXPECT_EQ(readLike(peer(2), expected), expected);
}

TEST_F(GameTest, DropAfterAnsweringIsNoticedAtTheNextQuestion) {
  setUp(5, 3, {"Ann", "Bob"});
  std::vector<int32_t> round1 = nextRound();
  ASSERT_TRUE(gameTick(*app, game));
  for (auto& p : peers) p->readLines(6, 1000);
  peer(1).send("2\r\nr");
  ASSERT_TRUE(tickUntil([&] { return answersOf(1) == 1; }));
  peer(1).close();  // after answering: not read again until awaited again
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(gameTick(*app, game));
  EXPECT_EQ(app->players.size(), 2u);
  peer(0).send("1\r\nr");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 2; }));
  // Bob's answer still counts for the question he answered.
  std::string first = "Ann\r\n1\r\nr\r\nBob\r\n2\r\nr\r\n\r\n" + questionText(round1[1]);
  EXPECT_EQ(readLike(peer(0), first), first);
  ASSERT_TRUE(tickUntil([&] { return app->players.size() == 1; }));
  peer(0).send("3\r\nw");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 3; }));
  std::string second = "Ann\r\n3\r\nw\r\n\r\n" + questionText(round1[2]);
  EXPECT_EQ(readLike(peer(0), second), second);
}

TEST_F(GameTest, EveryoneDroppingEndsTheGame) {
  setUp(5, 3, {"Ann", "Bob"});
  ASSERT_TRUE(gameTick(*app, game));
  peer(0).send("1\r\nr");
  ASSERT_TRUE(tickUntil([&] { return answersOf(0) == 1; }));
  peer(1).close();
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 2; }));
  peer(0).close();
  bool ended = false;
  for (int i = 0; i < 2000 && !ended; ++i) {
    ended = !gameTick(*app, game);
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(app->errorText, "All clients have dropped.");
  EXPECT_EQ(app->errorFlags, kDroppedErrorFlags);
  EXPECT_EQ(app->exitCode, 0);
  EXPECT_TRUE(app->players.empty());
  reportError();
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_EQ(testing::readFileBytes(app->resultsFileName), "");
}

TEST_F(GameTest, RoundOfEveryQuestionUsesEachOnce) {
  setUp(5, 5, {"Ann"});
  ASSERT_TRUE(gameTick(*app, game));
  std::vector<std::string> asked;
  for (int q = 0; q < 10; ++q) {
    std::string got = peer(0).readLines(q == 0 ? 6 : q % 5 == 0 ? 4 + 8 + 6 : 4 + 6, 2000);
    size_t at = got.rfind("Question ");
    ASSERT_NE(at, std::string::npos) << got;
    asked.push_back(got.substr(at, got.find("\r\n", at) - at));
    peer(0).send("1\r\nr");
    int32_t index = game.questionIndex;
    ASSERT_TRUE(tickUntil([&] { return game.questionIndex != index; }));
  }
  for (int round = 0; round < 2; ++round) {
    std::set<std::string> unique(asked.begin() + round * 5, asked.begin() + round * 5 + 5);
    EXPECT_EQ(unique.size(), 5u);
  }
  EXPECT_EQ(app->players[0].rounds.size(), 3u);
}

TEST_F(GameTest, SlowReaderGetsEveryByteLaterWhileTheGameGoesOn) {
  setUp(5, 1, {std::string(1000, 'a'), "Bob"});
  std::vector<int32_t> draws;
  for (int q = 0; q < 41; ++q) draws.push_back(nextRound()[0]);
  int small = 4096;
  peer(1).setReceiveBuffer(small);
  setSendBuffer(app->clients[1]->socket().handle(), small);
  ASSERT_TRUE(gameTick(*app, game));
  bool queued = false;
  for (int q = 0; q < 40; ++q) {
    peer(0).readAvailable(0);
    peer(0).send("1\r\nr");
    ASSERT_TRUE(tickUntil([&] { return answersOf(0) == 1; }));
    peer(1).send("2\r\nw");  // Bob answers but does not read
    size_t rounds = app->players[1].rounds.size();
    ASSERT_TRUE(tickUntil([&] { return app->players[1].rounds.size() != rounds; }));
    queued = queued || app->clients[1]->hasPendingOutput();
  }
  EXPECT_TRUE(queued);
  std::string last = questionText(draws.back());
  std::string bob;
  auto endsWithLast = [&] {
    return bob.size() >= last.size() &&
           bob.compare(bob.size() - last.size(), last.size(), last) == 0;
  };
  for (int i = 0; i < 3000 && !(endsWithLast() && !app->clients[1]->hasPendingOutput()); ++i) {
    bob += peer(1).readAvailable(1);
    ASSERT_TRUE(gameTick(*app, game));
  }
  size_t results = 0;
  for (size_t at = bob.find("Bob\r\n2\r\nw\r\n"); at != std::string::npos;
       at = bob.find("Bob\r\n2\r\nw\r\n", at + 1)) {
    ++results;
  }
  EXPECT_EQ(results, 40u);
  size_t questions = 0;
  for (size_t at = bob.find("Question "); at != std::string::npos;
       at = bob.find("Question ", at + 1)) {
    ++questions;
  }
  EXPECT_EQ(questions, 41u);
  EXPECT_TRUE(endsWithLast());  // the 41st question, whole
}

#ifdef __linux__
// The share holding the database drops during the game: the next round cannot
// be read, and the game ends through the error report, which closes the
// connections and still writes the results of the rounds played.
TEST_F(GameTest, DatabaseReadErrorEndsTheGameAndKeepsTheResults) {
  setUp(5, 2, {"Ann"});
  app->logFileName = dir.file("errLog.txt");
  ASSERT_TRUE(gameTick(*app, game));
  peer(0).send("1.5\r\nr");
  ASSERT_TRUE(tickUntil([&] { return game.questionIndex == 2; }));
  ASSERT_TRUE(testing::breakOpenFile(dir.file("q.qdb")));
  peer(0).send("2\r\nw");
  bool ended = false;
  for (int i = 0; i < 2000 && !ended; ++i) {
    ended = !gameTick(*app, game);
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(app->errorText, "Error loading questions.");
  EXPECT_EQ(app->errorFlags, kStartupErrorFlags);
  EXPECT_EQ(app->exitCode, 1);
  // The round that could not be read was not begun.
  ASSERT_EQ(app->players.size(), 1u);
  ASSERT_EQ(app->players[0].rounds.size(), 1u);
  EXPECT_EQ(app->players[0].rounds[0].size(), 2u);

  reportError();
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{1});
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].text, "Error loading questions.");
  EXPECT_NE(testing::readFileBytes(app->logFileName).find("Error loading questions."),
            std::string::npos);
  std::string results = testing::readFileBytes(app->resultsFileName);
  EXPECT_NE(results.find("Player: Ann\r\n"), std::string::npos) << results;
  EXPECT_TRUE(peer(0).waitClosed(2000));
}
#endif

}  // namespace
}  // namespace qova

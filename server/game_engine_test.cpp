#include "server/game_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "server/lobby.h"
#include "testing/game_bench.h"
#include "testing/loopback_peer.h"
#include "testing/read_error_test_support.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::GameBench;
using testing::LoopbackPeer;
using testing::questionText;
using testing::readLike;

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

struct GameTest : ::testing::Test, GameBench {};

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

// The game's clock in the tests below: it moves only when a test moves it.
uint32_t fakeNow = 0;
uint32_t fakeTicks() { return fakeNow; }

// Ann answers at once; Bob does not. With the clock set `offsetMs` after the
// question went out, Bob's answer is recorded (Wrong, the limit with two
// decimals) exactly when the offset has reached limit + 15 s; without a
// positive limit it never is.
TEST(Deadline, RecordsTheLimitAtLimitPlusFifteenSeconds) {
  struct Case {
    const char* limit;
    int64_t offsetMs;
    const char* recorded;  // Bob's time text, or null: still awaited
  };
  const Case cases[] = {
      {"30", 44999, nullptr},     {"30", 45000, "30.00"},       {"30", 45001, "30.00"},
      {"2.5", 17499, nullptr},    {"2.5", 17500, "2.50"},       {"2.5", 90000, "2.50"},
      {"0", 2000000000, nullptr}, {"abc", 2000000000, nullptr}, {"-5", 2000000000, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.limit) + " at " + std::to_string(c.offsetMs));
    GameBench b;
    b.setUp(5, 3, {"Ann", "Bob"});
    b.app->timeLimitText = c.limit;
    b.app->ticks = fakeTicks;
    fakeNow = 0xFFFFF000u;  // the counter wraps on the way: elapsed time still counts
    std::vector<int32_t> round1 = b.nextRound();
    ASSERT_TRUE(gameTick(*b.app, b.game));
    for (auto& p : b.peers) p->readLines(6, 1000);
    b.peer(0).send("1.5\r\nr");
    ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == 1; }));
    fakeNow += static_cast<uint32_t>(c.offsetMs);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(gameTick(*b.app, b.game));
    if (c.recorded == nullptr) {
      EXPECT_EQ(b.answersOf(1), 0u);
      EXPECT_EQ(b.game.pendingAnswers, 1);
      b.expectSilence();
      continue;
    }
    ASSERT_EQ(b.answersOf(1), 1u);
    EXPECT_EQ(b.app->players[1].rounds[0][0].timeText, c.recorded);
    EXPECT_FALSE(b.app->players[1].rounds[0][0].correct);
    // Play goes on as after a last answer, and Bob stays in it.
    std::string expected = "Ann\r\n1.5\r\nr\r\nBob\r\n" + std::string(c.recorded) +
                           "\r\nw\r\n\r\n" + questionText(round1[1]);
    EXPECT_EQ(readLike(b.peer(0), expected), expected);
    EXPECT_EQ(readLike(b.peer(1), expected), expected);
    EXPECT_EQ(b.app->clients.size(), 2u);
    EXPECT_EQ(b.game.pendingAnswers, 2);
  }
}

// A player whose answer the server recorded still sends its own; that late
// answer, however its bytes fall, is discarded, and each later answer is
// stored for its own question.
TEST(Deadline, LateAnswersPairWithTheirOwnQuestions) {
  struct Case {
    const char* name;
    int missed;                       // deadlines Bob misses in a row
    std::vector<std::string> before;  // Bob's bytes before the first deadline
    std::vector<std::string> after;   // his bytes after the last, one piece each
    std::vector<std::string> stored;  // Bob's answers as stored: time and verdict
  };
  const Case cases[] = {
      {"never late", 0, {}, {"3\r\nw"}, {"3 w"}},
      {"late once", 1, {}, {"9\r\nr", "3\r\nw"}, {"2.00 w", "3 w"}},
      {"late once, begun before the deadline", 1, {"9.1\r"}, {"\nr", "3\r\nw"}, {"2.00 w", "3 w"}},
      {"late once, split across the next answer",
       1,
       {"9.1"},
       {"\r\nr3", "\r\nw"},
       {"2.00 w", "3 w"}},
      {"late once, with the next answer in one piece", 1, {}, {"9\r\nr3\r\nw"}, {"2.00 w", "3 w"}},
      {"late twice in a row", 2, {}, {"9\r\nr", "8\r\nr", "3\r\nw"}, {"2.00 w", "2.00 w", "3 w"}},
      {"late twice, all in one piece", 2, {}, {"9\r\nr8\r\nr3\r\nw"}, {"2.00 w", "2.00 w", "3 w"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GameBench b;
    b.setUp(8, 5, {"Ann", "Bob"});
    b.app->timeLimitText = "2";
    b.app->ticks = fakeTicks;
    fakeNow = 1000;
    ASSERT_TRUE(gameTick(*b.app, b.game));
    for (const std::string& piece : c.before) b.peer(1).send(piece);
    for (int k = 0; k < c.missed; ++k) {
      b.peer(0).send("1\r\nr");
      int32_t index = b.game.questionIndex;
      ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == static_cast<size_t>(k + 1); }));
      fakeNow += 17000;
      ASSERT_TRUE(b.tickUntil([&] { return b.game.questionIndex != index; }));
    }
    for (const std::string& piece : c.after) {
      b.peer(1).send(piece);
      for (int i = 0; i < 30; ++i) ASSERT_TRUE(gameTick(*b.app, b.game));
    }
    b.peer(0).send("1\r\nr");
    ASSERT_TRUE(b.tickUntil([&] { return b.game.questionIndex == c.missed + 2; }));
    std::vector<std::string> stored;
    for (const Response& r : b.app->players[1].rounds[0]) {
      stored.push_back(r.timeText + (r.correct ? " r" : " w"));
    }
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(b.app->players[0].rounds[0].size(), c.stored.size());
    EXPECT_EQ(b.app->clients[1]->owedAnswers(), 0);
    // Bob's next answer is his own again.
    b.peer(1).send("4\r\nr");
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(gameTick(*b.app, b.game));
    ASSERT_EQ(b.answersOf(1), c.stored.size() + 1);
    EXPECT_EQ(b.app->players[1].rounds[0].back().timeText, "4");
  }
}

// End Question records every awaited answer with the seconds that have
// passed, never more than the limit; the next turn goes on as after a last
// answer, and the late answers pair as at the deadline.
TEST(EndQuestion, RecordsTheTimePassedAtMostTheLimit) {
  struct Case {
    const char* limit;
    uint32_t elapsedMs;
    const char* recorded;
  };
  const Case cases[] = {
      {"30", 4567, "4.57"},  {"30", 30000, "30.00"},  {"30", 31000, "30.00"}, {"2.5", 2499, "2.50"},
      {"2.5", 9000, "2.50"}, {"0", 123456, "123.46"}, {"abc", 0, "0.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.limit) + " after " + std::to_string(c.elapsedMs));
    GameBench b;
    b.setUp(5, 3, {"Ann", "Bob", "Cy"});
    b.app->timeLimitText = c.limit;
    b.app->ticks = fakeTicks;
    fakeNow = 500;
    EXPECT_FALSE(endQuestion(*b.app, b.game));  // before the game: nothing
    EXPECT_EQ(answersLine(*b.app, b.game), "");
    std::vector<int32_t> round1 = b.nextRound();
    ASSERT_TRUE(gameTick(*b.app, b.game));
    for (auto& p : b.peers) p->readLines(6, 1000);
    EXPECT_EQ(answersLine(*b.app, b.game), "Answers: 0 of 3");
    b.peer(1).send("1\r\nr");
    ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(1) == 1; }));
    EXPECT_EQ(answersLine(*b.app, b.game), "Answers: 1 of 3");
    fakeNow += c.elapsedMs;
    ASSERT_TRUE(endQuestion(*b.app, b.game));
    EXPECT_EQ(b.game.pendingAnswers, 0);
    EXPECT_FALSE(endQuestion(*b.app, b.game));  // nothing awaited any more
    ASSERT_TRUE(gameTick(*b.app, b.game));
    std::string results = "Ann\r\n" + std::string(c.recorded) + "\r\nw\r\nBob\r\n1\r\nr\r\nCy\r\n" +
                          c.recorded + "\r\nw\r\n\r\n" + questionText(round1[1]);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(readLike(b.peer(i), results), results);
    EXPECT_EQ(answersLine(*b.app, b.game), "Answers: 0 of 3");
    // Ann's and Cy's late answers are dropped; their next ones count.
    b.peer(0).send("7\r\nr");
    b.peer(0).send("2\r\nw");
    b.peer(1).send("3\r\nr");
    b.peer(2).send("8\r\nr4\r\nr");
    ASSERT_TRUE(b.tickUntil([&] { return b.game.questionIndex == 3; }));
    EXPECT_EQ(b.app->players[0].rounds[0][1].timeText, "2");
    EXPECT_EQ(b.app->players[2].rounds[0][1].timeText, "4");
  }
}

// Removing a player is its connection closing: in the lobby the count
// falls; in the game its results go, a last awaited answer releases the
// results at once, and the last player's removal ends the game.
TEST(RemovePlayer, LeavesAsAClosedConnectionLeaves) {
  {
    SCOPED_TRACE("lobby");
    GameBench b;
    b.keepLobby = true;
    b.setUp(5, 3, {"Ann", "Bob", "Cy"});
    EXPECT_FALSE(removePlayer(*b.app, b.game, 3));
    ASSERT_TRUE(removePlayer(*b.app, b.game, 1));
    // The lobby goes on with the other two: the removed one is not seen again.
    EXPECT_EQ(lobbyPass(*b.app, b.lobby, 50), LobbyPass::kUnchanged);
    ASSERT_EQ(b.app->players.size(), 2u);
    EXPECT_EQ(b.app->players[0].name, "Ann");
    EXPECT_EQ(b.app->players[1].name, "Cy");
    EXPECT_EQ(b.app->clients.size(), 2u);
    EXPECT_TRUE(b.peer(1).waitClosed(2000));
  }
  {
    SCOPED_TRACE("last awaited, then one who answered, then the last");
    GameBench b;
    b.setUp(5, 3, {"Ann", "Bob", "Cy"});
    std::vector<int32_t> round1 = b.nextRound();
    ASSERT_TRUE(gameTick(*b.app, b.game));
    for (auto& p : b.peers) p->readLines(6, 1000);
    b.peer(0).send("1\r\nr");
    b.peer(2).send("2\r\nw");
    ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == 1 && b.answersOf(2) == 1; }));
    ASSERT_TRUE(removePlayer(*b.app, b.game, 1));  // Bob, the last awaited
    EXPECT_TRUE(b.peer(1).waitClosed(2000));
    ASSERT_TRUE(gameTick(*b.app, b.game));  // the results go out on the next turn
    std::string expected = "Ann\r\n1\r\nr\r\nCy\r\n2\r\nw\r\n\r\n" + questionText(round1[1]);
    EXPECT_EQ(readLike(b.peer(0), expected), expected);
    EXPECT_EQ(readLike(b.peer(2), expected), expected);

    b.peer(2).send("3\r\nr");
    ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(1) == 2; }));
    ASSERT_TRUE(removePlayer(*b.app, b.game, 1));  // Cy, who answered: gone with it
    EXPECT_EQ(b.game.pendingAnswers, 1);
    b.peer(0).send("4\r\nw");
    ASSERT_TRUE(b.tickUntil([&] { return b.game.questionIndex == 3; }));
    expected = "Ann\r\n4\r\nw\r\n\r\n" + questionText(round1[2]);
    EXPECT_EQ(readLike(b.peer(0), expected), expected);

    ASSERT_TRUE(removePlayer(*b.app, b.game, 0));  // the last player
    EXPECT_FALSE(gameTick(*b.app, b.game));
    EXPECT_EQ(b.app->errorText, "All clients have dropped.");
    EXPECT_EQ(b.app->errorFlags, kDroppedErrorFlags);
    EXPECT_EQ(b.app->exitCode, 0);
    EXPECT_TRUE(b.app->players.empty());
  }
}

// The operator's Remove Player asks first, naming the player, and removes
// only on Yes the player the window's entry still shows.
TEST(RemovePlayer, AsksFirstAndRemovesOnYes) {
  struct Case {
    int index;
    const char* shown;
    bool inGame;
    int answer;
    Removal outcome;
    const char* asked;  // the one "Notice" text
    std::vector<std::string> left;
  };
  const char kChoose[] = "Choose a player first.";
  const std::vector<std::string> all = {"Ann", "Bob", "Cy"};
  const Case cases[] = {
      {-1, "", true, kIdYes, Removal::kNoneChosen, kChoose, all},
      {1, "Bob", true, kIdNo, Removal::kDeclined,
       "Remove Bob from the game? Their answers are removed with them.", all},
      {1,
       "Bob",
       true,
       kIdYes,
       Removal::kRemoved,
       "Remove Bob from the game? Their answers are removed with them.",
       {"Ann", "Cy"}},
      {2, "Cy", false, kIdYes, Removal::kRemoved, "Remove Cy from the game?", {"Ann", "Bob"}},
      {1, "Cy", true, kIdYes, Removal::kListChanged,
       "The list of players has changed. Choose the player again.", all},
      {3, "Dee", true, kIdYes, Removal::kListChanged,
       "The list of players has changed. Choose the player again.", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + " " + c.shown);
    GameBench b;
    b.keepLobby = true;
    b.setUp(5, 3, all);
    b.scripted.prompts.messageAnswers = {c.answer};
    b.app->shell = b.scripted.shell();
    EXPECT_EQ(removeChosenPlayer(*b.app, b.game, nullptr, c.index, c.shown, c.inGame, kChoose),
              c.outcome);
    ASSERT_EQ(b.scripted.prompts.messages.size(), 1u);
    const MessageRequest& box = b.scripted.prompts.messages[0];
    EXPECT_EQ(box.text, c.asked);
    EXPECT_EQ(box.caption, "Notice");
    bool question = c.outcome == Removal::kDeclined || c.outcome == Removal::kRemoved;
    EXPECT_EQ(box.type, (question ? kMbYesNo : kMbOk) | kMbIconInformation);
    std::vector<std::string> left;
    for (const PlayerRecord& p : b.app->players) left.push_back(p.name);
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(b.app->clients.size(), c.left.size());
  }
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

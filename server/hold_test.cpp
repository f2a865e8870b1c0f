// The hold on the game's own clock: a question that is out finishes as
// written (answers or deadline, results, a round's summary) and then the
// next one waits, with nothing due, until Go On sends it.
#include <gtest/gtest.h>

#include <string>

#include "server/game_engine.h"
#include "testing/game_bench.h"

namespace qova {
namespace {

using testing::GameBench;
using testing::questionText;
using testing::readLike;

uint32_t fakeNow = 0;
uint32_t fakeTicks() { return fakeNow; }

const char kOneResults[] = "Ann\r\n1\r\nr\r\nBob\r\n2\r\nw\r\n\r\n";

// Two players, a clock that moves only when the test moves it.
struct HeldGame : GameBench {
  void start(int32_t perRound, const char* limit = "20") {
    setUp(8, perRound, {"Ann", "Bob"});
    app->timeLimitText = limit;
    app->ticks = fakeTicks;
    fakeNow = 1000;
  }
  // Turns on a clock that leaps ahead: nothing may come of them while held.
  void longWait() {
    for (int i = 0; i < 5; ++i) {
      fakeNow += 3600 * 1000;
      ASSERT_TRUE(gameTick(*app, game));
    }
  }
  // The game waits for Go On: nothing due, nothing sent, nothing recorded.
  void expectHeld(size_t answers) {
    EXPECT_TRUE(waitingForGoOn(game));
    EXPECT_EQ(gameDueMs(*app, game), -1);
    EXPECT_EQ(answersLine(*app, game), "Held: press Go On for the next question.");
    EXPECT_FALSE(endQuestion(*app, game));
    longWait();
    expectSilence();
    for (size_t i = 0; i < app->players.size(); ++i) EXPECT_EQ(answersOf(i), answers) << i;
  }
  // Go On sends `question` at once to the players `to` (peers), its
  // deadline running from now.
  void expectGoOnSends(const std::string& question, const std::vector<size_t>& to = {0, 1}) {
    EXPECT_TRUE(goOn(*app, game));
    EXPECT_FALSE(game.held);
    EXPECT_EQ(gameDueMs(*app, game), 0);
    ASSERT_TRUE(gameTick(*app, game));
    for (size_t i : to) EXPECT_EQ(readLike(peer(i), question), question) << i;
    EXPECT_TRUE(game.questionOut);
    EXPECT_EQ(game.questionSentAt, fakeNow);
    EXPECT_EQ(game.pendingAnswers, static_cast<int32_t>(app->clients.size()));
  }
};

// Wherever the hold comes, the question out finishes and the next waits.
TEST(Hold, TheQuestionOutFinishesThenTheNextWaits) {
  enum class When { kBeforeTheFirst, kNoneAnswered, kOneAnswered, kBothAnsweredNotYetTaken };
  struct Case {
    const char* what;
    When when;
  };
  const Case cases[] = {
      {"before the first question", When::kBeforeTheFirst},
      {"while nobody has answered", When::kNoneAnswered},
      {"after one answer of two", When::kOneAnswered},
      {"after both answers came, before the turn takes them", When::kBothAnsweredNotYetTaken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldGame b;
    b.start(3);
    std::vector<int32_t> round = b.nextRound();
    if (c.when == When::kBeforeTheFirst) {
      EXPECT_TRUE(holdGame(*b.app, b.game));
      EXPECT_FALSE(holdGame(*b.app, b.game));  // already held: nothing changes
      ASSERT_TRUE(gameTick(*b.app, b.game));
      b.expectHeld(0);
      b.expectGoOnSends(questionText(round[0]));
      continue;
    }
    ASSERT_TRUE(gameTick(*b.app, b.game));
    for (auto& p : b.peers) p->readLines(6, 1000);
    if (c.when == When::kOneAnswered) {
      b.peer(0).send("1\r\nr");
      ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == 1; }));
    }
    if (c.when == When::kBothAnsweredNotYetTaken) {
      b.peer(0).send("1\r\nr");
      b.peer(1).send("2\r\nw");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(holdGame(*b.app, b.game));
    // The question out is not cut short: its line still counts answers.
    EXPECT_FALSE(waitingForGoOn(b.game));
    EXPECT_NE(answersLine(*b.app, b.game).find("Answers: "), std::string::npos);
    if (c.when == When::kNoneAnswered) b.peer(0).send("1\r\nr");
    if (c.when != When::kBothAnsweredNotYetTaken) b.peer(1).send("2\r\nw");
    ASSERT_TRUE(b.tickUntil([&] { return !b.game.questionOut; }));
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(b.peer(i), kOneResults), kOneResults);
    b.expectHeld(1);
    b.expectGoOnSends(questionText(round[1]));
    EXPECT_FALSE(goOn(*b.app, b.game));  // not held: nothing changes
  }
}

// With "hold after each round" the game holds by itself after a round's
// summary, and only there; the round after is drawn and saved already.
TEST(Hold, AfterEachRoundTheGameHoldsBeforeTheNextRound) {
  HeldGame b;
  b.start(2);
  EXPECT_TRUE(setHoldAfterRound(*b.app, b.game, true));
  EXPECT_FALSE(setHoldAfterRound(*b.app, b.game, true));
  std::vector<int32_t> round1 = b.nextRound();
  std::vector<int32_t> round2 = b.nextRound();
  ASSERT_TRUE(gameTick(*b.app, b.game));
  for (auto& p : b.peers) p->readLines(6, 1000);
  b.peer(0).send("1\r\nr");
  b.peer(1).send("2\r\nw");
  ASSERT_TRUE(b.tickUntil([&] { return b.game.questionIndex == 2; }));
  const std::string mid = kOneResults + questionText(round1[1]);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(b.peer(i), mid), mid);
  EXPECT_FALSE(b.game.held);  // within the round the game goes on
  b.peer(0).send("3\r\nr");
  b.peer(1).send("4\r\nr");
  ASSERT_TRUE(b.tickUntil([&] { return !b.game.questionOut; }));
  const std::string end =
      "Ann\r\n3\r\nr\r\nBob\r\n4\r\nr\r\n\r\n"
      "Ann\r\n2\r\n2.\r\n2\r\n2\r\n2.\r\n2\r\n"
      "Bob\r\n1\r\n3.\r\n2\r\n1\r\n3.\r\n2\r\n\r\n";
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(b.peer(i), end), end);
  EXPECT_TRUE(b.game.held);
  ASSERT_EQ(b.app->players[0].rounds.size(), 2u);  // the next round begun
  b.expectHeld(0);
  // Unticking the box does not let the game go on: Go On does.
  EXPECT_TRUE(setHoldAfterRound(*b.app, b.game, false));
  EXPECT_TRUE(b.game.held);
  b.expectGoOnSends(questionText(round2[0]));
  EXPECT_EQ(b.game.questionIndex, 1);
}

// The answer deadline runs for the question out, held or not, and never
// while no question is out; after Go On it runs from Go On.
TEST(Hold, TheDeadlineRunsOnlyWhileAQuestionIsOut) {
  HeldGame b;
  b.start(3, "2");  // deadline 17 s
  std::vector<int32_t> round = b.nextRound();
  ASSERT_TRUE(gameTick(*b.app, b.game));
  for (auto& p : b.peers) p->readLines(6, 1000);
  ASSERT_TRUE(holdGame(*b.app, b.game));
  b.peer(0).send("1\r\nr");
  ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == 1; }));
  fakeNow += 17000;
  ASSERT_TRUE(gameTick(*b.app, b.game));
  const std::string results = "Ann\r\n1\r\nr\r\nBob\r\n2.00\r\nw\r\n\r\n";
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(b.peer(i), results), results);
  b.expectHeld(1);
  b.expectGoOnSends(questionText(round[1]));
  fakeNow += 16999;
  ASSERT_TRUE(gameTick(*b.app, b.game));
  EXPECT_EQ(b.game.pendingAnswers, 2);
  fakeNow += 1;
  ASSERT_TRUE(gameTick(*b.app, b.game));
  EXPECT_EQ(b.app->players[0].rounds[0][1].timeText, "2.00");
  EXPECT_EQ(b.app->players[1].rounds[0][1].timeText, "2.00");
}

// End Question works on a held question as without a hold; between
// questions it has nothing to end. Remove Player between questions sends
// the others nothing, and the last player's removal ends the game.
TEST(Hold, EndQuestionAndRemovePlayerWhileHeld) {
  HeldGame b;
  b.start(3);
  std::vector<int32_t> round = b.nextRound();
  ASSERT_TRUE(gameTick(*b.app, b.game));
  for (auto& p : b.peers) p->readLines(6, 1000);
  ASSERT_TRUE(holdGame(*b.app, b.game));
  b.peer(0).send("1\r\nr");
  ASSERT_TRUE(b.tickUntil([&] { return b.answersOf(0) == 1; }));
  fakeNow += 4000;
  ASSERT_TRUE(endQuestion(*b.app, b.game));
  ASSERT_TRUE(gameTick(*b.app, b.game));
  const std::string results = "Ann\r\n1\r\nr\r\nBob\r\n4.00\r\nw\r\n\r\n";
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(readLike(b.peer(i), results), results);
  b.expectHeld(1);

  ASSERT_TRUE(removePlayer(*b.app, b.game, 1));
  EXPECT_TRUE(b.peer(1).waitClosed(2000));
  b.expectHeld(1);  // Ann hears nothing
  b.expectGoOnSends(questionText(round[1]), {0});
  EXPECT_EQ(b.game.pendingAnswers, 1);

  ASSERT_TRUE(holdGame(*b.app, b.game));
  b.peer(0).send("2\r\nw");
  ASSERT_TRUE(b.tickUntil([&] { return !b.game.questionOut; }));
  EXPECT_EQ(readLike(b.peer(0), "Ann\r\n2\r\nw\r\n\r\n"), "Ann\r\n2\r\nw\r\n\r\n");
  ASSERT_TRUE(removePlayer(*b.app, b.game, 0));
  EXPECT_EQ(gameDueMs(*b.app, b.game), 0);  // the turn that ends the game is due
  EXPECT_FALSE(gameTick(*b.app, b.game));
  EXPECT_EQ(b.app->errorText, "All clients have dropped.");
}

// Quit while held ends the run as ever: the players are closed, the
// results written, and nothing falls due any more.
TEST(Hold, QuitWhileHeldEndsTheRun) {
  HeldGame b;
  b.start(3);
  ASSERT_TRUE(gameTick(*b.app, b.game));
  for (auto& p : b.peers) p->readLines(6, 1000);
  ASSERT_TRUE(holdGame(*b.app, b.game));
  b.peer(0).send("1\r\nr");
  b.peer(1).send("2\r\nw");
  ASSERT_TRUE(b.tickUntil([&] { return !b.game.questionOut; }));
  shutdownServer(0);
  EXPECT_EQ(b.scripted.posted, std::vector<int32_t>{0});
  for (auto& p : b.peers) EXPECT_TRUE(p->waitClosed(2000));
  EXPECT_EQ(gameDueMs(*b.app, b.game), -1);
  EXPECT_TRUE(gameTick(*b.app, b.game));
  const std::string scores = testing::readFileBytes(b.app->resultsFileName);
  EXPECT_NE(scores.find("Player: Ann\r\n  Round 1:\r\n    1. 1 seconds;\tRight\r\n"),
            std::string::npos)
      << scores;
}

}  // namespace
}  // namespace qova

#include "player/player_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "testing/fake_server.h"
#include "testing/test_player.h"

namespace qova {
namespace {

using testing::FakeServer;

const std::string kSettings = "30\r\n2\r\n4\r\n";
const std::string kQuestion = "Capital of France?\r\nRome\r\nParis\r\nOslo\r\nBern\r\n2\r\n";

struct ClientTest : ::testing::Test {
  FakeServer server;
  PlayerClient client;
  void SetUp() override {
    ASSERT_TRUE(client.connect("127.0.0.1", server.port(), "Ann"));
    ASSERT_TRUE(server.accept());
    ASSERT_EQ(client.waitFor(ClientEvent::kConnected, 2000), ClientEvent::kConnected);
  }
  // Settings out, name in, then `questions` questions answered.
  void playTo(int questions) {
    server.send(kSettings);
    ASSERT_EQ(client.waitFor(ClientEvent::kSettings, 2000), ClientEvent::kSettings);
    ASSERT_EQ(server.read(5), "Ann\r\n");
    for (int q = 0; q < questions; ++q) {
      server.send(kQuestion);
      ASSERT_EQ(client.waitFor(ClientEvent::kQuestion, 2000), ClientEvent::kQuestion);
      ASSERT_TRUE(client.sendAnswer("1.25", true));
      ASSERT_EQ(server.read(7), "1.25\r\nr");
      if (q + 1 < questions) {
        server.send("Ann\r\n1.25\r\nr\r\n\r\n");
        ASSERT_EQ(client.waitFor(ClientEvent::kResults, 2000), ClientEvent::kResults);
      }
    }
  }
};

TEST_F(ClientTest, PlaysARoundAndSeesTheCloseBetweenMessages) {
  EXPECT_EQ(client.state(), ClientState::kSettings);
  server.send(kSettings);
  ASSERT_EQ(client.waitFor(ClientEvent::kSettings, 2000), ClientEvent::kSettings);
  EXPECT_EQ(client.settings().timeLimitText, "30");
  EXPECT_EQ(client.settings().questionsPerRound, 2);
  EXPECT_EQ(client.settings().responseCount, 4);
  EXPECT_EQ(server.read(5), "Ann\r\n");
  EXPECT_EQ(client.state(), ClientState::kLobby);
  EXPECT_FALSE(client.sendAnswer("1", true));  // no question yet: nothing goes out

  for (int q = 1; q <= 2; ++q) {
    server.send(kQuestion);
    ASSERT_EQ(client.waitFor(ClientEvent::kQuestion, 2000), ClientEvent::kQuestion);
    EXPECT_EQ(client.question().text, "Capital of France?");
    EXPECT_EQ(client.question().responses,
              (std::vector<std::string>{"Rome", "Paris", "Oslo", "Bern"}));
    EXPECT_EQ(client.question().correct, '2');
    EXPECT_EQ(client.question().number, q);
    EXPECT_TRUE(client.sendAnswer(q == 1 ? "4.20" : "", q == 1));
    EXPECT_FALSE(client.sendAnswer("9", true));  // only the first answer counts
    EXPECT_EQ(server.read(q == 1 ? 7 : 3), q == 1 ? "4.20\r\nr" : "\r\nw");
    if (q == 1) {
      server.send("Ann\r\n4.20\r\nr\r\nBob\r\n3\r\nw\r\n\r\n");
      ASSERT_EQ(client.waitFor(ClientEvent::kResults, 2000), ClientEvent::kResults);
      ASSERT_EQ(client.results().size(), 2u);
      EXPECT_EQ(client.results()[1].name, "Bob");
      EXPECT_FALSE(client.results()[1].correct);
      EXPECT_EQ(client.state(), ClientState::kBetween);
    }
  }
  // The last question of the round: results and summary in one piece.
  server.send("Ann\r\n\r\nw\r\n\r\nAnn\r\n1\r\n2.1\r\n2\r\n1\r\n2.1\r\n2\r\n\r\n");
  ASSERT_EQ(client.waitFor(ClientEvent::kResults, 2000), ClientEvent::kResults);
  EXPECT_EQ(client.state(), ClientState::kWaiting);
  ASSERT_EQ(client.waitFor(ClientEvent::kSummary, 2000), ClientEvent::kSummary);
  ASSERT_EQ(client.summary().size(), 1u);
  EXPECT_EQ(client.summary()[0].roundAverage, "2.1");
  EXPECT_EQ(client.state(), ClientState::kBetween);

  server.close();
  EXPECT_EQ(client.waitFor(ClientEvent::kSummary, 2000), ClientEvent::kClosed);
  EXPECT_TRUE(client.closedCleanly());
  EXPECT_EQ(client.closedIn(), ClientState::kBetween);
  EXPECT_EQ(client.state(), ClientState::kClosed);
}

TEST_F(ClientTest, CloseInsideAMessageIsReported) {
  // Each case: questions answered first, then bytes, then the close.
  struct Case {
    int questions;
    std::string bytes;
    bool clean;
    std::string error;
  } cases[] = {
      {0, "", true, "the server closed the connection"},
      {1, "", true, "the server closed the connection"},  // the operator ended the game
      {1, "Ann\r\n1.25\r\n", false, "in the middle of the results"},
      {2, "Ann\r\n1.25\r\nr\r\n\r\n", false, "before the round summary"},
      {2, "Ann\r\n1.25\r\nr\r\n\r\nAnn\r\n1\r\n", false, "in the middle of the round summary"},
      {1, "Ann\r\n1.25\r\nr\r\n\r\nCap", false, "in the middle of the question"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    if (c.questions > 0 || &c != cases) {
      client.close();
      ASSERT_TRUE(client.connect("127.0.0.1", server.port(), "Ann"));
      ASSERT_TRUE(server.accept());
    }
    playTo(c.questions);
    if (!c.bytes.empty()) server.send(c.bytes);
    server.close();
    std::vector<ClientEvent> events;
    for (int i = 0; i < 100 && client.step(20, &events);) ++i;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), ClientEvent::kClosed);
    EXPECT_EQ(client.closedCleanly(), c.clean);
    EXPECT_NE(client.error().find(c.error), std::string::npos) << client.error();
  }
}

// Results before this player answered: the server recorded its answer (its
// deadline, or its operator ended the question). The client sends the row
// recorded for it as its answer, which the server discards, and plays on.
TEST_F(ClientTest, ResultsBeforeAnsweringSendTheRecordedRowAsTheAnswer) {
  server.send(kSettings);
  ASSERT_EQ(client.waitFor(ClientEvent::kSettings, 2000), ClientEvent::kSettings);
  EXPECT_EQ(server.read(5), "Ann\r\n");
  server.send(kQuestion + "Bob\r\n1\r\nr\r\nAnn\r\n30.00\r\nw\r\n\r\n");
  ASSERT_EQ(client.waitFor(ClientEvent::kQuestion, 2000), ClientEvent::kQuestion);
  EXPECT_EQ(client.waitFor(ClientEvent::kResults, 2000), ClientEvent::kResults);
  EXPECT_EQ(server.read(8), "30.00\r\nw");
  EXPECT_EQ(client.answeredTime(), "30.00");
  EXPECT_FALSE(client.sendAnswer("2", true));  // that question is over
  server.send(kQuestion);
  ASSERT_EQ(client.waitFor(ClientEvent::kQuestion, 2000), ClientEvent::kQuestion);
  EXPECT_TRUE(client.sendAnswer("2", true));
  EXPECT_EQ(server.read(4), "2\r\nr");
}

TEST(PlayerClientConnectTest, RefusedAndUnknownHostsFail) {
  uint16_t port;
  {
    FakeServer gone;
    port = gone.port();
  }
  PlayerClient client;
  if (client.connect("127.0.0.1", port, "Ann")) {
    EXPECT_EQ(client.waitFor(ClientEvent::kConnected, 3000), ClientEvent::kConnectFailed);
  }
  EXPECT_FALSE(client.error().empty());
  EXPECT_EQ(client.state(), ClientState::kClosed);
  EXPECT_FALSE(client.connect("no such host.invalid", 5632, "Ann"));
  EXPECT_NE(client.error().find("unknown host"), std::string::npos);
}

// The scripted players against the fake server: what goes out on the wire.
struct GroupTest : ::testing::Test {
  FakeServer server;
  std::ostringstream transcript;
  std::unique_ptr<PlayerGroup> group;
  void start(const PlayerPlan& plan) {
    GroupOptions options;
    options.port = server.port();
    options.players = {plan};
    options.transcript = &transcript;
    group = std::make_unique<PlayerGroup>(options);
    group->start();
    ASSERT_TRUE(server.accept());
    server.send(kSettings);
  }
  // Lets the players act for `ms` and returns what the server got then.
  std::string pump(int ms) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      group->step(5);
      got += server.readSome(0);
    }
    return got;
  }
};

TEST_F(GroupTest, AnswerInPiecesArrivesPieceByPiece) {
  PlayerPlan plan;
  plan.name = "Ann";
  plan.times = {"0.5"};
  plan.misbehaviour = Misbehaviour::kPieces;
  plan.pieceDelayMs = 150;
  start(plan);
  EXPECT_EQ(pump(100), "Ann\r\n");
  server.send(kQuestion);
  EXPECT_EQ(pump(75), "0.5\r");
  EXPECT_EQ(pump(150), "\n");
  EXPECT_EQ(pump(150), "r");
  server.send("Ann\r\n0.5\r\nr\r\n\r\n");
  pump(50);
  server.close();
  pump(50);
  EXPECT_TRUE(group->finished());
  EXPECT_EQ(group->violations(), 0) << transcript.str();
}

TEST_F(GroupTest, OwnResultMissingOrSummaryWrongIsAViolation) {
  PlayerPlan plan;
  plan.name = "Ann";
  plan.times = {"1", "2"};
  plan.verdicts = "rw";
  start(plan);
  pump(50);
  server.send(kQuestion);
  EXPECT_EQ(pump(50), "1\r\nr");
  server.send("Ann\r\n1\r\nr\r\n\r\n" + kQuestion);
  EXPECT_EQ(pump(50), "2\r\nw");
  EXPECT_EQ(group->violations(), 0) << transcript.str();
  // Right verdict reported as wrong, and a summary with a wrong average.
  server.send("Ann\r\n2\r\nr\r\n\r\nAnn\r\n1\r\n1.5\r\n2\r\n1\r\n1.6\r\n2\r\n\r\n");
  pump(50);
  EXPECT_EQ(group->reports()[0].violations,
            (std::vector<std::string>{
                "the results of round 1 question 2 lack this player's answer (Ann 2 w)",
                "the summary of round 1 lacks this player's line (Ann 1 1.5 2 1 1.5 2)"}));
}

TEST_F(GroupTest, FloodAndLobbyBytes) {
  PlayerPlan plan;
  plan.name = "Ann";
  plan.misbehaviour = Misbehaviour::kFloodName;
  plan.floodBytes = 100000;
  start(plan);
  std::string got = pump(300);
  EXPECT_EQ(got, std::string(100000, 'x'));
  server.close();
  pump(50);
  EXPECT_TRUE(group->reports()[0].closedByServer);
  EXPECT_EQ(group->violations(), 0);

  FakeServer second;
  plan.misbehaviour = Misbehaviour::kLobbyBytes;
  GroupOptions options;
  options.port = second.port();
  options.players = {plan};
  PlayerGroup lobby(options);
  lobby.start();
  ASSERT_TRUE(second.accept());
  second.send(kSettings);
  std::string early, late;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < end) {
    lobby.step(5);
    (early.size() < 5 ? early : late) += second.readSome(0);
  }
  EXPECT_EQ(early, "Ann\r\n");  // the name on its own, the byte well after it
  EXPECT_EQ(late, "x");
}

}  // namespace
}  // namespace qova

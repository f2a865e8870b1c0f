#include "player/play_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "testing/test_support.h"
#include "testing/fake_server.h"

namespace qova {
namespace {

using testing::FakeServer;

TEST(ServerAddressTest, HostAndOptionalPort) {
  struct {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"192.168.1.20", true, "192.168.1.20", 5632},
      {" quizhost ", true, "quizhost", 5632},
      {"10.0.0.1:6000", true, "10.0.0.1", 6000},
      {"", false, "", 0},
      {"   ", false, "", 0},
      {"a b", false, "", 0},
      {"host:", false, "", 0},
      {"host:0", false, "", 0},
      {"host:70000", false, "", 0},
      {":5632", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    uint16_t port = 0;
    EXPECT_EQ(parseServerAddress(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(ServerAddressTest, MarkerFirstThenTheRememberedAddress) {
  testing::TempDir dir;
  std::string marker = dir.file("hostIP.dat"), remembered = dir.file("last.txt");
  EXPECT_EQ(initialServerAddress(marker, remembered), "");
  ASSERT_TRUE(rememberServer(remembered, "10.1.1.1", "Zoe"));
  EXPECT_EQ(testing::readFileBytes(remembered), "10.1.1.1\r\nZoe\r\n");
  EXPECT_EQ(initialServerAddress(marker, remembered), "10.1.1.1");
  EXPECT_EQ(rememberedPlayerName(remembered), "Zoe");
  testing::writeFileBytes(marker, "192.168.0.7");  // as the server writes it: no line end
  EXPECT_EQ(initialServerAddress(marker, remembered), "192.168.0.7");
  testing::writeFileBytes(marker, "");  // damaged: the remembered one
  EXPECT_EQ(initialServerAddress(marker, remembered), "10.1.1.1");
  testing::writeFileBytes(marker, "quizhost:7000");  // not what a server writes
  EXPECT_EQ(initialServerAddress(marker, remembered), "10.1.1.1");
}

struct SessionTest : ::testing::Test {
  FakeServer server;
  PlaySession session;
  testing::TempDir dir;
  // Ticks at the fixed time `now` until the view is `view` (network bytes
  // take a moment to arrive); false after two seconds.
  bool tickUntil(PlayView view, double now) {
    for (int i = 0; i < 400; ++i) {
      session.tick(now);
      if (session.view() == view) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void joinAndWait(const std::string& settings) {
    session.rememberedPath = dir.file("last.txt");
    ASSERT_TRUE(session.join("127.0.0.1:" + std::to_string(server.port()), "Zoe", 0));
    EXPECT_EQ(session.view(), PlayView::kConnecting);
    ASSERT_TRUE(server.accept());
    server.send(settings);
    ASSERT_TRUE(tickUntil(PlayView::kWaiting, 1));
    EXPECT_EQ(server.read(5), "Zoe\r\n");
  }
};

const std::string kQuestion = "Capital?\r\nRome\r\nParis\r\nOslo\r\nBern\r\n2\r\n";

TEST_F(SessionTest, ChoosesTimesOutShowsResultsAndLeaderboardAndEnds) {
  joinAndWait("30\r\n2\r\n4\r\n");
  EXPECT_TRUE(session.hasTimeLimit());
  EXPECT_EQ(testing::readFileBytes(dir.file("last.txt")),
            "127.0.0.1:" + std::to_string(server.port()) + "\r\nZoe\r\n");

  server.send(kQuestion);
  ASSERT_TRUE(tickUntil(PlayView::kQuestion, 10));
  EXPECT_DOUBLE_EQ(session.secondsLeft(14), 26);
  EXPECT_FALSE(session.choose(5, 12));  // only four responses
  EXPECT_TRUE(session.choose(2, 12.5));
  EXPECT_FALSE(session.choose(1, 13));  // the first choice counts
  EXPECT_EQ(server.read(7), "2.50\r\nr");
  EXPECT_EQ(session.chosen(), 2);
  EXPECT_EQ(session.correctNumber(), 2);
  EXPECT_TRUE(session.answerCorrect());

  // The results stay up three seconds; the next question waits meanwhile.
  server.send("Ann\r\n1\r\nw\r\nZoe\r\n2.50\r\nr\r\n\r\n" + kQuestion);
  ASSERT_TRUE(tickUntil(PlayView::kResults, 20));
  ASSERT_EQ(session.results().size(), 2u);
  EXPECT_FALSE(session.results()[0].own);
  EXPECT_TRUE(session.results()[1].own);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  session.tick(22.9);
  EXPECT_EQ(session.view(), PlayView::kResults);
  ASSERT_TRUE(tickUntil(PlayView::kQuestion, 23));

  // No choice in time: the limit itself and a wrong verdict go out.
  session.tick(52.9);
  EXPECT_FALSE(session.answered());
  session.tick(53.01);
  EXPECT_TRUE(session.timedOut());
  EXPECT_EQ(session.chosen(), 0);
  EXPECT_EQ(server.read(8), "30.00\r\nw");
  EXPECT_FALSE(session.choose(2, 54));

  server.send(
      "Ann\r\n4\r\nr\r\nZoe\r\n30.00\r\nw\r\n\r\n"
      "Ann\r\n1\r\n2.5\r\n2\r\n1\r\n2.5\r\n2\r\n"
      "Zoe\r\n1\r\n16.25\r\n2\r\n1\r\n16.25\r\n2\r\n\r\n");
  ASSERT_TRUE(tickUntil(PlayView::kResults, 60));
  ASSERT_TRUE(tickUntil(PlayView::kLeaderboard, 63));
  ASSERT_EQ(session.standings().size(), 2u);
  EXPECT_EQ(session.standings()[0].entry.name, "Ann");  // same count, faster
  EXPECT_EQ(session.standings()[0].place, 1);
  EXPECT_EQ(session.standings()[1].place, 2);
  EXPECT_TRUE(session.standings()[1].own);
  EXPECT_EQ(session.roundsPlayed(), 1);

  server.close();
  session.tick(68);
  EXPECT_EQ(session.view(), PlayView::kLeaderboard);  // still up
  ASSERT_TRUE(tickUntil(PlayView::kEnd, 69.1));
  EXPECT_EQ(session.message(), "The quiz is over: the server has ended the game.");
  EXPECT_EQ(session.standings().size(), 2u);  // the last leaderboard stays
}

// Two players may share a name: the own rows are those with this player's
// time and verdict, and its own counts; a namesake's are not.
TEST_F(SessionTest, OwnRowsAreFoundByWhatThePlayerSentNotByNameAlone) {
  joinAndWait("30\r\n1\r\n4\r\n");
  server.send(kQuestion);
  ASSERT_TRUE(tickUntil(PlayView::kQuestion, 10));
  ASSERT_TRUE(session.choose(1, 11.25));
  EXPECT_EQ(server.read(7), "1.25\r\nw");
  server.send(
      "Zoe\r\n0.50\r\nr\r\nZoe\r\n1.25\r\nw\r\n\r\n"
      "Zoe\r\n1\r\n0.5\r\n1\r\n1\r\n0.5\r\n1\r\n"
      "Zoe\r\n0\r\n1.25\r\n1\r\n0\r\n1.25\r\n1\r\n\r\n");
  ASSERT_TRUE(tickUntil(PlayView::kResults, 12));
  ASSERT_EQ(session.results().size(), 2u);
  EXPECT_FALSE(session.results()[0].own);
  EXPECT_TRUE(session.results()[1].own);
  ASSERT_TRUE(tickUntil(PlayView::kLeaderboard, 15));
  ASSERT_EQ(session.standings().size(), 2u);
  EXPECT_FALSE(session.standings()[0].own);
  EXPECT_TRUE(session.standings()[1].own);
  EXPECT_EQ(session.standings()[1].place, 2);
}

TEST_F(SessionTest, NoPositiveTimeLimitMeansNoCountdown) {
  joinAndWait("none\r\n1\r\n5\r\n");
  EXPECT_FALSE(session.hasTimeLimit());
  server.send("Q\r\na\r\nb\r\nc\r\nd\r\ne\r\n5\r\n");
  ASSERT_TRUE(tickUntil(PlayView::kQuestion, 10));
  session.tick(100000);
  EXPECT_FALSE(session.answered());
  EXPECT_TRUE(session.choose(5, 10.004));
  EXPECT_EQ(server.read(7), "0.00\r\nr");
}

TEST_F(SessionTest, LostConnectionsAndRefusalsGiveClearMessages) {
  // Dropped in the lobby: back to the join view.
  joinAndWait("30\r\n2\r\n4\r\n");
  server.close();
  ASSERT_TRUE(tickUntil(PlayView::kJoin, 2));
  EXPECT_EQ(session.message(),
            "The server closed the connection before the game started: the operator may have "
            "ended the quiz. Join again when a new game opens.");

  // Lost in the middle of a message during the game: the end view says so.
  ASSERT_TRUE(session.join("127.0.0.1:" + std::to_string(server.port()), "Zoe", 0));
  ASSERT_TRUE(server.accept());
  server.send("30\r\n2\r\n4\r\n" + kQuestion);
  ASSERT_TRUE(tickUntil(PlayView::kQuestion, 1));
  session.choose(1, 2);
  server.send("Ann\r\n");
  server.close();
  ASSERT_TRUE(tickUntil(PlayView::kEnd, 3));
  EXPECT_EQ(session.message().rfind("The connection to the server was lost (the server closed "
                                    "the connection in the middle of the results",
                                    0),
            0u)
      << session.message();

  // A server that takes the connection but never sends its settings.
  ASSERT_TRUE(session.join("127.0.0.1:" + std::to_string(server.port()), "Zoe", 100));
  ASSERT_TRUE(server.accept());
  session.tick(114.9);
  EXPECT_EQ(session.view(), PlayView::kConnecting);
  session.tick(115);
  EXPECT_EQ(session.view(), PlayView::kJoin);
  EXPECT_EQ(session.message(), "The server at 127.0.0.1:" + std::to_string(server.port()) +
                                   " did not answer. Check the address and that the quiz "
                                   "server is running.");

  // Nobody listening.
  uint16_t port;
  {
    FakeServer gone;
    port = gone.port();
  }
  if (session.join("127.0.0.1:" + std::to_string(port), "Zoe", 0)) {
    ASSERT_TRUE(tickUntil(PlayView::kJoin, 1));
  }
  EXPECT_NE(session.message().find("refused the connection"), std::string::npos)
      << session.message();
  EXPECT_FALSE(session.join("", "Zoe", 0));
  EXPECT_EQ(session.message(), "Enter the server's address, for example 192.168.1.20.");
  EXPECT_FALSE(session.join("127.0.0.1", "", 0));
  EXPECT_EQ(session.message(), "Enter your name (1 to 40 characters).");
}

}  // namespace
}  // namespace qova

// QOVAHOST's room feed: a feed client on 127.0.0.1:5633 beside two players
// hears them join, the Start, the question and its counts, the results, and
// the end when the operator quits; and a browser's request there is closed
// while the feed goes on.
#include <string>

#include "testing/loopback_peer.h"
#include "tests/host/host_fixture.h"

namespace qova {
namespace {

const char kGreeting[] = "QOVA ROOM FEED\t1\r\n";

// Connects to the feed (the lobby window shows a moment before the server
// listens), greets, and reads the server's greeting, the settings and the
// hold.
bool connectFeed(testing::LoopbackPeer& feed, std::string* firstLines) {
  DWORD start = GetTickCount();
  while (!feed.connect(5633)) {
    if (GetTickCount() - start > kWaitMs) return false;
    Sleep(100);
  }
  if (!feed.send(kGreeting)) return false;
  *firstLines = feed.readLines(3, kPlayerWaitMs);
  return true;
}

TEST_F(HostTest, TheRoomFeedHearsTheGameFromJoinsToTheEnd) {
  testing::TempDir folder;
  prepare(folder, "30\r\n2\r\nquestions.qdb", 6);
  driver::Child& host = startHost(folder);
  HWND lobby = findLobby(host);
  ASSERT_NE(lobby, nullptr);
  testing::LoopbackPeer feed;
  std::string first;
  ASSERT_TRUE(connectFeed(feed, &first));
  EXPECT_EQ(first, std::string(kGreeting) + "SETTINGS\t30\t2\t4\r\nHOLD\t0\t0\r\n");

  // Not a feed client: closed at once, the feed goes on.
  testing::LoopbackPeer browser;
  ASSERT_TRUE(browser.connect(5633));
  ASSERT_TRUE(browser.send("GET / HTTP/1.1\r\nHost: 127.0.0.1:5633\r\n\r\n"));
  EXPECT_TRUE(browser.waitClosed(kWaitMs));

  PlayerClient& ann = join("Ann");
  EXPECT_EQ(feed.readLines(1, kPlayerWaitMs), "JOIN\t1\tAnn\r\n");
  PlayerClient& bob = join("Bob");
  EXPECT_EQ(feed.readLines(1, kPlayerWaitMs), "JOIN\t2\tBob\r\n");
  ASSERT_TRUE(countShows(lobby, "2"));

  HWND stats = driver::findTopWindow("Statistics", 1000, host.id, "#32770");
  ASSERT_NE(stats, nullptr);
  EXPECT_TRUE(driver::clickLater(driver::item(lobby, 1000)));
  ASSERT_EQ(ann.waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  ASSERT_EQ(bob.waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  std::string question = feed.readLines(3, kPlayerWaitMs);
  std::string expected = "START\t2\r\nQUESTION\t1\t1\t2\t30\t" + ann.question().text;
  for (const std::string& response : ann.question().responses) expected += "\t" + response;
  EXPECT_EQ(question, expected + "\r\nANSWERS\t0\t2\r\n");

  ASSERT_TRUE(ann.sendAnswer("1.5", true));
  pumpPlayers();
  ASSERT_TRUE(bob.sendAnswer("2", false));
  ASSERT_EQ(bob.waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
  // The counts as they came (one or two), the last with every answer in,
  // then the results and the next question.
  std::string lines;
  while (lines.find("RESULTS") == std::string::npos) {
    std::string line = feed.readLines(1, kPlayerWaitMs);
    ASSERT_FALSE(line.empty()) << lines;
    lines += line;
  }
  EXPECT_NE(lines.find("ANSWERS\t2\t0\r\nRESULTS\t"), std::string::npos) << lines;
  std::string results = feed.readLines(2, kPlayerWaitMs);
  EXPECT_EQ(results, "1\t1.5\tr\r\n2\t2\tw\r\n");
  EXPECT_EQ(feed.readLines(1, kPlayerWaitMs).rfind("QUESTION\t1\t2\t2\t30\t", 0), 0u);

  EXPECT_TRUE(driver::clickLater(driver::item(stats, 1001)));
  EXPECT_EQ(exitCode(host), 0);
  std::string last = feed.readLines(2, kWaitMs);
  EXPECT_EQ(last, "ANSWERS\t0\t2\r\nEND\r\n");
  EXPECT_TRUE(feed.waitClosed(kWaitMs));
}

}  // namespace
}  // namespace qova

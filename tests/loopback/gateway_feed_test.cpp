// The gateway's room feed over loopback: the gateway connects to a scripted
// feed, greets it, and the room screen's WebSocket shows the whole room from
// it, a room with no web player from the lobby to the podium at the
// players' pace; the gateway reconnects when the server restarts and after a
// feed that breaks the rules; a gateway playing against another computer
// never connects.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "testing/scripted_feed.h"
#include "tests/loopback/test_page.h"
#include "web/gateway/gateway.h"

namespace qova::web {
const EmbeddedFiles& testPageFiles();
}

namespace qova {
namespace {

using loopback::Page;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int64_t kResultsMs = 300;
constexpr int64_t kBoardMs = 600;

struct WebGatewayFeed : ::testing::Test {
  testing::ScriptedFeed feed;
  std::optional<web::Gateway> gateway;
  std::thread gatewayThread;
  uint16_t port = 0;

  void startGateway(const std::string& serverHost) {
    ASSERT_TRUE(feed.listening());
    web::GatewayOptions o;
    o.serverHost = serverHost;
    o.serverPort = 1;  // no quiz server: the seats are not in this test
    o.feedPort = feed.port();
    o.httpAddress = "127.0.0.1";
    o.httpPort = 0;
    o.files = web::testPageFiles();
    o.pauses = {kResultsMs, kBoardMs};
    gateway.emplace(o);
    std::string error;
    ASSERT_TRUE(gateway->start(&error)) << error;
    port = gateway->httpPort();
    gatewayThread = std::thread([this] { gateway->run(); });
  }
  void TearDown() override {
    if (gateway) gateway->stop();
    if (gatewayThread.joinable()) gatewayThread.join();
  }
};

// The next view of `view` on the screen, skipping others and counts.
std::optional<json> untilView(Page& screen, const std::string& view, int ms = 5000) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    std::optional<json> m = screen.next(ms);
    if (!m) return m;
    if ((*m)["t"] == "screen" && (*m)["view"] == view) return m;
  }
  return std::nullopt;
}

int64_t msSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST_F(WebGatewayFeed, TheScreenPlaysARoomOfDirectPlayersFromLobbyToPodium) {
  startGateway("127.0.0.1");
  ASSERT_TRUE(feed.accept()) << feed.clientLine();
  ASSERT_TRUE(
      feed.send("SETTINGS\t5\t2\t4\r\nJOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\n"
                "DROP\t2\r\n"));
  Page screen(port, "127.0.0.1", "/screen/ws");
  ASSERT_TRUE(screen.open());
  // The screen opens on the current view: the lobby of every player.
  std::optional<json> lobby;
  for (int i = 0; i < 20; ++i) {
    lobby = untilView(screen, "lobby");
    if (!lobby || (*lobby)["count"] == 2) break;
  }
  ASSERT_TRUE(lobby);
  EXPECT_EQ((*lobby)["count"], 2);
  EXPECT_EQ((*lobby)["names"], json::array({"Ada", "Cy"}));

  ASSERT_TRUE(feed.send("START\t2\r\nQUESTION\t1\t1\t2\t5\tQ one?\ta\tb\tc\td\r\n"));
  std::optional<json> q = untilView(screen, "question");
  ASSERT_TRUE(q);
  EXPECT_EQ((*q)["text"], "Q one?");
  EXPECT_EQ((*q)["seated"], 2);
  EXPECT_EQ((*q)["answered"], 0);
  EXPECT_FALSE(q->contains("correct"));
  ASSERT_TRUE(feed.send("ANSWERS\t1\t1\r\n"));
  std::optional<json> c = screen.until("screen.count");
  ASSERT_TRUE(c);
  EXPECT_EQ((*c)["answered"], 1);
  EXPECT_EQ((*c)["seated"], 2);

  // The server sends the next question at once; the screen keeps it back
  // for the results' pause.
  ASSERT_TRUE(
      feed.send("ANSWERS\t2\t0\r\nRESULTS\t3\t2\r\n1\t2.00\tr\r\n3\t1.00\tr\r\n"
                "QUESTION\t1\t2\t2\t5\tQ two?\ta\tb\tc\td\r\n"));
  std::optional<json> reveal = untilView(screen, "reveal");
  Clock::time_point revealedAt = Clock::now();
  ASSERT_TRUE(reveal);
  EXPECT_EQ((*reveal)["correct"], 3);
  EXPECT_EQ((*reveal)["right"], 2);
  EXPECT_EQ((*reveal)["players"], 2);
  EXPECT_EQ((*reveal)["countsOf"], "phones");
  EXPECT_EQ((*reveal)["fastest"][0]["name"], "Cy");
  q = untilView(screen, "question");
  ASSERT_TRUE(q);
  EXPECT_GE(msSince(revealedAt), kResultsMs - 50);
  EXPECT_EQ((*q)["text"], "Q two?");

  ASSERT_TRUE(
      feed.send("RESULTS\t1\t2\r\n1\t3.00\tw\r\n3\t4.00\tr\r\n"
                "SUMMARY\t1\t2\r\n1\t1\t2.5\t2\t1\t2.5\t2\r\n3\t2\t2.5\t2\t2\t2.5\t2\r\nEND\r\n"));
  ASSERT_TRUE(untilView(screen, "reveal"));
  revealedAt = Clock::now();
  std::optional<json> standings = untilView(screen, "standings");
  ASSERT_TRUE(standings);
  EXPECT_GE(msSince(revealedAt), kResultsMs - 50);
  Clock::time_point boardAt = Clock::now();
  EXPECT_EQ((*standings)["rows"][0]["name"], "Cy");
  EXPECT_EQ((*standings)["rows"][1]["name"], "Ada");
  std::optional<json> podium = untilView(screen, "end");
  ASSERT_TRUE(podium);
  EXPECT_GE(msSince(boardAt), kBoardMs - 50);
  EXPECT_EQ((*podium)["rows"][0]["name"], "Cy");

  // The server exits: the gateway connects again once it is back, and
  // meanwhile the podium stays.
  feed.closeClient();
  ASSERT_TRUE(feed.accept(4000)) << "no new connection after the server restarted";
  ASSERT_TRUE(feed.send("SETTINGS\t5\t2\t4\r\nJOIN\t1\tDi\r\n"));
  // The new server's feed, greeted: its lobby.
  Page later(port, "127.0.0.1", "/screen/ws");
  std::optional<json> m;
  do {
    m = untilView(later, "lobby");
  } while (m && (*m)["count"] != 1);
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["names"], json::array({"Di"}));
}

TEST_F(WebGatewayFeed, AFeedThatBreaksItsRulesIsClosedAndTriedAgain) {
  startGateway("127.0.0.1");
  const char* faults[] = {
      "SETTINGS\t30\t2\t4\r\nHELLO\r\n",    // an unknown message
      "SETTINGS\t30\t2\t4\r\nDROP\t7\r\n",  // a player never joined
      "SETTINGS\t30\t2\t4\r\nJOIN\t1\t",    // followed by a name past its bound
  };
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(feed.accept()) << feed.clientLine();
    std::string bytes = fault;
    if (bytes.back() == '\t') bytes += std::string(4096, 'n') + "\r\n";
    ASSERT_TRUE(feed.send(bytes));
    EXPECT_TRUE(feed.clientCloses(3000));
  }
  // After every fault the gateway is back, and a sound feed is followed.
  ASSERT_TRUE(feed.accept());
  ASSERT_TRUE(feed.send("SETTINGS\t30\t2\t4\r\nJOIN\t1\tAda\r\n"));
  Page screen(port, "127.0.0.1", "/screen/ws");
  std::optional<json> m;
  do {
    m = untilView(screen, "lobby");
  } while (m && (*m)["count"] != 1);
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["names"], json::array({"Ada"}));
}

TEST_F(WebGatewayFeed, AGatewayPlayingAgainstAnotherComputerReadsNoFeed) {
  startGateway("192.0.2.1");  // a documentation address: never this machine's
  EXPECT_FALSE(feed.accept(1500));
  Page screen(port, "127.0.0.1", "/screen/ws");
  std::optional<json> m = screen.next();
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["view"], "idle");  // as without a feed: no web player seated
}

}  // namespace
}  // namespace qova

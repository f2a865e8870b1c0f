// The host page's WebSocket over loopback: the gateway against a scripted
// room feed. The key and the wait after a wrong one, the state as the feed
// tells it, each command's line on the feed and its answer back to the
// page that sent it, the room screen's hold and a phone that is never
// reached by the host page.
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

const char kKey[] = "0123456789abcdef0123456789abcdef";

struct WebGatewayHost : ::testing::Test {
  testing::ScriptedFeed feed;
  std::optional<web::Gateway> gateway;
  std::thread gatewayThread;
  uint16_t port = 0;

  void startGateway(bool withFeed = true) {
    ASSERT_TRUE(feed.listening());
    web::GatewayOptions o;
    o.serverHost = "127.0.0.1";
    o.serverPort = 1;  // no quiz server: no seat plays in this test
    o.feedPort = withFeed ? feed.port() : 0;
    o.httpAddress = "127.0.0.1";
    o.httpPort = 0;
    o.files = web::testPageFiles();
    o.pauses = {200, 400};
    o.hostKey = kKey;
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
  std::optional<json> keyed(Page& host, const std::string& key) {
    host.send(json{{"t", "key"}, {"key", key}});
    return host.next(3000);
  }
  // The tag of a command line "COMMAND\t<tag>\t...".
  static std::string tagOf(const std::string& line) {
    return line.size() > 8 ? line.substr(8, line.find('\t', 8) - 8) : "";
  }
};

TEST_F(WebGatewayHost, TheRightKeyGetsTheStateAndCommandsGoThroughTheFeed) {
  startGateway();
  ASSERT_TRUE(feed.accept()) << feed.clientLine();
  ASSERT_TRUE(feed.send("SETTINGS\t20\t2\t4\r\nHOLD\t0\t0\r\nJOIN\t1\tAda\r\nJOIN\t2\tBo\r\n"));
  Page host(port, "127.0.0.2", "/host/ws");
  ASSERT_TRUE(host.open());
  std::optional<json> state = keyed(host, kKey);
  ASSERT_TRUE(state);
  // The feed's lines may have come before or after the key: wait for both players.
  while (state && (*state)["t"] == "state" && (*state)["players"] != 2) state = host.next(3000);
  ASSERT_TRUE(state);
  EXPECT_EQ((*state)["stage"], "lobby");
  EXPECT_EQ((*state)["held"], false);

  host.send(R"({"t":"command","id":1,"do":"start"})");
  std::string line = feed.readLine();
  ASSERT_EQ(line, "COMMAND\t" + tagOf(line) + "\tSTART\r\n");
  ASSERT_TRUE(feed.send("DONE\t" + tagOf(line) + "\r\nSTART\t2\r\n"));
  std::optional<json> answer = host.until("answer");
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, json::parse(R"({"t":"answer","id":1,"done":true})"));
  std::optional<json> between = host.until("state");
  ASSERT_TRUE(between);
  EXPECT_EQ((*between)["stage"], "between");

  host.send(R"({"t":"command","id":2,"do":"remove","player":9})");
  line = feed.readLine();
  ASSERT_EQ(line, "COMMAND\t" + tagOf(line) + "\tREMOVE\t9\r\n");
  ASSERT_TRUE(feed.send("REFUSED\t" + tagOf(line) + "\tNo such player.\r\n"));
  answer = host.until("answer");
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer,
            json::parse(R"({"t":"answer","id":2,"done":false,"reason":"No such player."})"));

  // A hold from the feed: the state says so, the room screen too once the
  // reveal has had its pause.
  Page screen(port, "127.0.0.3", "/screen/ws");
  ASSERT_TRUE(screen.open());
  ASSERT_TRUE(
      feed.send("QUESTION\t1\t1\t2\t20\tQ?\ta\tb\tc\td\r\nHOLD\t1\t0\r\n"
                "RESULTS\t1\t2\r\n1\t1.00\tr\r\n2\t2.00\tw\r\n"));
  std::optional<json> hold = screen.until("screen.hold");
  ASSERT_TRUE(hold);
  EXPECT_EQ((*hold)["held"], true);
  std::optional<json> held = host.until("state");
  while (held && (*held)["held"] != true) held = host.until("state");
  ASSERT_TRUE(held);
  // A screen that opens now gets the view and the hold over it.
  Page late(port, "127.0.0.3", "/screen/ws");
  std::optional<json> view = late.next(3000);
  ASSERT_TRUE(view);
  EXPECT_EQ((*view)["view"], "reveal");
  std::optional<json> lateHold = late.next(3000);
  ASSERT_TRUE(lateHold);
  EXPECT_EQ(*lateHold, json::parse(R"({"t":"screen.hold","held":true})"));
}

TEST_F(WebGatewayHost, WrongKeysAreDeniedAndTheAddressWaitsASecond) {
  startGateway();
  ASSERT_TRUE(feed.accept());
  ASSERT_TRUE(feed.send("SETTINGS\t20\t2\t4\r\nHOLD\t0\t0\r\n"));
  const json denied = json::parse(
      R"({"t":"denied","message":"This host link is not valid. Open the link QOVAWEB shows."})");
  Page wrong(port, "127.0.0.2", "/host/ws");
  std::optional<json> m = keyed(wrong, "ffffffffffffffffffffffffffffffff");
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, denied);
  EXPECT_FALSE(wrong.next(2000));  // closed
  Clock::time_point deniedAt = Clock::now();
  // The right key inside the second from that address: denied unread.
  Page soon(port, "127.0.0.2", "/host/ws");
  m = keyed(soon, kKey);
  ASSERT_TRUE(m);
  if (Clock::now() - deniedAt < std::chrono::milliseconds(900)) {
    EXPECT_EQ(*m, denied);
  }
  // Another address is not held up; the first once its second is over.
  Page other(port, "127.0.0.4", "/host/ws");
  m = keyed(other, kKey);
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["t"], "state");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Page after(port, "127.0.0.2", "/host/ws");
  m = keyed(after, kKey);
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["t"], "state");
  // A command before any key: denied, and nothing reaches the feed.
  Page nokey(port, "127.0.0.5", "/host/ws");
  nokey.send(R"({"t":"command","id":1,"do":"start"})");
  m = nokey.next(3000);
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, denied);
  EXPECT_EQ(feed.readLine(500), "");
}

TEST_F(WebGatewayHost, WithoutTheFeedTheHostPageIsToldAndACommandIsNotAnswered) {
  startGateway();
  ASSERT_TRUE(feed.accept());
  ASSERT_TRUE(feed.send("SETTINGS\t20\t2\t4\r\nHOLD\t0\t0\r\n"));
  Page host(port, "127.0.0.2", "/host/ws");
  ASSERT_TRUE(keyed(host, kKey));
  // The server takes the command and never answers: five seconds.
  host.send(R"({"t":"command","id":5,"do":"hold"})");
  ASSERT_NE(feed.readLine(), "");
  Clock::time_point sent = Clock::now();
  std::optional<json> answer = host.until("answer", 8000);
  ASSERT_TRUE(answer);
  int64_t waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
  EXPECT_GE(waited, 4500);
  EXPECT_EQ(*answer, json::parse(R"({"t":"answer","id":5,"done":false,)"
                                 R"("reason":"The quiz server did not answer."})"));
  // The server goes: the page is told the controls need the feed.
  feed.closeClient();
  std::optional<json> nofeed = host.until("nofeed");
  ASSERT_TRUE(nofeed);
  EXPECT_EQ((*nofeed)["message"], "The host controls need QOVAWEB on the quiz server's computer.");
}

TEST_F(WebGatewayHost, AGatewayWithNoFeedSaysSoAfterTheKey) {
  startGateway(false);
  Page host(port, "127.0.0.2", "/host/ws");
  std::optional<json> m = keyed(host, kKey);
  ASSERT_TRUE(m);
  EXPECT_EQ((*m)["t"], "nofeed");
}

}  // namespace
}  // namespace qova

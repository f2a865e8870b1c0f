#include "server/lobby.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "common/tick.h"
#include "server/game_engine.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

struct LobbyTest : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  LobbyTest() {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "30";
    app->questionsPerRound = 10;
    lobby.port = 0;
    lobby.handshakeTimeoutMs = 300;
    EXPECT_TRUE(beginLobby(*app, lobby));
  }
  uint16_t port() { return lobby.listener->localPort(); }

  // Connects a peer that sends `name` at once and lets one pass take it.
  LobbyPass join(LoopbackPeer& peer, const std::string& name) {
    EXPECT_TRUE(peer.connect(port()));
    peer.send(name + "\r\n");
    return lobbyPass(*app, lobby, 2000);
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const PlayerRecord& p : app->players) out.push_back(p.name);
    return out;
  }
  // Passes until the count changes (bounded).
  LobbyPass passUntilChanged() {
    for (int i = 0; i < 200; ++i) {
      LobbyPass r = lobbyPass(*app, lobby, 10);
      if (r != LobbyPass::kUnchanged) return r;
    }
    return LobbyPass::kUnchanged;
  }
};

TEST_F(LobbyTest, AcceptsGreetsAndKeepsClientsAndPlayersPaired) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(lobbyPass(*app, lobby), LobbyPass::kUnchanged);
  LoopbackPeer a, b, c;
  EXPECT_EQ(join(a, "Ann"), LobbyPass::kChanged);
  EXPECT_EQ(a.readLines(3, 2000), "30\r\n10\r\n0\r\n");  // no database loaded here
  EXPECT_EQ(join(b, "Bob"), LobbyPass::kChanged);
  EXPECT_EQ(join(c, "Cy"), LobbyPass::kChanged);
  EXPECT_EQ(names(), (Names{"Ann", "Bob", "Cy"}));
  ASSERT_EQ(app->clients.size(), 3u);

  // Bob leaves: the others keep their order and their connections.
  b.close();
  EXPECT_EQ(passUntilChanged(), LobbyPass::kChanged);
  EXPECT_EQ(names(), (Names{"Ann", "Cy"}));
  ASSERT_EQ(app->clients.size(), 2u);
  app->clients[1]->send("to Cy\r\n");
  EXPECT_EQ(c.readAvailable(2000).find("to Cy\r\n") != std::string::npos, true);

  // Bytes during the lobby drop the sender like a close.
  a.send("hello");
  EXPECT_EQ(passUntilChanged(), LobbyPass::kChanged);
  EXPECT_EQ(names(), Names{"Cy"});
  EXPECT_TRUE(a.waitClosed(2000));
}

TEST_F(LobbyTest, SettingsForTheDefaultsAreTheElevenBytes) {
  testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(10, 5));
  ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 10);
  LoopbackPeer a;
  join(a, "Ann");
  EXPECT_EQ(a.readAvailable(2000), std::string("30\r\n10\r\n5\r\n", 11));
}

TEST_F(LobbyTest, SilentOrOverlongHandshakeIsClosedAndTheLobbyGoesOn) {
  LoopbackPeer silent;
  ASSERT_TRUE(silent.connect(port()));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kUnchanged);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(app->players.empty());
  EXPECT_TRUE(app->clients.empty());
  EXPECT_TRUE(silent.waitClosed(2000));

  LoopbackPeer flood;
  ASSERT_TRUE(flood.connect(port()));
  flood.send(std::string(kMaxNameBytes + 10, 'x'));
  EXPECT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kUnchanged);
  EXPECT_TRUE(app->players.empty());
  EXPECT_TRUE(flood.waitClosed(2000));

  LoopbackPeer ann;
  EXPECT_EQ(join(ann, "Ann"), LobbyPass::kChanged);
  EXPECT_EQ(app->players.size(), 1u);
}

TEST_F(LobbyTest, EmptyNameIsClosedLikeAnOverlongOne) {
  for (const char* line : {"\r\n", "\r\nAnn\r\n"}) {
    LoopbackPeer nameless;
    EXPECT_EQ(join(nameless, line), LobbyPass::kUnchanged);
    EXPECT_TRUE(app->players.empty());
    EXPECT_TRUE(app->clients.empty());
    EXPECT_TRUE(nameless.waitClosed(2000));
  }
  LoopbackPeer ann;
  EXPECT_EQ(join(ann, "Ann"), LobbyPass::kChanged);
  EXPECT_EQ(names(), std::vector<std::string>{"Ann"});
}

// Handshakes run beside each other and beside the lobby's other work: silent
// connections hold up neither a real player nor a single pass (between two
// passes the window answers Start and Quit).
TEST_F(LobbyTest, SilentConnectionsHoldUpNobody) {
  lobby.handshakeTimeoutMs = 1500;
  testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(10, 5));
  ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 10);
  const std::string settings("30\r\n10\r\n5\r\n");
  using Clock = std::chrono::steady_clock;
  Clock::duration longestPass{};
  auto pass = [&] {
    auto start = Clock::now();
    LobbyPass r = lobbyPass(*app, lobby);
    longestPass = std::max(longestPass, Clock::now() - start);
    return r;
  };
  std::vector<LoopbackPeer> silent(20);
  for (size_t n = 0; n < silent.size(); ++n) {
    ASSERT_TRUE(silent[n].connect(port()));
    for (int i = 0; i < 200 && lobby.handshakes.size() <= n; ++i) lobbyPass(*app, lobby, 5);
  }
  ASSERT_EQ(lobby.handshakes.size(), 20u);
  // Each was greeted at once.
  for (LoopbackPeer& peer : silent) EXPECT_EQ(peer.readLines(3, 1000), settings);

  LoopbackPeer ann;
  auto connected = Clock::now();
  ASSERT_TRUE(ann.connect(port()));
  std::string greeting;
  while (greeting.size() < settings.size() && Clock::now() - connected < std::chrono::seconds(1)) {
    pass();
    greeting += ann.readAvailable(0);
  }
  EXPECT_EQ(greeting, settings);
  EXPECT_LT(Clock::now() - connected, std::chrono::seconds(1));
  ann.send("Ann\r\n");
  while (app->players.empty() && Clock::now() - connected < std::chrono::seconds(1)) pass();
  EXPECT_EQ(names(), std::vector<std::string>{"Ann"});
  EXPECT_LT(Clock::now() - connected, std::chrono::seconds(1));
  EXPECT_LT(longestPass, std::chrono::milliseconds(250));

  // Their deadlines pass: all twenty are closed, Ann stays.
  auto deadline = connected + std::chrono::seconds(3);
  while (!lobby.handshakes.empty() && Clock::now() < deadline) lobbyPass(*app, lobby, 10);
  EXPECT_TRUE(lobby.handshakes.empty());
  for (LoopbackPeer& peer : silent) EXPECT_TRUE(peer.waitClosed(1000));
  EXPECT_EQ(names(), std::vector<std::string>{"Ann"});
  EXPECT_EQ(app->clients.size(), 1u);
}

// Players join in the order their names arrive, so that a slow one holds up
// nobody; names that arrive for the same pass keep the connections' order.
TEST_F(LobbyTest, PlayersJoinAsTheirNamesArrive) {
  using Names = std::vector<std::string>;
  LoopbackPeer slow, quick;
  ASSERT_TRUE(slow.connect(port()));
  EXPECT_EQ(lobbyPass(*app, lobby, 50), LobbyPass::kUnchanged);
  EXPECT_EQ(join(quick, "Quick"), LobbyPass::kChanged);
  slow.send("Slow\r\n");
  EXPECT_EQ(passUntilChanged(), LobbyPass::kChanged);
  EXPECT_EQ(names(), (Names{"Quick", "Slow"}));

  LoopbackPeer first, second;
  ASSERT_TRUE(first.connect(port()));
  ASSERT_TRUE(second.connect(port()));
  while (lobby.handshakes.size() < 2) ASSERT_EQ(lobbyPass(*app, lobby, 50), LobbyPass::kUnchanged);
  second.send("Second\r\n");
  first.send("First\r\n");
  // Both lines are in before the next pass looks.
  EXPECT_EQ(first.readLines(3, 1000).size(), 11u);
  EXPECT_EQ(second.readLines(3, 1000).size(), 11u);
  EXPECT_EQ(lobbyPass(*app, lobby, 50), LobbyPass::kChanged);
  EXPECT_EQ(names(), (Names{"Quick", "Slow", "First", "Second"}));
  ASSERT_EQ(app->clients.size(), 4u);
  app->clients[2]->send("to First\r\n");
  EXPECT_EQ(first.readAvailable(2000), "to First\r\n");
}

TEST_F(LobbyTest, HandshakesUnderWayAreClosedWhenTheLobbyEnds) {
  LoopbackPeer ann, silent;
  join(ann, "Ann");
  ASSERT_TRUE(silent.connect(port()));
  while (lobby.handshakes.empty()) lobbyPass(*app, lobby, 50);
  app->lobbyOutcome = kLobbyStart;
  endLobby(*app, lobby);
  EXPECT_TRUE(lobby.handshakes.empty());
  EXPECT_TRUE(silent.waitClosed(2000));
  EXPECT_EQ(names(), std::vector<std::string>{"Ann"});
}

TEST_F(LobbyTest, PeerClosingDuringHandshakeIsDroppedOnTheSamePass) {
  LoopbackPeer gone;
  ASSERT_TRUE(gone.connect(port()));
  gone.close();
  EXPECT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kChanged);
  EXPECT_TRUE(app->players.empty());
  EXPECT_TRUE(app->clients.empty());
}

#ifndef _WIN32
TEST_F(LobbyTest, FailedAcceptEndsTheLobbyKeepingThePlayers) {
  LoopbackPeer a;
  join(a, "Ann");
  // A socket that was never set listening reads as ready, and accepting on
  // it fails.
  lobby.listener.emplace();
  EXPECT_EQ(lobbyPass(*app, lobby), LobbyPass::kFailed);
  EXPECT_EQ(app->errorText, "Error in accept().");
  EXPECT_FALSE(lobby.listener.has_value());
  EXPECT_EQ(app->players.size(), 1u);
  EXPECT_EQ(app->clients.size(), 1u);
  EXPECT_EQ(app->errorFlags, kStartupErrorFlags);
  EXPECT_EQ(app->exitCode, 1);
}
#endif

#ifndef _WIN32
// Lowers the descriptor limit so that no further descriptor can be opened,
// and restores it.
struct DescriptorLimit {
  rlimit saved{};
  DescriptorLimit() { getrlimit(RLIMIT_NOFILE, &saved); }
  ~DescriptorLimit() { restore(); }
  // The lowest free descriptor number becomes the limit.
  bool exhaust() {
    int lowest = dup(0);
    if (lowest < 0) return false;
    ::close(lowest);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    return setrlimit(RLIMIT_NOFILE, &low) == 0;
  }
  void restore() { setrlimit(RLIMIT_NOFILE, &saved); }
};

TEST_F(LobbyTest, RunningOutOfDescriptorsPausesAcceptingAndKeepsThePlayers) {
  LoopbackPeer ann, bob;
  join(ann, "Ann");
  ASSERT_TRUE(bob.connect(port()));
  ASSERT_TRUE(bob.send("Bob\r\n"));
  DescriptorLimit limit;
  ASSERT_TRUE(limit.exhaust());
  ASSERT_TRUE(lobby.listener->pollReadable(2000));
  uint32_t failedAt = tickCount();
  EXPECT_EQ(lobbyPass(*app, lobby), LobbyPass::kUnchanged);
  EXPECT_TRUE(lobby.listener.has_value());
  EXPECT_EQ(app->errorText, "");
  EXPECT_TRUE(lobby.acceptPaused);
  // Accepting waits out the back-off even once descriptors are free again.
  limit.restore();
  lobbyPass(*app, lobby);
  if (tickCount() - failedAt < kAcceptBackoffMs / 2) {
    EXPECT_TRUE(lobby.handshakes.empty());
    EXPECT_EQ(app->players.size(), 1u);
  }
  EXPECT_EQ(passUntilChanged(), LobbyPass::kChanged);
  EXPECT_EQ(names(), (std::vector<std::string>{"Ann", "Bob"}));
  app->clients[0]->send("to Ann\r\n");
  EXPECT_NE(ann.readAvailable(2000).find("to Ann\r\n"), std::string::npos);
}
#endif

TEST_F(LobbyTest, SecondServerCannotListenOnTheSamePort) {
  LobbyState second;
  second.port = port();
  app->errorFlags = 0;
  EXPECT_FALSE(beginLobby(*app, second));
  EXPECT_EQ(app->errorText, "Error setting up listening socket.");
  EXPECT_EQ(app->errorFlags, kStartupErrorFlags);
  EXPECT_EQ(app->exitCode, 1);
  EXPECT_FALSE(second.listener.has_value());
}

TEST_F(LobbyTest, StartClosesTheListenerAndRefusesNewcomers) {
  LoopbackPeer a;
  join(a, "Ann");
  uint16_t p = port();
  app->lobbyOutcome = kLobbyStart;
  endLobby(*app, lobby);
  EXPECT_FALSE(lobby.listener.has_value());
  EXPECT_FALSE(app->quitPosted);
  LoopbackPeer late;
  EXPECT_FALSE(late.connect(p));
  EXPECT_EQ(app->clients.size(), 1u);
}

TEST_F(LobbyTest, QuitShutsDownWithCodeZeroListingThePlayers) {
  LoopbackPeer a;
  join(a, "Ann");
  testing::writeFileBytes(app->markerPath, "127.0.0.1");
  app->lobbyOutcome = kLobbyQuit;
  endLobby(*app, lobby);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_TRUE(app->clients.empty());
  EXPECT_TRUE(a.waitClosed(2000));
  EXPECT_FALSE(testing::fileExists(app->markerPath));
  EXPECT_EQ(testing::readFileBytes(app->resultsFileName),
            "Player: Ann\r\n\r\n  Average time: 0 seconds\r\n  Percent correct: 0%\r\n\r\n");
}

TEST_F(LobbyTest, StartWithNobodyEndsWithAllClientsDropped) {
  app->lobbyOutcome = kLobbyStart;
  endLobby(*app, lobby);
  GameState game;
  EXPECT_FALSE(gameTick(*app, game));
  EXPECT_EQ(app->errorText, "All clients have dropped.");
  EXPECT_EQ(app->errorFlags, kDroppedErrorFlags);
  EXPECT_EQ(app->exitCode, 0);
  reportError();
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].type, kMbOk);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_EQ(testing::readFileBytes(app->resultsFileName), "");
}

}  // namespace
}  // namespace qova

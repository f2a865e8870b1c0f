#include "server/lobby.h"

#include <gtest/gtest.h>

#include <chrono>

#include "server/game_engine.h"
#include "server/loopback_peer.h"
#include "server/server_test_support.h"

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
  testing::writeFileBytes(dir.file("q.qdb"), testing::questionFileBytes(10, 5));
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
  app->lobbyOutcome = LobbyStart;
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
  app->lobbyOutcome = LobbyQuit;
  endLobby(*app, lobby);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_TRUE(app->clients.empty());
  EXPECT_TRUE(a.waitClosed(2000));
  EXPECT_FALSE(testing::fileExists(app->markerPath));
  EXPECT_EQ(testing::readFileBytes(app->resultsFileName),
            "Player: Ann\r\n\r\n  Average time: 0 seconds\r\n  Percent correct: 0%\r\n\r\n");
}

TEST_F(LobbyTest, StartWithNobodyEndsWithAllClientsDropped) {
  app->lobbyOutcome = LobbyStart;
  endLobby(*app, lobby);
  GameState game;
  EXPECT_FALSE(gameTick(*app, game));
  EXPECT_EQ(app->errorText, "All clients have dropped.");
  EXPECT_EQ(app->errorFlags, 0x12u);
  EXPECT_EQ(app->exitCode, 0);
  reportError();
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].type, kMbOk);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_EQ(testing::readFileBytes(app->resultsFileName), "");
}

}  // namespace
}  // namespace qova

// The lobby's and the game's turns driven through the real wait: each kind of
// event ends the wait and gets its turn, and with none coming the wait does
// not end (the program rests instead of polling).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/tick.h"
#include "net/socket_wait.h"
#include "server/game_engine.h"
#include "server/host_commands.h"
#include "server/lobby.h"
#include "testing/background_call.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::BackgroundCall;
using testing::LoopbackPeer;

// How long an event is held back, and how long nothing may come before.
constexpr int kEventAfterMs = 150;
constexpr int kRestMs = 400;

// The game's clock runs `offset` ahead of the real one, so that a test puts
// the deadline a short real time ahead.
std::atomic<uint32_t> clockOffset{0};
uint32_t offsetTicks() { return tickCount() + clockOffset.load(); }

struct WaitLoop : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  SocketWait wait;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;

  WaitLoop() {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "20";
    app->questionsPerRound = 3;
    testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(5));
    EXPECT_EQ(app->questions.load(dir.file("q.qdb")), 5);
    lobby.port = 0;
    lobby.handshakeTimeoutMs = 5000;
    EXPECT_TRUE(beginLobby(*app, lobby));
  }
  ~WaitLoop() override { app->clients.clear(); }

  LoopbackPeer& connect() {
    peers.push_back(std::make_unique<LoopbackPeer>());
    EXPECT_TRUE(peers.back()->connect(lobby.listener->localPort()));
    return *peers.back();
  }
  // Players that have joined through the waiting lobby.
  void join(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      LoopbackPeer& peer = connect();
      peer.send(name + "\r\n");
      size_t before = app->clients.size();
      for (int i = 0; i < 20 && app->clients.size() == before; ++i) {
        lobbyWaitPass(*app, lobby, wait, 1000);
      }
      ASSERT_EQ(app->clients.size(), before + 1) << name;
      ASSERT_EQ(peer.readLines(3, 2000), "20\r\n3\r\n4\r\n");
    }
  }
  // The game started and its first question out and read.
  void start(const std::vector<std::string>& names) {
    join(names);
    app->lobbyOutcome = kLobbyStart;
    endLobby(*app, lobby);
    ASSERT_TRUE(gameWaitTurn(*app, game, wait, 1000));
    ASSERT_EQ(game.questionIndex, 1);
    for (auto& peer : peers) ASSERT_EQ(peer->readLines(6, 2000).size() > 0, true);
  }
};

// The lobby's wait ends for each of its events, and its pass does what the
// event asks.
TEST_F(WaitLoop, LobbyWaitEndsForEachEvent) {
  join({"Ann"});
  struct Case {
    const char* what;
    std::function<void()> event;
    LobbyPass expected;
    std::function<bool()> done;
  };
  LoopbackPeer* newcomer = nullptr;
  const Case cases[] = {
      {"a connection at the listener", [&] { newcomer = &connect(); }, LobbyPass::kUnchanged,
       [&] { return lobby.handshakes.size() == 1; }},
      {"a name at the handshake", [&] { newcomer->send("Bob\r\n"); }, LobbyPass::kChanged,
       [&] { return app->clients.size() == 2 && lobby.handshakes.empty(); }},
      {"a player's close", [&] { peers[0]->close(); }, LobbyPass::kChanged,
       [&] { return app->clients.size() == 1 && app->players[0].name == "Bob"; }},
      {"a wake", [&] { wait.wake(); }, LobbyPass::kMessage,
       [&] { return app->clients.size() == 1; }},
  };
  for (const Case& c : cases) {
    LobbyPass pass = LobbyPass::kFailed;
    BackgroundCall call([&] { pass = lobbyWaitPass(*app, lobby, wait); });
    EXPECT_FALSE(call.returnsWithin(kEventAfterMs)) << c.what << ": returned before the event";
    c.event();
    ASSERT_TRUE(call.returnsWithin(2000)) << c.what;
    call.join();
    EXPECT_EQ(pass, c.expected) << c.what;
    EXPECT_TRUE(c.done()) << c.what;
  }
}

// A silent handshake's time sets the wait's timeout: the pass that closes it
// comes when its time is up, not before and not much after.
TEST_F(WaitLoop, LobbyWaitEndsWhenAHandshakesTimeIsUp) {
  lobby.handshakeTimeoutMs = 300;
  LoopbackPeer& silent = connect();
  ASSERT_EQ(lobbyWaitPass(*app, lobby, wait, 2000), LobbyPass::kUnchanged);
  ASSERT_EQ(lobby.handshakes.size(), 1u);
  BackgroundCall call([&] { lobbyWaitPass(*app, lobby, wait); });
  ASSERT_TRUE(call.returnsWithin(2000));
  call.join();
  EXPECT_GE(call.returnedAfterMs(), 200);
  EXPECT_TRUE(lobby.handshakes.empty());
  EXPECT_TRUE(silent.waitClosed(2000));
  // With nothing left to fall due, the next wait has no end of its own.
  BackgroundCall rest([&] { lobbyWaitPass(*app, lobby, wait); });
  EXPECT_FALSE(rest.returnsWithin(kRestMs));
  wait.wake();
  EXPECT_TRUE(rest.returnsWithin(2000));
}

// The game's wait ends for each of its events; a turn then does what the
// event asks, and with none the wait does not end.
TEST_F(WaitLoop, GameWaitEndsForEachEvent) {
  start({"Ann", "Bob"});
  struct Case {
    const char* what;
    std::function<void()> event;
    WaitOutcome expected;
    std::function<bool()> done;
  };
  const Case cases[] = {
      {"a wake", [&] { wait.wake(); }, WaitOutcome::kWoken,
       [&] { return game.pendingAnswers == 2; }},
      {"an answer", [&] { peers[0]->send("1.5\r\nr"); }, WaitOutcome::kReady,
       [&] { return game.pendingAnswers == 1 && app->players[0].rounds[0].size() == 1; }},
      {"the last answer", [&] { peers[1]->send("2\r\nw"); }, WaitOutcome::kReady,
       [&] { return game.questionIndex == 2 && game.pendingAnswers == 2; }},
      {"a close", [&] { peers[1]->close(); }, WaitOutcome::kReady,
       [&] { return app->clients.size() == 1 && game.pendingAnswers == 1; }},
  };
  for (const Case& c : cases) {
    WaitOutcome outcome = WaitOutcome::kFailed;
    bool going = false;
    BackgroundCall call([&] { going = gameWaitTurn(*app, game, wait, -1, &outcome); });
    EXPECT_FALSE(call.returnsWithin(kEventAfterMs)) << c.what << ": returned before the event";
    c.event();
    ASSERT_TRUE(call.returnsWithin(2000)) << c.what;
    call.join();
    EXPECT_TRUE(going) << c.what;
    EXPECT_EQ(outcome, c.expected) << c.what;
    EXPECT_TRUE(c.done()) << c.what;
  }
  // The results and the next question followed the last answer at once.
  std::string results = "Ann\r\n1.5\r\nr\r\nBob\r\n2\r\nw\r\n\r\n";
  EXPECT_EQ(peers[0]->readLines(7, 2000), results);
  // With the last player gone the turn ends the game.
  bool going = true;
  BackgroundCall call([&] { going = gameWaitTurn(*app, game, wait); });
  EXPECT_FALSE(call.returnsWithin(kEventAfterMs));
  peers[0]->close();
  ASSERT_TRUE(call.returnsWithin(2000));
  call.join();
  EXPECT_FALSE(going);
  EXPECT_EQ(app->errorText, "All clients have dropped.");
}

// The deadline sets the wait's timeout: with the game's clock put 300 ms
// before it, the wait ends about then and the turn records the missed
// answers and sends the results.
TEST_F(WaitLoop, GameWaitEndsAtTheDeadline) {
  clockOffset = 0;
  app->ticks = offsetTicks;
  start({"Ann", "Bob"});
  ASSERT_GT(game.deadlineMs, 1000u);
  clockOffset = game.deadlineMs - 300;
  peers[0]->send("1\r\nr");
  ASSERT_TRUE(gameWaitTurn(*app, game, wait, 2000));
  ASSERT_EQ(game.pendingAnswers, 1);
  WaitOutcome outcome = WaitOutcome::kFailed;
  BackgroundCall call([&] { gameWaitTurn(*app, game, wait, -1, &outcome); });
  EXPECT_FALSE(call.returnsWithin(150));
  ASSERT_TRUE(call.returnsWithin(3000));
  call.join();
  EXPECT_GE(call.returnedAfterMs(), 200);
  EXPECT_EQ(outcome, WaitOutcome::kTimeout);
  EXPECT_EQ(game.questionIndex, 2);
  EXPECT_EQ(peers[1]->readLines(7, 2000), "Ann\r\n1\r\nr\r\nBob\r\n20.00\r\nw\r\n\r\n");
  clockOffset = 0;
}

// Bytes that a player's socket could not take wait in the outbox; the wait
// ends when the socket can take more, and the turn sends them.
TEST_F(WaitLoop, GameWaitEndsWhenQueuedBytesCanGo) {
  start({"Ann"});
  LoopbackPeer& ann = *peers[0];
  // More than the two socket buffers hold: the rest waits in the outbox.
  const std::string big(12 << 20, 'x');
  app->clients[0]->send(big);
  ASSERT_TRUE(app->clients[0]->hasPendingOutput());
  std::string got;
  BackgroundCall call([&] {
    WaitOutcome outcome = WaitOutcome::kFailed;
    while (app->clients[0]->hasPendingOutput() && outcome != WaitOutcome::kWoken) {
      gameWaitTurn(*app, game, wait, -1, &outcome);
    }
  });
  EXPECT_FALSE(call.returnsWithin(kEventAfterMs));
  // Reading makes room; every byte arrives, in order.
  while (got.size() < big.size()) {
    std::string more = ann.readAvailable(2000);
    if (more.empty()) break;
    got += more;
  }
  EXPECT_TRUE(call.returnsWithin(2000));
  if (!call.returned()) wait.wake();
  call.join();
  EXPECT_EQ(got.size(), big.size());
  EXPECT_EQ(got, big);
  EXPECT_FALSE(app->clients[0]->hasPendingOutput());
}

// The operator's End Question comes as a window message between waits: the
// next wait does not wait, and the turn sends the results.
TEST_F(WaitLoop, EndQuestionMakesTheNextTurnComeAtOnce) {
  start({"Ann"});
  ASSERT_TRUE(endQuestion(*app, game));
  EXPECT_EQ(gameDueMs(*app, game), 0);
  BackgroundCall call([&] { gameWaitTurn(*app, game, wait); });
  EXPECT_TRUE(call.returnsWithin(1000));
  call.join();
  EXPECT_EQ(game.questionIndex, 2);
}

// A feed client's REMOVE in the lobby is a change the lobby's window must
// show, and its START ends the lobby as the window's Start does.
TEST_F(WaitLoop, TheLobbysWaitReportsAFeedsRemovalAndStart) {
  app->feed.port = 0;
  ASSERT_TRUE(openRoomFeed(*app));
  app->feed.onCommand = [&](const FeedCommand& c) { return runHostCommand(*app, game, c); };
  join({"Ann", "Bob"});
  LoopbackPeer feed;
  ASSERT_TRUE(feed.connect(roomFeedPort(*app)));
  ASSERT_EQ(lobbyWaitPass(*app, lobby, wait, 1000), LobbyPass::kUnchanged);  // accepted
  ASSERT_TRUE(feed.send("QOVA ROOM FEED\t1\r\nCOMMAND\t1\tREMOVE\t1\r\n"));
  LobbyPass pass = LobbyPass::kUnchanged;
  for (int i = 0; i < 20 && app->clients.size() == 2; ++i) {
    pass = lobbyWaitPass(*app, lobby, wait, 1000);
  }
  EXPECT_EQ(pass, LobbyPass::kChanged);
  ASSERT_EQ(app->players.size(), 1u);
  EXPECT_EQ(app->players[0].name, "Bob");
  EXPECT_TRUE(peers[0]->waitClosed(2000));
  ASSERT_TRUE(feed.send("COMMAND\t2\tSTART\r\n"));
  for (int i = 0; i < 20 && app->lobbyOutcome == kLobbyWaiting; ++i) {
    lobbyWaitPass(*app, lobby, wait, 1000);
  }
  EXPECT_EQ(app->lobbyOutcome, kLobbyStart);
  std::string told = feed.readAvailable(500);
  EXPECT_NE(told.find("REMOVE\t1\r\nDONE\t1\r\n"), std::string::npos) << told;
  EXPECT_NE(told.find("DONE\t2\r\n"), std::string::npos) << told;
  roomFeedEnd(*app);
}

// Held with no question out the wait has no end of its own (no timer, no
// player asked about); a feed client's GO ON ends it, and that same turn
// sends the next question.
TEST_F(WaitLoop, AHeldGameRestsUntilGoOnComesThroughTheFeed) {
  app->feed.port = 0;
  ASSERT_TRUE(openRoomFeed(*app));
  app->feed.onCommand = [&](const FeedCommand& c) { return runHostCommand(*app, game, c); };
  start({"Ann"});
  LoopbackPeer feed;
  ASSERT_TRUE(feed.connect(roomFeedPort(*app)));
  ASSERT_TRUE(feed.send("QOVA ROOM FEED\t1\r\nCOMMAND\t1\tHOLD\r\n"));
  for (int i = 0; i < 20 && feed.readAvailable(0).find("DONE\t1\r\n") == std::string::npos; ++i) {
    gameWaitTurn(*app, game, wait, 100);
  }
  ASSERT_TRUE(game.held);
  peers[0]->send("1\r\nr");
  ASSERT_TRUE(gameWaitTurn(*app, game, wait, 2000));
  ASSERT_TRUE(waitingForGoOn(game));
  EXPECT_EQ(peers[0]->readLines(4, 2000), "Ann\r\n1\r\nr\r\n\r\n");
  feed.readAvailable(50);
  BackgroundCall rest([&] { gameWaitTurn(*app, game, wait); });
  EXPECT_FALSE(rest.returnsWithin(kRestMs)) << "a held game woke by itself";
  ASSERT_TRUE(feed.send("COMMAND\t2\tGO ON\r\n"));
  ASSERT_TRUE(rest.returnsWithin(2000));
  rest.join();
  EXPECT_TRUE(game.questionOut);
  EXPECT_EQ(game.questionIndex, 2);
  EXPECT_EQ(peers[0]->readLines(6, 2000).size() > 0, true);
  std::string told = feed.readAvailable(500);
  EXPECT_EQ(told.find("HOLD\t0\t0\r\nDONE\t2\r\nQUESTION\t1\t2\t"), 0u) << told;
  roomFeedEnd(*app);
}

}  // namespace
}  // namespace qova

// A server with its players on loopback for the engine's tests: the lobby
// opened on a free port, the players joined through it, the game started,
// and the draws the engine will make known in advance.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/game_engine.h"
#include "server/lobby.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"
#include "wire/server_side.h"

namespace qova::testing {

// The question message of record n of the test question file.
inline std::string questionText(int32_t n) {
  const TestRecord r = numberedRecord(n, 4);
  return questionMessage({r.question, r.responses, static_cast<char>('0' + r.correct)});
}

// The next message of the length of `expected`, counted in lines.
inline std::string readLike(LoopbackPeer& peer, const std::string& expected) {
  int lines = 0;
  for (size_t at = expected.find("\r\n"); at != std::string::npos;
       at = expected.find("\r\n", at + 2)) {
    ++lines;
  }
  return peer.readLines(lines, 2000);
}

// One server with its players on loopback, for a test or for one row of a
// table.
struct GameBench {
  TempDir dir;
  ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;
  RandomGenerator expectedDraws;
  bool keepLobby = false;  // setUp leaves the lobby open

  void setUp(int records, int32_t perRound, const std::vector<std::string>& names) {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "20";
    app->questionsPerRound = perRound;
    writeFileBytes(dir.file("q.qdb"), numberedQuestionFile(records));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), records);
    lobby.port = 0;
    ASSERT_TRUE(beginLobby(*app, lobby));
    for (const std::string& name : names) {
      peers.push_back(std::make_unique<LoopbackPeer>());
      ASSERT_TRUE(peers.back()->connect(lobby.listener->localPort()));
      peers.back()->send(name + "\r\n");
      ASSERT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kChanged);
      ASSERT_EQ(peers.back()->readLines(3, 2000).substr(0, 4), "20\r\n");
    }
    if (keepLobby) return;
    app->lobbyOutcome = kLobbyStart;
    endLobby(*app, lobby);
    seedRandom(99);
    expectedDraws.seed(99);
  }
  std::vector<int32_t> nextRound() {
    return drawRecordNumbers(app->questionsPerRound, app->questions.recordCount(), expectedDraws);
  }
  LoopbackPeer& peer(size_t i) { return *peers[i]; }

  // Calls gameTick until `done` holds, at most about two seconds; false when
  // it never did or the game ended.
  bool tickUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (!gameTick(*app, game)) return false;
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  size_t answersOf(size_t player) {
    const PlayerRecord& p = app->players[player];
    return p.rounds.empty() ? 0 : p.rounds.back().size();
  }
  // Nothing arrives at any open peer within a short while.
  void expectSilence() {
    for (auto& p : peers) {
      if (p->isOpen()) {
        EXPECT_EQ(p->readAvailable(40), "");
      }
    }
  }
};

}  // namespace qova::testing

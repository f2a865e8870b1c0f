// qova_try_server: the quiz server's portable engine as a bare console
// program, for trying the gateway and its page natively without the Windows
// server. Not part of the gateway (which never links the engine): a
// developer's stand-in that plays the real engine's conversation.
//
//   qova_try_server [--questions FILE.qdb] [--time-limit TEXT] [--per-round N] [--port P]
//                   [--feed-port P]
//
// It listens in the lobby until Enter is pressed, then plays until Ctrl+C
// (or until every player has left) and writes endscores.txt into the
// current folder. Without --questions it plays 30 generated questions. Like
// QOVAHOST it offers the room feed on 127.0.0.1 (port 5633 unless
// --feed-port says otherwise; without the port it plays on without a feed),
// and takes the host's commands there: START ends the lobby as Enter does,
// and the game can be held, let go on, have its question ended or a player
// removed. The game waits as QOVAHOST's does, in one wait over its sockets.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "net/socket_wait.h"
#include "server/game_engine.h"
#include "server/host_commands.h"
#include "server/lobby.h"
#include "server/server_app.h"
#include "testing/test_qdb_file.h"

namespace {

volatile std::sig_atomic_t quit = 0;
qova::SocketWait* gameWait = nullptr;  // woken by Ctrl+C
void onSignal(int) {
  const int saved = errno;
  quit = 1;
  if (gameWait != nullptr) gameWait->wake();
  errno = saved;
}

bool enterPressed() {
  pollfd p = {0, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char buffer[256];
  return read(0, buffer, sizeof buffer) >= 0;
}

std::string generatedQuestions(int count) {
  std::vector<qova::testing::TestRecord> records;
  for (int n = 1; n <= count; ++n) {
    records.push_back(
        {"Question " + std::to_string(n) + ": which answer is " + std::to_string(1 + n % 4) + "?",
         {"Answer 1", "Answer 2", "Answer 3", "Answer 4"},
         1 + n % 4});
  }
  return qova::testing::qdbBytes(256, 4, records);
}

}  // namespace

int main(int argc, char** argv) {
  std::string questions, timeLimit = "20";
  int perRound = 3;
  long port = qova::kServerPort;
  long feedPort = qova::kRoomFeedPort;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--questions") {
      questions = argv[i + 1];
    } else if (arg == "--time-limit") {
      timeLimit = argv[i + 1];
    } else if (arg == "--per-round") {
      perRound = std::atoi(argv[i + 1]);
    } else if (arg == "--port") {
      port = std::strtol(argv[i + 1], nullptr, 10);
    } else if (arg == "--feed-port") {
      feedPort = std::strtol(argv[i + 1], nullptr, 10);
    } else {
      std::fprintf(stderr, "qova_try_server: cannot use the option \"%s\"\n", argv[i]);
      return 2;
    }
  }
  if (argc % 2 == 0 || perRound < 1 || port < 1 || port > 65535 || feedPort < 1 ||
      feedPort > 65535) {
    std::fprintf(stderr,
                 "Usage: qova_try_server [--questions FILE.qdb] [--time-limit TEXT] "
                 "[--per-round N] [--port P] [--feed-port P]\n");
    return 2;
  }
  if (questions.empty()) {
    questions = "try_server_questions.qdb";
    std::ofstream(questions, std::ios::binary) << generatedQuestions(30);
  }
  qova::socketStartup();
  qova::ServerAppRef app;
  app->markerPath = "try_server_marker.dat";
  app->timeLimitText = timeLimit;
  app->questionsPerRound = perRound;
  app->feed.port = static_cast<int>(feedPort);
  qova::GameState game;
  app->feed.onCommand = [&](const qova::FeedCommand& command) {
    return qova::runHostCommand(*app, game, command);
  };
  if (app->questions.load(questions) <= 0) {
    std::fprintf(stderr, "qova_try_server: cannot load %s\n", questions.c_str());
    return 1;
  }
  qova::LobbyState lobby;
  lobby.port = static_cast<uint16_t>(port);
  if (!qova::beginLobby(*app, lobby)) {
    std::fprintf(stderr, "qova_try_server: %s\n", app->errorText.c_str());
    return 1;
  }
  if (qova::roomFeedPort(*app) != 0) {
    std::printf("Room feed on 127.0.0.1 port %u.\n", qova::roomFeedPort(*app));
  } else {
    std::printf("%s\n", qova::roomFeedUnavailableText(app->feed.port).c_str());
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("Lobby open on port %ld (time limit \"%s\", %d per round). Press Enter to start.\n",
              port, timeLimit.c_str(), perRound);
  std::fflush(stdout);
  size_t shown = 0;
  qova::SocketWait wait;
  gameWait = &wait;
  while (!quit && app->lobbyOutcome == qova::kLobbyWaiting && !enterPressed()) {
    qova::lobbyPass(*app, lobby, 20);
    if (app->players.size() != shown) {
      shown = app->players.size();
      std::printf("Players connected: %zu\n", shown);
      std::fflush(stdout);
    }
  }
  app->lobbyOutcome = qova::kLobbyStart;
  qova::endLobby(*app, lobby);
  std::printf("Game started with %zu players; Ctrl+C ends it.\n", app->players.size());
  std::fflush(stdout);
  bool going = true;
  while (!quit && going) going = qova::gameWaitTurn(*app, game, wait);
  if (!going) std::printf("%s\n", app->errorText.c_str());
  qova::shutdownServer(0);
  std::printf("Results written to endscores.txt\n");
  return 0;
}

#include "server/room_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "common/run_log.h"
#include "net/peer_address.h"
#include "server/game_engine.h"
#include "server/host_commands.h"
#include "server/lobby.h"
#include "server/server_app.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

const std::string kGreeting = "QOVA ROOM FEED\t1\r\n";

uint32_t fakeNow = 1000;
uint32_t fakeTicks() { return fakeNow; }

// The feed alone on a free port, on a clock the test moves; the players are
// records only (the engine's own tests play them over sockets).
struct RoomFeedTest : ::testing::Test {
  testing::TempDir dir;
  ServerAppRef app;
  uint32_t& now = fakeNow;

  void SetUp() override {
    socketStartup();
    app->ticks = fakeTicks;
    app->logFileName = dir.file("errLog.txt");
    app->timeLimitText = "30";
    app->questionsPerRound = 2;
    app->feed.port = 0;
    ASSERT_TRUE(openRoomFeed(*app));
  }
  void TearDown() override { roomFeedEnd(*app); }

  // One wait's worth of the feed's work: its sockets queried (up to
  // `waitMs`), then served.
  void pump(int waitMs = 0) {
    std::vector<PollEntry> entries;
    roomFeedAddEntries(*app, entries);
    pollSockets(entries.data(), entries.size(), waitMs);
    roomFeedService(*app, entries, 0);
  }
  // Pumps until `done` or a second has passed.
  bool pumpUntil(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      pump(5);
    }
    return true;
  }
  // A client connected, its server greeting read, and (when `greet`) its
  // own sent and taken, with the SETTINGS line it then gets read too.
  std::unique_ptr<LoopbackPeer> connect(bool greet = true) {
    auto peer = std::make_unique<LoopbackPeer>();
    size_t before = app->feed.clients.size();
    EXPECT_TRUE(peer->connect(roomFeedPort(*app)));
    EXPECT_TRUE(pumpUntil([&] { return app->feed.clients.size() > before; }));
    EXPECT_EQ(peer->readLines(1, 1000), kGreeting);
    if (greet) {
      EXPECT_TRUE(peer->send(kGreeting));
      FeedClient* client = app->feed.clients.back().get();
      EXPECT_TRUE(pumpUntil([&] { return client->greeted; }));
    }
    return peer;
  }
  // Everything that arrives now, the feed pumped first.
  std::string received(LoopbackPeer& peer) {
    pump();
    return peer.readAvailable(50);
  }
  // Reads what the feed sends `peer` until nothing more comes for a moment.
  size_t drain(LoopbackPeer& peer) {
    size_t total = 0;
    for (;;) {
      pump(1);
      size_t n = peer.readAvailable(2).size();
      if (n == 0) return total;
      total += n;
    }
  }
  void addPlayer(const std::string& name) {
    PlayerRecord player;
    player.name = name;
    player.number = ++app->lastPlayerNumber;
    app->players.push_back(player);
    roomFeedJoin(*app, app->players.size() - 1);
  }
  int32_t erasePlayer(size_t i) {
    int32_t number = app->players[i].number;
    app->players.erase(app->players.begin() + static_cast<std::ptrdiff_t>(i));
    return number;
  }
  void answer(size_t i, const std::string& time, bool right) {
    app->players[i].rounds.back().push_back(Response{time, right});
  }
};

ServerQuestionRecord sampleQuestion() {
  ServerQuestionRecord q;
  q.question = "What\tis 2 + 2?";
  q.responses = {"3", "4", "5"};
  q.correct = '2';
  return q;
}

TEST_F(RoomFeedTest, TellsAGameAsItHappensFromTheServersRecords) {
  auto peer = connect();
  EXPECT_EQ(peer->readLines(2, 1000), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n");
  struct Step {
    const char* what;
    std::function<void()> act;
    std::string expected;
  };
  const Step steps[] = {
      {"joins", [&] { addPlayer("Ada"), addPlayer("Bo\tb"), addPlayer("Cy"), addPlayer("Di"); },
       "JOIN\t1\tAda\r\nJOIN\t2\tBo b\r\nJOIN\t3\tCy\r\nJOIN\t4\tDi\r\n"},
      {"a drop", [&] { roomFeedDrop(*app, erasePlayer(1)); }, "DROP\t2\r\n"},
      {"a removal", [&] { roomFeedRemove(*app, erasePlayer(2)); }, "REMOVE\t4\r\n"},
      {"start", [&] { roomFeedStart(*app); }, "START\t2\r\n"},
      {"the question and its first count",
       [&] {
         for (PlayerRecord& p : app->players) p.rounds.emplace_back();
         roomFeedQuestion(*app, sampleQuestion(), 1, 1);
       },
       "QUESTION\t1\t1\t2\t30\tWhat is 2 + 2?\t3\t4\t5\r\nANSWERS\t0\t2\r\n"},
      {"an answer 30 ms later waits",
       [&] {
         now += 30, answer(0, "1.25", true);
         roomFeedAnswers(*app, 1, 1);
       },
       ""},
      {"still within 100 ms", [&] { now += 60; }, ""},
      {"100 ms after the last count", [&] { now += 10; }, "ANSWERS\t1\t1\r\n"},
      {"unchanged counts send nothing", [&] { now += 500, roomFeedAnswers(*app, 1, 1); }, ""},
      {"the last answer at once after a quiet spell",
       [&] { answer(1, "4.50", false), roomFeedAnswers(*app, 2, 0); }, "ANSWERS\t2\t0\r\n"},
      {"the results", [&] { roomFeedResults(*app, '2'); },
       "RESULTS\t2\t2\r\n1\t1.25\tr\r\n3\t4.50\tw\r\n"},
      {"the summary", [&] { roomFeedSummary(*app, 1); },
       "SUMMARY\t1\t2\r\n1\t1\t1.25\t1\t1\t1.25\t1\r\n3\t0\t4.5\t1\t0\t4.5\t1\r\n"},
      {"next question, counts within 100 ms: only the last before the results",
       [&] {
         for (PlayerRecord& p : app->players) p.rounds.emplace_back();
         roomFeedQuestion(*app, sampleQuestion(), 2, 1);
         now += 20, answer(1, "0.5", true), roomFeedAnswers(*app, 1, 1);
         now += 20, answer(0, "0.9", false), roomFeedAnswers(*app, 2, 0);
         roomFeedResults(*app, '7');
       },
       "QUESTION\t2\t1\t2\t30\tWhat is 2 + 2?\t3\t4\t5\r\nANSWERS\t0\t2\r\nANSWERS\t2\t0\r\n"
       "RESULTS\t7\t2\r\n1\t0.9\tw\r\n3\t0.5\tr\r\n"},
      {"a count that changes back before it is due is not sent",
       [&] {
         roomFeedQuestion(*app, sampleQuestion(), 2, 2);
         now += 10, roomFeedAnswers(*app, 1, 1);
         now += 10, roomFeedAnswers(*app, 0, 2);
         now += 200;
       },
       "QUESTION\t2\t2\t2\t30\tWhat is 2 + 2?\t3\t4\t5\r\nANSWERS\t0\t2\r\n"},
      {"a correct response the record does not name", [&] { roomFeedResults(*app, ' '); },
       "RESULTS\t0\t2\r\n1\t0.9\tw\r\n3\t0.5\tr\r\n"},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(received(*peer), step.expected) << step.what;
  }
  roomFeedEnd(*app);
  EXPECT_EQ(peer->readLines(1, 1000), "END\r\n");
  EXPECT_TRUE(peer->waitClosed(1000));
}

TEST_F(RoomFeedTest, TheWaitIsToldWhenTheNextCountFallsDue) {
  auto peer = connect();
  addPlayer("Ada"), addPlayer("Bo");
  roomFeedQuestion(*app, sampleQuestion(), 1, 1);
  std::vector<PollEntry> entries;
  EXPECT_EQ(roomFeedAddEntries(*app, entries), -1);  // nothing falls due
  EXPECT_EQ(entries.size(), 2u);                     // the listener and the client
  roomFeedService(*app, entries, 0);
  now += 30, roomFeedAnswers(*app, 1, 1);
  EXPECT_EQ(roomFeedAddEntries(*app, entries), 70);
  roomFeedService(*app, entries, 0);
  auto greetingOnly = connect(false);  // owes its greeting for 5 s
  EXPECT_EQ(roomFeedAddEntries(*app, entries), 70);
  roomFeedService(*app, entries, 0);
  now += 70;
  EXPECT_EQ(roomFeedAddEntries(*app, entries), 0);
  // The engine's entries before the feed's are left as they were.
  std::vector<PollEntry> mixed(3);
  roomFeedAddEntries(*app, mixed);
  EXPECT_EQ(mixed.size(), 6u);
  roomFeedService(*app, mixed, 3);
  EXPECT_EQ(mixed.size(), 3u);
}

TEST_F(RoomFeedTest, AClientComingMidwayIsToldTheRoomAsItStands) {
  addPlayer("Ada"), addPlayer("Bo"), addPlayer("Cy");
  roomFeedDrop(*app, erasePlayer(0));
  const std::string lobby = "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\n";
  auto inLobby = connect();
  EXPECT_EQ(received(*inLobby), lobby);

  roomFeedStart(*app);
  for (PlayerRecord& p : app->players) p.rounds.emplace_back();
  roomFeedQuestion(*app, sampleQuestion(), 1, 1);
  answer(0, "2", true), roomFeedAnswers(*app, 1, 1);
  auto duringQuestion = connect();
  EXPECT_EQ(received(*duringQuestion),
            "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\nSTART\t2\r\n"
            "QUESTION\t1\t1\t2\t30\tWhat is 2 + 2?\t3\t4\t5\r\nANSWERS\t1\t1\r\n");

  answer(1, "3", false), roomFeedAnswers(*app, 2, 0);
  roomFeedResults(*app, '2');
  roomFeedSummary(*app, 1);
  auto afterRound = connect();
  EXPECT_EQ(received(*afterRound),
            "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\nSTART\t2\r\n"
            "RESULTS\t2\t2\r\n2\t2\tr\r\n3\t3\tw\r\n"
            "SUMMARY\t1\t2\r\n2\t1\t2.\t1\t1\t2.\t1\r\n3\t0\t3.\t1\t0\t3.\t1\r\n");
}

TEST_F(RoomFeedTest, ABrokenRuleClosesThatClientAlone) {
  struct Case {
    const char* what;
    std::string sent;  // after the server's greeting
    uint32_t wait;     // then the clock moves on so far
  };
  const Case cases[] = {
      {"a browser's request", "GET / HTTP/1.1\r\nHost: 127.0.0.1:5633\r\n\r\n", 0},
      {"another version", "QOVA ROOM FEED\t2\r\n", 0},
      {"the greeting with more behind it", kGreeting + "X", 0},
      {"a greeting then a byte later", kGreeting, 0},
      {"no greeting within 5 s", "", kFeedGreetingTimeoutMs},
      {"half a greeting", "QOVA ROOM", kFeedGreetingTimeoutMs},
  };
  auto steady = connect();
  EXPECT_EQ(steady->readLines(2, 1000), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n");
  int32_t joined = 0;
  for (const Case& c : cases) {
    auto bad = connect(false);
    if (!c.sent.empty()) {
      ASSERT_TRUE(bad->send(c.sent)) << c.what;
    }
    pump(20);
    if (c.sent == kGreeting) {
      EXPECT_EQ(received(*bad), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n") << c.what;
      ASSERT_TRUE(bad->send("\r\n"));
    }
    now += c.wait;
    EXPECT_TRUE(pumpUntil([&] { return app->feed.clients.size() == 1; })) << c.what;
    EXPECT_TRUE(bad->waitClosed(1000)) << c.what;
    // The others hear on.
    addPlayer("P" + std::to_string(++joined));
    EXPECT_EQ(received(*steady),
              "JOIN\t" + std::to_string(joined) + "\tP" + std::to_string(joined) + "\r\n")
        << c.what;
    // A bad client that greeted heard of the players up to its close only.
    app->players.clear();
  }
}

TEST_F(RoomFeedTest, AFifthClientIsClosedAtOnce) {
  std::vector<std::unique_ptr<LoopbackPeer>> peers;
  for (int i = 0; i < 4; ++i) peers.push_back(connect());
  LoopbackPeer fifth;
  ASSERT_TRUE(fifth.connect(roomFeedPort(*app)));
  pump(50);
  EXPECT_TRUE(fifth.waitClosed(1000));
  EXPECT_EQ(app->feed.clients.size(), 4u);
  addPlayer("Ada");
  for (auto& peer : peers) {
    EXPECT_EQ(received(*peer), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\nJOIN\t1\tAda\r\n");
  }
}

TEST_F(RoomFeedTest, AClientThatStopsReadingIsClosedAtItsBoundAndNothingWaits) {
  auto reader = connect();
  auto stalled = connect();
  addPlayer("Ada");
  ServerQuestionRecord big = sampleQuestion();
  big.question.assign(200000, 'q');
  FeedClient* stalledClient = app->feed.clients.back().get();
  size_t most = 0;
  auto start = std::chrono::steady_clock::now();
  int questions = 0;
  while (app->feed.clients.size() == 2 && questions < 200) {
    roomFeedQuestion(*app, big, 1, ++questions);
    if (!stalledClient->closing) most = std::max(most, stalledClient->pending());
    drain(*reader);
  }
  auto spent = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(app->feed.clients.size(), 1u) << "after " << questions << " questions";
  EXPECT_TRUE(stalled->waitClosed(5000));
  // Its queue reached the bound (the system's buffers took some before).
  EXPECT_LE(most, kMaxFeedQueueBytes);
  EXPECT_GE(most, kMaxFeedQueueBytes - big.question.size() - 100);
  EXPECT_GE(questions * big.question.size(), kMaxFeedQueueBytes);
  EXPECT_LT(spent, std::chrono::seconds(20));
  // The reader goes on.
  addPlayer("Bo");
  std::string rest;
  for (int i = 0; i < 200 && rest.find("JOIN\t2\tBo\r\n") == std::string::npos; ++i) {
    pump();
    rest += reader->readAvailable(20);
  }
  EXPECT_NE(rest.find("JOIN\t2\tBo\r\n"), std::string::npos);
}

TEST_F(RoomFeedTest, TheEnginesRemovalIsTold) {
  auto peer = connect();
  EXPECT_EQ(peer->readLines(2, 1000), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n");
  addPlayer("Ada"), addPlayer("Bo");
  for (size_t i = 0; i < 2; ++i) {
    app->clients.push_back(std::make_unique<ClientConnection>(Socket(Socket::kInvalid)));
  }
  GameState game;
  ASSERT_TRUE(removePlayer(*app, game, 1));
  EXPECT_EQ(received(*peer), "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nREMOVE\t2\r\n");
  app->clients.clear();
}

// The host's commands through the feed in each state of the run: each is
// answered to its sender alone, in order, DONE or REFUSED with the reason;
// a change of the hold is told to every client first.
TEST_F(RoomFeedTest, CommandsAreAnsweredInEachStateToTheirSenderAlone) {
  GameState game;
  app->feed.onCommand = [&](const FeedCommand& c) { return runHostCommand(*app, game, c); };
  auto host = connect();
  auto other = connect();
  const std::string state = "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n";
  EXPECT_EQ(host->readLines(2, 1000), state);
  EXPECT_EQ(other->readLines(2, 1000), state);
  auto addPlayers = [&] {
    for (const char* name : {"Ada", "Bo", "Cy"}) {
      addPlayer(name);
      app->clients.push_back(std::make_unique<ClientConnection>(Socket(Socket::kInvalid)));
    }
  };
  struct Step {
    const char* what;
    std::function<void()> before;  // may be empty
    std::string sent;
    std::string answered;  // what the sender hears
    std::string told;      // what the other client hears
  };
  const Step steps[] = {
      {"lobby: Start without players", nullptr, "COMMAND\t1\tSTART\r\n",
       "REFUSED\t1\tNo players have joined.\r\n", ""},
      {"lobby: End Question", nullptr, "COMMAND\t2\tEND QUESTION\r\n",
       "REFUSED\t2\tThe quiz has not started.\r\n", ""},
      {"lobby: Hold", nullptr, "COMMAND\t3\tHOLD\r\n", "REFUSED\t3\tThe quiz has not started.\r\n",
       ""},
      {"lobby: Go On", nullptr, "COMMAND\t4\tGO ON\r\n",
       "REFUSED\t4\tThe quiz has not started.\r\n", ""},
      {"lobby: hold after each round", nullptr, "COMMAND\t5\tHOLD AFTER ROUND\t1\r\n",
       "HOLD\t0\t1\r\nDONE\t5\r\n", "HOLD\t0\t1\r\n"},
      {"lobby: the same again changes nothing", nullptr, "COMMAND\t55\tHOLD AFTER ROUND\t1\r\n",
       "DONE\t55\r\n", ""},
      {"lobby: Remove nobody", nullptr, "COMMAND\t6\tREMOVE\t1\r\n",
       "REFUSED\t6\tNo such player.\r\n", ""},
      {"an unknown verb", nullptr, "COMMAND\t7\tJUMP\r\n", "REFUSED\t7\tUnknown command.\r\n", ""},
      {"a bad argument", nullptr, "COMMAND\t8\tHOLD AFTER ROUND\tyes\r\n",
       "REFUSED\t8\tUnknown command.\r\n", ""},
      {"lobby: Remove a player", addPlayers, "COMMAND\t9\tREMOVE\t2\r\n",
       "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\nREMOVE\t2\r\nDONE\t9\r\n",
       "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\nREMOVE\t2\r\n"},
      {"two at once, in order: Remove the removed one, Start", nullptr,
       "COMMAND\t10\tREMOVE\t2\r\nCOMMAND\t11\tSTART\r\n",
       "REFUSED\t10\tNo such player.\r\nDONE\t11\r\n", ""},
      {"game: Start", [&] { roomFeedStart(*app); }, "COMMAND\t12\tSTART\r\n",
       "START\t2\r\nREFUSED\t12\tThe quiz has already started.\r\n", "START\t2\r\n"},
      {"game, before the first question: End Question", nullptr, "COMMAND\t13\tEND QUESTION\r\n",
       "REFUSED\t13\tNo question is out.\r\n", ""},
      {"game: Hold", nullptr, "COMMAND\t14\tHOLD\r\n", "HOLD\t1\t1\r\nDONE\t14\r\n",
       "HOLD\t1\t1\r\n"},
      {"game: Hold while held", nullptr, "COMMAND\t15\tHOLD\r\n", "DONE\t15\r\n", ""},
      {"game: Go On", nullptr, "COMMAND\t16\tGO ON\r\n", "HOLD\t0\t1\r\nDONE\t16\r\n",
       "HOLD\t0\t1\r\n"},
      {"game: Go On while going on", nullptr, "COMMAND\t17\tGO ON\r\n", "DONE\t17\r\n", ""},
      {"game, a question out: End Question",
       [&] {
         startRound(*app, game);
         broadcastQuestion(*app, game);
       },
       "COMMAND\t18\tEND QUESTION\r\n", "QUESTION\t1\t1\t2\t30\t\r\nANSWERS\t0\t2\r\nDONE\t18\r\n",
       "QUESTION\t1\t1\t2\t30\t\r\nANSWERS\t0\t2\r\n"},
      {"game, nothing awaited: End Question", nullptr, "COMMAND\t19\tEND QUESTION\r\n",
       "REFUSED\t19\tNo question is out.\r\n", ""},
      {"game: the box unticked", nullptr, "COMMAND\t20\tHOLD AFTER ROUND\t0\r\n",
       "HOLD\t0\t0\r\nDONE\t20\r\n", "HOLD\t0\t0\r\n"},
      {"game: Remove a player", nullptr, "COMMAND\t21\tREMOVE\t3\r\n", "REMOVE\t3\r\nDONE\t21\r\n",
       "REMOVE\t3\r\n"},
  };
  for (const Step& step : steps) {
    if (step.before) step.before();
    ASSERT_TRUE(host->send(step.sent)) << step.what;
    pump(20);
    EXPECT_EQ(received(*host), step.answered) << step.what;
    EXPECT_EQ(received(*other), step.told) << step.what;
  }
  EXPECT_EQ(app->lobbyOutcome, kLobbyStart);
  ASSERT_EQ(app->players.size(), 1u);
  EXPECT_EQ(app->players[0].name, "Ada");
  // Ada's awaited answer was recorded by End Question.
  EXPECT_EQ(game.pendingAnswers, 0);
  ASSERT_EQ(app->players[0].rounds.size(), 1u);
  EXPECT_EQ(app->players[0].rounds[0].size(), 1u);
  // A client that comes now hears the hold after the settings.
  auto late = connect();
  EXPECT_EQ(late->readLines(2, 1000), state);
  app->clients.clear();
}

// A line that is no command closes its client alone, at once where the
// first bytes already tell; the others hear on.
TEST_F(RoomFeedTest, ALineThatIsNoCommandClosesThatClientAlone) {
  GameState game;
  app->feed.onCommand = [&](const FeedCommand& c) { return runHostCommand(*app, game, c); };
  const char* const cases[] = {
      "HELLO\r\n",
      "X",
      "COMMAND\tx\tHOLD\r\n",
      "COMMAND\t1234567890\tHOLD\r\n",
      "COMMAND\t1\r\n",
      "COMMAND\t1\tHOLD\n",
      "\r\n",
  };
  std::vector<std::string> sent(std::begin(cases), std::end(cases));
  sent.push_back("COMMAND\t1\tHOLD AFTER ROUND\t" + std::string(300, '1') + "\r\n");
  sent.push_back("COMMAND\t1\t" + std::string(300, 'A'));  // no line end yet: too long
  auto steady = connect();
  EXPECT_EQ(steady->readLines(2, 1000), "SETTINGS\t30\t2\t0\r\nHOLD\t0\t0\r\n");
  for (const std::string& line : sent) {
    SCOPED_TRACE(line.substr(0, 40));
    auto bad = connect();
    bad->readLines(2, 1000);
    // A good command first: answered before the bad line closes.
    ASSERT_TRUE(bad->send("COMMAND\t1\tGO ON\r\n" + line));
    EXPECT_TRUE(pumpUntil([&] { return app->feed.clients.size() == 1; }));
    EXPECT_EQ(bad->readLines(1, 1000), "REFUSED\t1\tThe quiz has not started.\r\n");
    EXPECT_TRUE(bad->waitClosed(1000));
    ASSERT_TRUE(steady->send("COMMAND\t2\tHOLD AFTER ROUND\t0\r\n"));
    pump(20);
    EXPECT_EQ(received(*steady), "DONE\t2\r\n");
  }
}

// Commands come only from this computer: every accepted peer is asked.
TEST(PeerAddress, OnlyALoopbackPeerIsLocal) {
  socketStartup();
  testing::LoopbackListener listener;
  ASSERT_TRUE(listener.isListening());
  LoopbackPeer client;
  ASSERT_TRUE(client.connect(listener.port()));
  LoopbackPeer accepted;
  ASSERT_TRUE(listener.accept(&accepted, 1000));
  EXPECT_TRUE(peerIsLoopback(client.fd()));
  EXPECT_TRUE(peerIsLoopback(accepted.fd()));
  EXPECT_FALSE(peerIsLoopback(kNoSocket));
  SocketHandle unconnected = openStreamSocket();
  EXPECT_FALSE(peerIsLoopback(unconnected));
  closeSocket(unconnected);
}

TEST_F(RoomFeedTest, APortThatIsTakenLeavesTheServerWithoutAFeedAndALogLine) {
  ServerApp other;
  other.logFileName = dir.file("other.txt");
  other.feed.port = roomFeedPort(*app);
  EXPECT_FALSE(openRoomFeed(other));
  EXPECT_EQ(roomFeedPort(other), 0);
  std::string log = testing::readFileBytes(other.logFileName);
  // The run log keeps the file name's pointer: back to its default.
  RunLog::process().write(nullptr, "errLog.txt");
  EXPECT_NE(log.find("Room feed not started: port " + std::to_string(other.feed.port) +
                     " on 127.0.0.1 could not be opened."),
            std::string::npos)
      << log;
  // The lobby opens all the same: the game runs without a feed, no box.
  LobbyState lobby;
  lobby.port = 0;
  EXPECT_TRUE(beginLobby(other, lobby));
  EXPECT_EQ(roomFeedPort(other), 0);
  endLobby(other, lobby);
  RunLog::process().write(nullptr, "errLog.txt");
  // Without a feed every call is harmless.
  other.players.push_back(PlayerRecord{"Ada", {{}}, 1});
  roomFeedJoin(other, 0);
  roomFeedQuestion(other, sampleQuestion(), 1, 1);
  roomFeedResults(other, '1');
  roomFeedEnd(other);
}

}  // namespace
}  // namespace qova

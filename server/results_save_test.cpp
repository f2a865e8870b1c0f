#include "server/results_save.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "server/game_engine.h"
#include "server/lobby.h"
#include "server/startup.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::fileExists;
using testing::LoopbackPeer;
using testing::readFileBytes;
using testing::writeFileBytes;

const char* const kFiles[] = {"endscores.txt", "endscores.csv", "answers.csv", "endscores.html"};

DateTime fixedClock() { return DateTime{2026, 12, 10, 21, 3, 0}; }

std::vector<std::string> contents(const testing::TempDir& dir) {
  std::vector<std::string> bytes;
  for (const char* name : kFiles) bytes.push_back(readFileBytes(dir.file(name)));
  return bytes;
}

// Three players over loopback, two questions a round.
struct SavedGame : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;

  void SetUp() override {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->logFileName = dir.file("errLog.txt");
    app->results.clock = fixedClock;
    app->timeLimitText = "20";
    app->questionsPerRound = 2;
    writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(9));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 9);
    lobby.port = 0;
    ASSERT_TRUE(beginLobby(*app, lobby));
    for (const char* name : {"Ann", "<script>alert(1)</script>", "Zo\xEB"}) {
      peers.push_back(std::make_unique<LoopbackPeer>());
      ASSERT_TRUE(peers.back()->connect(lobby.listener->localPort()));
      peers.back()->send(std::string(name) + "\r\n");
      ASSERT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kChanged);
      peers.back()->readLines(3, 2000);
    }
    app->lobbyOutcome = kLobbyStart;
    endLobby(*app, lobby);
    seedRandom(5);
    ASSERT_TRUE(gameTick(*app, game));
  }

  bool tickUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (!gameTick(*app, game)) return false;
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Every player answers the question out; returns once the next is out.
  void answer(const std::vector<std::string>& answers) {
    for (size_t i = 0; i < peers.size(); ++i) peers[i]->send(answers[i]);
    int32_t index = game.questionIndex;
    size_t rounds = app->askedRounds.size();
    ASSERT_TRUE(tickUntil(
        [&] { return game.questionIndex != index || app->askedRounds.size() != rounds; }));
  }

  void expectSavedAsQuitWrites(int rounds);

  void playRound(int round) {
    const std::string t = std::to_string(round);
    answer({t + ".5\r\nr", "2\r\nw", "3\r\nr"});
    answer({"1\r\nw", t + "\r\nr", "4.25\r\nr"});
  }
};

// Plays `rounds` rounds, takes the files saved after the last summary, then
// quits right there: Quit writes the very same bytes and removes the mark.
void SavedGame::expectSavedAsQuitWrites(int rounds) {
  for (int r = 1; r <= rounds; ++r) playRound(r);
  ASSERT_EQ(app->askedRounds.size(), static_cast<size_t>(rounds) + 1);
  ASSERT_TRUE(fileExists(unfinishedMarkPath(*app)));
  EXPECT_EQ(readFileBytes(unfinishedMarkPath(*app)).substr(0, 17), "2026-12-10-2103\r\n");
  const std::vector<std::string> saved = contents(dir);
  const std::string r = std::to_string(rounds);
  EXPECT_NE(saved[0].find("  Round " + r + ":\r\n    1. " + r + ".5 seconds;\tRight"),
            std::string::npos)
      << saved[0];
  EXPECT_EQ(saved[1].substr(0, 2), "\xFF\xFE");
  // A heading row, then a row an answer: three players, two a round.
  size_t rows = 0;
  for (size_t at = saved[2].find(std::string("\r\0\n\0", 4)); at != std::string::npos;
       at = saved[2].find(std::string("\r\0\n\0", 4), at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, 1 + 3 * 2 * static_cast<size_t>(rounds));
  EXPECT_NE(saved[3].find("Round " + r + ", question 2"), std::string::npos);
  EXPECT_EQ(saved[3].find("Round " + std::to_string(rounds + 1) + ", question"), std::string::npos);

  shutdownServer(0);
  EXPECT_EQ(contents(dir), saved);
  EXPECT_FALSE(fileExists(unfinishedMarkPath(*app)));
  for (const char* name : kFiles) EXPECT_FALSE(fileExists(dir.file(name) + ".tmp")) << name;
}

TEST_F(SavedGame, AfterRoundOneTheFilesAreWhatQuitWritesThen) { expectSavedAsQuitWrites(1); }
TEST_F(SavedGame, AfterRoundTwoTheFilesAreWhatQuitWritesThen) { expectSavedAsQuitWrites(2); }

// The file layer breaks after round 1's save: the files of the last save
// that worked stay whole, the run log says what failed, and the game goes on.
TEST_F(SavedGame, AFailingSaveKeepsTheLastFilesAndTheGameGoesOn) {
  playRound(1);
  const std::vector<std::string> round1 = contents(dir);
  const FileOps real = platformFileOps();
  app->results.files.replace = [real](const std::string& from, const std::string& to) {
    return std::filesystem::path(to).filename() != "endscores.html" && real.replace(from, to);
  };
  playRound(2);
  std::vector<std::string> round2 = contents(dir);
  EXPECT_EQ(round2[3], round1[3]);
  for (int i = 0; i < 3; ++i) EXPECT_NE(round2[i], round1[i]) << kFiles[i];
  EXPECT_FALSE(fileExists(dir.file("endscores.html.tmp")));
  std::string log = readFileBytes(dir.file("errLog.txt"));
  EXPECT_NE(log.find("The results could not be saved after round 2: endscores.html."),
            std::string::npos)
      << log;

  app->results.files.create = [](const std::string&) -> intptr_t { return -1; };
  playRound(3);
  EXPECT_EQ(contents(dir), round2);
  log = readFileBytes(dir.file("errLog.txt"));
  EXPECT_NE(log.find("The results could not be saved after round 3: endscores.unfinished, "
                     "endscores.txt, endscores.csv, answers.csv and endscores.html."),
            std::string::npos)
      << log;
  // Round 4 is under way: its first question went out and gets answers.
  ASSERT_EQ(app->askedRounds.size(), 4u);
  answer({"1\r\nr", "1\r\nr", "1\r\nr"});
  EXPECT_EQ(app->players[0].rounds[3].size(), 1u);
  EXPECT_TRUE(scripted.posted.empty());
  EXPECT_TRUE(scripted.destroyed.empty());
}

// A server starting where a game was left unfinished: whichever way the
// start-up goes, the game's files are first renamed to their dated names,
// the run log says so, and the mark goes.
TEST(UnfinishedResults, KeptAsideThroughEveryStartUp) {
  struct Case {
    const char* name;
    bool marker;          // another server's marker: the question, answered No
    const char* config;   // config.ini
    int records;          // in q.qdb; -1: no file
    bool started;         // start-up goes through
    std::string earlier;  // a name already taken ("" for none)
    const char* suffix;
  };
  const Case cases[] = {
      {"the marker question answered No", true, "30\r\n2\r\nq.qdb", 5, false, "", ""},
      {"a load error", false, "30\r\n2\r\nmissing.qdb", 5, false, "", ""},
      {"too few questions", false, "30\r\n8\r\nq.qdb", 5, false, "", ""},
      {"a new game", false, "30\r\n2\r\nq.qdb", 5, true, "", ""},
      {"a name kept from before", false, "30\r\n2\r\nq.qdb", 5, true, "answers-2026-12-09-2130.csv",
       "-2"},
  };
  const char* const old[] = {"old txt", "old scores", "old answers", "<p>old</p>"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir run;
    testing::WorkingDir here(run.path());
    testing::ScriptedShell s;
    ServerAppRef app;
    app->shell = s.shell();
    app->markerPath = run.file("hostIP.dat");
    app->results.clock = fixedClock;
    writeFileBytes(run.file("config.ini"), c.config);
    writeFileBytes(run.file("q.qdb"), testing::numberedQuestionFile(c.records));
    if (c.marker) writeFileBytes(app->markerPath, "10.1.1.1");
    s.prompts.messageAnswers = {kIdNo};
    for (int i = 0; i < 4; ++i) writeFileBytes(run.file(kFiles[i]), old[i]);
    writeFileBytes(run.file("endscores.unfinished"),
                   "2026-12-09-2130\r\nResults of a game under way, saved after round 2.\r\n");
    if (!c.earlier.empty()) writeFileBytes(run.file(c.earlier), "earlier");

    const bool started = startServerCore();
    EXPECT_EQ(started, c.started);
    if (!started) reportError();
    shutdownServer(0);  // after a game, or again after a failure (runs once)

    const std::string stamp = std::string("2026-12-09-2130") + c.suffix;
    const std::string kept[] = {"endscores-" + stamp + ".txt", "endscores-" + stamp + ".csv",
                                "answers-" + stamp + ".csv", "endscores-" + stamp + ".html"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(readFileBytes(run.file(kept[i])), old[i]) << kept[i];
    if (!c.earlier.empty()) {
      EXPECT_EQ(readFileBytes(run.file(c.earlier)), "earlier");
    }
    // This run's own files (no players) replaced the names, unmarked.
    EXPECT_EQ(readFileBytes(run.file("endscores.txt")), "");
    EXPECT_FALSE(fileExists(run.file("endscores.unfinished")));
    const std::string log = readFileBytes(run.file("errLog.txt"));
    EXPECT_NE(log.find("The results of an unfinished game were kept as " + kept[0] + ", " +
                       kept[1] + ", " + kept[2] + " and " + kept[3] + "."),
              std::string::npos)
        << log;
  }
}

TEST(UnfinishedResults, NothingMovesWithoutTheMark) {
  testing::TempDir run;
  ServerAppRef app;
  app->resultsFileName = run.file("endscores.txt");
  app->logFileName = run.file("errLog.txt");
  writeFileBytes(run.file("endscores.txt"), "finished");
  EXPECT_TRUE(setAsideUnfinishedResults(*app).empty());
  EXPECT_EQ(readFileBytes(run.file("endscores.txt")), "finished");

  // A mark without a readable date is dated by the clock; a file missing
  // from the four is simply not there to move.
  app->results.clock = fixedClock;
  writeFileBytes(run.file("endscores.unfinished"), "");
  EXPECT_EQ(setAsideUnfinishedResults(*app),
            std::vector<std::string>{"endscores-2026-12-10-2103.txt"});
  EXPECT_EQ(readFileBytes(run.file("endscores-2026-12-10-2103.txt")), "finished");
  EXPECT_FALSE(fileExists(run.file("endscores.unfinished")));
}

// A file that cannot be renamed is copied to its dated name; one that can
// be neither renamed nor read keeps the mark for the next start.
TEST(UnfinishedResults, AFileThatCannotBeRenamedIsCopied) {
  testing::TempDir run;
  ServerAppRef app;
  app->resultsFileName = run.file("endscores.txt");
  app->logFileName = run.file("errLog.txt");
  writeFileBytes(run.file("endscores.txt"), "saved txt");
  writeFileBytes(run.file("answers.csv"), "saved answers");
  writeFileBytes(run.file("endscores.unfinished"), "2026-12-09-2130\r\n");
  const FileOps real = platformFileOps();
  app->results.files.replace = [real](const std::string& from, const std::string& to) {
    return std::filesystem::path(from).filename() != "answers.csv" && real.replace(from, to);
  };
  EXPECT_EQ(
      setAsideUnfinishedResults(*app),
      (std::vector<std::string>{"endscores-2026-12-09-2130.txt", "answers-2026-12-09-2130.csv"}));
  EXPECT_EQ(readFileBytes(run.file("endscores-2026-12-09-2130.txt")), "saved txt");
  EXPECT_EQ(readFileBytes(run.file("answers-2026-12-09-2130.csv")), "saved answers");
  EXPECT_EQ(readFileBytes(run.file("answers.csv")), "saved answers");
  EXPECT_FALSE(fileExists(run.file("endscores.unfinished")));

  // Nothing can be renamed or created: the mark stays and the log says so.
  writeFileBytes(run.file("endscores.unfinished"), "2026-12-09-2200\r\n");
  app->results.files.replace = [](const std::string&, const std::string&) { return false; };
  EXPECT_TRUE(setAsideUnfinishedResults(*app).empty());
  EXPECT_TRUE(fileExists(run.file("endscores.unfinished")));
  EXPECT_NE(readFileBytes(run.file("errLog.txt"))
                .find("The results of an unfinished game could not be kept aside: answers.csv."),
            std::string::npos);
}

}  // namespace
}  // namespace qova

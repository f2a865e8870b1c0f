#include "server/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::readFileBytes;
using testing::writeFileBytes;

TEST(Settings, ReadLikeGetlineWithBuffersOf30And256) {
  const std::string s29(29, 't'), s30(30, 't'), s255(255, 'd'), s256(256, 'd');
  struct Case {
    std::string file;
    std::string timeLimit;
    int32_t questionsPerRound;
    std::string database;
  };
  const Case cases[] = {
      // As the launcher writes it: CR LF after lines 1 and 2, none after 3.
      {"45\r\n12\r\nquiz.qdb", "45", 12, "quiz.qdb"},
      {"45\n12\nquiz.qdb\n", "45", 12, "quiz.qdb"},
      {"45\r\n12\r\nC:\\q\\my quiz.qdb\r\n", "45", 12, "C:\\q\\my quiz.qdb"},
      {s29 + "\r\n7\r\nq.qdb", s29, 7, "q.qdb"},
      {s29 + "\n7\nq.qdb", s29, 7, "q.qdb"},
      // Too long: the first 29 characters, then the stream has failed.
      {s30 + "\r\n7\r\nq.qdb", s29, 0, ""},
      {s30 + "1234\r\n7\r\nq.qdb", s29, 0, ""},
      {"30\r\n" + s255 + "\r\nq.qdb", "30", 0, "q.qdb"},
      {"30\r\n  -5x\r\n" + s255, "30", -5, s255},
      {"30\r\n" + s256 + "\r\nq.qdb", "30", 0, ""},
      {"30\r\n9\r\n" + s256, "30", 9, s255},
      {"30\r\nten\r\nq.qdb", "30", 0, "q.qdb"},
      {"30\r\n10", "30", 10, ""},
      {"30\r\n\r\nq.qdb", "30", 0, "q.qdb"},
      {"", "", 0, ""},
      // A CR that does not end a line is text.
      {"3\r0\r\n1\r\nq", "3\r0", 1, "q"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.file);
    Settings s = parseSettings(in);
    EXPECT_EQ(s.timeLimitText, c.timeLimit) << c.file;
    EXPECT_EQ(s.questionsPerRound, c.questionsPerRound) << c.file;
    EXPECT_EQ(s.databaseFile, c.database) << c.file;
  }
}

struct AppTest : ::testing::Test {
  testing::TempDir dir;
  testing::WorkingDir cwd{dir.path()};
  testing::ScriptedShell scripted;
  ServerAppRef app;
  AppTest() {
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
  }
};

using SettingsFile = AppTest;

TEST_F(SettingsFile, MissingFileGivesNoticeAndDefaults) {
  Settings s = readSettings(*app, dir.file("config.ini"));
  EXPECT_EQ(s.timeLimitText, "30");
  EXPECT_EQ(s.questionsPerRound, 10);
  EXPECT_EQ(s.databaseFile, "questions.qdb");
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].text, "config.ini not found; using defaults.");
  EXPECT_EQ(scripted.prompts.messages[0].caption, "Notice");
  EXPECT_EQ(scripted.prompts.messages[0].type, kMbOk | kMbIconInformation);
}

using Marker = AppTest;

TEST_F(Marker, QuestionAskedOnlyWhenTheFileExists) {
  EXPECT_TRUE(checkMarker(*app));
  EXPECT_TRUE(scripted.prompts.messages.empty());

  writeFileBytes(app->markerPath, "10.0.0.7");
  scripted.prompts.messageAnswers = {kIdYes, kIdNo};
  app->errorFlags = kStartupErrorFlags;
  app->exitCode = 1;
  EXPECT_TRUE(checkMarker(*app));
  EXPECT_EQ(app->errorFlags, kStartupErrorFlags);
  EXPECT_FALSE(checkMarker(*app));
  EXPECT_EQ(app->errorText, "Startup aborted.");
  EXPECT_EQ(app->errorFlags, kStartupErrorFlags & ~kReportLog);
  EXPECT_EQ(app->exitCode, -1);
  ASSERT_EQ(scripted.prompts.messages.size(), 2u);
  for (const MessageRequest& m : scripted.prompts.messages) {
    EXPECT_EQ(m.text, "Another server is running on the network already.\r\nContinue anyways?");
    EXPECT_EQ(m.caption, "Notice");
    EXPECT_EQ(m.type, kMbYesNo | kMbIconInformation);
    EXPECT_EQ(m.owner, nullptr);
  }
}

using Startup = AppTest;

// Runs the start-up as the entry point does, reporting a failure.
bool runStartup() {
  bool ok = startServerCore();
  if (!ok) reportError();
  return ok;
}

TEST(StartupRun, FailuresReportTheirMessageAndExitCode) {
  struct Case {
    const char* config;  // nullptr: no config.ini
    int records;         // in questions.qdb and q.qdb; -1: no file
    bool marker;         // a marker file exists; the question is answered
    int answer;
    const char* message;  // nullptr: start-up succeeds
    int32_t exitCode;
    bool logged;
  };
  const Case cases[] = {
      {nullptr, -1, false, 0, "Error loading questions.", 1, true},
      {"30\r\n5\r\nq.qdb", 4, false, 0, "Not enough questions in database.", 1, true},
      {"30\r\n5\r\nq.qdb", 5, false, 0, nullptr, 0, false},
      {nullptr, 10, false, 0, nullptr, 0, false},
      {nullptr, 9, false, 0, "Not enough questions in database.", 1, true},
      {"30\r\n0\r\nq.qdb", 5, false, 0, kMsgBadQuestionsPerRound, 1, true},
      {"30\r\n-2\r\nq.qdb", 5, false, 0, kMsgBadQuestionsPerRound, 1, true},
      {"30\r\nsome\r\nq.qdb", 5, false, 0, kMsgBadQuestionsPerRound, 1, true},
      {"123456789012345678901234567890\r\n5\r\nq.qdb", 5, false, 0, "Error loading questions.", 1,
       true},
      {"30\r\n5\r\nq.qdb", 5, true, kIdNo, "Startup aborted.", -1, false},
      {"30\r\n5\r\nq.qdb", 4, true, kIdYes, "Not enough questions in database.", 1, true},
  };
  for (const Case& c : cases) {
    testing::TempDir run;
    testing::WorkingDir here(run.path());
    testing::ScriptedShell s;
    ServerAppRef app;  // a fresh object per case
    app->shell = s.shell();
    app->markerPath = run.file("hostIP.dat");
    if (c.config) writeFileBytes(run.file("config.ini"), c.config);
    if (c.records >= 0) {
      writeFileBytes(run.file("q.qdb"), testing::numberedQuestionFile(c.records));
      writeFileBytes(run.file("questions.qdb"), testing::numberedQuestionFile(c.records));
    }
    if (c.marker) writeFileBytes(app->markerPath, "10.1.1.1");
    writeFileBytes(run.file("endscores.txt"), "old");
    s.prompts.messageAnswers = {c.answer};
    std::string label =
        std::string(c.config ? c.config : "(none)") + " " + std::to_string(c.records);

    bool ok = runStartup();
    EXPECT_EQ(ok, c.message == nullptr) << label;
    size_t notices = (c.config == nullptr ? 1 : 0) + (c.marker ? 1 : 0);
    if (ok) {
      EXPECT_EQ(s.prompts.messages.size(), notices) << label;
      EXPECT_TRUE(s.posted.empty());
      EXPECT_EQ(app->errorFlags, kStartupErrorFlags);
      continue;
    }
    ASSERT_EQ(s.prompts.messages.size(), notices + 1) << label;
    const MessageRequest& box = s.prompts.messages.back();
    EXPECT_EQ(box.text, c.message) << label;
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, kMbIconExclamation) << label;
    EXPECT_EQ(s.posted, std::vector<int32_t>{c.exitCode}) << label;
    EXPECT_EQ(readFileBytes(run.file("endscores.txt")), "") << label;
    EXPECT_TRUE(testing::fileExists(run.file("endscores.txt")));
    std::string log = readFileBytes(run.file("errLog.txt"));
    EXPECT_EQ(log.find(c.message) != std::string::npos, c.logged) << label << log;
    // Only an aborted start-up leaves the other server's marker in place.
    EXPECT_EQ(testing::fileExists(app->markerPath), c.marker && c.exitCode == -1) << label;
  }
}

TEST_F(Startup, SettingsReachTheApp) {
  writeFileBytes(dir.file("config.ini"), "abc\r\n3\r\nq.qdb");
  writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(3, 5));
  ASSERT_TRUE(startServerCore());
  EXPECT_EQ(app->timeLimitText, "abc");
  EXPECT_EQ(app->questionsPerRound, 3);
  EXPECT_EQ(app->questions.recordCount(), 3);
  EXPECT_EQ(app->questions.responseCount(), 5);
}

// A header may claim far more records than the file holds: a round is bound
// by the records really there, so memory at Start follows the file, not the
// claim. A database that cannot be read is an error loading it.
TEST_F(Startup, QuestionsPerRoundIsBoundByTheRecordsTheFileHolds) {
  // 35 bytes claiming 100,000,000 records; one is there.
  const std::string lying = "1\r\n4\r\n100000000\r\nQ\r\na\r\nb\r\nc\r\nd\r\n1\r\n";
  ASSERT_EQ(lying.size(), 35u);
  // Claims 5 records, holds 2.
  const std::string shortOfItsClaim = "8\r\n1\r\n5\r\nA\r\na\r\n1\r\nB\r\nb\r\n1\r\n";
  struct Case {
    std::string bytes;  // empty: the database is a folder
    int32_t questionsPerRound;
    const char* message;  // nullptr: loads
  };
  const Case cases[] = {
      {lying, 50000000, kMsgNotEnoughQuestions},
      {lying, 2, kMsgNotEnoughQuestions},
      {lying, 1, nullptr},
      {shortOfItsClaim, 3, kMsgNotEnoughQuestions},
      {shortOfItsClaim, 2, nullptr},
      {testing::numberedQuestionFile(4), 4, nullptr},
      {testing::numberedQuestionFile(4), 5, kMsgNotEnoughQuestions},
      {"", 1, kMsgLoadingQuestions},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 12) + " per round " + std::to_string(c.questionsPerRound));
    Settings settings;
    settings.databaseFile = dir.file("q.qdb");
    if (c.bytes.empty()) {
      settings.databaseFile = dir.file("folder.qdb");
      std::filesystem::create_directories(settings.databaseFile);
    } else {
      ASSERT_TRUE(writeFileBytes(settings.databaseFile, c.bytes));
    }
    app->errorText.clear();
    app->questionsPerRound = c.questionsPerRound;
    bool ok = false;
    EXPECT_NO_THROW(ok = loadQuestions(*app, settings));
    EXPECT_EQ(ok, c.message == nullptr);
    EXPECT_EQ(app->errorText, c.message ? c.message : "");
  }
}

using Shutdown = AppTest;

TEST_F(Shutdown, HandsTheCodeToTheWindowWritesResultsDeletesMarkerOnce) {
  int window = 0;
  app->mainWindow = &window;
  app->players = {PlayerRecord{"Ann", {}}, PlayerRecord{"Bob", {}}};
  writeFileBytes(app->markerPath, "10.0.0.1");
  shutdownServer(0);
  ASSERT_EQ(scripted.destroyed.size(), 1u);
  EXPECT_EQ(scripted.destroyed[0].first, &window);
  EXPECT_EQ(scripted.destroyed[0].second, 0);
  EXPECT_TRUE(scripted.posted.empty());
  EXPECT_EQ(app->mainWindow, nullptr);
  EXPECT_FALSE(testing::fileExists(app->markerPath));
  std::string results = readFileBytes(dir.file("endscores.txt"));
  EXPECT_NE(results.find("Player: Ann\r\n"), std::string::npos);
  EXPECT_NE(results.find("Player: Bob\r\n"), std::string::npos);
  // The window's destruction ended the run; a later request changes nothing.
  writeFileBytes(dir.file("endscores.txt"), "kept");
  shutdownServer(1);
  EXPECT_EQ(scripted.destroyed.size(), 1u);
  EXPECT_TRUE(scripted.posted.empty());
  EXPECT_EQ(readFileBytes(dir.file("endscores.txt")), "kept");
}

TEST_F(Shutdown, ReadOnlyMarkerIsDeletedToo) {
  writeFileBytes(app->markerPath, "10.0.0.1");
  std::filesystem::permissions(app->markerPath, std::filesystem::perms::owner_read);
  shutdownServer(1);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{1});
  EXPECT_FALSE(testing::fileExists(app->markerPath));
}

TEST_F(Shutdown, AllDroppedReportIsAPlainBoxNotLogged) {
  app->errorText = kMsgAllDropped;
  app->errorFlags = kDroppedErrorFlags;
  app->exitCode = 0;
  reportError();
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].text, "All clients have dropped.");
  EXPECT_EQ(scripted.prompts.messages[0].caption, "Error");
  EXPECT_EQ(scripted.prompts.messages[0].type, kMbOk);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});
  EXPECT_FALSE(testing::fileExists(dir.file("errLog.txt")));
  EXPECT_EQ(readFileBytes(dir.file("endscores.txt")), "");
}

TEST_F(Shutdown, StopIconWinsOverExclamation) {
  app->errorText = "x";
  app->errorFlags = kReportMessageBox | kReportIconError | kReportIconWarning;
  reportError();
  ASSERT_EQ(scripted.prompts.messages.size(), 1u);
  EXPECT_EQ(scripted.prompts.messages[0].type, kMbIconHand);
  EXPECT_TRUE(scripted.posted.empty());  // no shutdown bit
}

}  // namespace
}  // namespace qova

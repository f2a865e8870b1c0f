#include "server/results_csv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "server/game_engine.h"
#include "server/lobby.h"
#include "testing/loopback_peer.h"
#include "testing/server_test_support.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

// The bytes of a spreadsheet file holding `utf8` (characters of the Basic
// Multilingual Plane only): a byte-order mark, then UTF-16LE. Written apart
// from the code page table under test.
std::string sheet(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    if (length == 1) cp = c;
    if (length == 2) cp = (c & 0x1Fu) << 6 | (utf8[i + 1] & 0x3Fu);
    if (length == 3) cp = (c & 0x0Fu) << 12 | (utf8[i + 1] & 0x3Fu) << 6 | (utf8[i + 2] & 0x3Fu);
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
    i += static_cast<size_t>(length);
  }
  return out;
}

const char kScoresHeading[] =
    "\"Player\"\t\"Answers\"\t\"Right\"\t\"Percent right\"\t\"Average time (seconds)\"\r\n";
const char kAnswersHeading[] =
    "\"Player\"\t\"Round\"\t\"Question\"\t\"Record\"\t\"Question text\"\t\"Time (seconds)\"\t"
    "\"Result\"\r\n";

TEST(ResultsCsv, CodePageBytesBecomeTheirCharacters) {
  struct Case {
    const char* bytes;
    const char* utf8;
  };
  const Case cases[] = {
      {"Ann", "Ann"},
      {"Zo\xEB", "Zoë"},                      // Latin-1 letters keep their code
      {"\x80 \x8A\x9C\x9F", "€ Šœ\xC5\xB8"},  // the code page's own 0x80..0x9F
      {"\x81\x8D\x8F\x90\x9D", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xA0\xFF", "\xC2\xA0\xC3\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ("\xFF\xFE" + cp1252ToUtf16le(c.bytes), sheet(c.utf8));
  }
}

// Names quoted with their quotes doubled, and a leading apostrophe before
// whatever a spreadsheet would start a formula with; the figures are those
// of the results file.
TEST(ResultsCsv, EndScoresRowsQuoteNamesAndDefuseFormulas) {
  struct Case {
    const char* name;
    const char* field;
  };
  const Case cases[] = {
      {"O'Brien, Jr.", "\"O'Brien, Jr.\""},
      {"Al \"Ace\" Lee", "\"Al \"\"Ace\"\" Lee\""},
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1", "\"'+1\""},
      {"-2", "\"'-2\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tTab", "\"'\tTab\""},
      {"a=b", "\"a=b\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlayerRecord player{c.name,
                        {{Response{"4.5", true}, Response{"6", false}},
                         {Response{"3", true}, Response{"2.25", true}}}};
    EXPECT_EQ(endScoresCsv({player}),
              sheet(std::string(kScoresHeading) + c.field + "\t4\t3\t75\t3.94\r\n"));
  }
  PlayerRecord idle{"Idle", {}};
  PlayerRecord far{"Far", {{Response{"1234.5", true}, Response{"x", false}, Response{"0", false}}}};
  EXPECT_EQ(endScoresCsv({idle, far}),
            sheet(std::string(kScoresHeading) + "\"Idle\"\t0\t0\t0\t0\r\n"
                                                "\"Far\"\t3\t1\t33.3\t412\r\n"));
  EXPECT_EQ(endScoresCsv({}), sheet(kScoresHeading));
}

TEST(ResultsCsv, AnAnswerWithoutItsQuestionKeepsItsRow) {
  PlayerRecord ann{"Ann", {{Response{"1", true}, Response{"2", false}}}};
  std::vector<std::vector<AskedQuestion>> asked = {{{7, "=Seven?", "Yes"}}};
  EXPECT_EQ(answersCsv({ann}, asked), sheet(std::string(kAnswersHeading) +
                                            "\"Ann\"\t1\t1\t7\t\"'=Seven?\"\t\"1\"\t\"Right\"\r\n"
                                            "\"Ann\"\t1\t2\t\t\"\"\t\"2\"\t\"Wrong\"\r\n"));
}

// A game played over loopback by players whose names hold a comma, quotes
// and a letter beyond ASCII, then ended as the operator ends it.
struct PlayedGame : ::testing::Test {
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
    app->timeLimitText = "20";
    app->questionsPerRound = 2;
    testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(9));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 9);
    lobby.port = 0;
    ASSERT_TRUE(beginLobby(*app, lobby));
    for (const char* name : {"Zo\xEB", "O'Brien, Jr.", "Al \"Ace\" Lee"}) {
      peers.push_back(std::make_unique<LoopbackPeer>());
      ASSERT_TRUE(peers.back()->connect(lobby.listener->localPort()));
      peers.back()->send(std::string(name) + "\r\n");
      ASSERT_EQ(lobbyPass(*app, lobby, 2000), LobbyPass::kChanged);
      ASSERT_EQ(peers.back()->readLines(3, 2000).substr(0, 4), "20\r\n");
    }
    app->lobbyOutcome = kLobbyStart;
    endLobby(*app, lobby);
    seedRandom(5);
  }

  bool tickUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (!gameTick(*app, game)) return false;
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Every player answers the question out with its time text and verdict
  // (what the server sends them is left unread).
  void answer(const std::vector<std::string>& answers) {
    for (size_t i = 0; i < peers.size(); ++i) peers[i]->send(answers[i]);
    int32_t index = game.questionIndex;
    ASSERT_TRUE(tickUntil([&] { return game.questionIndex != index; }));
  }
};

TEST_F(PlayedGame, BothFilesBesideTheResultsFileFromTheSameRecords) {
  RandomGenerator draws;
  draws.seed(5);
  std::vector<int32_t> round1 = drawRecordNumbers(2, 9, draws);
  std::vector<int32_t> round2 = drawRecordNumbers(2, 9, draws);
  ASSERT_TRUE(gameTick(*app, game));
  answer({"4.5\r\nr", "6\r\nw", "-1\r\nr"});
  answer({"3\r\nr", "2.25\r\nw", "10\r\nw"});
  answer({"1\r\nw", "1\r\nw", "1\r\nw"});
  ASSERT_EQ(app->askedRounds.size(), 2u);
  shutdownServer(0);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{0});

  EXPECT_EQ(testing::readFileBytes(dir.file("endscores.csv")),
            sheet(std::string(kScoresHeading) + "\"Zoë\"\t3\t2\t66.7\t2.83\r\n"
                                                "\"O'Brien, Jr.\"\t3\t0\t0\t3.08\r\n"
                                                "\"Al \"\"Ace\"\" Lee\"\t3\t1\t33.3\t3.33\r\n"));
  auto row = [](const std::string& player, int round, int question, int32_t record,
                const char* time, const char* result) {
    return player + "\t" + std::to_string(round) + "\t" + std::to_string(question) + "\t" +
           std::to_string(record) + "\t\"Question " + std::to_string(record) + "\"\t\"" + time +
           "\"\t\"" + result + "\"\r\n";
  };
  std::string answers = kAnswersHeading;
  const std::string names[] = {"\"Zoë\"", "\"O'Brien, Jr.\"", "\"Al \"\"Ace\"\" Lee\""};
  const char* times[3][3] = {{"4.5", "3", "1"}, {"6", "2.25", "1"}, {"'-1", "10", "1"}};
  const char* results[3][3] = {
      {"Right", "Right", "Wrong"}, {"Wrong", "Wrong", "Wrong"}, {"Right", "Wrong", "Wrong"}};
  for (int p = 0; p < 3; ++p) {
    answers += row(names[p], 1, 1, round1[0], times[p][0], results[p][0]);
    answers += row(names[p], 1, 2, round1[1], times[p][1], results[p][1]);
    answers += row(names[p], 2, 1, round2[0], times[p][2], results[p][2]);
  }
  EXPECT_EQ(testing::readFileBytes(dir.file("answers.csv")), sheet(answers));
  EXPECT_FALSE(testing::fileExists(dir.file("endscores.csv.tmp")));
  EXPECT_FALSE(testing::fileExists(dir.file("answers.csv.tmp")));
  // The results file is the one the same game always gave.
  EXPECT_EQ(testing::readFileBytes(dir.file("endscores.txt")),
            "Player: Zo\xEB\r\n  Round 1:\r\n    1. 4.5 seconds;\tRight\r\n"
            "    2. 3 seconds;\tRight\r\n  Round 2:\r\n    1. 1 seconds;\tWrong\r\n"
            "\r\n  Average time: 2.83 seconds\r\n  Percent correct: 66.7%\r\n\r\n"
            "Player: O'Brien, Jr.\r\n  Round 1:\r\n    1. 6 seconds;\tWrong\r\n"
            "    2. 2.25 seconds;\tWrong\r\n  Round 2:\r\n    1. 1 seconds;\tWrong\r\n"
            "\r\n  Average time: 3.08 seconds\r\n  Percent correct: 0%\r\n\r\n"
            "Player: Al \"Ace\" Lee\r\n  Round 1:\r\n    1. -1 seconds;\tRight\r\n"
            "    2. 10 seconds;\tWrong\r\n  Round 2:\r\n    1. 1 seconds;\tWrong\r\n"
            "\r\n  Average time: 3.33 seconds\r\n  Percent correct: 33.3%\r\n\r\n");
}

// A spreadsheet file that cannot be put in place (here a folder holds its
// name) leaves that name as it was, no temporary file, the other file and
// the results file written, and the exit code as it was.
TEST_F(PlayedGame, AFileThatCannotBeWrittenChangesNothingElse) {
  ASSERT_TRUE(gameTick(*app, game));
  answer({"1\r\nr", "2\r\nr", "3\r\nw"});
  std::filesystem::create_directory(dir.file("endscores.csv"));
  shutdownServer(1);
  EXPECT_EQ(scripted.posted, std::vector<int32_t>{1});
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("endscores.csv")));
  EXPECT_FALSE(testing::fileExists(dir.file("endscores.csv.tmp")));
  EXPECT_EQ(testing::readFileBytes(dir.file("endscores.txt")).substr(0, 34),
            "Player: Zo\xEB\r\n  Round 1:\r\n    1. 1 ");
  std::string answers = testing::readFileBytes(dir.file("answers.csv"));
  EXPECT_EQ(answers.substr(0, 2), "\xFF\xFE");
  EXPECT_FALSE(testing::fileExists(dir.file("answers.csv.tmp")));
}

}  // namespace
}  // namespace qova

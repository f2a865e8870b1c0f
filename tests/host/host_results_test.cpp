// QOVAHOST's results files: the spreadsheet files of a game played with the
// real server by players whose names hold a letter beyond ASCII, a comma and
// quotes, ended with Quit; and the files saved after each round, which
// outlive a server killed in the middle of a round.
#include <string>
#include <vector>

#include "tests/host/host_fixture.h"

namespace qova {
namespace {

// The bytes of a spreadsheet file holding `text` (Windows-1252): the UTF-16LE
// byte-order mark, then each character as Windows converts it.
std::string sheet(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  int units = MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                  static_cast<int>(wide.size()));
  wide.resize(units > 0 ? static_cast<size_t>(units) : 0);
  std::string out = "\xFF\xFE";
  for (wchar_t c : wide) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

struct Play {
  const char* name;   // Windows-1252, as the player program sends it
  const char* field;  // the name as a spreadsheet field
  const char* times[3];
  const char* verdicts;  // 'r' right, 'w' wrong
  const char* timeFields[3];
};
const Play kPlays[] = {
    {"Zo\xEB", "\"Zo\xEB\"", {"4.5", "3", "1"}, "rrw", {"4.5", "3", "1"}},
    {"O'Brien, Jr.", "\"O'Brien, Jr.\"", {"6", "2.25", "1"}, "www", {"6", "2.25", "1"}},
    {"Al \"Ace\" Lee", "\"Al \"\"Ace\"\" Lee\"", {"-1", "10", "1"}, "rww", {"'-1", "10", "1"}},
};

TEST_F(HostTest, QuitWritesTheSpreadsheetFilesBesideTheResults) {
  testing::TempDir folder;
  prepare(folder, "30\r\n2\r\nquestions.qdb", 6);
  driver::Child& host = startHost(folder);
  HWND lobby = findLobby(host);
  ASSERT_NE(lobby, nullptr);
  for (const Play& play : kPlays) join(play.name);
  ASSERT_TRUE(countShows(lobby, "3"));
  HWND stats = driver::findTopWindow("Statistics", 1000, host.id, "#32770");
  ASSERT_NE(stats, nullptr);
  EXPECT_TRUE(driver::clickLater(driver::item(lobby, 1000)));
  ASSERT_TRUE(driver::waitUntil([&] { return driver::isVisible(stats); }, kWaitMs));

  // Two questions of round 1 and the first of round 2, each answered by all;
  // the questions as the players saw them.
  std::vector<std::string> asked;
  for (int q = 0; q < 3; ++q) {
    for (size_t p = 0; p < players_.size(); ++p) {
      PlayerClient& player = *players_[p];
      ASSERT_EQ(player.waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion)
          << kPlays[p].name << " question " << q + 1 << ": " << player.error();
      if (p == 0) asked.push_back(player.question().text);
      ASSERT_TRUE(player.sendAnswer(kPlays[p].times[q], kPlays[p].verdicts[q] == 'r'));
    }
    for (auto& player : players_) {
      ASSERT_EQ(player->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
    }
  }

  EXPECT_TRUE(driver::clickLater(driver::item(stats, 1001)));
  EXPECT_EQ(exitCode(host), 0);

  EXPECT_EQ(testing::readFileBytes(folder.file("endscores.csv")),
            sheet("\"Player\"\t\"Answers\"\t\"Right\"\t\"Percent right\"\t"
                  "\"Average time (seconds)\"\r\n"
                  "\"Zo\xEB\"\t3\t2\t66.7\t2.83\r\n"
                  "\"O'Brien, Jr.\"\t3\t0\t0\t3.08\r\n"
                  "\"Al \"\"Ace\"\" Lee\"\t3\t1\t33.3\t3.33\r\n"));
  // The record number of each question is the one its text names
  // ("Question n" is record n of the test file).
  std::string answers =
      "\"Player\"\t\"Round\"\t\"Question\"\t\"Record\"\t\"Question text\"\t\"Time (seconds)\"\t"
      "\"Result\"\r\n";
  const int rounds[] = {1, 1, 2}, numbers[] = {1, 2, 1};
  for (const Play& play : kPlays) {
    for (int q = 0; q < 3; ++q) {
      ASSERT_EQ(asked[q].rfind("Question ", 0), 0u) << asked[q];
      answers += std::string(play.field) + "\t" + std::to_string(rounds[q]) + "\t" +
                 std::to_string(numbers[q]) + "\t" + asked[q].substr(9) + "\t\"" + asked[q] +
                 "\"\t\"" + play.timeFields[q] + "\"\t\"" +
                 (play.verdicts[q] == 'r' ? "Right" : "Wrong") + "\"\r\n";
    }
  }
  EXPECT_EQ(testing::readFileBytes(folder.file("answers.csv")), sheet(answers));
  EXPECT_FALSE(testing::fileExists(folder.file("endscores.csv.tmp")));
  EXPECT_FALSE(testing::fileExists(folder.file("answers.csv.tmp")));
  EXPECT_EQ(testing::readFileBytes(folder.file("endscores.txt")).substr(0, 13),
            "Player: Zo\xEB\r\n");
}

// The server is killed in round 3: the four files hold rounds 1 and 2 and
// are marked unfinished. The next server, whose marker question is answered
// No, keeps them under their dated names before it writes its own (empty)
// results.
TEST_F(HostTest, AServerKilledInRoundThreeLeavesRoundsOneAndTwoAndTheNextKeepsThem) {
  testing::TempDir folder;
  prepare(folder, "30\r\n2\r\nquestions.qdb", 10);
  // The room feed's port is taken, so the server plays without a feed (and
  // says so in its run log). Under Wine a listener of a process ended from
  // outside can stay bound until the wine server stops, which would keep the
  // feed from the servers of the tests that follow.
  SocketHandle feedPort = openStreamSocket();
  ASSERT_TRUE(listenOn(feedPort, 5633, 1, true));
  driver::Child& host = startHost(folder);
  HWND lobby = findLobby(host);
  ASSERT_NE(lobby, nullptr);
  join("Ann");
  join("<b>Bob</b>");
  ASSERT_TRUE(countShows(lobby, "2"));
  HWND stats = driver::findTopWindow("Statistics", 1000, host.id, "#32770");
  ASSERT_NE(stats, nullptr);
  EXPECT_TRUE(driver::clickLater(driver::item(lobby, 1000)));
  ASSERT_TRUE(driver::waitUntil([&] { return driver::isVisible(stats); }, kWaitMs));

  // Rounds 1 and 2 in full, then round 3's first question; "9.75" only there.
  const char* const times[5][2] = {
      {"1.5", "2"}, {"3", "4.25"}, {"5", "6"}, {"7.5", "8"}, {"9.75", "9.75"}};
  for (int q = 0; q < 5; ++q) {
    for (size_t p = 0; p < players_.size(); ++p) {
      PlayerClient& player = *players_[p];
      ASSERT_EQ(player.waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion)
          << "question " << q + 1 << ": " << player.error();
      ASSERT_TRUE(player.sendAnswer(times[q][p], p == 0));
    }
    for (auto& player : players_) {
      ASSERT_EQ(player->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
      if (q % 2 == 1) {
        ASSERT_EQ(player->waitFor(ClientEvent::kSummary, kPlayerWaitMs), ClientEvent::kSummary);
      }
    }
  }
  // Round 3's second question is out: the round is in play.
  for (auto& player : players_) {
    ASSERT_EQ(player->waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  }
  driver::endProgram(&host);  // as the task manager ends it
  closeSocket(feedPort);
  EXPECT_NE(testing::readFileBytes(folder.file("errLog.txt"))
                .find("Room feed not started: port 5633 on 127.0.0.1 could not be opened."),
            std::string::npos);

  const char* const names[] = {"endscores.txt", "endscores.csv", "answers.csv", "endscores.html"};
  std::vector<std::string> saved;
  for (const char* name : names) saved.push_back(testing::readFileBytes(folder.file(name)));
  const std::string ann =
      "Player: Ann\r\n  Round 1:\r\n    1. 1.5 seconds;\tRight\r\n"
      "    2. 3 seconds;\tRight\r\n  Round 2:\r\n    1. 5 seconds;\tRight\r\n"
      "    2. 7.5 seconds;\tRight\r\n  Round 3:\r\n\r\n  Average time: 4.25 seconds\r\n"
      "  Percent correct: 100%\r\n\r\nPlayer: <b>Bob</b>\r\n";
  EXPECT_EQ(saved[0].substr(0, ann.size()), ann);
  EXPECT_EQ(saved[1].substr(0, 2), "\xFF\xFE");
  EXPECT_NE(saved[1].find(sheet("\"Ann\"\t4\t4\t100\t4.25\r\n").substr(2)), std::string::npos);
  EXPECT_NE(saved[2].find(sheet("\"<b>Bob</b>\"\t2\t2\t").substr(2)), std::string::npos);
  EXPECT_NE(saved[3].find("Round 2, question 2"), std::string::npos);
  EXPECT_NE(saved[3].find("&lt;b&gt;Bob&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(saved[3].find("<b>Bob"), std::string::npos);
  EXPECT_EQ(saved[3].find("Round 3, question"), std::string::npos);
  for (const std::string& bytes : saved) {
    EXPECT_EQ(bytes.find("9.75"), std::string::npos);
    EXPECT_EQ(bytes.find(sheet("9.75").substr(2)), std::string::npos);
  }
  const std::string mark = testing::readFileBytes(folder.file("endscores.unfinished"));
  ASSERT_GE(mark.size(), 17u) << mark;
  const std::string stamp = mark.substr(0, 15);
  // The marker of the killed server is still on S:.
  ASSERT_TRUE(testing::fileExists(kMarker));

  driver::Child& next = startHost(folder);
  expectBox(next, "Notice",
            "Another server is running on the network already.\r\nContinue anyways?", true, IDNO);
  expectBox(next, "Error", "Startup aborted.", true, IDOK);
  EXPECT_EQ(exitCode(next), -1);
  const std::string kept[] = {"endscores-" + stamp + ".txt", "endscores-" + stamp + ".csv",
                              "answers-" + stamp + ".csv", "endscores-" + stamp + ".html"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(testing::readFileBytes(folder.file(kept[i])), saved[i]) << kept[i];
  }
  EXPECT_EQ(testing::readFileBytes(folder.file("endscores.txt")), "");
  EXPECT_FALSE(testing::fileExists(folder.file("endscores.unfinished")));
  const std::string log = testing::readFileBytes(folder.file("errLog.txt"));
  EXPECT_NE(log.find("The results of an unfinished game were kept as " + kept[0]),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace qova

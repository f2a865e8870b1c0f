// A whole game under Wine: the real QOVAHOST, two scripted players and the
// real QOVAPLAY, whose answers this program gives by clicking its response
// buttons. The server's results file must hold exactly those answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/number_format.h"
#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "testing/test_player.h"
#include "player/win/resource.h"
#include "tests/driver/driver.h"

namespace qova {
namespace {

constexpr DWORD kWaitMs = 20000;
const char kMarker[] = "S:\\Zelk9\\HostIP\\hostIP.dat";

// Six questions of four responses; question n's right response is
// 1 + n mod 4, and its text names n.
std::string questionFile() {
  std::vector<testing::TestRecord> records;
  for (int n = 1; n <= 6; ++n) {
    testing::TestRecord q{"Question " + std::to_string(n) + ": which one?", {}, 1 + n % 4};
    for (int r = 1; r <= 4; ++r)
      q.responses.push_back("Answer " + std::to_string(n) + "." + std::to_string(r));
    records.push_back(q);
  }
  return testing::qdbBytes(64, 4, records);
}

int rightResponseOf(const std::string& questionText) {
  int n = std::atoi(questionText.c_str() + std::string("Question ").size());
  return 1 + n % 4;
}

std::string withoutCr(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

bool visible(HWND w) { return w && driver::isVisible(w); }

// Ends both programs and waits for the scripted players, whose connections
// then close, whatever the test did before.
struct Cleanup {
  driver::Child* server;
  driver::Child* player;
  std::thread* players;
  ~Cleanup() {
    driver::endProgram(player);
    driver::endProgram(server);
    if (players->joinable()) players->join();
  }
};

TEST(QovaplayGame, JoinsPlaysTwoRoundsByClicksThenAKeyAndTheResultsFileHoldsTheAnswers) {
  testing::TempDir serverDir, playerDir;
  ASSERT_TRUE(
      testing::writeFileBytes(serverDir.file("config.ini"), "30\r\n2\r\nquestions.qdb\r\n"));
  ASSERT_TRUE(testing::writeFileBytes(serverDir.file("questions.qdb"), questionFile()));
  CreateDirectoryA("S:\\Zelk9", nullptr);
  CreateDirectoryA("S:\\Zelk9\\HostIP", nullptr);
  DeleteFileA(kMarker);

  driver::Child server, player;
  ASSERT_TRUE(driver::startProgram(QOVAHOST_EXE, serverDir.path(), &server));
  HWND lobby = driver::findTopWindow("Waiting for Clients...", kWaitMs, server.id);
  ASSERT_NE(lobby, nullptr);
  ASSERT_TRUE(driver::waitUntil([] { return testing::fileExists(kMarker); }, kWaitMs));
  std::string address = testing::readFileBytes(kMarker);

  // Two scripted players join first, on their own thread.
  GroupOptions options;
  options.host = "127.0.0.1";
  options.port = 5632;
  options.timeoutMs = 120000;
  options.connectRetryMs = 10000;
  PlayerPlan ann, bob;
  ann.name = "Ann";
  ann.times = {"1.5"};
  ann.verdicts = "rw";
  bob.name = "Bob";
  bob.times = {"2.25"};
  bob.verdicts = "r";
  bob.answerDelayMs = 5000;  // outlasts the results on screen: the marks stay up for a while
  options.players = {ann, bob};
  std::ostringstream transcript;
  options.transcript = &transcript;
  PlayerGroup group(options);
  int groupViolations = -1;
  std::thread players([&] { groupViolations = group.run(); });
  Cleanup cleanup{&server, &player, &players};
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(lobby, 1002) == "2"; }, kWaitMs));

  // QOVAPLAY finds the address in the marker file and joins as Zoe.
  ASSERT_TRUE(driver::startProgram(QOVAPLAY_EXE, playerDir.path(), &player));
  HWND main = driver::findTopWindow("QOVA Player", kWaitMs, player.id, "#32770");
  ASSERT_NE(main, nullptr);
  // The views are made right after the main window.
  ASSERT_TRUE(driver::waitUntil([&] { return driver::item(main, IDD_BOARD) != nullptr; }, kWaitMs));
  HWND join = driver::item(main, IDD_JOIN), waiting = driver::item(main, IDD_WAITING);
  HWND question = driver::item(main, IDD_QUESTION), board = driver::item(main, IDD_BOARD);
  ASSERT_TRUE(join && waiting && question && board);
  // The join view is shown once the views are made; on a busy machine a moment later.
  EXPECT_TRUE(driver::waitUntil([&] { return visible(join); }, kWaitMs));
  EXPECT_EQ(driver::itemText(join, IDC_JOIN_ADDRESS), address);
  ASSERT_TRUE(driver::setItemText(join, IDC_JOIN_NAME, "Zoe"));
  ASSERT_TRUE(driver::click(driver::item(join, IDC_JOIN)));
  ASSERT_TRUE(driver::waitUntil([&] { return visible(waiting); }, kWaitMs));
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(lobby, 1002) == "3"; }, kWaitMs));
  EXPECT_TRUE(driver::waitUntil(
      [&] {
        return driver::itemText(waiting, IDC_WAIT_TEXT).find("Questions per round: 2") !=
               std::string::npos;
      },
      kWaitMs));
  EXPECT_NE(driver::itemText(waiting, IDC_WAIT_TEXT).find("Time limit: 30 seconds"),
            std::string::npos);
  EXPECT_TRUE(testing::fileExists(playerDir.file("qovaplay_last.txt")));

  ASSERT_TRUE(driver::clickLater(driver::item(lobby, 1000)));  // Start

  // Two rounds: right, wrong, right, right.
  const bool chooseRight[] = {true, false, true, true};
  std::vector<std::string> times;
  for (int k = 0; k < 4; ++k) {
    int round = 1 + k / 2, number = 1 + k % 2;
    std::string heading =
        "Round " + std::to_string(round) + ", question " + std::to_string(number) + " of 2";
    ASSERT_TRUE(driver::waitUntil(
        [&] { return visible(question) && driver::itemText(question, IDC_Q_HEADING) == heading; },
        kWaitMs))
        << heading;
    std::string text = driver::itemText(question, IDC_Q_TEXT);
    int right = rightResponseOf(text);
    EXPECT_NE(driver::itemText(question, IDC_Q_COUNTDOWN).find("Time left: "), std::string::npos);
    EXPECT_TRUE(visible(driver::item(question, IDC_Q_RESPONSE4)));
    EXPECT_FALSE(visible(driver::item(question, IDC_Q_RESPONSE5)));
    if (k == 0) {
      EXPECT_TRUE(driver::saveScreenshot(main, QOVA_QUESTION_BMP));
    }
    int choice = chooseRight[k] ? right : 1 + right % 4;
    ASSERT_TRUE(driver::click(driver::item(question, IDC_Q_RESPONSE1 + choice - 1)));
    // After the choice the status tells the verdict and the time sent.
    std::string status = driver::itemText(question, IDC_Q_STATUS);
    std::string verdict =
        chooseRight[k] ? "Your answer is right, in " : "Your answer is wrong, in ";
    ASSERT_EQ(status.compare(0, verdict.size(), verdict), 0) << status;
    times.push_back(status.substr(verdict.size(), status.find(" s.") - verdict.size()));
    // The choice and the right response are marked.
    std::string rightText = driver::itemText(question, IDC_Q_RESPONSE1 + right - 1);
    std::string chosenText = driver::itemText(question, IDC_Q_RESPONSE1 + choice - 1);
    if (chooseRight[k]) {
      EXPECT_EQ(rightText.rfind("[your answer - right]", 0), 0u) << rightText;
    } else {
      EXPECT_EQ(rightText.rfind("[right answer]", 0), 0u) << rightText;
      EXPECT_EQ(chosenText.rfind("[your answer - wrong]", 0), 0u) << chosenText;
    }
    if (k == 1) {
      EXPECT_TRUE(driver::saveScreenshot(main, QOVA_ANSWERED_BMP));
    }
    // The results of this question follow.
    std::string results =
        "Results of round " + std::to_string(round) + ", question " + std::to_string(number);
    EXPECT_TRUE(driver::waitUntil(
        [&] { return visible(board) && driver::itemText(board, IDC_BOARD_HEADING) == results; },
        kWaitMs))
        << results;
  }
  ASSERT_TRUE(driver::waitUntil(
      [&] {
        return visible(board) &&
               driver::itemText(board, IDC_BOARD_HEADING) == "Leaderboard after round 2";
      },
      kWaitMs));
  EXPECT_TRUE(driver::saveScreenshot(main, QOVA_LEADERBOARD_BMP));

  // The first question of round 3 is answered with its number key.
  ASSERT_TRUE(driver::waitUntil(
      [&] {
        return visible(question) &&
               driver::itemText(question, IDC_Q_HEADING) == "Round 3, question 1 of 2";
      },
      kWaitMs));
  int right = rightResponseOf(driver::itemText(question, IDC_Q_TEXT));
  ASSERT_TRUE(PostMessageA(question, WM_KEYDOWN, '0' + right, 0));
  const std::string rightVerdict = "Your answer is right, in ";
  ASSERT_TRUE(driver::waitUntil(
      [&] { return driver::itemText(question, IDC_Q_STATUS).rfind(rightVerdict, 0) == 0; },
      kWaitMs));
  std::string status = driver::itemText(question, IDC_Q_STATUS);
  times.push_back(status.substr(rightVerdict.size(), status.find(" s.") - rightVerdict.size()));
  EXPECT_TRUE(driver::waitUntil(
      [&] {
        return visible(board) &&
               driver::itemText(board, IDC_BOARD_HEADING) == "Results of round 3, question 1";
      },
      kWaitMs));

  // The operator quits from the Statistics window; QOVAPLAY shows the end.
  HWND statistics = driver::findTopWindow("Statistics", kWaitMs, server.id);
  ASSERT_NE(statistics, nullptr);
  ASSERT_TRUE(driver::clickLater(driver::item(statistics, 1001)));
  DWORD code = 99;
  EXPECT_TRUE(driver::waitForExit(server, kWaitMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(driver::waitUntil(
      [&] {
        return visible(board) && driver::itemText(board, IDC_BOARD_HEADING) == "The quiz has ended";
      },
      kWaitMs));
  EXPECT_EQ(driver::itemText(board, IDC_BOARD_NOTE),
            "The quiz is over: the server has ended the game.");
  players.join();
  EXPECT_EQ(groupViolations, 0) << transcript.str();
  for (const PlayerReport& r : group.reports()) {
    EXPECT_TRUE(r.closedCleanly) << r.closeText;
    EXPECT_GE(r.summaries, 2);
  }

  // Zoe's block holds exactly her five answers. The scripted players' first
  // two rounds are there as sent.
  ASSERT_EQ(times.size(), 5u);
  std::string scores = withoutCr(testing::readFileBytes(serverDir.file("endscores.txt")));
  double sum = 0;
  for (const std::string& t : times) sum += parseDecimal(t);
  std::string zoe =
      "Player: Zoe\n  Round 1:\n    1. " + times[0] + " seconds;\tRight\n    2. " + times[1] +
      " seconds;\tWrong\n  Round 2:\n    1. " + times[2] + " seconds;\tRight\n    2. " + times[3] +
      " seconds;\tRight\n  Round 3:\n    1. " + times[4] + " seconds;\tRight\n\n" +
      "  Average time: " + formatGeneral(sum / 5, 3) + " seconds\n" + "  Percent correct: 80%\n\n";
  size_t at = scores.find("Player: Zoe\n");
  ASSERT_NE(at, std::string::npos) << scores;
  EXPECT_EQ(scores.substr(at), zoe) << scores;
  const std::string annRounds =
      "Player: Ann\n  Round 1:\n    1. 1.5 seconds;\tRight\n    2. 1.5 seconds;\tWrong\n"
      "  Round 2:\n    1. 1.5 seconds;\tRight\n    2. 1.5 seconds;\tWrong\n  Round 3:\n";
  const std::string bobRounds =
      "Player: Bob\n  Round 1:\n    1. 2.25 seconds;\tRight\n    2. 2.25 seconds;\tRight\n"
      "  Round 2:\n    1. 2.25 seconds;\tRight\n    2. 2.25 seconds;\tRight\n  Round 3:\n";
  EXPECT_NE(scores.find(annRounds), std::string::npos) << scores;
  EXPECT_NE(scores.find(bobRounds), std::string::npos) << scores;
  EXPECT_LT(scores.find("Player: Bob"), at);

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(driver::waitForExit(player, kWaitMs, &code));
  EXPECT_EQ(code, 0u);
  driver::endProgram(&player);
  driver::endProgram(&server);
}

}  // namespace
}  // namespace qova

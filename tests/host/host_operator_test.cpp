// QOVAHOST end to end, the operator's side of a room: the lobby's list of
// players with Remove Player, and in the game the deadline for an answer
// that never comes, End Question, the answers line and Remove Player in the
// Statistics window. The real server runs in a fresh working folder and is
// played with over loopback on port 5632; buttons are found by their text.
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>  // before windows.h, which the player headers need
#include <windows.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "common/number_format.h"
#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "net/net.h"
#include "player/player_client.h"
#include "tests/driver/driver.h"

namespace qova {
namespace {

using driver::entries;
using driver::item;
using driver::itemText;
using Lines = std::vector<std::string>;

constexpr DWORD kWaitMs = 15000;
constexpr int kPlayerWaitMs = 15000;
const char kMarker[] = "S:\\Zelk9\\HostIP\\hostIP.dat";

// Sets the selection of a list (`combo` false) or combo box and, for a
// combo, sends the notification the operator's choice would.
void choose(HWND dialog, int id, int index, bool combo) {
  HWND control = item(dialog, id);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG,
                      driver::kSendTimeoutMs, &result);
  if (combo) {
    SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(control), SMTO_ABORTIFHUNG, driver::kSendTimeoutMs,
                        &result);
  }
}

// The child button of `dialog` with this text; null when there is none.
HWND buttonByText(HWND dialog, const std::string& text) {
  struct Search {
    std::string text;
    HWND found = nullptr;
  } search{text};
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Button") == 0 && driver::text(child) == s->text) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class HostOperatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startSockets());
    CreateDirectoryA("S:\\Zelk9", nullptr);
    CreateDirectoryA("S:\\Zelk9\\HostIP", nullptr);
    DeleteFileA(kMarker);
  }
  void TearDown() override {
    players_.clear();
    // Quit, not an end from outside, which under Wine can leave the room
    // feed's listener bound for the tests that follow.
    driver::quitProgram(&host_, {"Waiting for Clients...", "Statistics"}, 1001, 5000);
    DeleteFileA(kMarker);
  }

  // Starts the server on `config` with a database of `records` questions
  // and returns its lobby window once it is set up.
  HWND startHost(const std::string& config, int records) {
    EXPECT_TRUE(testing::writeFileBytes(folder_.file("config.ini"), config));
    EXPECT_TRUE(testing::writeFileBytes(folder_.file("questions.qdb"),
                                        testing::numberedQuestionFile(records)));
    EXPECT_TRUE(driver::startProgram(QOVAHOST_EXE, folder_.path(), &host_));
    HWND lobby = driver::findTopWindow("Waiting for Clients...", kWaitMs, host_.id, "#32770");
    EXPECT_NE(lobby, nullptr);
    EXPECT_TRUE(driver::waitUntil([&] { return !itemText(lobby, 1002).empty(); }, kWaitMs));
    return lobby;
  }

  // Connects a player and waits for its settings; a refused connect (the
  // window shows a moment before the server listens) is tried again.
  PlayerClient& join(const std::string& name) {
    DWORD start = GetTickCount();
    for (;;) {
      auto player = std::make_unique<PlayerClient>();
      EXPECT_TRUE(player->connect("127.0.0.1", 5632, name));
      ClientEvent event = player->waitFor(ClientEvent::kSettings, kPlayerWaitMs);
      if (event != ClientEvent::kConnectFailed || GetTickCount() - start > kWaitMs) {
        EXPECT_EQ(event, ClientEvent::kSettings) << player->error();
        players_.push_back(std::move(player));
        return *players_.back();
      }
      Sleep(100);
    }
  }

  // Lets the players send what they have queued (their names).
  bool shows(HWND dialog, int id, const std::string& text) {
    return driver::waitUntil(
        [&] {
          std::vector<ClientEvent> events;
          for (auto& player : players_) player->step(0, &events);
          return itemText(dialog, id) == text;
        },
        kWaitMs);
  }

  bool listShows(HWND dialog, int id, const Lines& names) {
    return driver::waitUntil([&] { return entries(item(dialog, id), false) == names; }, kWaitMs);
  }

  // Presses the button with `buttonText` and answers the "Notice" box that
  // it opens, which must say `text`.
  void pressAndAnswer(HWND dialog, const std::string& buttonText, const std::string& text,
                      int button) {
    HWND pressed = buttonByText(dialog, buttonText);
    ASSERT_NE(pressed, nullptr) << buttonText;
    ASSERT_TRUE(driver::clickLater(pressed));
    HWND box = driver::findMessageBox("Notice", kWaitMs, host_.id);
    ASSERT_NE(box, nullptr) << "no Notice for " << text;
    EXPECT_EQ(driver::messageBoxText(box), text);
    EXPECT_TRUE(driver::answer(box, button));
    EXPECT_TRUE(driver::waitUntil(
        [&] { return driver::findMessageBox("Notice", 0, host_.id) == nullptr; }, kWaitMs));
  }

  int exitCode() {
    DWORD code = 12345;
    EXPECT_TRUE(driver::waitForExit(host_, kWaitMs, &code));
    return static_cast<int>(code);
  }

  testing::TempDir folder_;
  driver::Child host_;
  std::vector<std::unique_ptr<PlayerClient>> players_;
};

TEST_F(HostOperatorTest, TheLobbyListsThePlayersAndRemovesOneOnYes) {
  HWND lobby = startHost("30\r\n2\r\nquestions.qdb", 4);
  ASSERT_NE(lobby, nullptr);
  // The written controls are where they were, the new ones beside them.
  EXPECT_EQ(itemText(lobby, 1000), "Start");
  EXPECT_EQ(itemText(lobby, 1001), "Quit");
  EXPECT_EQ(buttonByText(lobby, "Remove Player"), item(lobby, 1004));
  join("Ann");
  PlayerClient& bob = join("Bob");
  join("Cy");
  ASSERT_TRUE(shows(lobby, 1002, "3"));
  EXPECT_TRUE(listShows(lobby, 1003, {"Ann", "Bob", "Cy"}));

  pressAndAnswer(lobby, "Remove Player", "Choose a player in the list first.", IDOK);
  choose(lobby, 1003, 1, false);
  pressAndAnswer(lobby, "Remove Player", "Remove Bob from the game?", IDNO);
  EXPECT_EQ(itemText(lobby, 1002), "3");
  EXPECT_EQ(entries(item(lobby, 1003), false), (Lines{"Ann", "Bob", "Cy"}));
  pressAndAnswer(lobby, "Remove Player", "Remove Bob from the game?", IDYES);
  EXPECT_TRUE(shows(lobby, 1002, "2"));
  EXPECT_TRUE(listShows(lobby, 1003, {"Ann", "Cy"}));
  EXPECT_EQ(bob.waitFor(ClientEvent::kClosed, kPlayerWaitMs), ClientEvent::kClosed);

  // Players leaving and joining show in the list as in the count.
  players_[0]->close();
  EXPECT_TRUE(shows(lobby, 1002, "1"));
  EXPECT_TRUE(listShows(lobby, 1003, {"Cy"}));
  join("Dee");
  EXPECT_TRUE(shows(lobby, 1002, "2"));
  EXPECT_TRUE(listShows(lobby, 1003, {"Cy", "Dee"}));
  choose(lobby, 1003, 1, false);
  EXPECT_TRUE(driver::saveScreenshot(lobby, QOVA_OPERATOR_LOBBY_BMP));

  EXPECT_TRUE(driver::clickLater(item(lobby, 1001)));
  EXPECT_EQ(exitCode(), 0);
  const std::string noAnswers = "\r\n  Average time: 0 seconds\r\n  Percent correct: 0%\r\n\r\n";
  EXPECT_EQ(testing::readFileBytes(folder_.file("endscores.txt")),
            "Player: Cy\r\n" + noAnswers + "Player: Dee\r\n" + noAnswers);
}

// Rows of a results message as "name time verdict".
Lines rows(const PlayerClient& player) {
  Lines out;
  for (const ResultEntry& e : player.results()) {
    out.push_back(e.name + " " + e.timeText + " " + (e.correct ? "r" : "w"));
  }
  return out;
}

// A limit of 1 s and two questions a round, three players. Question 1: Ann
// answers, the operator ends it. Question 2: Cy never answers in time, the
// deadline records him. Question 3: everyone answers, Cy's late answers
// changed nothing. Question 4: Bob, the last awaited, is removed, and the
// question finishes at once.
TEST_F(HostOperatorTest, DeadlineEndQuestionAnswersLineAndRemovePlayerInTheGame) {
  HWND lobby = startHost("1\r\n2\r\nquestions.qdb", 6);
  ASSERT_NE(lobby, nullptr);
  PlayerClient& ann = join("Ann");
  PlayerClient& bob = join("Bob");
  PlayerClient& cy = join("Cy");
  ASSERT_TRUE(shows(lobby, 1002, "3"));
  HWND stats = driver::findTopWindow("Statistics", 1000, host_.id, "#32770");
  ASSERT_NE(stats, nullptr);
  EXPECT_TRUE(driver::clickLater(item(lobby, 1000)));
  ASSERT_TRUE(driver::waitUntil([&] { return driver::isVisible(stats); }, kWaitMs));
  EXPECT_EQ(itemText(stats, 1001), "Quit");
  HWND endQuestion = buttonByText(stats, "End Question");
  ASSERT_EQ(endQuestion, item(stats, 1018));

  // Question 1: the answers line follows the answers; End Question records
  // the two awaited ones with the time passed, at most the limit.
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  }
  EXPECT_TRUE(shows(stats, 1016, "Answers: 0 of 3"));
  ASSERT_TRUE(ann.sendAnswer("0.5", true));
  EXPECT_TRUE(shows(stats, 1016, "Answers: 1 of 3"));
  ASSERT_TRUE(driver::click(endQuestion));
  // Bob and Cy answer after the operator ended the question: too late.
  ASSERT_TRUE(bob.sendAnswer("0.7", true));
  ASSERT_TRUE(cy.sendAnswer("0.8", true));
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
  }
  Lines first = rows(ann);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0], "Ann 0.5 r");
  const std::string bobEnded = ann.results()[1].timeText;
  const std::string cyEnded = ann.results()[2].timeText;
  for (const std::string& t : {bobEnded, cyEnded}) {
    EXPECT_EQ(t.size(), 4u) << t;  // two decimals
    EXPECT_LE(parseDecimal(t), 1.0) << t;
  }
  EXPECT_EQ(first[1], "Bob " + bobEnded + " w");
  EXPECT_EQ(first[2], "Cy " + cyEnded + " w");
  EXPECT_EQ(rows(bob), first);

  // Question 2: Cy does not answer; 16 s after the question (the limit and
  // 15 s) the deadline records him, and he stays.
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  }
  DWORD asked = GetTickCount();
  ASSERT_TRUE(ann.sendAnswer("1.5", true));
  ASSERT_TRUE(bob.sendAnswer("0.25", false));
  EXPECT_TRUE(shows(stats, 1016, "Answers: 2 of 3"));
  ASSERT_EQ(ann.waitFor(ClientEvent::kResults, 30000), ClientEvent::kResults);
  DWORD waited = GetTickCount() - asked;
  EXPECT_GE(waited, 15500u);
  EXPECT_LE(waited, 17000u);
  EXPECT_EQ(rows(ann), (Lines{"Ann 1.5 r", "Bob 0.25 w", "Cy 1.00 w"}));
  ASSERT_TRUE(cy.sendAnswer("0.9", true));  // he wakes up: too late again
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    if (p != &ann) {
      ASSERT_EQ(p->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
    }
    ASSERT_EQ(p->waitFor(ClientEvent::kSummary, kPlayerWaitMs), ClientEvent::kSummary);
  }

  // Question 3: everyone in time; Cy's answer is his own.
  const char* times[] = {"2", "3", "0.25"};
  const bool right[] = {true, false, true};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(players_[i]->waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
    ASSERT_TRUE(players_[i]->sendAnswer(times[i], right[i]));
  }
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
  }
  EXPECT_EQ(rows(ann), (Lines{"Ann 2 r", "Bob 3 w", "Cy 0.25 r"}));

  // Question 4: Bob is the last awaited. Remove Player asks for a player of
  // the view by player first, then names him; Yes lets the question finish.
  for (PlayerClient* p : {&ann, &bob, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kQuestion, kPlayerWaitMs), ClientEvent::kQuestion);
  }
  ASSERT_TRUE(ann.sendAnswer("1", true));
  ASSERT_TRUE(cy.sendAnswer("4", false));
  EXPECT_TRUE(shows(stats, 1016, "Answers: 2 of 3"));
  pressAndAnswer(stats, "Remove Player", "Choose View by Player and a player first.", IDOK);
  ASSERT_TRUE(driver::click(item(stats, 1014)));
  choose(stats, 1009, 1, true);
  pressAndAnswer(stats, "Remove Player",
                 "Remove Bob from the game? Their answers are removed with them.", IDNO);
  EXPECT_EQ(entries(item(stats, 1009), true), (Lines{"Ann", "Bob", "Cy"}));
  pressAndAnswer(stats, "Remove Player",
                 "Remove Bob from the game? Their answers are removed with them.", IDYES);
  EXPECT_EQ(bob.waitFor(ClientEvent::kClosed, kPlayerWaitMs), ClientEvent::kClosed);
  for (PlayerClient* p : {&ann, &cy}) {
    ASSERT_EQ(p->waitFor(ClientEvent::kResults, kPlayerWaitMs), ClientEvent::kResults);
    EXPECT_EQ(rows(*p), (Lines{"Ann 1 r", "Cy 4 w"}));
    ASSERT_EQ(p->waitFor(ClientEvent::kSummary, kPlayerWaitMs), ClientEvent::kSummary);
    EXPECT_EQ(p->summary().size(), 2u);
  }
  EXPECT_EQ(entries(item(stats, 1009), true), (Lines{"Ann", "Cy"}));
  EXPECT_TRUE(shows(stats, 1016, "Answers: 0 of 2"));
  choose(stats, 1009, 1, true);
  choose(stats, 1007, 0, true);
  EXPECT_EQ(entries(item(stats, 1006), false), (Lines{"1\t" + cyEnded + "\tNo", "2\t1.00\tNo"}));
  EXPECT_TRUE(driver::saveScreenshot(stats, QOVA_OPERATOR_STATISTICS_BMP));

  EXPECT_TRUE(driver::clickLater(item(stats, 1001)));
  EXPECT_EQ(exitCode(), 0);
  std::string scores = testing::readFileBytes(folder_.file("endscores.txt"));
  EXPECT_EQ(scores.find("Bob"), std::string::npos) << scores;
  EXPECT_NE(scores.find("Player: Cy\r\n"
                        "  Round 1:\r\n"
                        "    1. " +
                        cyEnded +
                        " seconds;\tWrong\r\n"
                        "    2. 1.00 seconds;\tWrong\r\n"
                        "  Round 2:\r\n"
                        "    1. 0.25 seconds;\tRight\r\n"
                        "    2. 4 seconds;\tWrong\r\n"),
            std::string::npos)
      << scores;
  EXPECT_NE(scores.find("Player: Ann\r\n"
                        "  Round 1:\r\n"
                        "    1. 0.5 seconds;\tRight\r\n"
                        "    2. 1.5 seconds;\tRight\r\n"),
            std::string::npos)
      << scores;
}

}  // namespace
}  // namespace qova

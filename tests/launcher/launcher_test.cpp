// The launcher end to end: the real QOVASTART.exe in its own working folder,
// with stand-in children where the server or the editor would be.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "testing/test_qdb_file.h"
#include "tests/launcher/launcher_fixture.h"

namespace qova {
namespace {

using driver::clickLater;
using driver::isVisible;
using driver::item;
using driver::itemText;
using driver::setItemText;
using driver::waitUntil;

enum : int {
  kBegin = 1000,
  kTimeLimit = 1002,
  kBrowse = 1004,
  kCreateModify = 1005,
  kDatabaseFile = 1006,
  kQuestionsPerRound = 1007,
  kOpenResults = 1009,
};

using LauncherTest = LauncherFixture;

TEST_F(LauncherTest, BeginSavesFieldsAsTypedAndTheNextStartShowsThem) {
  struct Case {
    const char* name;
    std::string previous;  // config.ini before the launcher starts; "-" for none
    std::string timeLimit, questions, database;
    std::string expected;  // config.ini after Begin
  };
  const std::string longText(600, 'z');
  const std::string kept(511, 'z');  // a field reads at most 511 characters
  const Case cases[] = {
      {"usual values, no config.ini yet", "-", "30", "10", "questions.qdb",
       "30\r\n10\r\nquestions.qdb"},
      {"texts kept as typed over an old file", "45\r\n12\r\nold.qdb\r\nextra\r\n", " 4 5 sec ",
       "ten", "Z:\\some folder\\My Quiz.qdb", " 4 5 sec \r\nten\r\nZ:\\some folder\\My Quiz.qdb"},
      {"empty fields give empty lines", "1\r\n2\r\n3", "", "", "", "\r\n\r\n"},
      {"long texts cut to the field size", "-", longText, "5", longText, kept + "\r\n5\r\n" + kept},
  };
  bool first = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    freshFolder();
    if (c.previous != "-") {
      ASSERT_TRUE(testing::writeFileBytes(file("config.ini"), c.previous));
    }

    HWND dialog = startLauncher();
    ASSERT_NE(dialog, nullptr);
    if (c.previous == "-") {
      EXPECT_EQ(itemText(dialog, kTimeLimit), "");
      EXPECT_EQ(itemText(dialog, kQuestionsPerRound), "");
      EXPECT_EQ(itemText(dialog, kDatabaseFile), "");
    }
    ASSERT_TRUE(setItemText(dialog, kTimeLimit, c.timeLimit));
    ASSERT_TRUE(setItemText(dialog, kQuestionsPerRound, c.questions));
    ASSERT_TRUE(setItemText(dialog, kDatabaseFile, c.database));
    // There is no Bin folder: the settings are saved, the start fails.
    ASSERT_TRUE(clickLater(item(dialog, kBegin)));
    expectCouldNotSpawn();
    EXPECT_EQ(fileBytes("config.ini"), c.expected);
    EXPECT_TRUE(isVisible(dialog));
    quitLauncher(dialog, /*closeBox=*/!first);

    dialog = startLauncher();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(itemText(dialog, kTimeLimit), lineOf(c.expected, 0));
    EXPECT_EQ(itemText(dialog, kQuestionsPerRound), lineOf(c.expected, 1));
    EXPECT_EQ(itemText(dialog, kDatabaseFile), lineOf(c.expected, 2));
    if (first) {
      EXPECT_TRUE(driver::saveScreenshot(dialog, QOVA_SCREENSHOT_BMP));
    }
    quitLauncher(dialog);
    first = false;
  }
}

TEST_F(LauncherTest, HidesWhileTheChildRunsAndShowsAgainWhenItEnds) {
  struct Case {
    const char* name;
    int button;
    const char* child;
    std::string configAfter;  // what the child finds in config.ini
  };
  const std::string before = "20\r\n7\r\nbefore.qdb";
  const Case cases[] = {
      {"Create/Modify starts the editor and leaves config.ini alone", kCreateModify, "QOVAMAKE.exe",
       before},
      {"Begin saves first and then starts the server", kBegin, "QOVAHOST.exe",
       "25\r\n8\r\nafter.qdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    freshFolder();
    ASSERT_TRUE(testing::writeFileBytes(file("config.ini"), before));
    installChild(STAND_IN_CHILD_EXE, c.child);

    HWND dialog = startLauncher();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(setItemText(dialog, kTimeLimit, "25"));
    ASSERT_TRUE(setItemText(dialog, kQuestionsPerRound, "8"));
    ASSERT_TRUE(setItemText(dialog, kDatabaseFile, "after.qdb"));
    ASSERT_TRUE(clickLater(item(dialog, c.button)));

    ASSERT_TRUE(waitUntil([&] { return testing::fileExists(file("child_ran.txt")); }, kWaitMs));
    EXPECT_TRUE(waitUntil([&] { return !isVisible(dialog); }, kWaitMs));
    std::string ran = fileBytes("child_ran.txt");
    EXPECT_TRUE(endsWith(lineOf(ran, 0), std::string("\\Bin\\") + c.child)) << lineOf(ran, 0);
    EXPECT_TRUE(sameFolder(lineOf(ran, 1), folder())) << lineOf(ran, 1);
    EXPECT_EQ(fileBytes("child_saw_config.ini"), c.configAfter);

    // Still hidden a while later: the launcher waits for the child's end.
    Sleep(500);
    EXPECT_FALSE(isVisible(dialog));
    ASSERT_TRUE(testing::writeFileBytes(file("child_release"), ""));
    EXPECT_TRUE(waitUntil([&] { return isVisible(dialog); }, kWaitMs));
    EXPECT_EQ(fileBytes("config.ini"), c.configAfter);
    EXPECT_EQ(itemText(dialog, kDatabaseFile), "after.qdb");
    quitLauncher(dialog);
  }
}

TEST_F(LauncherTest, BrowsePutsTheChosenPathAndKeepsTheWorkingFolder) {
  testing::TempDir elsewhere;
  ASSERT_TRUE(testing::writeFileBytes(elsewhere.file("quiz.qdb"), testing::qdbBytes(0, 4, {})));
  ASSERT_TRUE(testing::writeFileBytes(file("config.ini"), "30\r\n10\r\nfirst.qdb"));
  HWND dialog = startLauncher();
  ASSERT_NE(dialog, nullptr);

  // Cancel leaves the field as it was.
  ASSERT_TRUE(clickLater(item(dialog, kBrowse)));
  HWND open = driver::findMessageBox("Open", kWaitMs, launcher_.id);
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(driver::answer(open, IDCANCEL));
  EXPECT_TRUE(waitUntil([&] { return !IsWindow(open); }, kWaitMs));
  EXPECT_EQ(itemText(dialog, kDatabaseFile), "first.qdb");

  ASSERT_TRUE(clickLater(item(dialog, kBrowse)));
  open = driver::findMessageBox("Open", kWaitMs, launcher_.id);
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(driver::chooseFile(open, elsewhere.file("quiz.qdb")));
  EXPECT_TRUE(waitUntil([&] { return !IsWindow(open); }, kWaitMs));
  EXPECT_TRUE(sameFolder(itemText(dialog, kDatabaseFile), elsewhere.file("quiz.qdb")))
      << itemText(dialog, kDatabaseFile);

  // The settings still land in the launcher's own working folder.
  ASSERT_TRUE(clickLater(item(dialog, kBegin)));
  expectCouldNotSpawn();
  EXPECT_EQ(lineOf(fileBytes("config.ini"), 2), itemText(dialog, kDatabaseFile));
  EXPECT_FALSE(testing::fileExists(elsewhere.file("config.ini")));
  quitLauncher(dialog);
}

// While a test runs, the shell opens .html files with the stand-in child, so
// that what Open Results asks the shell to open can be read back; the
// association as it was comes back afterwards.
class HtmlOpensWithStandIn {
 public:
  HtmlOpensWithStandIn() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".html", 0, KEY_READ, &key) == ERROR_SUCCESS) {
      char value[256] = {};
      LONG size = sizeof value;
      had_ = RegQueryValueA(key, nullptr, value, &size) == ERROR_SUCCESS;
      previous_ = value;
      RegCloseKey(key);
    }
    const std::string command = std::string("\"") + STAND_IN_CHILD_EXE + "\" \"%1\"";
    set_ =
        RegSetValueA(HKEY_CLASSES_ROOT, ".html", REG_SZ, kProgId, 0) == ERROR_SUCCESS &&
        RegSetValueA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell\\open\\command").c_str(),
                     REG_SZ, command.c_str(), 0) == ERROR_SUCCESS;
  }
  ~HtmlOpensWithStandIn() {
    if (had_) {
      RegSetValueA(HKEY_CLASSES_ROOT, ".html", REG_SZ, previous_.c_str(), 0);
    } else {
      RegDeleteKeyA(HKEY_CLASSES_ROOT, ".html");
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell\\open\\command").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell\\open").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kProgId) + "\\shell").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
  }
  bool set() const { return set_; }

 private:
  static constexpr const char* kProgId = "QovaTestReport";
  bool had_ = false;
  bool set_ = false;
  std::string previous_;
};

TEST_F(LauncherTest, OpenResultsOpensTheReportOfTheWorkingFolder) {
  HtmlOpensWithStandIn association;
  ASSERT_TRUE(association.set());
  installChild(STAND_IN_CHILD_EXE, "QOVAHOST.exe");
  HWND dialog = startLauncher();
  ASSERT_NE(dialog, nullptr);
  HWND button = item(dialog, kOpenResults);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(itemText(dialog, kOpenResults), "Open Results");
  // No report yet: nothing to open.
  EXPECT_FALSE(IsWindowEnabled(button));

  // The server writes its report while it runs; once it has ended, the
  // launcher offers it.
  ASSERT_TRUE(clickLater(item(dialog, kBegin)));
  ASSERT_TRUE(waitUntil([&] { return testing::fileExists(file("child_ran.txt")); }, kWaitMs));
  ASSERT_TRUE(testing::writeFileBytes(file("endscores.html"), "<p>report</p>"));
  ASSERT_TRUE(DeleteFileA(file("child_ran.txt").c_str()));
  ASSERT_TRUE(testing::writeFileBytes(file("child_release"), ""));
  ASSERT_TRUE(waitUntil([&] { return isVisible(dialog); }, kWaitMs));
  EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(button) != FALSE; }, kWaitMs));

  ASSERT_TRUE(clickLater(button));
  ASSERT_TRUE(waitUntil([&] { return testing::fileExists(file("child_ran.txt")); }, kWaitMs));
  const std::string ran = fileBytes("child_ran.txt");
  EXPECT_TRUE(sameFolder(lineOf(ran, 1), folder())) << ran;
  // Paths compared without regard to case, as Windows compares them.
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string commandLine = lower(lineOf(ran, 2));
  const std::string report =
      lower(folder() + (folder().back() == '\\' ? "" : "\\") + "endscores.html");
  EXPECT_NE(commandLine.find(report), std::string::npos) << commandLine << " / " << report;
  // The launcher stays as it was.
  EXPECT_TRUE(isVisible(dialog));
  EXPECT_TRUE(testing::fileExists(file("endscores.html")));
  quitLauncher(dialog);

  // A folder without the report: the button is off from the start.
  freshFolder();
  dialog = startLauncher();
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(IsWindowEnabled(item(dialog, kOpenResults)));
  quitLauncher(dialog);
}

}  // namespace
}  // namespace qova

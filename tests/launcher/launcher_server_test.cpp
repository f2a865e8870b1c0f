// The launcher with the real quiz server in its Bin folder.
#include <gtest/gtest.h>

#include <string>

#include "tests/launcher/launcher_fixture.h"

namespace qova {
namespace {

using LauncherServerTest = LauncherFixture;

TEST_F(LauncherServerTest, EmptyDatabaseFieldMakesTheServerFailToLoadQuestions) {
  installChild(QOVAHOST_EXE, "QOVAHOST.exe");
  ASSERT_TRUE(testing::writeFileBytes(file("config.ini"), "30\r\n10\r\nquestions.qdb"));
  HWND dialog = startLauncher();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(driver::setItemText(dialog, 1002, "30"));
  ASSERT_TRUE(driver::setItemText(dialog, 1007, "10"));
  ASSERT_TRUE(driver::setItemText(dialog, 1006, ""));
  ASSERT_TRUE(driver::clickLater(driver::item(dialog, 1000)));

  DWORD server = driver::findProcess(file("Bin\\QOVAHOST.exe"), kWaitMs);
  ASSERT_NE(server, 0u);
  HWND box = driver::findMessageBox("Error", kWaitMs, server);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::messageBoxText(box), "Error loading questions.");
  EXPECT_TRUE(driver::messageBoxHasIcon(box));
  EXPECT_FALSE(driver::isVisible(dialog));
  EXPECT_EQ(fileBytes("config.ini"), "30\r\n10\r\n");
  EXPECT_TRUE(driver::answer(box, IDOK));

  // The server ends and the launcher comes back.
  EXPECT_TRUE(driver::waitUntil([&] { return driver::isVisible(dialog); }, kWaitMs));
  EXPECT_NE(fileBytes("errLog.txt").find("Error loading questions."), std::string::npos);
  quitLauncher(dialog);
}

}  // namespace
}  // namespace qova

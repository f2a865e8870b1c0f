#include "launcher/launcher_config.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testing/test_support.h"

namespace qova {
namespace {

using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

const std::string k511(511, 'a');

TEST(LauncherConfigTest, ReadsFieldsLikeABoundedGetline) {
  struct Case {
    const char* name;
    std::string bytes;
    LauncherSettings expected;
  };
  const Case cases[] = {
      {"as the launcher writes it", "30\r\n10\r\nquestions.qdb", {"30", "10", "questions.qdb"}},
      {"LF only, last line ended", "30\n10\nq.qdb\n", {"30", "10", "q.qdb"}},
      {"texts kept as typed",
       " 4 5s \r\nx\r\nC:\\My Quiz\\a b.qdb",
       {" 4 5s ", "x", "C:\\My Quiz\\a b.qdb"}},
      {"empty lines", "\r\n\r\n", {"", "", ""}},
      {"only one line", "25", {"25", "", ""}},
      {"CR inside a line is kept", "a\rb\r\n1\r\nf", {"a\rb", "1", "f"}},
      {"only one CR dropped", "7\r\r\n1\r\nf", {"7\r", "1", "f"}},
      {"longest line that fits", k511 + "\r\n2\r\n3", {k511, "2", "3"}},
      {"too long fails the rest", k511 + "b\r\n2\r\n3", {k511, "", ""}},
      {"too long later line", "1\r\n" + k511 + "bb\r\n3", {"1", k511, ""}},
      {"empty file", "", {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(writeFileBytes(dir.file("config.ini"), c.bytes));
    LauncherSettings read = readLauncherSettings(dir.file("config.ini"));
    EXPECT_EQ(read.timeLimit, c.expected.timeLimit);
    EXPECT_EQ(read.questionsPerRound, c.expected.questionsPerRound);
    EXPECT_EQ(read.databaseFile, c.expected.databaseFile);
  }
}

TEST(LauncherConfigTest, MissingFileGivesEmptyFields) {
  TempDir dir;
  LauncherSettings read = readLauncherSettings(dir.file("config.ini"));
  EXPECT_EQ(read.timeLimit, "");
  EXPECT_EQ(read.questionsPerRound, "");
  EXPECT_EQ(read.databaseFile, "");
}

TEST(LauncherConfigTest, TooLongLineLeavesRestUnread) {
  std::istringstream in(k511 + "xyz\n");
  EXPECT_EQ(readLauncherField(in), k511);
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(readLauncherField(in), "");
}

TEST(LauncherConfigTest, WritesThreeLinesWithoutFinalLineEnd) {
  struct Case {
    LauncherSettings settings;
    std::string bytes;
  };
  const Case cases[] = {
      {{"30", "10", "questions.qdb"}, "30\r\n10\r\nquestions.qdb"},
      {{"", "", ""}, "\r\n\r\n"},
      {{" 9 x", "-3", "Z:\\q dir\\a.qdb"}, " 9 x\r\n-3\r\nZ:\\q dir\\a.qdb"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    // Old contents, longer than the new, must go.
    ASSERT_TRUE(writeFileBytes(dir.file("config.ini"), std::string(2000, 'o')));
    ASSERT_TRUE(writeLauncherSettings(dir.file("config.ini"), c.settings));
    EXPECT_EQ(readFileBytes(dir.file("config.ini")), c.bytes);
    LauncherSettings back = readLauncherSettings(dir.file("config.ini"));
    EXPECT_EQ(back.timeLimit, c.settings.timeLimit);
    EXPECT_EQ(back.questionsPerRound, c.settings.questionsPerRound);
    EXPECT_EQ(back.databaseFile, c.settings.databaseFile);
  }
}

TEST(LauncherConfigTest, UnwritableFileIsReported) {
  TempDir dir;
  EXPECT_FALSE(writeLauncherSettings(dir.file("missing-folder/config.ini"), {"1", "2", "3"}));
}

// The package ships a config.ini so that the first start shows usable
// settings; it must read back as the launcher itself would have written them.
TEST(LauncherConfigTest, ShippedConfigIsWhatTheLauncherWrites) {
  const LauncherSettings shipped = readLauncherSettings(QOVA_SHIPPED_CONFIG);
  EXPECT_EQ(shipped.timeLimit, "30");
  EXPECT_EQ(shipped.questionsPerRound, "10");
  EXPECT_EQ(shipped.databaseFile, "questions.qdb");
  TempDir dir;
  const std::string written = dir.path() + "/config.ini";
  ASSERT_TRUE(writeLauncherSettings(written, shipped));
  EXPECT_EQ(readFileBytes(written), readFileBytes(QOVA_SHIPPED_CONFIG));
}

}  // namespace
}  // namespace qova

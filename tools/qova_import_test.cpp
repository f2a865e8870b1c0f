// qova_import run as a developer runs it: the database it writes, its report
// on standard error and its exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"

namespace qova {
namespace {

struct ToolRun {
  int exitCode;
  std::string report;
};

ToolRun runImport(const testing::TempDir& dir, const std::string& in, const std::string& out) {
  std::string errors = dir.file("stderr.txt");
  std::string command =
      std::string(QOVA_IMPORT_EXE) + " '" + in + "' '" + out + "' 2>'" + errors + "'";
  int status = std::system(command.c_str());
  return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::readFileBytes(errors)};
}

TEST(QovaImportTest, WritesFourResponsesAndReportsTheSkips) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writeFileBytes(
      dir.file("q.csv"), "Question,A,B,C,Correct\nCaf\xC3\xA9?,tea,coffee,milk,B\nBad,a,,,1\n"));
  ToolRun run = runImport(dir, dir.file("q.csv"), dir.file("q.qdb"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.report,
            "Imported 1 question from q.csv (CSV).\n\nSkipped 1 question:\n"
            "Line 3: it has fewer than two responses.\nWrote " +
                dir.file("q.qdb") + ".\n");
  // Windows-1252, four responses, the bound the longest line.
  EXPECT_EQ(testing::readFileBytes(dir.file("q.qdb")),
            testing::qdbBytes(6, 4, {{"Caf\xE9?", {"tea", "coffee", "milk", ""}, 2}}));
  EXPECT_FALSE(testing::fileExists(dir.file("q.qdb.tmp")));
}

TEST(QovaImportTest, WritesFiveResponsesWhenAQuestionHasFive) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writeFileBytes(dir.file("q.txt"),
                                      "Q1?\nA. a\nB. b\nANSWER: A\n\n"
                                      "Q2?\nA. a\nB. b\nC. c\nD. d\nE. e\nANSWER: E\n"));
  ToolRun run = runImport(dir, dir.file("q.txt"), dir.file("q.qdb"));
  EXPECT_EQ(run.exitCode, 0) << run.report;
  EXPECT_EQ(
      testing::readFileBytes(dir.file("q.qdb")),
      testing::qdbBytes(3, 5, {{"Q1?", {"a", "b"}, 1}, {"Q2?", {"a", "b", "c", "d", "e"}, 5}}));
}

// The report names what the database could not keep and every skipped
// question with its line; the records are the file's questions.
TEST(QovaImportTest, ReportsWhatWasNotKeptAndTheSkips) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writeFileBytes(dir.file("q.gift"),
                                      "Is the sun a star?{TRUE#Right.}\n\n"
                                      "Pick one. {~%50%half =full ~none}\n\n"
                                      "Name a colour. {=red =%50%pink}\n"));
  ToolRun run = runImport(dir, dir.file("q.gift"), dir.file("q.qdb"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.report,
            "Imported 2 questions from q.gift (GIFT).\n\n"
            "Not kept:\n"
            "Feedback after \"#\", in 1 question (the first on line 1).\n"
            "Line 3: kept without the part credit of 1 response; only the full-credit response "
            "is right.\n\n"
            "Skipped 1 question:\n"
            "Line 5: it is a short-answer question.\nWrote " +
                dir.file("q.qdb") + ".\n");
  EXPECT_EQ(testing::readFileBytes(dir.file("q.qdb")),
            testing::qdbBytes(18, 4,
                              {{"Is the sun a star?", {"True", "False", "", ""}, 1},
                               {"Pick one.", {"half", "full", "none", ""}, 2}}));
}

TEST(QovaImportTest, NothingImportedWritesNothingAndFails) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::writeFileBytes(dir.file("old.qdb"), "keep"));
  const std::string shortAnswer = "Q? {=a}\n";  // no multiple-choice question
  ASSERT_TRUE(testing::writeFileBytes(dir.file("in.gift"), shortAnswer));
  ToolRun run = runImport(dir, dir.file("in.gift"), dir.file("old.qdb"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.report.find("No questions were imported"), std::string::npos);
  EXPECT_EQ(testing::readFileBytes(dir.file("old.qdb")), "keep");

  run = runImport(dir, dir.file("missing.csv"), dir.file("new.qdb"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.report.find("The file cannot be opened."), std::string::npos);
  EXPECT_FALSE(testing::fileExists(dir.file("new.qdb")));

  // The input itself is never the output.
  run = runImport(dir, dir.file("in.gift"), dir.file("in.gift"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(testing::readFileBytes(dir.file("in.gift")), shortAnswer);

  int status = std::system((std::string(QOVA_IMPORT_EXE) + " 2>/dev/null").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace qova

#include "qdb/question_bank.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "testing/read_error_test_support.h"

namespace qova {
namespace {

using testing::TempDir;
using testing::writeFileBytes;

std::string damaged(const std::string& name) {
  return std::string(QOVA_TESTDATA_DIR) + "/damaged/" + name;
}

// A file of `count` records whose texts name their record number; the correct
// line cycles through "1".."4".
std::string numberedFile(int count) {
  std::vector<testing::TestRecord> records;
  for (int n = 1; n <= count; ++n) {
    testing::TestRecord r;
    r.question = "Question " + std::to_string(n);
    for (int i = 1; i <= 4; ++i)
      r.responses.push_back("R" + std::to_string(n) + "." + std::to_string(i));
    r.correct = (n - 1) % 4 + 1;
    records.push_back(r);
  }
  return testing::qdbBytes(16, 4, records);
}

// The records of a file read forward, one after the other, from record 1.
std::vector<ServerQuestionRecord> readForward(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  QdbHeader h;
  readHeader(in, h);
  std::vector<ServerQuestionRecord> records;
  for (int32_t n = 1; n <= h.recordCount; ++n) {
    records.push_back(readServerRecord(in, h.responseCount, h.lineBound));
  }
  return records;
}

void expectSame(const ServerQuestionRecord& a, const ServerQuestionRecord& b) {
  EXPECT_EQ(a.question, b.question);
  EXPECT_EQ(a.responses, b.responses);
  EXPECT_EQ(a.correct, b.correct);
}

TEST(QuestionBank, FetchReturnsRecordsInTheOrderAsked) {
  TempDir dir;
  std::string path = dir.file("q.qdb");
  ASSERT_TRUE(writeFileBytes(path, numberedFile(9)));
  QuestionBank bank;
  ASSERT_EQ(bank.load(path), 9);
  EXPECT_EQ(bank.responseCount(), 4);
  EXPECT_EQ(bank.lineBound(), 16);

  std::vector<ServerQuestionRecord> forward = readForward(path);
  ASSERT_EQ(forward.size(), 9u);
  const std::vector<std::vector<int32_t>> rounds = {
      {7, 2, 5}, {9}, {1, 2, 3}, {3, 2, 1}, {5, 7, 2}};
  for (const std::vector<int32_t>& numbers : rounds) {
    std::vector<ServerQuestionRecord> got = bank.fetch(numbers);
    ASSERT_EQ(got.size(), numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) {
      SCOPED_TRACE(numbers[i]);
      expectSame(got[i], forward[static_cast<size_t>(numbers[i]) - 1]);
    }
  }
  std::vector<ServerQuestionRecord> got = bank.fetch({7, 2, 5});
  EXPECT_EQ(got[0].question, "Question 7");
  EXPECT_EQ(got[1].question, "Question 2");
  EXPECT_EQ(got[2].question, "Question 5");
  EXPECT_EQ(got[0].responses[3], "R7.4");
  EXPECT_EQ(got[0].correct, '3');
}

TEST(QuestionBank, CorrectCharacterIsTheFirstOfTheLine) {
  TempDir dir;
  std::string path = dir.file("q.qdb");
  ASSERT_TRUE(writeFileBytes(
      path, "8\r\n1\r\n4\r\nA\r\na\r\n3\r\nB\r\nb\r\n 3\r\nC\r\nc\r\n\r\nD\r\nd\r\n0"));
  QuestionBank bank;
  ASSERT_EQ(bank.load(path), 4);
  std::vector<ServerQuestionRecord> got = bank.fetch({1, 2, 3, 4});
  EXPECT_EQ(got[0].correct, '3');
  EXPECT_EQ(got[1].correct, ' ');
  EXPECT_EQ(got[2].correct, '\0');
  EXPECT_EQ(got[3].correct, '0');
}

TEST(QuestionBank, LoadingAgainReplacesTheFile) {
  TempDir dir;
  std::string first = dir.file("first.qdb");
  std::string second = dir.file("second.qdb");
  ASSERT_TRUE(writeFileBytes(first, numberedFile(3)));
  ASSERT_TRUE(writeFileBytes(second, "8\r\n1\r\n1\r\nOther\r\nx\r\n1\r\n"));
  QuestionBank bank;
  ASSERT_EQ(bank.load(first), 3);
  ASSERT_EQ(bank.load(second), 1);
  EXPECT_EQ(bank.fetch({1})[0].question, "Other");
  EXPECT_EQ(bank.load(dir.file("missing.qdb")), -1);
  // After a failed load nothing of the old file is served.
  EXPECT_EQ(bank.fetch({1})[0].question, "");
}

// Damaged and unusual files: what load answers, and what the records read.
TEST(QuestionBank, DamagedFiles) {
  struct Case {
    const char* file;
    int32_t loaded;
    std::vector<const char*> questions;  // fetch of 1..n, when loaded
  };
  const Case cases[] = {
      {"empty.qdb", -1, {}},
      {"header_not_integers.qdb", -1, {}},
      {"header_incomplete.qdb", -1, {}},
      {"header_overflow.qdb", -1, {}},
      {"line_bound_negative.qdb", -1, {}},
      {"line_bound_huge.qdb", -1, {}},
      {"response_count_zero.qdb", -1, {}},
      {"response_count_minus_two.qdb", -1, {}},
      {"response_count_million.qdb", -1, {}},
      {"record_count_negative.qdb", -1, {}},
      {"line_too_long.qdb", -1, {}},
      {"no_such_file.qdb", -1, {}},
      // Accepted: the header's count stays the authority; records it claims
      // but the file lacks read as empty texts.
      {"record_count_larger.qdb", 5, {"What is 1 + 1?", "Second?", "", "", ""}},
      {"truncated_last_record.qdb", 2, {"What is 1 + 1?", "Cut short?"}},
      {"trailing_junk.qdb", 1, {"What is 1 + 1?"}},
      {"header_only_no_line_end.qdb", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    QuestionBank bank;
    ASSERT_EQ(bank.load(damaged(c.file)), c.loaded);
    if (c.loaded < 0) continue;
    std::vector<int32_t> numbers;
    for (int32_t n = c.loaded; n >= 1; --n) numbers.push_back(n);
    std::vector<ServerQuestionRecord> got = bank.fetch(numbers);
    ASSERT_EQ(got.size(), c.questions.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].question, c.questions[c.questions.size() - 1 - i]);
      EXPECT_EQ(got[i].responses.size(), 4u);  // always the header's count
    }
  }
}

TEST(QuestionBank, TruncatedRecordKeepsWhatIsThere) {
  QuestionBank bank;
  ASSERT_EQ(bank.load(damaged("truncated_last_record.qdb")), 2);
  ServerQuestionRecord r = bank.fetch({2})[0];
  EXPECT_EQ(r.responses, (std::vector<std::string>{"x", "y", "", ""}));
  EXPECT_EQ(r.correct, '\0');
}

// A database that cannot be read is refused like one that cannot be opened:
// a folder, and on Linux a file whose every read fails with EIO.
TEST(QuestionBank, UnreadableFilesDoNotLoad) {
  TempDir dir;
  std::vector<std::string> paths = {dir.path()};
#ifdef __linux__
  paths.push_back("/proc/self/mem");
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    QuestionBank bank;
    int32_t loaded = 0;
    EXPECT_NO_THROW(loaded = bank.load(path));
    EXPECT_EQ(loaded, -1);
  }
}

#ifdef __linux__
// The share holding the open database drops between two rounds.
TEST(QuestionBank, ReadErrorDuringAFetchIsReported) {
  TempDir dir;
  std::string path = dir.file("q.qdb");
  ASSERT_TRUE(writeFileBytes(path, numberedFile(9)));
  QuestionBank bank;
  ASSERT_EQ(bank.load(path), 9);
  std::vector<ServerQuestionRecord> got;
  ASSERT_TRUE(bank.fetch({7, 2}, got));
  EXPECT_EQ(got[1].question, "Question 2");

  ASSERT_TRUE(testing::breakOpenFile(path));
  bool ok = true;
  EXPECT_NO_THROW(ok = bank.fetch({3, 8}, got));
  EXPECT_FALSE(ok);
  EXPECT_EQ(got.size(), 2u);
  // The form without a report gives empty texts, and returns.
  EXPECT_EQ(bank.fetch({5})[0].question, "");
}
#endif

}  // namespace
}  // namespace qova

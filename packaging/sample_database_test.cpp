// The shipped sample database: a well-formed file the server and the editor
// read alike, with questions a quiz can use as they stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/test_support.h"
#include "qdb/qdb_file.h"
#include "qdb/question_bank.h"

namespace qova {
namespace {

TEST(SampleDatabaseTest, HeaderMatchesTheRecordsExactly) {
  const std::string bytes = testing::readFileBytes(QOVA_SAMPLE_DB);
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  // Every line ends with CR LF and holds no other CR.
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t lf = bytes.find('\n', start);
    ASSERT_NE(lf, std::string::npos);
    ASSERT_GT(lf, start);
    ASSERT_EQ(bytes[lf - 1], '\r') << "line " << lines.size() + 1;
    lines.push_back(bytes.substr(start, lf - 1 - start));
    ASSERT_EQ(lines.back().find('\r'), std::string::npos);
    start = lf + 1;
  }
  ASSERT_GE(lines.size(), 3u);
  const std::vector<std::string> records(lines.begin() + 3, lines.end());
  size_t longest = 0;
  for (const std::string& line : records) longest = std::max(longest, line.size());
  EXPECT_EQ(lines[0], std::to_string(longest));
  EXPECT_EQ(lines[1], "4");
  EXPECT_EQ(records.size() % 6, 0u);
  EXPECT_EQ(lines[2], std::to_string(records.size() / 6));
}

TEST(SampleDatabaseTest, EveryQuestionHasFourDistinctResponsesAndOneCorrect) {
  std::ifstream in(QOVA_SAMPLE_DB, std::ios::binary);
  QdbHeader header;
  ASSERT_TRUE(readHeader(in, header));
  ASSERT_TRUE(headerIsUsable(header));
  EXPECT_GE(header.recordCount, 60);
  std::set<std::string> questions;
  int atPosition[5] = {};
  for (int32_t n = 1; n <= header.recordCount; ++n) {
    SCOPED_TRACE("record " + std::to_string(n));
    QuestionRecord record = readRecord(in, header.responseCount, header.lineBound);
    ASSERT_FALSE(in.fail());
    EXPECT_FALSE(record.question.empty());
    EXPECT_TRUE(questions.insert(record.question).second) << "repeated: " << record.question;
    ASSERT_EQ(record.responses.size(), 4u);
    std::set<std::string> distinct(record.responses.begin(), record.responses.end());
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(distinct.count(""), 0u);
    ASSERT_GE(record.correct, 1);
    ASSERT_LE(record.correct, 4);
    ++atPosition[record.correct];
  }
  EXPECT_TRUE(atEnd(in, header.lineBound));
  // The right answer is not always in the same place.
  for (int position = 1; position <= 4; ++position) {
    EXPECT_GE(atPosition[position], header.recordCount / 8) << "position " << position;
  }
}

TEST(SampleDatabaseTest, TheServerReadsTheCorrectDigits) {
  QuestionBank bank;
  const int32_t count = bank.load(QOVA_SAMPLE_DB);
  ASSERT_GE(count, 60);
  ASSERT_EQ(count, bank.recordCount());
  std::vector<int32_t> numbers = {bank.recordCount(), 1, bank.recordCount() / 2};
  std::vector<ServerQuestionRecord> records = bank.fetch(numbers);
  ASSERT_EQ(records.size(), 3u);
  for (const ServerQuestionRecord& record : records) {
    EXPECT_FALSE(record.question.empty());
    EXPECT_GE(record.correct, '1');
    EXPECT_LE(record.correct, '4');
  }
}

}  // namespace
}  // namespace qova

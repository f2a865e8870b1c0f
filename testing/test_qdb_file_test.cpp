#include "testing/test_qdb_file.h"

#include <gtest/gtest.h>

namespace qova::testing {
namespace {

// The builder is the reference the writers' tests compare against, so its
// bytes are pinned here literally.
TEST(TestQdbFile, BytesFitEachRecordToTheResponseCount) {
  const std::vector<TestRecord> records = {{"Q", {"a", "b", "c"}, 2}, {"Longer", {}, 0}};
  EXPECT_EQ(qdbBytes(9, 2, records), "9\r\n2\r\n2\r\nQ\r\na\r\nb\r\n2\r\nLonger\r\n\r\n\r\n0\r\n");
  EXPECT_EQ(qdbBytes(0, 4, {}), "0\r\n4\r\n0\r\n");
  EXPECT_EQ(qdbRecordLines(records[0]), "Q\r\na\r\nb\r\nc\r\n2\r\n");
  EXPECT_EQ(longestLine(2, records), 6);
  EXPECT_EQ(longestLine(2, {{"Q", {"a", "b", "a dropped response"}, 1}}), 1);
  EXPECT_EQ(longestLine(4, {}), 1);
}

TEST(TestQdbFile, NumberedQuestionFile) {
  EXPECT_EQ(numberedQuestionFile(2, 3),
            "256\r\n3\r\n2\r\n"
            "Question 1\r\n1.a\r\n1.b\r\n1.c\r\n2\r\n"
            "Question 2\r\n2.a\r\n2.b\r\n2.c\r\n3\r\n");
}

}  // namespace
}  // namespace qova::testing

#include "testing/test_qdb_file.h"

#include <algorithm>

namespace qova::testing {
namespace {

// The record as qdbBytes writes it: exactly responseCount responses.
TestRecord fitted(const TestRecord& record, int responseCount) {
  TestRecord out = record;
  out.responses.resize(static_cast<size_t>(std::max(responseCount, 0)));
  return out;
}

}  // namespace

std::string qdbRecordLines(const TestRecord& record) {
  std::string lines = record.question + "\r\n";
  for (const std::string& response : record.responses) lines += response + "\r\n";
  return lines + std::to_string(record.correct) + "\r\n";
}

std::string qdbBytes(int lineBound, int responseCount, const std::vector<TestRecord>& records) {
  std::string bytes = std::to_string(lineBound) + "\r\n" + std::to_string(responseCount) + "\r\n" +
                      std::to_string(records.size()) + "\r\n";
  for (const TestRecord& record : records) bytes += qdbRecordLines(fitted(record, responseCount));
  return bytes;
}

int longestLine(int responseCount, const std::vector<TestRecord>& records) {
  size_t longest = 1;
  for (const TestRecord& record : records) {
    TestRecord r = fitted(record, responseCount);
    longest = std::max(longest, r.question.size());
    for (const std::string& response : r.responses) longest = std::max(longest, response.size());
  }
  return static_cast<int>(longest);
}

TestRecord numberedRecord(int n, int responseCount) {
  TestRecord record{"Question " + std::to_string(n), {}, 1 + n % responseCount};
  for (int r = 0; r < responseCount; ++r)
    record.responses.push_back(std::to_string(n) + "." + static_cast<char>('a' + r));
  return record;
}

std::string numberedQuestionFile(int count, int responseCount) {
  std::vector<TestRecord> records;
  for (int n = 1; n <= count; ++n) records.push_back(numberedRecord(n, responseCount));
  return qdbBytes(256, responseCount, records);
}

std::string benchQuestionFile(int count, int responseCount) {
  std::vector<TestRecord> records;
  for (int n = 1; n <= count; ++n) {
    TestRecord record{"Which number is " + std::to_string(n) + "?", {}, 1};
    for (int r = 0; r < responseCount; ++r) record.responses.push_back(std::to_string(n + r));
    records.push_back(record);
  }
  return qdbBytes(512, responseCount, records);
}

}  // namespace qova::testing

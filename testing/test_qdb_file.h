// Question database (.qdb) files built from records, for the tests of every
// folder that need one. Written here line by line, apart from the writers in
// qdb/ and editor/, so a test of those writers has an independent reference.
#pragma once

#include <string>
#include <vector>

namespace qova::testing {

struct TestRecord {
  std::string question;
  std::vector<std::string> responses;
  int correct = 0;  // written in decimal
};

// The record's lines as they are: its question, each of its responses and its
// correct line, every line ended by CR LF.
std::string qdbRecordLines(const TestRecord& record);

// A whole file: the header lines `lineBound`, `responseCount` and the number
// of records, then each record with exactly responseCount responses (missing
// ones as empty lines, extra ones dropped), every line ended by CR LF.
// Nothing is checked against the bound, so damaged files can be built too.
std::string qdbBytes(int lineBound, int responseCount, const std::vector<TestRecord>& records);

// The length of the longest question or response qdbBytes writes for
// `records` with `responseCount` responses, and at least 1.
int longestLine(int responseCount, const std::vector<TestRecord>& records);

// Record n of numberedQuestionFile: question "Question n", responses "n.a",
// "n.b", ... (responseCount of them, at most 26) and correct 1 + n % responseCount.
TestRecord numberedRecord(int n, int responseCount);

// Records 1..count of numberedRecord under the line bound 256: the question
// file of the server's and the programs' tests.
std::string numberedQuestionFile(int count, int responseCount = 4);

// Records 1..count of question "Which number is n?", responses n, n + 1, ...
// (responseCount of them) and correct 1, under the line bound 512: the
// question file of the benchmarks.
std::string benchQuestionFile(int count, int responseCount);

}  // namespace qova::testing

#include "qdb/qdb_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testing/read_error_test_support.h"

namespace qova {
namespace {

// The example file: responseCount 4, two records, every line ended by CR LF.
const char kExample[] =
    "24\r\n4\r\n2\r\n"
    "Which planet is largest?\r\nMars\r\nJupiter\r\nVenus\r\nEarth\r\n2\r\n"
    "2 + 2 = ?\r\n3\r\n4\r\n5\r\n22\r\n2\r\n";

QuestionRecord record(std::string question, std::vector<std::string> responses, int32_t correct) {
  QuestionRecord r;
  r.question = std::move(question);
  r.responses = std::move(responses);
  r.correct = correct;
  return r;
}

const QuestionRecord kPlanets =
    record("Which planet is largest?", {"Mars", "Jupiter", "Venus", "Earth"}, 2);
const QuestionRecord kSum = record("2 + 2 = ?", {"3", "4", "5", "22"}, 2);

std::string written(const std::vector<QuestionRecord>& records, int32_t lineBound,
                    int32_t responseCount) {
  std::ostringstream out;
  writeHeader(out, lineBound, responseCount, static_cast<int32_t>(records.size()));
  for (const QuestionRecord& r : records) writeRecord(out, r, responseCount);
  return out.str();
}

TEST(QdbFile, ExampleFileIsWrittenByteForByteAndReadsBack) {
  std::string bytes = written({kPlanets, kSum}, 24, 4);
  EXPECT_EQ(bytes, kExample);
  EXPECT_EQ(bytes.size(), 95u);

  std::istringstream in(bytes);
  QdbHeader h;
  ASSERT_TRUE(readHeader(in, h));
  EXPECT_EQ(h.lineBound, 24);  // the question is exactly 24 characters long
  EXPECT_EQ(h.responseCount, 4);
  EXPECT_EQ(h.recordCount, 2);
  EXPECT_FALSE(atEnd(in, h.lineBound));
  EXPECT_EQ(readRecord(in, 4, 24), kPlanets);
  EXPECT_EQ(readRecord(in, 4, 24), kSum);
  EXPECT_TRUE(atEnd(in, h.lineBound));
  EXPECT_TRUE(in.good());  // atEnd clears the end-of-file state
}

TEST(QdbFile, RecordsAreFittedToTheResponseCount) {
  // Missing responses become empty lines, extra ones are dropped, no marked
  // response is written as 0; blanks around texts survive.
  QuestionRecord three = record(" Three? ", {"a ", " b", "c"}, 0);
  QuestionRecord five = record("Five?", {"1", "2", "3", "4", "5"}, 5);
  std::string bytes = written({three, five}, 8, 4);
  EXPECT_EQ(bytes.substr(bytes.find(" Three?")),
            " Three? \r\na \r\n b\r\nc\r\n\r\n0\r\nFive?\r\n1\r\n2\r\n3\r\n4\r\n5\r\n");

  std::istringstream in(bytes);
  QdbHeader h;
  ASSERT_TRUE(readHeader(in, h));
  EXPECT_EQ(readRecord(in, 4, 8), record(" Three? ", {"a ", " b", "c", ""}, 0));
  EXPECT_EQ(readRecord(in, 4, 8), record("Five?", {"1", "2", "3", "4"}, 5));
}

TEST(QdbFile, RecordCountIsWrittenUnsigned) {
  std::ostringstream out;
  writeHeader(out, -1, 4, -1);
  EXPECT_EQ(out.str(), "-1\r\n4\r\n4294967295\r\n");
}

TEST(QdbFile, EqualityIgnoresErasedButNotCounts) {
  QuestionRecord a = kPlanets;
  QuestionRecord b = kPlanets;
  b.erased = true;
  EXPECT_EQ(a, b);
  b.responses.push_back("");
  EXPECT_NE(a, b);  // an extra empty response still differs
  b = kPlanets;
  b.correct = 3;
  EXPECT_NE(a, b);
  b = kPlanets;
  b.question += " ";
  EXPECT_NE(a, b);
}

// Every form a reader must accept for the same two records.
TEST(QdbFile, LineEndVariantsReadAlike) {
  std::string lfOnly;
  for (char c : std::string(kExample)) {
    if (c != '\r') lfOnly += c;
  }
  std::string example = kExample;
  const std::pair<const char*, std::string> variants[] = {
      {"CR LF", example},
      {"LF only", lfOnly},
      {"no final line end", example.substr(0, example.size() - 2)},
      {"LF only, no final line end", lfOnly.substr(0, lfOnly.size() - 1)},
      {"header on one line", "24 4 2\r\n" + example.substr(10)},
      {"header with signs and blank lines", "\r\n +24\r\n\t4\r\n\r\n+2  \r\n" + example.substr(10)},
  };
  for (const auto& [name, bytes] : variants) {
    SCOPED_TRACE(name);
    std::istringstream in(bytes);
    QdbHeader h;
    ASSERT_TRUE(readHeader(in, h));
    EXPECT_EQ(h.lineBound, 24);
    EXPECT_EQ(h.responseCount, 4);
    EXPECT_EQ(h.recordCount, 2);
    std::vector<int64_t> starts;
    ASSERT_TRUE(indexRecords(in, h, starts));
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[2], static_cast<int64_t>(bytes.size()));
    in.clear();
    in.seekg(starts[1]);
    EXPECT_EQ(readRecord(in, 4, 24), kSum);
    in.clear();
    in.seekg(starts[0]);
    ServerQuestionRecord s = readServerRecord(in, 4, 24);
    EXPECT_EQ(s.question, kPlanets.question);
    EXPECT_EQ(s.responses, kPlanets.responses);
    EXPECT_EQ(s.correct, '2');
  }
}

TEST(QdbFile, ReadLineOutcomes) {
  struct Step {
    LineRead result;
    const char* text;
  };
  struct Case {
    const char* input;
    int32_t bound;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"abc\r\n", 3, {{LineRead::kLine, "abc"}, {LineRead::kEnd, ""}, {LineRead::kFailed, ""}}},
      {"abc", 3, {{LineRead::kLastLine, "abc"}, {LineRead::kEnd, ""}}},
      {"", 3, {{LineRead::kEnd, ""}}},
      {"\n\r\n", 0, {{LineRead::kLine, ""}, {LineRead::kLine, ""}, {LineRead::kEnd, ""}}},
      {"abcd\r\nx\r\n", 3, {{LineRead::kTooLong, ""}, {LineRead::kFailed, ""}}},
      // A CR is dropped only right before the LF.
      {"a\rb\n", 3, {{LineRead::kLine, "a\rb"}}},
      {"ab\r\r\n", 3, {{LineRead::kLine, "ab\r"}}},
      {"abc\rx\n", 3, {{LineRead::kTooLong, ""}}},
      {"ab\r", 3, {{LineRead::kLastLine, "ab\r"}}},
      {"x\n", -1, {{LineRead::kTooLong, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::istringstream in(c.input);
    std::string line = "stale";
    for (const Step& step : c.steps) {
      EXPECT_EQ(readLine(in, line, c.bound), step.result);
      EXPECT_EQ(line, step.text);
    }
  }
}

TEST(QdbFile, TooLongLineLeavesTheRestUnread) {
  std::istringstream in("abcdef\nnext\n");
  std::string line;
  EXPECT_EQ(readLine(in, line, 4), LineRead::kTooLong);
  EXPECT_TRUE(in.fail());
  EXPECT_FALSE(in.eof());
  in.clear();
  EXPECT_EQ(readLine(in, line, 4), LineRead::kLine);
  EXPECT_EQ(line, "ef");
}

TEST(QdbFile, HeaderReading) {
  struct Case {
    const char* input;
    bool ok;
    QdbHeader header;
  };
  const Case cases[] = {
      {"24\r\n4\r\n2\r\n", true, {24, 4, 2}},
      {"24 -4 2 and the rest\r\n", true, {24, -4, 2}},  // taken as read
      {"-2147483648 4 1\n", true, {INT32_MIN, 4, 1}},
      {"24\n4\n0", true, {24, 4, 0}},
      {"24\r\n4\r\n", false, {}},
      {"24\r\nfour\r\n2\r\n", false, {}},
      {"24\r\n- 4\r\n2\r\n", false, {}},
      {"2147483648\r\n4\r\n2\r\n", false, {}},
      {"0x18\r\n4\r\n2\r\n", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::istringstream in(c.input);
    QdbHeader h;
    EXPECT_EQ(readHeader(in, h), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(h.lineBound, c.header.lineBound);
    EXPECT_EQ(h.responseCount, c.header.responseCount);
    EXPECT_EQ(h.recordCount, c.header.recordCount);
    // The stream stands right after the header line, even at the file's end.
    EXPECT_FALSE(in.fail());
  }
}

TEST(QdbFile, UsableHeaders) {
  struct Case {
    QdbHeader header;
    bool usable;
  };
  const Case cases[] = {
      {{24, 4, 2}, true},
      {{0, 1, 0}, true},
      {{kMaxLineBound, kMaxResponseCount, INT32_MAX}, true},
      {{-1, 4, 2}, false},
      {{kMaxLineBound + 1, 4, 2}, false},
      {{INT32_MAX, 4, 2}, false},
      {{24, 0, 2}, false},
      {{24, -2, 2}, false},
      {{24, kMaxResponseCount + 1, 2}, false},
      {{24, 4, -1}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(headerIsUsable(c.header), c.usable)
        << c.header.lineBound << " " << c.header.responseCount << " " << c.header.recordCount;
  }
}

TEST(QdbFile, CorrectLineInBothForms) {
  struct Case {
    const char* line;
    int32_t editor;
    char server;
  };
  const Case cases[] = {
      {"3", 3, '3'}, {"  3", 3, ' '}, {"3 of 4", 3, '3'}, {"", 0, '\0'},
      {"x", 0, 'x'}, {"0", 0, '0'},   {"-2", -2, '-'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string bytes = std::string("Q\r\na\r\n") + c.line + "\r\n";
    std::istringstream editorIn(bytes);
    EXPECT_EQ(readRecord(editorIn, 1, 8).correct, c.editor);
    std::istringstream serverIn(bytes);
    EXPECT_EQ(readServerRecord(serverIn, 1, 8).correct, c.server);
  }
}

TEST(QdbFile, AtEndKeepsThePosition) {
  std::istringstream in("a\nb");
  std::string line;
  EXPECT_FALSE(atEnd(in, 4));
  EXPECT_EQ(readLine(in, line, 4), LineRead::kLine);
  EXPECT_EQ(line, "a");
  EXPECT_TRUE(atEnd(in, 4));  // only a last line without line end is left
  EXPECT_EQ(readLine(in, line, 4), LineRead::kLastLine);
  EXPECT_EQ(line, "b");
  EXPECT_TRUE(atEnd(in, 4));
  EXPECT_TRUE(in.good());

  std::istringstream damaged("toolong\n");
  EXPECT_FALSE(atEnd(damaged, 4));
  EXPECT_TRUE(damaged.fail());
}

TEST(QdbFile, IndexingStopsOnDamageAndAtTheClaimedCount) {
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
    std::vector<int64_t> starts;
  };
  const Case cases[] = {
      {"example", kExample, true, {10, 68, 95}},
      {"no records", "24\r\n4\r\n0\r\n", true, {10}},
      // Records beyond the claimed count are never read, damaged or not.
      {"data past the count", "8\r\n1\r\n1\r\nQ\r\na\r\n1\r\nmuch too long\r\n", true, {9, 18}},
      {"fewer records than claimed", "8\r\n1\r\n3\r\nQ\r\na\r\n1\r\n", true, {9, 18}},
      // A record cut short still counts, ending at the end of the file.
      {"cut short", "8\r\n1\r\n2\r\nQ\r\na\r\n1\r\nR\r\nb", true, {9, 18, 22}},
      {"line too long", "4\r\n1\r\n2\r\nQ\r\na\r\n1\r\nlonger\r\nb\r\n1\r\n", false, {}},
      {"unusable header", "4\r\n-2\r\n2\r\nQ\r\n", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.bytes);
    QdbHeader h;
    ASSERT_TRUE(readHeader(in, h));
    std::vector<int64_t> starts;
    EXPECT_EQ(indexRecords(in, h, starts), c.ok);
    if (c.ok) {
      EXPECT_EQ(starts, c.starts);
    }
  }
}

// The index as a reading line by line with readLine finds it: the record
// starts, and whether the file is usable.
bool indexByLines(std::istream& in, const QdbHeader& h, std::vector<int64_t>& starts) {
  auto offset = [&in] {
    return static_cast<int64_t>(in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
  };
  std::string line;
  for (;;) {
    starts.push_back(offset());
    if (static_cast<int64_t>(starts.size()) > h.recordCount) return true;
    LineRead r = readLine(in, line, h.lineBound);
    if (r == LineRead::kEnd || r == LineRead::kLastLine) return true;
    for (int32_t i = 0; r == LineRead::kLine && i < h.responseCount + 1; ++i) {
      r = readLine(in, line, h.lineBound);
    }
    if (r != LineRead::kLine && r != LineRead::kEnd && r != LineRead::kLastLine) return false;
    if (r != LineRead::kLine) {
      starts.push_back(offset());
      return true;
    }
  }
}

// Lines far longer than any single read of the file: the scan's reads end
// inside a line, between a CR and its LF, and right after a line end, and
// the index is still the one a line-by-line reading finds.
TEST(QdbFile, IndexingLongLinesAgreesWithReadingLineByLine) {
  const int64_t kLong = int64_t{1} << 16;
  int variants = 0;
  for (int64_t length = kLong - 12; length <= kLong + 3; ++length) {
    for (int32_t boundDelta : {-1, 0, 1}) {
      for (const char* end : {"\r\n", "\n", "\r"}) {
        for (bool lastLineEnded : {true, false}) {
          const int32_t bound = static_cast<int32_t>(length) + boundDelta;
          std::string header = std::to_string(bound) + "\r\n1\r\n3\r\n";
          // The first record's question ends near where the first read of
          // the scan ends, whatever the length of the header.
          std::string bytes = header + std::string(static_cast<size_t>(length), 'q') + end +
                              "a\r\n1\r\n" + std::string(static_cast<size_t>(length), 'r') + end +
                              "b" + end + "2" + (lastLineEnded ? "\r\n" : "");
          SCOPED_TRACE(std::to_string(length) + " bound " + std::to_string(bound) + " end " +
                       std::to_string(std::string(end).size()) + (lastLineEnded ? "" : " open"));
          std::istringstream expectedIn(bytes), in(bytes);
          QdbHeader h;
          ASSERT_TRUE(readHeader(expectedIn, h));
          ASSERT_TRUE(readHeader(in, h));
          std::vector<int64_t> expected, starts;
          bool expectedOk = indexByLines(expectedIn, h, expected);
          ASSERT_EQ(indexRecords(in, h, starts), expectedOk);
          if (expectedOk) {
            EXPECT_EQ(starts, expected);
            EXPECT_EQ(static_cast<int64_t>(in.tellg()), starts.back());
          }
          ++variants;
        }
      }
    }
  }
  EXPECT_EQ(variants, 16 * 3 * 3 * 2);
}

// A read error at any point of a file (a share that drops, a buffer that
// throws as the standard file buffer does) ends the read as a failure value
// with badbit set, is met once and not retried, and never throws.
TEST(QdbFile, ReadErrorAnywhereEndsTheScanWithBadbit) {
  const std::string bytes = kExample;
  for (size_t failAt = 0; failAt < bytes.size(); ++failAt) {
    SCOPED_TRACE(failAt);
    testing::FailingBuffer buffer(bytes, failAt);
    std::istream in(&buffer);
    QdbHeader h;
    std::vector<int64_t> starts;
    bool ok = false;
    EXPECT_NO_THROW(ok = readHeader(in, h) && indexRecords(in, h, starts));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(in.bad());
    EXPECT_EQ(buffer.throws(), 1);
  }
}

TEST(QdbFile, EveryReaderReportsAReadErrorAsBadbit) {
  const std::string bytes = kExample;
  // Each gives true when its own result shows the failure; the readers
  // without a result leave it to badbit alone.
  struct Reader {
    const char* name;
    bool wholeRecord;  // reads record 1 to its end, not only its first line
    std::function<bool(std::istream&)> read;
  };
  const Reader readers[] = {
      {"readLine", false,
       [](std::istream& in) {
         std::string line = "stale";
         return readLine(in, line, 24) == LineRead::kError && line.empty();
       }},
      {"readRecord", true,
       [](std::istream& in) { return readRecord(in, 4, 24).responses.size() == 4; }},
      {"readServerRecord", true,
       [](std::istream& in) { return readServerRecord(in, 4, 24).responses.size() == 4; }},
      {"skipRecord", true,
       [](std::istream& in) {
         skipRecord(in, 4, 24);
         return true;
       }},
      {"atEnd", false, [](std::istream& in) { return !atEnd(in, 24); }},
  };
  // Record 1 is bytes 10 to 67: at its start, inside its question, at the CR
  // ending the question, at its correct line and at its last byte.
  for (size_t failAt : {size_t{10}, size_t{17}, size_t{34}, size_t{66}, size_t{67}}) {
    for (const Reader& reader : readers) {
      if (failAt > 34 && !reader.wholeRecord) continue;
      SCOPED_TRACE(std::string(reader.name) + " failing at " + std::to_string(failAt));
      testing::FailingBuffer buffer(bytes, failAt);
      std::istream in(&buffer);
      in.seekg(10);
      bool reported = false;
      EXPECT_NO_THROW(reported = reader.read(in));
      EXPECT_TRUE(reported);
      EXPECT_TRUE(in.bad());
      EXPECT_EQ(buffer.throws(), 1);
      std::string line;
      EXPECT_EQ(readLine(in, line, 24), LineRead::kFailed);  // and stays failed
    }
  }
}

#ifdef __linux__
// The standard file buffer's own read errors: this process's memory file
// has nothing mapped at offset 0 (EIO), and a folder cannot be read (EISDIR).
TEST(QdbFile, ReadErrorsOfRealFiles) {
  for (const char* path : {"/proc/self/mem", "."}) {
    SCOPED_TRACE(path);
    std::ifstream lines(path, std::ios::binary);
    ASSERT_TRUE(lines.is_open());
    std::string line;
    EXPECT_EQ(readLine(lines, line, 100), LineRead::kError);
    EXPECT_TRUE(lines.bad());

    std::ifstream header(path, std::ios::binary);
    QdbHeader h;
    bool ok = true;
    EXPECT_NO_THROW(ok = readHeader(header, h));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(header.bad());
  }
}
#endif

}  // namespace
}  // namespace qova

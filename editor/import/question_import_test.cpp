#include "editor/import/question_import.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace qova {
namespace {

struct Record {
  std::string question;
  std::vector<std::string> responses;  // as the database holds them, padded
  int correct;
};

struct Skip {
  int64_t line;
  std::string reason;  // a part of the reason
};

struct FileCase {
  const char* file;
  int limit;
  std::string format;
  std::vector<Record> records;
  std::vector<Skip> skips;
  // The lines of the report under "Not kept:", in order.
  std::vector<std::string> notKept = {};
};

// The lines of the report's "Not kept:" section.
std::vector<std::string> notKeptLines(const std::string& report) {
  std::vector<std::string> lines;
  const std::string heading = "\nNot kept:\n";
  size_t at = report.find(heading);
  if (at == std::string::npos) return lines;
  at += heading.size();
  while (at < report.size() && report[at] != '\n') {
    size_t end = report.find('\n', at);
    lines.push_back(report.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string sample(const char* name) {
  return testing::readFileBytes(std::string(QOVA_TESTDATA_DIR) + "/import/" + name);
}

void expectImport(const ImportedQuestions& got, const FileCase& c) {
  EXPECT_EQ(got.failure, "");
  EXPECT_EQ(got.format, c.format);
  ASSERT_EQ(got.records.size(), c.records.size());
  for (size_t i = 0; i < c.records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(got.records[i].question, c.records[i].question);
    EXPECT_EQ(got.records[i].responses, c.records[i].responses);
    EXPECT_EQ(got.records[i].correct, c.records[i].correct);
  }
  ASSERT_EQ(got.skipped.size(), c.skips.size());
  EXPECT_EQ(got.skippedCount, static_cast<int64_t>(c.skips.size()));
  for (size_t i = 0; i < c.skips.size(); ++i) {
    EXPECT_EQ(got.skipped[i].line, c.skips[i].line) << got.skipped[i].reason;
    EXPECT_NE(got.skipped[i].reason.find(c.skips[i].reason), std::string::npos)
        << "line " << c.skips[i].line << ": " << got.skipped[i].reason;
  }
  EXPECT_EQ(notKeptLines(importReport(got, c.file, kMaxListedSkips)), c.notKept);
}

class FileImportTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileImportTest, ReadsTheSampleAsPlatformsAndSpreadsheetsWriteIt) {
  const FileCase& c = GetParam();
  std::string bytes = sample(c.file);
  ASSERT_FALSE(bytes.empty()) << c.file;
  expectImport(importQuestions(bytes, c.file, c.limit), c);
}

const char kPartCredit1[] =
    "Line 87: kept without the part credit of 1 response; only the full-credit response is right.";
const char kPartCredit2[] =
    "Line 89: kept without the part credit of 2 responses; only the full-credit response is "
    "right.";

// A quiz platform's spreadsheet template, saved by a spreadsheet program:
// title and instruction rows above the header, a number column, hints in
// the header names, empty numbered rows at the end.
FileCase templateA(const char* file) {
  return FileCase{
      file,
      4,
      "CSV",
      {{"Which planet is known as the red planet?", {"Venus", "Mars", "Jupiter", "Saturn"}, 2},
       {"Is the Atlantic an ocean?", {"Yes", "No", "", ""}, 1},
       {"What is 7 \xD7 6; not 7 + 6?", {"42", "36", "48", ""}, 1},
       {"Caf\xE9 or tea: which is \"coffee\"?", {"Caf\xE9", "Tea", "", ""}, 1}},
      {{9, "the right-response column names more than one right response (2,4)"}},
      {"The time limits in the column \"Time limit (sec) \x96 5, 10, 20, 30, 60, 90, 120, or "
       "240 secs\": the database has one time limit for all questions."}};
}

// Another quiz platform's template: a title cell on two lines, header names
// on two lines, a question number column.
FileCase templateB(const char* file) {
  return FileCase{
      file,
      4,
      "CSV",
      {{"What is 2 + 2?", {"3", "4", "5", ""}, 2},
       {"Pick the mammal", {"Shark", "Dolphin", "", ""}, 2},
       {"Which letter comes first in \"na\xEFve\"?", {"A", "N", "V", "E"}, 2}},
      {{10, "the right-response column names more than one right response (1,3)"}},
      {"The time limits in the column \"Time Limit (sec) (Max: 300 seconds)\": the database has "
       "one time limit for all questions."}};
}

const Record kCapital{"What is the capital of France?", {"Berlin", "Paris", "Madrid", "Rome"}, 2};
const Record kCapital3{"What is the capital of France?", {"Berlin", "Paris", "Madrid", ""}, 2};

INSTANTIATE_TEST_SUITE_P(
    Samples, FileImportTest,
    ::testing::Values(
        FileCase{
            "platform_export.aiken.txt",
            4,
            "Aiken",
            {kCapital,
             {"Which gas do plants take in?", {"Oxygen", "Carbon dioxide", "Nitrogen", ""}, 2},
             {"Un caf\xE9 au lait contient ?", {"Du caf\xE9 et du lait", "Du th\xE9", "", ""}, 1}},
            {{19, "ANSWER: F names no response"},
             {26, "no ANSWER: line"},
             {30, "6 responses, more than five"},
             {39, "fewer than two responses"},
             {43, "the character U+6771, which the ANSI code page cannot show"},
             {48, "5 responses; the database holds 4"}}},
        FileCase{"platform_export.gift",
                 4,
                 "GIFT",
                 {kCapital3,
                  {"2 + 2 = ?", {"3", "4", "5", "22"}, 2},
                  {"Which braces hold a GIFT answer { }?",
                   {"curly { }", "square [ ]", "round ( )", ""},
                   1},
                  {"Pick the noble gas", {"Oxygen", "Neon", "Nitrogen", ""}, 2},
                  {"The sun is a star.", {"True", "False", "", ""}, 1},
                  {"The _____ is the largest ocean.", {"Pacific", "Atlantic", "Indian", ""}, 1}},
                 {{19, "short-answer"},
                  {21, "matching"},
                  {23, "numeric"},
                  {25, "essay"},
                  {27, "no answer block"},
                  {29, "more than one response is marked right"},
                  {33, "the answer block opened on line 33 is never closed"}},
                 {"Feedback after \"#\", in 2 questions (the first on line 2)."}},
        FileCase{
            "european_excel.csv",
            4,
            "CSV",
            {{"Quelle est la capitale de la France ?", {"Berlin", "Paris", "Madrid", "Rome"}, 2},
             {"Which word is on two lines?", {"say \"hi\"", "bye", "", ""}, 1},
             {"Prix du caf\xE9 ?", {"1,50 \x80", "2,00 \x80", "", ""}, 2}},
            {{7, "fewer than two responses"}, {8, "names response 6, and there are 3"}},
            {"The time limits in the column \"Time limit\": the database has one time limit for "
             "all questions."}},
        FileCase{"sheets_no_header.csv",
                 4,
                 "CSV",
                 {{"What colour is the sky?", {"Green", "Blue", "Red", ""}, 2},
                  {"Largest planet, by mass?", {"Mars", "Jupiter", "Venus", "Earth"}, 2},
                  {"Who wrote Faust?", {"Goethe", "Schiller", "Heine", ""}, 1}},
                 {{4, "could mean a response number or letter, or the text of another"},
                  {5, "neither 1-5, A-E nor the text of a response"}}},
        FileCase{"excel_utf8_bom.csv",
                 4,
                 "CSV",
                 {{"Na\xEFve or naive, which is it?", {"Na\xEFve", "Naive", "Both", "Neither"}, 3}},
                 {{2, "5 responses; the database holds 4"}}},
        FileCase{
            "excel_utf8_bom.csv",
            5,
            "CSV",
            {{"Which is a vowel?", {"b", "c", "d", "e", "f"}, 4},
             {"Na\xEFve or naive, which is it?", {"Na\xEFve", "Naive", "Both", "Neither", ""}, 3}},
            {}},
        FileCase{"excel_unicode.txt",
                 4,
                 "CSV",
                 {{"Ist \xDCmlaut ein Wort?", {"Ja", "Nein", "Vielleicht", ""}, 1}},
                 {}},
        FileCase{"layout_four.txt",
                 4,
                 "QOVA text layout, 4 responses",
                 {{"Which planet is largest?", {"Mars", "Jupiter", "Venus", "Earth"}, 2},
                  {"2 + 2 = ?", {"3", "4", "5", "22"}, 2},
                  {"A question with three responses", {"one", "two", "three", ""}, 3}},
                 {{13, "no right response is marked"}}},
        // The shapes of a learning platform's published GIFT examples.
        FileCase{
            "learning_platform_examples.gift",
            5,
            "GIFT",
            {{"Who wrote the play Hamlet?", {"Marlowe", "Jonson", "Shakespeare", "", ""}, 3},
             {"The Nile flows _____ into the Mediterranean.",
              {"south", "north", "west", "", ""},
              2},
             {"The first month of the year is _____ in most calendars.",
              {"February", "January", "March", "", ""},
              2},
             {"Which river flows through Vienna?", {"Rhine", "Danube", "Seine", "Thames", ""}, 2},
             {"The sun orbits the earth.", {"True", "False", "", "", ""}, 2},
             {"The moon orbits the earth.", {"True", "False", "", "", ""}, 1},
             {"The first month of the year is _____ in most calendars.",
              {"February", "March", "January", "", ""},
              3},
             {"What's the right response to this question?",
              {"wrong response", "another wrong response", "right response", "", ""},
              3},
             {"The earth is flat.", {"True", "False", "", "", ""}, 2},
             {"Hard question.",
              {"wrong response", "half credit response", "full credit response", "", ""},
              3},
             {"Jesus Christ was from _____.",
              {"Jerusalem", "Bethlehem", "Galilee", "Nazareth", ""},
              4},
             {"Which response equals 6?", {"= 2 + 2", "= 3 + 3", "= 2 + 5", "", ""}, 2}},
            {{24, "it is a short-answer question"},
             {26, "it is a short-answer question"},
             {36, "it is a matching question"},
             {42, "it is a matching question"},
             {46, "it is a numeric question"},
             {48, "it is a numeric question"},
             {50, "it is a numeric question"},
             {52, "it is a numeric question"},
             {59, "it is a numeric question"},
             {63, "it is a short-answer question"},  // one "=" alone
             {75, "it is a short-answer question"},
             {80, "it is a short-answer question"},  // [markdown]
             {95, "it is a short-answer question"},  // weighted "=" answers
             {100, "it is a short-answer question"},
             {104, "it gives part marks to several responses"},
             {110, "it gives part marks to several responses"},
             {122, "it has 6 responses, more than five"},
             {135, "it is a short-answer question"}},  // {=Frog =%50%Cat =%0%*}
            {"Feedback after \"#\", in 3 questions (the first on line 70).", kPartCredit1,
             kPartCredit2}},
        FileCase{"learning_platform_formats.gift",
                 4,
                 "GIFT",
                 {{"Which colour is the sky on a clear day?", {"blue", "green", "red", ""}, 1},
                  {"Which ocean is the largest?", {"Pacific", "Atlantic", "Indian", ""}, 1},
                  {"Which is the largest planet?", {"Jupiter", "Mars", "Venus", ""}, 1},
                  {"Caf\xE9 au lait & cr\xE8me br\xFBl\xE9"
                   "e \x96 which is a drink?",
                   {"Caf\xE9 au lait",
                    "Cr\xE8me br\xFBl\xE9"
                    "e",
                    "", ""},
                   1},
                  {"Which of these tags makes text bold?", {"<b>", "<i>", "<u>", ""}, 1},
                  {"Water boils at 100 \xB0"
                   "C at sea level.",
                   {"True", "False", "", ""},
                   1},
                  {"Is the whale a fish?", {"True", "False", "", ""}, 2}},
                 {{12, "it shows a picture (<img>), which a record cannot hold"}},
                 {"Feedback after \"#\", in 1 question (the first on line 19)."}},
        // The shape of a learning platform's own Aiken test file: responses
        // without a blank after the letter, a question right after the
        // previous ANSWER: line, and the questions it refuses.
        FileCase{"learning_platform_errors.aiken.txt",
                 4,
                 "Aiken",
                 {{"What is the largest planet?", {"Mars", "Jupiter", "Venus", "Earth"}, 2},
                  {"Which of these responses is right?", {"Correct", "Incorrect", "", ""}, 1},
                  {"Which of these responses is right, written with stops?",
                   {"Incorrect", "Correct", "", ""},
                   2},
                  {"A question at the end, complete", {"Right", "Wrong", "", ""}, 1}},
                 {{8, "it has 6 responses, more than five"},
                  {26, "it has fewer than two responses"},
                  {29, "it has fewer than two responses"},
                  {33, "ANSWER: C names no response"},
                  {38, "it has no ANSWER: line"}}},
        templateA("quiz_template_a_comma_utf8bom.csv"), templateA("quiz_template_a_comma_ansi.csv"),
        templateA("quiz_template_a_semicolon_utf8.csv"),
        templateA("quiz_template_a_semicolon_ansi.csv"),
        templateB("quiz_template_b_comma_utf8bom.csv"), templateB("quiz_template_b_comma_ansi.csv"),
        templateB("quiz_template_b_semicolon_utf8.csv"),
        templateB("quiz_template_b_semicolon_ansi.csv")));

// The content decides the format; the extension only breaks ties and names
// the reader for content that fits none.
TEST(FormatDetectionTest, ContentDecidesAndTheExtensionIsAHint) {
  const std::string aiken = "Q?\nA. a\nB. b\nANSWER: A\n";
  const std::string gift = "Q? {=a ~b}\n";
  const std::string csv = "Q?,a,b,1\n";
  const std::string layout = "Q?\na\nb\nc\nd\n1\n";
  struct Case {
    std::string bytes;
    std::string name;
    std::string format;
  } cases[] = {
      {aiken, "questions.csv", "Aiken"},
      {aiken, "questions.gift", "Aiken"},
      {gift, "questions.txt", "GIFT"},
      {gift, "noextension", "GIFT"},
      {csv, "questions.txt", "CSV"},
      {layout, "questions.csv", "QOVA text layout, 4 responses"},
      {"Q?\na\nb\nc\nd\ne\n5\n", "q.txt", "QOVA text layout, 5 responses"},
      // Content of no format: the .csv reader reports its rows.
      {"just words\n", "q.csv", "CSV"},
  };
  for (const Case& c : cases) {
    ImportedQuestions got = importQuestions(c.bytes, c.name, 5);
    EXPECT_EQ(got.format, c.format) << c.name << ": " << c.bytes;
  }
  ImportedQuestions none = importQuestions("just words\n", "q.txt", 5);
  EXPECT_EQ(none.format, "");
  EXPECT_NE(none.failure.find("none of the formats"), std::string::npos);
}

// Damaged input always gives a report, never a crash or a hang, and never a
// record made of garbage.
TEST(DamagedInputTest, EveryDamageGivesAReport) {
  std::string binary;
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>((i * 131 + 7) % 256);
  const std::string longLine(10 << 20, 'x');
  std::string longCsv = "Question,A,B,Correct\n" + std::string(10 << 20, 'y') + ",a,b,1\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string name;
    std::string failure;  // empty: a skip is expected instead
  } cases[] = {
      {"empty file", "", "q.txt", "The file is empty."},
      {"blank file", "  \r\n\n\t", "q.txt", "The file is empty."},
      {"binary bytes", binary, "q.txt", "none of the formats"},
      {"binary bytes as csv", binary, "q.csv", ""},
      {"10 MB on one line", longLine, "q.txt", "none of the formats"},
      {"10 MB on one line as gift", longLine, "q.gift", ""},
      {"10 MB in one cell", longCsv, "q.csv", ""},
      {"more than 16 MB", std::string((16 << 20) + 1, '\n'), "q.txt", "larger than 16 MB"},
      {"aiken cut in a question", "Q?\nA. a\nB. b\nANSWER: A\n\nR?\nA. a\nB. b", "q.txt", ""},
      {"gift brace never closed", "::T::Q? {=a ~b\n~c\n\n\n", "q.gift", ""},
      {"csv cut in a quoted field", "Q?,a,b,1\n\"R?,a,b,1\n", "q.csv", ""},
      {"layout cut in a question", "Q\na\nb\nc\nd\n1\nR\na\nb", "q.txt", ""},
      {"header without correct column", "Question,Answer 1,Answer 2\nQ,a,b\n", "q.csv",
       "no column for the right response"},
  };
  for (const Case& c : cases) {
    auto start = std::chrono::steady_clock::now();
    ImportedQuestions got = importQuestions(c.bytes, c.name, 5);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!c.failure.empty()) {
      EXPECT_NE(got.failure.find(c.failure), std::string::npos) << c.what << ": " << got.failure;
      EXPECT_TRUE(got.records.empty()) << c.what;
    } else {
      EXPECT_GT(got.skippedCount, 0) << c.what;
    }
    for (const QuestionRecord& r : got.records) {
      EXPECT_LE(r.question.size(), kMaxImportedText) << c.what;
    }
    EXPECT_LE(got.skipped.size(), kMaxListedSkips) << c.what;
    EXPECT_FALSE(importReport(got, c.name).empty());
    // Not a speed test: a reader that went quadratic on 10 MB would take hours.
    EXPECT_LT(seconds, 60.0) << c.what;
  }
}

TEST(DamagedInputTest, OneImportBringsAtMostAHundredThousandQuestions) {
  std::string bytes;
  for (int i = 0; i < 100002; ++i) bytes += "Q?,a,b,1\n";
  ImportedQuestions got = importQuestions(bytes, "q.csv", 4);
  EXPECT_EQ(got.records.size(), kMaxImportedQuestions);
  EXPECT_EQ(got.skippedCount, 2);
  ASSERT_EQ(got.skipped.size(), 2u);
  EXPECT_EQ(got.skipped[0].line, 100001);
  EXPECT_EQ(got.skipped[0].reason, "one import brings at most 100000 questions");
}

TEST(DamagedInputTest, CutFilesKeepTheQuestionsBeforeTheCut) {
  ImportedQuestions aiken =
      importQuestions("Q?\nA. a\nB. b\nANSWER: A\n\nR?\nA. a\nB. b", "q.txt", 4);
  ASSERT_EQ(aiken.records.size(), 1u);
  ASSERT_EQ(aiken.skipped.size(), 1u);
  EXPECT_EQ(aiken.skipped[0].line, 6);
  EXPECT_EQ(aiken.skipped[0].reason, "the file ends before its ANSWER: line");

  ImportedQuestions csv = importQuestions("Q?,a,b,1\n\"R?,a,b,1\nS?,a,b,2\n", "q.csv", 4);
  ASSERT_EQ(csv.records.size(), 1u);
  ASSERT_EQ(csv.skipped.size(), 1u);
  EXPECT_EQ(csv.skipped[0].line, 2);
  EXPECT_EQ(csv.skipped[0].reason, "a quoted field opened on line 2 is never closed");
}

TEST(ImportReportTest, CountsListsAScreenfulAndSaysHowManyMore) {
  std::string bytes;
  for (int i = 0; i < 25; ++i) bytes += "Only one?,a,1\n";
  bytes += "Fine?,a,b,2\n";
  ImportedQuestions got = importQuestions(bytes, "C:\\quiz\\night.csv", 4);
  std::string report = importReport(got, "C:\\quiz\\night.csv");
  std::string expected = "Imported 1 question from night.csv (CSV).\n\nSkipped 25 questions:\n";
  for (int line = 1; line <= 20; ++line) {
    expected += "Line " + std::to_string(line) +
                ": it has fewer than two responses (a row: question, responses, right "
                "response).\n";
  }
  expected += "...and 5 more.\n";
  EXPECT_EQ(report, expected);

  ImportedQuestions none = importQuestions("", "/tmp/empty.txt", 4);
  EXPECT_EQ(importReport(none, "/tmp/empty.txt"),
            "No questions were imported from empty.txt.\n\nThe file is empty.\n");
}

TEST(ImportFileTest, AFileThatCannotBeOpenedIsAFailure) {
  testing::TempDir dir;
  ImportedQuestions got = importQuestionFile(dir.file("missing.csv"), 4);
  EXPECT_EQ(got.failure, "The file cannot be opened.");
  ASSERT_TRUE(testing::writeFileBytes(dir.file("q.csv"), "Q?,a,b,B\n"));
  got = importQuestionFile(dir.file("q.csv"), 4);
  ASSERT_EQ(got.records.size(), 1u);
  EXPECT_EQ(got.records[0].correct, 2);
}

}  // namespace
}  // namespace qova

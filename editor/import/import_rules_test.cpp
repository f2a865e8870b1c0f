// The rules every reader shares and the details of each format, on small
// texts. The samples of whole files are in question_import_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/import/ansi_text.h"
#include "editor/import/question_import.h"

namespace qova {
namespace {

#ifndef _WIN32
// Outside Windows the ANSI code page is Windows-1252; on Windows it is the
// machine's, which the window tests meet.
TEST(AnsiTextTest, Windows1252BothWays) {
  struct Case {
    std::string utf8;
    bool ok;
    std::string ansi;
    uint32_t missing;
  } cases[] = {
      {"plain", true, "plain", 0},
      {"caf\xC3\xA9 \xE2\x82\xAC \xC5\x93 \xE2\x80\x9C", true, "caf\xE9 \x80 \x9C \x93", 0},
      {"\xC3\xBF", true, "\xFF", 0},
      {"\xE4\xB8\xAD", false, "", 0x4E2D},       // a CJK letter
      {"ok \xD0\x96", false, "", 0x0416},        // Cyrillic
      {"\xF0\x9F\x98\x80", false, "", 0x1F600},  // an emoji
      {"\xE2\x89\xA4", false, "", 0x2264},       // best fit would give '='
      {"bad \xC3", false, "", 0xFFFD},           // cut sequence
  };
  for (const Case& c : cases) {
    std::string ansi;
    uint32_t missing = 0;
    EXPECT_EQ(ansiFromUtf8(c.utf8, &ansi, &missing), c.ok) << c.utf8;
    if (c.ok) {
      EXPECT_EQ(ansi, c.ansi);
      EXPECT_EQ(utf8FromAnsi(ansi), c.utf8);
    } else {
      EXPECT_EQ(missing, c.missing) << c.utf8;
    }
  }
  // The five bytes Windows-1252 leaves undefined keep their number.
  EXPECT_EQ(utf8FromAnsi("\x81"), "\xC2\x81");
}
#endif

struct RuleCase {
  const char* what;
  std::string bytes;
  const char* name;
  int limit;
  // The one record expected (empty question: none), or the skip reason.
  std::string question;
  std::vector<std::string> responses;
  int correct;
  std::string skipped;
};

class ImportRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ImportRuleTest, ReadsOrSkipsWithTheReason) {
  const RuleCase& c = GetParam();
  ImportedQuestions got = importQuestions(c.bytes, c.name, c.limit);
  EXPECT_EQ(got.failure, "") << c.what;
  if (c.skipped.empty()) {
    ASSERT_EQ(got.records.size(), 1u)
        << c.what << (got.skipped.empty() ? "" : ": " + got.skipped[0].reason);
    EXPECT_EQ(got.records[0].question, c.question) << c.what;
    EXPECT_EQ(got.records[0].responses, c.responses) << c.what;
    EXPECT_EQ(got.records[0].correct, c.correct) << c.what;
  } else {
    EXPECT_TRUE(got.records.empty()) << c.what;
    ASSERT_EQ(got.skipped.size(), 1u) << c.what;
    EXPECT_EQ(got.skipped[0].reason, c.skipped) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ImportRuleTest,
    ::testing::Values(
        // Shared rules.
        RuleCase{"padded to five", "Q?,a,b,2\n", "q.csv", 5, "Q?", {"a", "b", "", "", ""}, 2, ""},
        RuleCase{
            "blanks trimmed", " Q? ; a ;\tb ; 1 \n", "q.csv", 4, "Q?", {"a", "b", "", ""}, 1, ""},
        RuleCase{"empty response", "Q?,a,,c,1\n", "q.csv", 4, "", {}, 0, "response 2 is empty"},
        RuleCase{"control character",
                 "Q\x01?,a,b,1\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the question holds a control character"},
        RuleCase{"undefined ANSI byte",
                 "Q\x81?,a,b,1\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the question holds a control character"},
        RuleCase{"text too long",
                 "Q?," + std::string(1001, 'a') + ",b,2\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "response 1 is longer than 1000 characters"},
        RuleCase{"text as long as allowed",
                 "Q?," + std::string(1000, 'a') + ",b,2\n",
                 "q.csv",
                 4,
                 "Q?",
                 {std::string(1000, 'a'), "b", "", ""},
                 2,
                 ""},
        RuleCase{"ANSI when not UTF-8",
                 "Caf\xE9?,a,b,1\n",
                 "q.csv",
                 4,
                 "Caf\xE9?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        // CSV.
        RuleCase{"semicolon with decimal commas",
                 "Pi?;3,14;2,72;1\n",
                 "q.csv",
                 4,
                 "Pi?",
                 {"3,14", "2,72", "", ""},
                 1,
                 ""},
        RuleCase{"tab", "Q?\ta\tb\tB\n", "q.csv", 4, "Q?", {"a", "b", "", ""}, 2, ""},
        RuleCase{"quoted separator and quote",
                 "\"Q, \"\"really\"\"?\",a,b,1\n",
                 "q.csv",
                 4,
                 "Q, \"really\"?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"line break in a cell, CR LF",
                 "\"Q\r\nmore?\",a,b,1\r\n",
                 "q.csv",
                 4,
                 "Q more?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"header finds columns in any order",
                 "Time,Correct Answer,Option B,Option A,Question\n30,b,yes,no,Q?\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"no", "yes", "", ""},
                 2,
                 ""},
        RuleCase{"header with response letters",
                 "question;A;B;C;answer\nQ?;x;y;z;C\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"x", "y", "z", ""},
                 3,
                 ""},
        RuleCase{"header with six responses",
                 "Question,Answer 1,Answer 2,Answer 3,Answer 4,Answer 5,Answer 6,Correct\n"
                 "Q?,a,b,c,d,e,f,1\n",
                 "q.csv",
                 5,
                 "",
                 {},
                 0,
                 "it has 6 responses, more than five"},
        RuleCase{"correct by text",
                 "Q?,red,green,green\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"red", "green", "", ""},
                 2,
                 ""},
        RuleCase{"correct text twice",
                 "Q?,red,red,blue,red\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the right response's text matches more than one response"},
        RuleCase{"correct number beyond",
                 "Q?,a,b,3\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the right-response column names response 3, and there are 2"},
        RuleCase{"correct empty",
                 "Question,A,B,Correct\nQ?,a,b,\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the right-response column is empty"},
        // Aiken.
        RuleCase{"aiken lower-case answer, no blank line at the end",
                 "Q?\r\nA) a\r\nB) b\r\nanswer: b",
                 "q.txt",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 2,
                 ""},
        RuleCase{"aiken response out of order",
                 "Q?\nA. a\nC. c\nANSWER: A\n",
                 "q.txt",
                 4,
                 "",
                 {},
                 0,
                 "line 3: response C is out of order"},
        RuleCase{"aiken question over two lines",
                 "Q\nstill Q?\nA. a\nB. b\nANSWER: A\n",
                 "q.txt",
                 4,
                 "",
                 {},
                 0,
                 "the question goes on over more than one line (line 2)"},
        RuleCase{"aiken stray line",
                 "Q?\nA. a\nB. b\nwhat\nANSWER: A\n",
                 "q.txt",
                 4,
                 "",
                 {},
                 0,
                 "line 4 is neither a response (\"A.\" or \"A)\") nor ANSWER:"},
        RuleCase{"aiken answer not a letter",
                 "Q?\nA. a\nB. b\nANSWER: 1\n",
                 "q.txt",
                 4,
                 "",
                 {},
                 0,
                 "its ANSWER: line does not name a response letter"},
        // GIFT.
        RuleCase{"gift on several lines with format mark",
                 "[plain]Q?\n{\n=a # right\n~b\n}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"gift escapes",
                 "A \\: b \\# c \\~ d? {=x \\= y ~z \\# w}\n",
                 "q.gift",
                 4,
                 "A : b # c ~ d?",
                 {"x = y", "z # w", "", ""},
                 1,
                 ""},
        RuleCase{"gift two questions without a blank line",
                 "Q? {=a ~b}\nR? {=c ~d}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it holds more than one answer block (questions must be apart by a blank line)"},
        RuleCase{"gift block on later lines, no .gift name",
                 "Q?\n{\n  =a\n  ~b\n}\n",
                 "q.txt",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"gift one = only",
                 "Q? {=a}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it is a short-answer question"},
        RuleCase{"layout with braces is no gift",
                 "f = {1}?\na\nb\nc\nd\n1\n",
                 "q.txt",
                 4,
                 "f = {1}?",
                 {"a", "b", "c", "d"},
                 1,
                 ""},
        RuleCase{"gift no right response",
                 "Q? {~a ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "no response is marked right with ="},
        RuleCase{"gift part marks",
                 "Q? {~%50%a ~%50%b ~c}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it gives part marks to several responses"},
        RuleCase{"gift title never closed",
                 "::T Q? {=a ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "its ::title:: is never closed"},
        // GIFT as the format's readers decide the kind of question.
        RuleCase{"gift {T}", "Q?{T}\n", "q.gift", 4, "Q?", {"True", "False", "", ""}, 1, ""},
        RuleCase{"gift {TRUE}", "Q? {TRUE}\n", "q.gift", 4, "Q?", {"True", "False", "", ""}, 1, ""},
        RuleCase{"gift {F}", "Q?{ F }\n", "q.gift", 4, "Q?", {"True", "False", "", ""}, 2, ""},
        RuleCase{"gift {FALSE} with feedback for each and general feedback",
                 "Q?{FALSE#no, it is false#yes####Because.}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"True", "False", "", ""},
                 2,
                 ""},
        RuleCase{"gift true/false in lower case",
                 "Q?{false}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"True", "False", "", ""},
                 2,
                 ""},
        RuleCase{"gift weighted = answers are short answer",
                 "Jesus Christ was from {=Nazareth =%75%Nazereth =%25%Bethlehem}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it is a short-answer question"},
        RuleCase{"gift = answers with a wildcard are short answer",
                 "Which animal? {=Frog =%50%Cat =%0%*}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it is a short-answer question"},
        RuleCase{"gift one full-credit response among part credit",
                 "Q? {~%50%half =full ~%-25%wrong ~none}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"half", "full", "wrong", "none"},
                 2,
                 ""},
        RuleCase{"gift full credit by weight",
                 "Q? {~%100%full ~%33.3%part ~wrong}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"full", "part", "wrong", ""},
                 1,
                 ""},
        RuleCase{"gift part credit alone",
                 "Q? {~%50%half ~wrong}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "no response has full credit"},
        RuleCase{"gift two full-credit weights",
                 "Q? {~%100%a ~%100%b ~c}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "more than one response is marked right"},
        RuleCase{"gift weight above 100",
                 "Q? {~%150%a ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "a response has a weight above 100%"},
        RuleCase{"gift percent that is no weight stays text",
                 "Q? {=%most% ~b}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"%most%", "b", "", ""},
                 1,
                 ""},
        RuleCase{"gift arrows in multiple choice are no matching",
                 "Which way is right? {=-> ~<-}\n",
                 "q.gift",
                 4,
                 "Which way is right?",
                 {"->", "<-", "", ""},
                 1,
                 ""},
        RuleCase{"gift gap before the closing stop",
                 "Jesus Christ was from {=Nazareth ~Rome}.\n",
                 "q.gift",
                 4,
                 "Jesus Christ was from _____.",
                 {"Nazareth", "Rome", "", ""},
                 1,
                 ""},
        RuleCase{"gift marks before responses",
                 "[markdown]Q **bold**?{=[plain]blue ~[moodle]green ~[markdown]red}\n",
                 "q.gift",
                 4,
                 "Q **bold**?",
                 {"blue", "green", "red", ""},
                 1,
                 ""},
        RuleCase{"gift html question and its responses",
                 "::T::[html]<p>Fish &amp; chips:<br>which <b>is</b> a fish?</p>"
                 "{=<i>cod</i> ~chips&nbsp;&hellip; ~&\\#x3C;none&\\#62;}\n",
                 "q.gift",
                 4,
                 "Fish & chips: which is a fish?",
                 {"cod", "chips \x85", "<none>", ""},
                 1,
                 ""},
        RuleCase{"gift html response of its own in a plain question",
                 "Q &amp; A?{=[html]a &amp; b ~c &amp; d}\n",
                 "q.gift",
                 4,
                 "Q &amp; A?",
                 {"a & b", "c &amp; d", "", ""},
                 1,
                 ""},
        RuleCase{"gift plain response in an html question",
                 "[html]Which tag?{=[plain]<b> ~<i>x</i>}\n",
                 "q.gift",
                 4,
                 "Which tag?",
                 {"<b>", "x", "", ""},
                 1,
                 ""},
        RuleCase{"gift html picture in a response",
                 "[html]Which flag?{=<img src=\"a.png\"> ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it shows a picture (<img>), which a record cannot hold"},
        RuleCase{"gift html video",
                 "[html]Which bird sings? <video src=\"b.mp4\"></video>{=a ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "it holds media (<video>), which a record cannot hold"},
        RuleCase{"gift html superscript keeps its meaning, scripts are no text",
                 "[html]What is 10<sup>3</sup>?<script>var a = '<b>';</script>"
                 "<style>p \\{\\}</style>{=1000 ~103 ~H<sub>2</sub>O}\n",
                 "q.gift",
                 4,
                 "What is 10^3?",
                 {"1000", "103", "H2O", ""},
                 1,
                 ""},
        RuleCase{"gift html unknown entity and a lone ampersand stay",
                 "[html]A &foo; & B < C?{=a ~b}\n",
                 "q.gift",
                 4,
                 "A &foo; & B < C?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"gift html entity beyond the code page",
                 "[html]Q &#x4E2D;?{=a ~b}\n",
                 "q.gift",
                 4,
                 "",
                 {},
                 0,
                 "the question holds the character U+4E2D, which the ANSI code page cannot show"},
        RuleCase{"gift category lines are no questions",
                 "$CATEGORY: $course$/Quiz\n\n// a comment\n$CATEGORY: tom\nQ?{=a ~b}\n",
                 "q.gift",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        // Aiken responses without a blank after the letter.
        RuleCase{"aiken A)text",
                 "Q?\nA)Correct\nB)Incorrect\nANSWER: A\n",
                 "q.txt",
                 4,
                 "Q?",
                 {"Correct", "Incorrect", "", ""},
                 1,
                 ""},
        RuleCase{"aiken A.text and a tab",
                 "Q?\nA.one\nB.\ttwo\nANSWER: B\n",
                 "q.txt",
                 4,
                 "Q?",
                 {"one", "two", "", ""},
                 2,
                 ""},
        // Spreadsheet headers.
        RuleCase{"header below title rows, names with hints",
                 ",Quiz,,,,\n,Fill in below,,,,\n"
                 ",Question - max 120 characters,Answer 1 - max 75 characters,Answer 2 - max 75 "
                 "characters,Time limit (sec),Correct answer(s) - choose at least one\n"
                 "1,Q?,a,b,20,2\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 2,
                 ""},
        RuleCase{"header with number column and question text",
                 "Question #;Question Text;Answer 1;Answer 2;Answer 3 (Optional);Correct Answer(s) "
                 "(Only include Answer #)\n7;Q?;a;b;;1\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"a", "b", "", ""},
                 1,
                 ""},
        RuleCase{"header No. column ignored",
                 "No.,Question,Answer 1,Answer 2,Correct answer\n1,Q?,x,y,2\n",
                 "q.csv",
                 4,
                 "Q?",
                 {"x", "y", "", ""},
                 2,
                 ""},
        RuleCase{
            "header name that only begins like a response is none",
            "Question,Answer 1,Answer 2,Answer 1st round notes,Correct answer(s)\nQ?,a,b,note,2\n",
            "q.csv",
            4,
            "Q?",
            {"a", "b", "", ""},
            2,
            ""},
        RuleCase{"template right answer is a number, not a response's text",
                 "Question,Answer 1,Answer 2,Answer 3,Correct answer(s)\n1 + 1?,3,1,2,3\n",
                 "q.csv",
                 4,
                 "1 + 1?",
                 {"3", "1", "2", ""},
                 3,
                 ""},
        RuleCase{"several right answers",
                 "Question,Answer 1,Answer 2,Answer 3,Correct answer(s)\nQ?,a,b,c,\"2,3\"\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the right-response column names more than one right response (2,3)"},
        RuleCase{"several right answers with a blank",
                 "Question;A;B;C;Correct\nQ?;a;b;c;1, 3\n",
                 "q.csv",
                 4,
                 "",
                 {},
                 0,
                 "the right-response column names more than one right response (1, 3)"},
        // The text layout.
        RuleCase{"layout, right response empty",
                 "Q\na\nb\n\n\n3\n",
                 "q.txt",
                 4,
                 "",
                 {},
                 0,
                 "response 3 is empty"},
        RuleCase{"layout, blank lines after the last group",
                 "Q\na\nb\nc\nd\n4\n\n\n",
                 "q.txt",
                 4,
                 "Q",
                 {"a", "b", "c", "d"},
                 4,
                 ""}));

// The header row is looked for among the first 20 rows; the rows above it
// are no questions and are not reported.
TEST(CsvHeaderTest, FoundWithinTheFirstTwentyRows) {
  auto withTitleRows = [](int rows) {
    std::string text;
    for (int i = 0; i < rows; ++i) text += "Quiz night,,,,\n";
    return text + "Question,Answer 1,Answer 2,Correct answer(s)\nQ?,a,b,1\n";
  };
  ImportedQuestions found = importQuestions(withTitleRows(19), "q.csv", 4);
  EXPECT_EQ(found.records.size(), 1u);
  EXPECT_EQ(found.skippedCount, 0);

  // Beyond the first 20 rows there is no header: every row is read as a
  // question of question, responses and right response.
  ImportedQuestions beyond = importQuestions(withTitleRows(20), "q.csv", 4);
  EXPECT_EQ(beyond.records.size(), 1u);
  EXPECT_EQ(beyond.skippedCount, 21);
}

// A row above the header that holds more than a title may be a question:
// it is reported, never passed over without a word.
TEST(CsvHeaderTest, RowsAboveTheHeaderWithSeveralCellsAreReported) {
  ImportedQuestions got = importQuestions(
      "Quiz night,,,\nQ0?,a,b,1\nQuestion,Answer 1,Answer 2,Correct answer(s)\nQ?,a,b,2\n", "q.csv",
      4);
  EXPECT_EQ(got.records.size(), 1u);
  ASSERT_EQ(got.skipped.size(), 1u);
  EXPECT_EQ(got.skipped[0].line, 2);
  EXPECT_EQ(got.skipped[0].reason, "the row stands above the header row on line 3");
}

// Rows of a template that were left empty, even with their number and time
// limit filled in, are no questions.
TEST(CsvHeaderTest, UnusedTemplateRowsAreNotQuestions) {
  ImportedQuestions got = importQuestions(
      "Question #,Question Text,Answer 1,Answer 2,Time limit,Correct answer(s)\n"
      "1,Q?,a,b,20,2\n2,,,,20,\n3,,,,,\n",
      "q.csv", 4);
  EXPECT_EQ(got.records.size(), 1u);
  EXPECT_EQ(got.skippedCount, 0);
}

// What the database cannot hold is named in the report: the part credit of
// each question, the feedback and the time limits once.
TEST(ImportReportTest, NamesWhatWasNotKept) {
  const std::string gift =
      "Q1? {=a#right ~%50%b ~c}\n\n"
      "Q2? {T#no#yes}\n\n"
      "Q3? {=a ~b}\n\n"
      "Q4? {=a =%50%b}\n\n"
      "Q5? {=%100%a ~%25%b ~%25%c}\n";
  ImportedQuestions got = importQuestions(gift, "night.gift", 4);
  EXPECT_EQ(importReport(got, "night.gift"),
            "Imported 4 questions from night.gift (GIFT).\n\n"
            "Not kept:\n"
            "Feedback after \"#\", in 2 questions (the first on line 1).\n"
            "Line 1: kept without the part credit of 1 response; only the full-credit response is "
            "right.\n"
            "Line 9: kept without the part credit of 2 responses; only the full-credit response is "
            "right.\n\n"
            "Skipped 1 question:\n"
            "Line 7: it is a short-answer question.\n");
  EXPECT_EQ(importReport(got, "night.gift", 1).find("Line 9:"), std::string::npos);
  EXPECT_NE(importReport(got, "night.gift", 1).find("...and 1 more.\n\nSkipped"),
            std::string::npos);

  // A question skipped for another reason has nothing noted.
  ImportedQuestions skipped = importQuestions("Q? {=a#fine ~%50%\x01}\n", "q.gift", 4);
  EXPECT_EQ(skipped.noteCount, 0);
  EXPECT_EQ(importReport(skipped, "q.gift"),
            "No questions were imported from q.gift (GIFT).\n\n"
            "Skipped 1 question:\n"
            "Line 1: response 2 holds a control character.\n");

  // Time limits are named once, whatever the number of questions.
  ImportedQuestions csv =
      importQuestions("Question,A,B,Time limit,Correct\nQ1?,a,b,20,1\nQ2?,a,b,30,2\n", "q.csv", 4);
  EXPECT_EQ(importReport(csv, "q.csv"),
            "Imported 2 questions from q.csv (CSV).\n\n"
            "Not kept:\n"
            "The time limits in the column \"Time limit\": the database has one time limit "
            "for all questions.\n");
}

}  // namespace
}  // namespace qova

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

}  // namespace
}  // namespace qova

// Import... in the real editor window, with scripted prompts: the records of
// Aiken, GIFT and CSV files are appended as Append Qdb appends a database's,
// shown and saved; the Notice tells what was imported, what of it was not
// kept, and what was skipped.
#include <string>
#include <vector>

#include "editor/file_dialogs.h"
#include "testing/win/editor_window_fixture.h"

namespace qova {
namespace {

const char kAiken[] =
    "What is the capital of France?\r\nA. Berlin\r\nB. Paris\r\nC. Madrid\r\nD. Rome\r\n"
    "ANSWER: B\r\n\r\n"
    "Which gas do plants take in?\r\nA) Oxygen\r\nB) Carbon dioxide\r\nC) Nitrogen\r\n"
    "ANSWER: B\r\n\r\n"
    "Which colour has no ANSWER line?\r\nA. Red\r\nB. Blue\r\n";

// Excel with a European locale: semicolons, Windows-1252, a time column.
const char kCsv[] =
    "Question;Answer A;Answer B;Answer C;Answer D;Time limit;Correct\r\n"
    "Prix du caf\xE9 ?;1 \x80;2 \x80;;;30;B\r\n"
    "Too few;only one;;;;30;A\r\n"
    "Pick the fourth;a;b;c;d;30;D\r\n";

const testing::TestRecord kCapital{
    "What is the capital of France?", {"Berlin", "Paris", "Madrid", "Rome"}, 2};
const testing::TestRecord kGas{
    "Which gas do plants take in?", {"Oxygen", "Carbon dioxide", "Nitrogen", ""}, 2};

class ImportWindowTest : public EditorWindowTest {
 protected:
  // Writes `bytes` as `name` and imports it with Import...
  void importFile(const std::string& name, const std::string& bytes) {
    std::string path = folder_.file(name);
    ASSERT_TRUE(testing::writeFileBytes(path, bytes));
    scripted_.openAnswers.push_back(path);
    click(IDC_IMPORT);
  }
};

TEST_F(ImportWindowTest, AikenIntoANewDatabaseIsShownAndSaved) {
  importFile("night.txt", kAiken);
  ASSERT_EQ(scripted_.opens.size(), 1u);
  const FileDialogRequest& dialog = scripted_.opens[0];
  EXPECT_EQ(dialog.filter, questionFileRequest(nullptr).filter);
  const char filter[] =
      "Question Files (*.txt, *.gift, *.csv)\0*.txt;*.gift;*.csv\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(dialog.filter, std::string(filter, sizeof filter));
  EXPECT_EQ(dialog.flags, 0x2100Cu);
  EXPECT_EQ(dialog.owner, window_);

  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Notice");
  EXPECT_EQ(scripted_.messages[0].type, 0x40u);
  EXPECT_EQ(scripted_.messages[0].owner, window_);
  EXPECT_EQ(scripted_.messages[0].text,
            "Imported 2 questions from night.txt (Aiken).\n\n"
            "Skipped 1 question:\n"
            "Line 14: the file ends before its ANSWER: line.\n");

  // The empty record of the new database made way for the questions.
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(total(), "2");
  EXPECT_EQ(text(IDC_QUESTION), "What is the capital of France?");
  EXPECT_EQ(text(IDC_RESPONSE2), "Paris");
  EXPECT_TRUE(checked(IDC_CORRECT2));
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "Which gas do plants take in?");
  EXPECT_EQ(text(IDC_RESPONSE4), "");

  std::string saved = folder_.file("night.qdb");
  scripted_.saveAnswers.push_back(saved);
  click(IDC_SAVE);
  EXPECT_EQ(testing::readFileBytes(saved), editorFileBytes(4, {kCapital, kGas}));
}

TEST_F(ImportWindowTest, CsvIsAppendedAfterTheOpenDatabaseAndSkipsAreListed) {
  std::string db = openDatabase("two.qdb", 4, numberedRecords(2));
  click(IDC_NEXT);
  type(IDC_QUESTION, "edited");
  importFile("euro.csv", kCsv);

  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Notice");
  EXPECT_EQ(scripted_.messages[0].text,
            "Imported 2 questions from euro.csv (CSV).\n\n"
            "Not kept:\n"
            "The time limits in the column \"Time limit\": the database has one time limit for "
            "all questions.\n\n"
            "Skipped 1 question:\n"
            "Line 3: it has fewer than two responses.\n");
  // The typing was committed first, as Append Qdb does; the window shows the
  // first question imported.
  EXPECT_EQ(total(), "4");
  EXPECT_EQ(current(), "3");
  EXPECT_EQ(text(IDC_QUESTION), "Prix du caf\xE9 ?");
  EXPECT_EQ(text(IDC_RESPONSE1), "1 \x80");
  EXPECT_TRUE(checked(IDC_CORRECT2));
  click(IDC_PREV);
  EXPECT_EQ(text(IDC_QUESTION), "edited");

  scripted_.messageAnswers = {kIdOk, kIdYes};  // the Notice, then Overwrite
  click(IDC_SAVE);
  std::vector<TestRecord> expected = numberedRecords(2);
  expected[1].question = "edited";
  expected.push_back({"Prix du caf\xE9 ?", {"1 \x80", "2 \x80"}, 2});
  expected.push_back({"Pick the fourth", {"a", "b", "c", "d"}, 4});
  EXPECT_EQ(testing::readFileBytes(db), editorFileBytes(4, expected));
}

// A learning platform's GIFT file: true/false questions become the
// responses True and False, short-answer questions are skipped with their
// lines, part credit and feedback are named as not kept.
TEST_F(ImportWindowTest, GiftTrueFalseAndShortAnswerAreShownAsTheyRead) {
  const char gift[] =
      "// true/false\r\n"
      "$CATEGORY: $course$/Night\r\n\r\n"
      "::Sun::The sun is a star.{TRUE}\r\n\r\n"
      "The moon is a planet.{F#It is a moon.}\r\n\r\n"
      "// short answer, whatever its weights\r\n"
      "Jesus Christ was from {=Nazareth =%75%Nazereth =%25%Bethlehem}\r\n\r\n"
      "[html]Which is <b>largest</b>?{~%50%Saturn =Jupiter ~[plain]Mars}\r\n";
  importFile("night.gift", gift);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Notice");
  EXPECT_EQ(scripted_.messages[0].type, 0x40u);
  EXPECT_EQ(scripted_.messages[0].text,
            "Imported 3 questions from night.gift (GIFT).\n\n"
            "Not kept:\n"
            "Feedback after \"#\", in 1 question (the first on line 6).\n"
            "Line 11: kept without the part credit of 1 response; only the full-credit response "
            "is right.\n\n"
            "Skipped 1 question:\n"
            "Line 9: it is a short-answer question.\n");
  EXPECT_EQ(total(), "3");
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(text(IDC_QUESTION), "The sun is a star.");
  EXPECT_EQ(text(IDC_RESPONSE1), "True");
  EXPECT_EQ(text(IDC_RESPONSE2), "False");
  EXPECT_EQ(text(IDC_RESPONSE3), "");
  EXPECT_TRUE(checked(IDC_CORRECT1));
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "The moon is a planet.");
  EXPECT_TRUE(checked(IDC_CORRECT2));
  EXPECT_FALSE(checked(IDC_CORRECT1));
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "Which is largest?");
  EXPECT_EQ(text(IDC_RESPONSE1), "Saturn");
  EXPECT_EQ(text(IDC_RESPONSE3), "Mars");
  EXPECT_TRUE(checked(IDC_CORRECT2));
}

// A quiz platform's spreadsheet template saved as CSV by a spreadsheet
// program with a European locale: title rows above the header, hints in the
// header names, the number column, the time limits, several right answers.
TEST_F(ImportWindowTest, SpreadsheetTemplateImportsEveryQuestionItHolds) {
  const char sheet[] =
      ";;;;;;;\r\n"
      ";Quiz template;;;;;;\r\n"
      ";Write your questions below, a time limit, and the numbers of the correct answers.;;;;;;\r\n"
      ";;;;;;;\r\n"
      ";Question - max 120 characters;Answer 1 - max 75 characters;Answer 2 - max 75 "
      "characters;Answer 3 - max 75 characters;Answer 4 - max 75 characters;Time limit (sec) "
      "\x96 5, 10, 20, 30, 60, 90, 120, or 240 secs;Correct answer(s) - choose at least one\r\n"
      "1;Prix du caf\xE9 ?;1 \x80;2 \x80;3 \x80;;20;2\r\n"
      "2;Is the Atlantic an ocean?;Yes;No;;;10;1\r\n"
      "3;Which are prime?;4;7;9;11;30;2,4\r\n"
      "4;;;;;;20;\r\n";
  importFile("template.csv", sheet);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Notice");
  EXPECT_EQ(scripted_.messages[0].text,
            "Imported 2 questions from template.csv (CSV).\n\n"
            "Not kept:\n"
            "The time limits in the column \"Time limit (sec) \x96 5, 10, 20, 30, 60, 90, 120, or "
            "240 secs\": the database has one time limit for all questions.\n\n"
            "Skipped 1 question:\n"
            "Line 8: the right-response column names more than one right response (2,4).\n");
  EXPECT_EQ(total(), "2");
  EXPECT_EQ(text(IDC_QUESTION), "Prix du caf\xE9 ?");
  EXPECT_EQ(text(IDC_RESPONSE2), "2 \x80");
  EXPECT_TRUE(checked(IDC_CORRECT2));
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "Is the Atlantic an ocean?");
  EXPECT_EQ(text(IDC_RESPONSE2), "No");
  EXPECT_EQ(text(IDC_RESPONSE3), "");
  EXPECT_TRUE(checked(IDC_CORRECT1));

  std::string saved = folder_.file("template.qdb");
  scripted_.saveAnswers.push_back(saved);
  click(IDC_SAVE);
  EXPECT_EQ(testing::readFileBytes(saved),
            editorFileBytes(4, {{"Prix du caf\xE9 ?", {"1 \x80", "2 \x80", "3 \x80"}, 2},
                                {"Is the Atlantic an ocean?", {"Yes", "No"}, 1}}));
}

TEST_F(ImportWindowTest, FiveResponsesNeedTheFiveResponseDatabase) {
  const std::string five = "Question,A,B,C,D,E,Correct\nQ?,a,b,c,d,e,E\n";
  importFile("five.csv", five);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].type, 0x30u);
  EXPECT_EQ(scripted_.messages[0].text,
            "No questions were imported from five.csv (CSV).\n\n"
            "Skipped 1 question:\n"
            "Line 2: it has 5 responses; the database holds 4.\n");
  EXPECT_EQ(total(), "1");

  click(IDC_FIVE_RESPONSES);
  importFile("five.csv", five);
  EXPECT_EQ(scripted_.messages.back().text, "Imported 1 question from five.csv (CSV).\n");
  EXPECT_EQ(total(), "1");
  EXPECT_EQ(text(IDC_RESPONSE5), "e");
  EXPECT_TRUE(checked(IDC_CORRECT5));
}

TEST_F(ImportWindowTest, NothingChangesWhenNoQuestionCanBeRead) {
  openDatabase("two.qdb", 4, numberedRecords(2));
  type(IDC_QUESTION, "typed");
  importFile("notes.txt", "Shopping: milk, bread.\n");
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Notice");
  EXPECT_EQ(scripted_.messages[0].type, 0x30u);
  EXPECT_EQ(scripted_.messages[0].text,
            "No questions were imported from notes.txt.\n\n"
            "It is in none of the formats the import reads: Aiken, GIFT, CSV or the QOVA text "
            "layout.\n");
  EXPECT_EQ(total(), "2");
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(text(IDC_QUESTION), "typed");
  EXPECT_TRUE(app_->store.edits.empty());  // not even a commit

  // A cancelled dialog shows nothing.
  scripted_.openAnswers.push_back("");
  click(IDC_IMPORT);
  EXPECT_EQ(scripted_.messages.size(), 1u);
  EXPECT_TRUE(app_->store.edits.empty());
}

}  // namespace
}  // namespace qova

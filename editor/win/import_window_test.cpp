// Import... in the real editor window, with scripted prompts: the records of
// an Aiken and a CSV file are appended as Append Qdb appends a database's,
// shown and saved; the Notice tells what was imported and skipped.
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

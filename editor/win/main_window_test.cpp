#include "editor/win/main_window.h"

#include <functional>

#include "common/run_log.h"
#include "editor/win/editor_window_fixture.h"

namespace qova {
namespace {

TEST_F(EditorWindowTest, StartsOnAnEmptyFirstRecordWithFourResponses) {
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(total(), "1");
  EXPECT_EQ(app_->store.totalRecords, 1);
  EXPECT_TRUE(checked(IDC_FOUR_RESPONSES));
  EXPECT_FALSE(checked(IDC_FIVE_RESPONSES));
  EXPECT_FALSE(enabled(IDC_RESPONSE5));
  EXPECT_FALSE(enabled(IDC_CORRECT5));
  for (int id :
       {IDC_QUESTION, IDC_RESPONSE1, IDC_RESPONSE2, IDC_RESPONSE3, IDC_RESPONSE4, IDC_RESPONSE5}) {
    EXPECT_EQ(text(id), "") << id;
  }
  for (int id : {IDC_CORRECT1, IDC_CORRECT2, IDC_CORRECT3, IDC_CORRECT4, IDC_CORRECT5}) {
    EXPECT_FALSE(checked(id)) << id;
  }
  ASSERT_EQ(app_->correctButtons.size(), 5u);
  EXPECT_EQ(app_->correctButtons[3], item(IDC_CORRECT4));
  ASSERT_EQ(app_->responseEdits.size(), 5u);
  EXPECT_EQ(app_->responseEdits[4], item(IDC_RESPONSE5));
}

TEST_F(EditorWindowTest, PrevOnTheFirstRecordChangesAndCommitsNothing) {
  type(IDC_QUESTION, "typed");
  click(IDC_PREV);
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(text(IDC_QUESTION), "typed");
  ASSERT_EQ(app_->store.edits.count(1), 1u);
  EXPECT_EQ(app_->store.edits[1].question, "");
}

TEST_F(EditorWindowTest, NextOnTheLastRecordAddsAnEmptyRecordAndKeepsTheTyping) {
  openDatabase("two.qdb", 4, numberedRecords(2));
  click(IDC_NEXT);
  type(IDC_QUESTION, "changed");
  click(IDC_NEXT);
  EXPECT_EQ(current(), "3");
  EXPECT_EQ(total(), "3");
  EXPECT_EQ(text(IDC_QUESTION), "");
  EXPECT_EQ(text(IDC_RESPONSE1), "");
  click(IDC_PREV);
  EXPECT_EQ(current(), "2");
  EXPECT_EQ(text(IDC_QUESTION), "changed");
  EXPECT_EQ(text(IDC_RESPONSE2), "Q2-b");
  EXPECT_TRUE(checked(IDC_CORRECT2));
}

TEST_F(EditorWindowTest, TypingIsLostByOpenAndKeptWhenTheOpenDialogIsCancelled) {
  openDatabase("two.qdb", 4, numberedRecords(2));
  type(IDC_QUESTION, "lost");
  scripted_.openAnswers.push_back(folder_.file("two.qdb"));
  click(IDC_OPEN);
  EXPECT_EQ(text(IDC_QUESTION), "Q1");
  EXPECT_TRUE(app_->store.edits.empty());

  type(IDC_QUESTION, "kept");
  scripted_.openAnswers.push_back("");  // cancel
  click(IDC_OPEN);
  EXPECT_EQ(text(IDC_QUESTION), "kept");
  click(IDC_NEXT);
  click(IDC_PREV);
  EXPECT_EQ(text(IDC_QUESTION), "kept");
  EXPECT_EQ(scripted_.messages.size(), 0u);
}

TEST_F(EditorWindowTest, OpenFailureShowsAMessageAndKeepsTheWindow) {
  type(IDC_QUESTION, "still here");
  scripted_.openAnswers.push_back(folder_.file("missing.qdb"));
  click(IDC_OPEN);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].text, "Could not open file.");
  EXPECT_EQ(scripted_.messages[0].caption, "Error");
  EXPECT_EQ(scripted_.messages[0].type, 0x30u);
  EXPECT_EQ(scripted_.messages[0].owner, window_);
  EXPECT_EQ(text(IDC_QUESTION), "still here");
}

TEST_F(EditorWindowTest, FourWithTheFifthRadioCheckedCommitsCorrectFive) {
  click(IDC_FIVE_RESPONSES);
  EXPECT_TRUE(enabled(IDC_CORRECT5));
  type(IDC_RESPONSE5, "fifth");
  click(IDC_CORRECT5);
  click(IDC_FOUR_RESPONSES);
  // The two radio groups are apart: the response count does not clear the
  // correct mark, and the mark stays on the disabled radio.
  EXPECT_TRUE(checked(IDC_CORRECT5));
  EXPECT_TRUE(checked(IDC_FOUR_RESPONSES));
  EXPECT_FALSE(enabled(IDC_CORRECT5));
  EXPECT_EQ(app_->store.responsesPerRecord, 4);
  click(IDC_CORRECT1);
  EXPECT_TRUE(checked(IDC_FOUR_RESPONSES));
  click(IDC_FIVE_RESPONSES);
  click(IDC_CORRECT5);
  EXPECT_FALSE(checked(IDC_CORRECT1));
  click(IDC_FOUR_RESPONSES);
  click(IDC_NEXT);
  ASSERT_EQ(app_->store.edits.count(1), 1u);
  EXPECT_EQ(app_->store.edits[1].correct, 5);
  EXPECT_EQ(app_->store.edits[1].responses.size(), 4u);
}

TEST_F(EditorWindowTest, OpeningAFiveResponseFileShowsTheFifthResponse) {
  std::vector<TestRecord> records = {{"Q", {"a", "b", "c", "d", "e"}, 5}};
  openDatabase("five.qdb", 5, records);
  EXPECT_TRUE(checked(IDC_FIVE_RESPONSES));
  EXPECT_FALSE(checked(IDC_FOUR_RESPONSES));
  EXPECT_TRUE(enabled(IDC_RESPONSE5));
  EXPECT_TRUE(enabled(IDC_CORRECT5));
  EXPECT_EQ(text(IDC_RESPONSE5), "e");
  EXPECT_TRUE(checked(IDC_CORRECT5));
  EXPECT_EQ(app_->store.responsesPerRecord, 5);

  // Back to a four-response file: "4" again, response 5 disabled and empty.
  openDatabase("four.qdb", 4, numberedRecords(1));
  EXPECT_TRUE(checked(IDC_FOUR_RESPONSES));
  EXPECT_FALSE(enabled(IDC_RESPONSE5));
  EXPECT_EQ(text(IDC_RESPONSE5), "");
}

TEST_F(EditorWindowTest, ACorrectResponseOutsideTheRadiosChecksNone) {
  std::vector<TestRecord> records = {{"Q", {"a", "b", "c", "d"}, 7}, {"R", {}, 0}};
  openDatabase("odd.qdb", 4, records);
  for (int id : {IDC_CORRECT1, IDC_CORRECT2, IDC_CORRECT3, IDC_CORRECT4, IDC_CORRECT5}) {
    EXPECT_FALSE(checked(id)) << id;
  }
}

TEST_F(EditorWindowTest, EraseThenSaveLeavesTheRecordOut) {
  std::string path = openDatabase("three.qdb", 4, numberedRecords(3));
  click(IDC_NEXT);
  click(IDC_ERASE);
  EXPECT_EQ(app_->store.erasedNumbers.count(2), 1u);
  scripted_.messageAnswers.push_back(kIdYes);  // Overwrite
  click(IDC_SAVE);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].caption, "Save");

  std::vector<TestRecord> kept = numberedRecords(3);
  kept.erase(kept.begin() + 1);
  std::string bytes = testing::readFileBytes(path);
  EXPECT_EQ(bytes, qdbBytes(4, kept));
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(total(), "2");
  EXPECT_EQ(text(IDC_QUESTION), "Q1");
  EXPECT_FALSE(checked(IDC_ERASE));
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "Q3");
}

TEST_F(EditorWindowTest, SaveNewWritesTheTypingOfTheShownRecord) {
  type(IDC_QUESTION, "new question");
  click(IDC_CORRECT3);
  std::string path = folder_.file("new.qdb");
  scripted_.saveAnswers.push_back(path);
  click(IDC_SAVE);
  EXPECT_EQ(scripted_.messages.size(), 0u);  // no file open: nothing asked
  EXPECT_EQ(testing::readFileBytes(path), qdbBytes(4, {{"new question", {}, 3}}));
  EXPECT_EQ(text(IDC_QUESTION), "new question");
  EXPECT_EQ(current(), "1");
}

TEST_F(EditorWindowTest, SaveFailureShowsCouldNotSaveFile) {
  scripted_.saveAnswers.push_back(folder_.file("no such folder\\x.qdb"));
  click(IDC_SAVE);
  ASSERT_EQ(scripted_.messages.size(), 1u);
  EXPECT_EQ(scripted_.messages[0].text, "Could not save file.");
  EXPECT_EQ(scripted_.messages[0].type, 0x30u);
}

TEST_F(EditorWindowTest, AppendQdbAddsTheRecordsAfterTheLastAndShowsRecordOne) {
  openDatabase("two.qdb", 4, numberedRecords(2));
  std::string other = folder_.file("other.qdb");
  std::vector<TestRecord> extra = {{"X1", {"a"}, 1}, {"X2", {"b"}, 2}, {"X3", {"c"}, 3}};
  ASSERT_TRUE(testing::writeFileBytes(other, qdbBytes(4, extra)));
  click(IDC_NEXT);
  type(IDC_QUESTION, "edited");
  scripted_.openAnswers.push_back(other);
  click(IDC_APPEND_QDB);
  EXPECT_EQ(total(), "5");
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(text(IDC_QUESTION), "Q1");
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "edited");  // committed before the append
  click(IDC_NEXT);
  EXPECT_EQ(text(IDC_QUESTION), "X1");
  EXPECT_EQ(current(), "3");
}

TEST_F(EditorWindowTest, AppendQdbCancelledChangesNothingButTheCommit) {
  type(IDC_QUESTION, "typed");
  scripted_.openAnswers.push_back("");
  click(IDC_APPEND_QDB);
  EXPECT_EQ(scripted_.messages.size(), 0u);
  EXPECT_EQ(total(), "1");
  EXPECT_EQ(app_->store.edits[1].question, "typed");
}

TEST_F(EditorWindowTest, NewDropsEverythingAndStartsAgainWithFour) {
  std::vector<TestRecord> records = {{"Q", {"a", "b", "c", "d", "e"}, 5}, {"R", {}, 1}};
  openDatabase("five.qdb", 5, records);
  click(IDC_NEXT);
  type(IDC_QUESTION, "dropped");
  click(IDC_NEW);
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(total(), "1");
  EXPECT_EQ(text(IDC_QUESTION), "");
  EXPECT_TRUE(checked(IDC_FOUR_RESPONSES));
  EXPECT_FALSE(checked(IDC_FIVE_RESPONSES));
  EXPECT_FALSE(enabled(IDC_RESPONSE5));
  EXPECT_EQ(app_->store.responsesPerRecord, 4);
  EXPECT_EQ(app_->store.fileRecordCount, -1);
}

// The Seek dialog is modal: its loop runs inside the click, so timers that
// this thread's modal loop dispatches play the user's part, one step per
// tick. A step that finds the dialog gone counts as ended early: the dialog
// closed before the script was done with it.
std::vector<std::function<void(HWND)>> seekSteps;
size_t seekStep = 0;
int seekEndedEarly = 0;

void CALLBACK runSeekStep(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowA("#32770", "Seek To Record:");
  if (seekStep >= seekSteps.size()) {
    KillTimer(nullptr, timer);
    return;
  }
  if (dialog == nullptr) {
    if (seekStep > 0) ++seekEndedEarly, seekStep = seekSteps.size();
    return;  // not created yet
  }
  seekSteps[seekStep++](dialog);
}

class SeekTest : public EditorWindowTest {
 protected:
  void seek(std::vector<std::function<void(HWND)>> steps) {
    seekSteps = std::move(steps);
    seekStep = 0;
    seekEndedEarly = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, runSeekStep);
    click(IDC_SEEK);
    KillTimer(nullptr, timer);
    EXPECT_EQ(seekStep, seekSteps.size());
    EXPECT_EQ(seekEndedEarly, 0);
    EXPECT_EQ(FindWindowA("#32770", "Seek To Record:"), nullptr);
  }
  static std::function<void(HWND)> enterAndGo(const char* number) {
    return [number](HWND dialog) {
      SetDlgItemTextA(dialog, IDC_SEEK_NUMBER, number);
      SendMessageA(GetDlgItem(dialog, IDC_SEEK_GO), BM_CLICK, 0, 0);
    };
  }
};

TEST_F(SeekTest, SeekBeyondTheTotalMakesTheNumberTheTotal) {
  openDatabase("five.qdb", 4, numberedRecords(5));
  type(IDC_QUESTION, "kept");
  seek({enterAndGo("20")});
  EXPECT_EQ(current(), "20");
  EXPECT_EQ(total(), "20");
  EXPECT_EQ(app_->store.totalRecords, 20);
  EXPECT_EQ(text(IDC_QUESTION), "");
  EXPECT_EQ(app_->store.edits[1].question, "kept");
  click(IDC_PREV);
  EXPECT_EQ(current(), "19");
  EXPECT_EQ(text(IDC_QUESTION), "");
}

TEST_F(SeekTest, BadNumbersAreRefusedAndTheDialogStaysOpen) {
  openDatabase("five.qdb", 4, numberedRecords(5));
  std::vector<std::function<void(HWND)>> steps;
  for (const char* bad : {"", "0", "-3", "abc", "4294967297"}) steps.push_back(enterAndGo(bad));
  steps.push_back(enterAndGo("3"));
  seek(steps);
  ASSERT_EQ(scripted_.messages.size(), 5u);
  for (const MessageRequest& m : scripted_.messages) {
    EXPECT_EQ(m.text, "Must enter a positive integer");
    EXPECT_EQ(m.caption, "Bad record number");
    EXPECT_EQ(m.type, 0x30u);
    EXPECT_NE(m.owner, window_);  // the Seek dialog owns it
  }
  EXPECT_EQ(current(), "3");
  EXPECT_EQ(text(IDC_QUESTION), "Q3");
  EXPECT_EQ(total(), "5");
}

TEST_F(SeekTest, EscapeDoesNothingAndCancelCommitsNothing) {
  type(IDC_QUESTION, "typed");
  seek({[](HWND dialog) { SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); },
        [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDC_SEEK_CANCEL), BM_CLICK, 0, 0); }});
  EXPECT_EQ(current(), "1");
  EXPECT_EQ(app_->store.edits[1].question, "");
  EXPECT_EQ(text(IDC_QUESTION), "typed");
}

TEST_F(EditorWindowTest, QuitAndTheCloseBoxEndWithExitCodeZero) {
  click(IDC_QUIT);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(app_->mainWindow, nullptr);
  EXPECT_EQ(pumpUntilQuit(), 0);
  ASSERT_TRUE(createMainWindow());
  window_ = app_->mainWindow;
  SendMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(pumpUntilQuit(), 0);
}

TEST(EditorStartupTest, AWindowThatCannotBeCreatedIsLoggedShownAndEndsWithFour) {
  testing::TempDir folder;
  testing::WorkingDir working(folder.path());
  testing::ScriptedPrompts scripted;
  EditorRef app;
  // A module without the editor's templates.
  app->instance = GetModuleHandleA("kernel32.dll");
  app->store.prompts = scripted.prompts();
  ASSERT_FALSE(createMainWindow());
  EXPECT_EQ(app->errorText, "Error creating window.");
  EXPECT_EQ(app->errorFlags, 7u);
  reportStartupError();
  ASSERT_EQ(scripted.messages.size(), 1u);
  EXPECT_EQ(scripted.messages[0].text, "Error creating window.");
  EXPECT_EQ(scripted.messages[0].caption, "Error");
  EXPECT_EQ(scripted.messages[0].type, 0x30u);
  EXPECT_EQ(scripted.messages[0].owner, nullptr);
  EXPECT_NE(testing::readFileBytes(folder.file("errLog.txt")).find("Error creating window. - 1"),
            std::string::npos);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 4u);
}

}  // namespace
}  // namespace qova

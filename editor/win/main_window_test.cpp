#include "editor/win/main_window.h"

#include <cstdio>
#include <functional>
#include <string>

#include "common/run_log.h"
#include "testing/win/editor_window_fixture.h"

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
  EXPECT_EQ(bytes, editorFileBytes(4, kept));
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
  EXPECT_EQ(testing::readFileBytes(path), editorFileBytes(4, {{"new question", {}, 3}}));
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
  ASSERT_TRUE(testing::writeFileBytes(other, editorFileBytes(4, extra)));
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

TEST_F(SeekTest, SeekToTwoBillionAndSaveWritesOnlyTheRecordsThatExist) {
  openDatabase("five.qdb", 4, numberedRecords(5));
  seek({enterAndGo("2000000000")});
  EXPECT_EQ(total(), "2000000000");
  type(IDC_QUESTION, "far");
  std::string path = folder_.file("far.qdb");
  scripted_.messageAnswers.push_back(kIdNo);  // Save New
  scripted_.saveAnswers.push_back(path);
  click(IDC_SAVE);
  std::vector<TestRecord> saved = numberedRecords(5);
  saved.push_back({"far", {}, 0});
  EXPECT_EQ(testing::readFileBytes(path), editorFileBytes(4, saved));
  EXPECT_EQ(total(), "6");
}

// Names in the ANSI code page, made from wide ones; empty when the code page
// cannot hold the name.
std::string ansiName(const std::wstring& wide) {
  BOOL lossy = FALSE;
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                 nullptr, &lossy);
  if (size <= 1 || lossy) return std::string();
  std::string name(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &name[0], size, nullptr,
                      &lossy);
  name.resize(static_cast<size_t>(size) - 1);
  return lossy ? std::string() : name;
}

std::wstring wideName(const std::string& ansi) {
  std::wstring wide(ansi.size() + 1, L'\0');
  int size =
      MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(size > 0 ? static_cast<size_t>(size) - 1 : 0);
  return wide;
}

// The bytes of a file named in UTF-16, read and written without any narrow
// name on the way.
std::string readWide(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return "<missing>";
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  fclose(file);
  return bytes;
}

bool writeWide(const std::wstring& path, const std::string& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

// The name as a reader of Latin-1 would take the ANSI bytes.
std::wstring asLatin1(const std::string& ansi) {
  std::wstring wide;
  for (char c : ansi) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// Open, Overwrite, Save New, Append Qdb and Convert Txt with a working
// folder and file names holding a character beyond ASCII, as the common
// dialogs hand them over: in the ANSI code page.
TEST_F(EditorWindowTest, NamesInTheAnsiCodePageNameTheFilesChosen) {
  for (const std::wstring& word : {std::wstring(L"\u20ACuro"), std::wstring(L"\u00E9t\u00E9")}) {
    std::string ansiWord = ansiName(word);
    if (ansiWord.empty()) continue;  // not in this code page
    SCOPED_TRACE(ansiWord);
    std::wstring folder = wideName(folder_.path()) + L"\\dossier " + word;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    std::string ansiFolder = ansiName(folder);
    ASSERT_FALSE(ansiFolder.empty());
    std::wstring db = folder + L"\\" + word + L".qdb";
    ASSERT_TRUE(writeWide(db, editorFileBytes(4, numberedRecords(2))));

    scripted_.messages.clear();
    scripted_.messageAnswers.clear();
    scripted_.opens.clear();
    scripted_.openAnswers = {ansiName(db)};
    click(IDC_OPEN);
    ASSERT_EQ(text(IDC_QUESTION), "Q1");
    ASSERT_EQ(scripted_.opens.size(), 1u);
    char current[512] = {};
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_EQ(scripted_.opens[0].initialDirectory, current);
    EXPECT_EQ(scripted_.opens[0].initialDirectory, ansiFolder);

    type(IDC_QUESTION, "changed");
    scripted_.messageAnswers = {kIdYes};  // Overwrite
    click(IDC_SAVE);
    std::vector<TestRecord> records = numberedRecords(2);
    records[0].question = "changed";
    EXPECT_EQ(readWide(db), editorFileBytes(4, records));
    // Nothing was written under the name a Latin-1 reading gives (a
    // different name only where the code page differs from Latin-1).
    if (asLatin1(ansiName(db)) != db) {
      EXPECT_EQ(readWide(asLatin1(ansiName(db))), "<missing>");
    }

    std::wstring other = folder + L"\\new " + word + L".qdb";
    scripted_.messageAnswers.push_back(kIdNo);  // Save New
    scripted_.saveAnswers = {ansiName(other)};
    scripted_.saves.clear();
    click(IDC_SAVE);
    EXPECT_EQ(readWide(other), editorFileBytes(4, records));
    EXPECT_EQ(app_->store.filePath, ansiName(other));

    scripted_.openAnswers.push_back(ansiName(db));
    click(IDC_APPEND_QDB);
    EXPECT_EQ(total(), "4");

    std::wstring textFile = folder + L"\\" + word + L".txt";
    std::wstring converted = folder + L"\\converted " + word + L".qdb";
    ASSERT_TRUE(writeWide(textFile, "Q\r\na\r\nb\r\nc\r\nd\r\n1\r\n"));
    scripted_.openAnswers.push_back(ansiName(textFile));
    scripted_.messageAnswers.push_back(kIdYes);  // four responses
    scripted_.saveAnswers.push_back(ansiName(converted));
    click(IDC_CONVERT_TXT);
    EXPECT_EQ(readWide(converted), "1\r\n4\r\n1\r\nQ\r\na\r\nb\r\nc\r\nd\r\n1\r\n");
    for (const MessageRequest& m : scripted_.messages) EXPECT_NE(m.caption, "Error") << m.text;
    EXPECT_EQ(readWide(folder + L"\\__qdbtemp.tmp"), "<missing>");
  }
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

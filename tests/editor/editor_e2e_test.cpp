// QOVAMAKE end to end: the real program in a temporary working folder, its
// real open and save dialogs and message boxes operated the way a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "tests/driver/driver.h"

namespace qova {
namespace {

constexpr DWORD kWaitMs = 15000;

// The twelve record lines of two four-response questions, and the database
// file that Convert Txt makes of them.
const char kTwelveLines[] =
    "Which planet is largest?\r\nMars\r\nJupiter\r\nVenus\r\nEarth\r\n2\r\n"
    "2 + 2 = ?\r\n3\r\n4\r\n5\r\n22\r\n2\r\n";
const testing::TestRecord kPlanet{
    "Which planet is largest?", {"Mars", "Jupiter", "Venus", "Earth"}, 2};
const testing::TestRecord kSum{"2 + 2 = ?", {"3", "4", "5", "22"}, 2};
const std::string kConverted = testing::qdbBytes(24, 4, {kPlanet, kSum});

class EditorEndToEndTest : public ::testing::Test {
 protected:
  void TearDown() override { driver::endProgram(&editor_); }

  std::string file(const std::string& name) const { return folder_.file(name); }

  HWND startEditor() {
    EXPECT_TRUE(driver::startProgram(QOVAMAKE_EXE, folder_.path(), &editor_));
    HWND window = driver::findTopWindow("Question DB Maker", kWaitMs, editor_.id, "#32770");
    EXPECT_NE(window, nullptr);
    EXPECT_TRUE(driver::waitUntil([&] { return driver::isVisible(window); }, kWaitMs));
    return window;
  }

  // Presses `button`, which opens a common file dialog with `caption`, and
  // chooses `path` in it.
  void chooseWith(HWND button, const std::string& caption, const std::string& path) {
    ASSERT_TRUE(driver::clickLater(button));
    HWND dialog = driver::findMessageBox(caption, kWaitMs, editor_.id);
    ASSERT_NE(dialog, nullptr) << caption;
    ASSERT_TRUE(driver::chooseFile(dialog, path));
    EXPECT_TRUE(driver::waitUntil([&] { return !IsWindow(dialog); }, kWaitMs));
  }

  HWND expectBox(const std::string& caption, const std::string& text) {
    HWND box = driver::findMessageBox(caption, kWaitMs, editor_.id);
    EXPECT_NE(box, nullptr) << caption;
    EXPECT_EQ(driver::messageBoxText(box), text);
    return box;
  }

  void quit(HWND window) {
    ASSERT_TRUE(driver::clickLater(driver::item(window, 1016)));
    DWORD code = 99;
    EXPECT_TRUE(driver::waitForExit(editor_, kWaitMs, &code));
    EXPECT_EQ(code, 0u);
  }

  testing::TempDir folder_;
  driver::Child editor_;
};

TEST_F(EditorEndToEndTest, ConvertTxtMakesTheDatabaseFileOfTheTwelveLines) {
  ASSERT_TRUE(testing::writeFileBytes(file("questions.txt"), kTwelveLines));
  HWND window = startEditor();
  ASSERT_NE(window, nullptr);
  chooseWith(driver::item(window, 1015), "Open", file("questions.txt"));

  HWND format = expectBox("Format",
                          "Which planet is largest?\r\nMars\r\nJupiter\r\nVenus\r\nEarth\r\n2\r\n"
                          "\r\nHow many responses per answer?\r\nYes = 4\r\nNo  = 5");
  ASSERT_NE(format, nullptr);
  EXPECT_TRUE(driver::messageBoxHasIcon(format));
  ASSERT_TRUE(driver::answer(format, IDYES));

  HWND save = driver::findMessageBox("Save As", kWaitMs, editor_.id);
  ASSERT_NE(save, nullptr);
  ASSERT_TRUE(driver::chooseFile(save, file("converted.qdb")));
  EXPECT_TRUE(driver::waitUntil(
      [&] { return testing::readFileBytes(file("converted.qdb")).size() == 95; }, kWaitMs));
  EXPECT_EQ(testing::readFileBytes(file("converted.qdb")), kConverted);
  // The store and the window are not touched.
  EXPECT_EQ(driver::itemText(window, 1032), "1");
  quit(window);
}

TEST_F(EditorEndToEndTest, OpenEditAndOverwriteThenTheFileIsReadAgain) {
  ASSERT_TRUE(testing::writeFileBytes(file("db.qdb"), kConverted));
  HWND window = startEditor();
  ASSERT_NE(window, nullptr);
  chooseWith(driver::item(window, 1014), "Open", file("db.qdb"));
  EXPECT_TRUE(driver::waitUntil(
      [&] { return driver::itemText(window, 1005) == "Which planet is largest?"; }, kWaitMs));
  EXPECT_EQ(driver::itemText(window, 1032), "2");
  EXPECT_EQ(driver::itemText(window, 1008), "Jupiter");

  ASSERT_TRUE(driver::click(driver::item(window, 1027)));  // Next
  EXPECT_EQ(driver::itemText(window, 1031), "2");
  ASSERT_TRUE(driver::setItemText(window, 1005, "What is the sum of 2 and 2 in decimal?"));
  ASSERT_TRUE(driver::clickLater(driver::item(window, 1012)));  // Save (As)
  HWND question = expectBox("Save", "Overwrite, or Save New?\nYes = Overwrite\nNo = Save New");
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(driver::answer(question, IDYES));

  testing::TestRecord edited = kSum;
  edited.question = "What is the sum of 2 and 2 in decimal?";
  const std::string expected = testing::qdbBytes(38, 4, {kPlanet, edited});
  EXPECT_TRUE(driver::waitUntil([&] { return testing::readFileBytes(file("db.qdb")) == expected; },
                                kWaitMs));
  EXPECT_EQ(testing::readFileBytes(file("db.qdb")), expected);
  EXPECT_FALSE(testing::fileExists(file("__qdbtemp.tmp")));
  // The window is back on record 1 of the file as written.
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(window, 1031) == "1"; }, kWaitMs));
  EXPECT_EQ(driver::itemText(window, 1005), "Which planet is largest?");
  ASSERT_TRUE(driver::click(driver::item(window, 1027)));
  EXPECT_EQ(driver::itemText(window, 1005), "What is the sum of 2 and 2 in decimal?");
  EXPECT_EQ(driver::itemText(window, 1032), "2");
  quit(window);
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

std::string readWide(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return "<missing>";
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  fclose(file);
  return bytes;
}

// The working folder and the files hold a euro sign and an accented letter:
// the Open dialog starts in the working folder (a bare file name is found
// there), Overwrite replaces the file chosen, and Save New writes the name
// typed.
TEST_F(EditorEndToEndTest, NamesBeyondAsciiNameTheFilesChosen) {
  std::wstring wideFolder;
  for (char c : folder_.path()) wideFolder += static_cast<wchar_t>(static_cast<unsigned char>(c));
  wideFolder += L"\\dossier \u20ACuro";
  std::string folder = ansiName(wideFolder);
  if (folder.empty()) GTEST_SKIP() << "the code page has no euro sign";
  ASSERT_TRUE(CreateDirectoryW(wideFolder.c_str(), nullptr));
  std::wstring db = wideFolder + L"\\\u20ACuro.qdb";
  std::wstring saved = wideFolder + L"\\\u00E9t\u00E9.qdb";
  FILE* file = _wfopen(db.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  fputs(kConverted.c_str(), file);
  fclose(file);

  ASSERT_TRUE(driver::startProgram(QOVAMAKE_EXE, folder, &editor_));
  HWND window = driver::findTopWindow("Question DB Maker", kWaitMs, editor_.id, "#32770");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(driver::waitUntil([&] { return driver::isVisible(window); }, kWaitMs));
  chooseWith(driver::item(window, 1014), "Open", ansiName(L"\u20ACuro.qdb"));
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(window, 1032) == "2"; }, kWaitMs));
  ASSERT_TRUE(driver::setItemText(window, 1005, "Which planet is smallest?"));
  ASSERT_TRUE(driver::clickLater(driver::item(window, 1012)));  // Save (As)
  HWND question = expectBox("Save", "Overwrite, or Save New?\nYes = Overwrite\nNo = Save New");
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(driver::answer(question, IDYES));
  std::string expected = kConverted;
  expected.replace(expected.find("largest"), 7, "smallest");
  expected.replace(0, 2, "25");  // the longest line now
  EXPECT_TRUE(driver::waitUntil([&] { return readWide(db) == expected; }, kWaitMs));
  EXPECT_EQ(readWide(db), expected);

  ASSERT_TRUE(driver::setItemText(window, 1005, "Which planet is hottest?"));
  ASSERT_TRUE(driver::clickLater(driver::item(window, 1012)));
  question = expectBox("Save", "Overwrite, or Save New?\nYes = Overwrite\nNo = Save New");
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(driver::answer(question, IDNO));
  HWND save = driver::findMessageBox("Save As", kWaitMs, editor_.id);
  ASSERT_NE(save, nullptr);
  ASSERT_TRUE(driver::chooseFile(save, ansiName(saved)));
  expected.replace(expected.find("smallest"), 8, "hottest");
  EXPECT_TRUE(driver::waitUntil([&] { return readWide(saved) == expected; }, kWaitMs));
  EXPECT_EQ(readWide(saved), expected);
  EXPECT_EQ(driver::findMessageBox("Error", 500, editor_.id), nullptr);
  EXPECT_EQ(readWide(wideFolder + L"\\__qdbtemp.tmp"), "<missing>");
  quit(window);
}

// Import... with the real Open dialog and Notice: an Aiken file into the new
// database, then a spreadsheet's CSV appended, the records shown and saved.
TEST_F(EditorEndToEndTest, ImportAikenAndCsvShowsTheNoticeAndSavesTheRecords) {
  ASSERT_TRUE(testing::writeFileBytes(
      file("night.txt"),
      "Which planet is largest?\r\nA. Mars\r\nB. Jupiter\r\nC. Venus\r\nD. Earth\r\n"
      "ANSWER: B\r\n\r\n2 + 2 = ?\r\nA) 3\r\nB) 4\r\nC) 5\r\nD) 22\r\nANSWER: B\r\n\r\n"
      "What is \xE6\x9D\xB1\xE4\xBA\xAC?\r\nA. A city\r\nB. A river\r\nANSWER: A\r\n"));
  ASSERT_TRUE(testing::writeFileBytes(file("sheet.csv"),
                                      "Question;Answer 1;Answer 2;Answer 3;Correct\r\n"
                                      "\"Caf\xE9 or tea?\";Caf\xE9;Tea;;Caf\xE9\r\n"
                                      "Only one;yes;;;1\r\n"));
  HWND window = startEditor();
  ASSERT_NE(window, nullptr);

  ASSERT_TRUE(driver::clickLater(driver::item(window, 1055)));  // Import...
  HWND open = driver::findMessageBox("Open", kWaitMs, editor_.id);
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(driver::saveScreenshot(open, QOVA_SCREENSHOT_DIR "/import_dialog.bmp"));
  ASSERT_TRUE(driver::chooseFile(open, file("night.txt")));
  HWND notice = expectBox("Notice",
                          "Imported 2 questions from night.txt (Aiken).\n\n"
                          "Skipped 1 question:\n"
                          "Line 15: the question holds the character U+6771, which the ANSI code "
                          "page cannot show.\n");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(driver::messageBoxHasIcon(notice));
  EXPECT_TRUE(driver::saveScreenshot(notice, QOVA_SCREENSHOT_DIR "/import_notice.bmp"));
  ASSERT_TRUE(driver::answer(notice, IDOK));
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(window, 1032) == "2"; }, kWaitMs));
  EXPECT_EQ(driver::itemText(window, 1031), "1");
  EXPECT_EQ(driver::itemText(window, 1005), "Which planet is largest?");
  EXPECT_EQ(driver::itemText(window, 1008), "Jupiter");

  chooseWith(driver::item(window, 1055), "Open", file("sheet.csv"));
  notice = expectBox("Notice",
                     "Imported 1 question from sheet.csv (CSV).\n\n"
                     "Skipped 1 question:\n"
                     "Line 3: it has fewer than two responses.\n");
  ASSERT_NE(notice, nullptr);
  ASSERT_TRUE(driver::answer(notice, IDOK));
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(window, 1032) == "3"; }, kWaitMs));
  EXPECT_EQ(driver::itemText(window, 1031), "3");
  EXPECT_EQ(driver::itemText(window, 1005), "Caf\xE9 or tea?");
  EXPECT_TRUE(driver::saveScreenshot(window, QOVA_SCREENSHOT_DIR "/import_editor.bmp"));

  // No file is open: Save (As) goes straight to the Save As dialog.
  chooseWith(driver::item(window, 1012), "Save As", file("night.qdb"));
  const std::string expected =
      testing::qdbBytes(24, 4, {kPlanet, kSum, {"Caf\xE9 or tea?", {"Caf\xE9", "Tea"}, 1}});
  EXPECT_TRUE(driver::waitUntil(
      [&] { return testing::readFileBytes(file("night.qdb")) == expected; }, kWaitMs));
  EXPECT_EQ(testing::readFileBytes(file("night.qdb")), expected);
  quit(window);
}

TEST_F(EditorEndToEndTest, ScreenshotsOfTheEditorAndFindRecordWindows) {
  ASSERT_TRUE(testing::writeFileBytes(file("db.qdb"), kConverted));
  HWND window = startEditor();
  ASSERT_NE(window, nullptr);
  chooseWith(driver::item(window, 1014), "Open", file("db.qdb"));
  EXPECT_TRUE(driver::waitUntil([&] { return driver::itemText(window, 1032) == "2"; }, kWaitMs));
  EXPECT_TRUE(driver::saveScreenshot(window, QOVA_SCREENSHOT_DIR "/editor.bmp"));

  ASSERT_TRUE(driver::click(driver::item(window, 1033)));  // Find Record
  HWND find = driver::findTopWindow("Find Record", kWaitMs, editor_.id, "#32770");
  ASSERT_NE(find, nullptr);
  EXPECT_TRUE(driver::waitUntil([&] { return driver::isVisible(find); }, kWaitMs));
  ASSERT_TRUE(driver::setItemText(find, 1005, "2 + 2 = ?"));
  ASSERT_TRUE(driver::click(driver::item(find, 1042)));
  EXPECT_TRUE(driver::saveScreenshot(find, QOVA_SCREENSHOT_DIR "/find_record.bmp"));

  // The close box ends the program like Quit, search windows and all.
  PostMessageA(window, WM_CLOSE, 0, 0);
  DWORD code = 99;
  EXPECT_TRUE(driver::waitForExit(editor_, kWaitMs, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace qova

#include "editor/text_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/test_support.h"
#include "editor/file_path.h"
#include "editor/record_store.h"

namespace qova {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;
using testing::WorkingDir;

const char kExampleLines[] =
    "Which planet is largest?\r\nMars\r\nJupiter\r\nVenus\r\nEarth\r\n2\r\n"
    "2 + 2 = ?\r\n3\r\n4\r\n5\r\n22\r\n2\r\n";

std::string toLf(std::string s) {
  for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, "\n");
  return s;
}

int ownerTag;

class TextImportTest : public ::testing::Test {
 protected:
  TextImportTest() : cwd(dir.path()) {}

  // Converts `text` with the answer `answer`; returns the file written, or
  // "<none>" when none was.
  std::string convert(const std::string& text, int answer) {
    EXPECT_TRUE(testing::writeFileBytes(dir.file("in.txt"), text));
    ScriptedPrompts ui;
    ui.openAnswers = {dir.file("in.txt")};
    ui.messageAnswers = {answer};
    ui.saveAnswers = {dir.file("out.qdb")};
    std::filesystem::remove(dir.file("out.qdb"));
    bool written = importTextFile(ui.prompts(), &ownerTag);
    last = ui;
    EXPECT_FALSE(testing::fileExists(dir.file(kSaveTempFileName)));
    return written ? testing::readFileBytes(dir.file("out.qdb")) : "<none>";
  }

  TempDir dir;
  WorkingDir cwd;
  ScriptedPrompts last;
};

TEST_F(TextImportTest, TheExampleGivesTheNinetyFiveByteFile) {
  std::string out = convert(kExampleLines, kIdYes);
  EXPECT_EQ(out.size(), 95u);
  EXPECT_EQ(out, std::string("24\r\n4\r\n2\r\n") + kExampleLines);

  ASSERT_EQ(last.opens.size(), 1u);
  const char openFilter[] = "Text File (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(last.opens[0].filter, std::string(openFilter, sizeof openFilter));
  EXPECT_EQ(last.opens[0].flags, 0x2100Cu);
  EXPECT_EQ(last.opens[0].defaultExtension, "");
  EXPECT_EQ(last.opens[0].filterIndex, 1u);
  EXPECT_EQ(last.opens[0].bufferSize, 512u);
  EXPECT_EQ(last.opens[0].owner, &ownerTag);
  EXPECT_EQ(std::filesystem::path(last.opens[0].initialDirectory), std::filesystem::current_path());

  ASSERT_EQ(last.messages.size(), 1u);
  EXPECT_EQ(last.messages[0].text,
            "Which planet is largest?\r\nMars\r\nJupiter\r\nVenus\r\nEarth\r\n2\r\n"
            "\r\nHow many responses per answer?\r\nYes = 4\r\nNo  = 5");
  EXPECT_EQ(last.messages[0].caption, "Format");
  EXPECT_EQ(last.messages[0].type, 0x44u);
  EXPECT_EQ(last.messages[0].owner, &ownerTag);

  ASSERT_EQ(last.saves.size(), 1u);
  const char saveFilter[] =
      "QOVA Question Database File (*.qdb, *.dat, *.ini)\0*.qdb;*.dat;\t\t*.ini\0"
      "Text File (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(last.saves[0].filter, std::string(saveFilter, sizeof saveFilter));
  EXPECT_EQ(last.saves[0].flags, 0x2000Eu);
  EXPECT_EQ(last.saves[0].defaultExtension, ".qdb");
  EXPECT_EQ(last.saves[0].filterIndex, 1u);
  EXPECT_EQ(last.saves[0].bufferSize, 512u);
  EXPECT_EQ(std::filesystem::path(last.saves[0].initialDirectory), std::filesystem::current_path());

  // The converted file opens in the store with both records.
  RecordStore store;
  ASSERT_EQ(store.open(dir.file("out.qdb")), 4);
  EXPECT_EQ(store.totalRecords, 2);
  EXPECT_EQ(store.seek(2).responses[3], "22");
}

TEST_F(TextImportTest, CountsAndCopies) {
  const std::string ex = kExampleLines;
  const std::string noEnd = ex.substr(0, ex.size() - 2);
  const std::string g5 = "Q\r\na\r\nb\r\nc\r\nd\r\ne\r\n5\r\n";
  const std::string longest = std::string(511, 'x');
  const struct {
    const char* name;
    std::string text;
    int answer;
    std::string expected;
  } cases[] = {
      {"empty file, four", "", kIdYes, "0\r\n4\r\n0\r\n"},
      {"empty file, five", "", kIdNo, "0\r\n5\r\n0\r\n"},
      {"last line without line end", noEnd, kIdYes, "24\r\n4\r\n2\r\n" + ex},
      {"LF line ends", toLf(ex), kIdYes, "24\r\n4\r\n2\r\n" + ex},
      {"LF, no end", toLf(noEnd), kIdYes, "24\r\n4\r\n2\r\n" + ex},
      {"one extra empty line", ex + "\r\n", kIdYes, "24\r\n4\r\n2\r\n" + ex + "\r\n"},
      {"five extra empty lines", ex + "\r\n\r\n\r\n\r\n\r\n", kIdYes,
       "24\r\n4\r\n2\r\n" + ex + "\r\n\r\n\r\n\r\n\r\n"},
      {"six extra empty lines are one more record", ex + "\r\n\r\n\r\n\r\n\r\n\r\n", kIdYes,
       "24\r\n4\r\n3\r\n" + ex + "\r\n\r\n\r\n\r\n\r\n\r\n"},
      {"cut-off group with line end", ex + "Q3\r\nx\r\n", kIdYes,
       "24\r\n4\r\n2\r\n" + ex + "Q3\r\nx\r\n"},
      {"cut-off group without line end", ex + "Q3\r\nx", kIdYes,
       "24\r\n4\r\n3\r\n" + ex + "Q3\r\nx\r\n"},
      {"longest line last, without line end", ex + "Q\r\n" + longest, kIdYes,
       "511\r\n4\r\n3\r\n" + ex + "Q\r\n" + longest + "\r\n"},
      {"answer No: groups of seven", g5 + g5, kIdNo, "1\r\n5\r\n2\r\n" + g5 + g5},
      {"same text read with four", g5 + g5, kIdYes, "1\r\n4\r\n2\r\n" + g5 + g5},
      {"content is not looked at", "a\r\n\r\n\r\n\r\n\r\nnot a number\r\n", kIdYes,
       "12\r\n4\r\n1\r\na\r\n\r\n\r\n\r\n\r\nnot a number\r\n"},
      {"lone CR is an ordinary character", "a\rb\r\n", kIdYes, "3\r\n4\r\n0\r\na\rb\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(convert(c.text, c.answer), c.expected) << c.name;
  }
}

TEST_F(TextImportTest, PreviewOfAShortFile) {
  convert("one\ntwo", kIdYes);
  ASSERT_EQ(last.messages.size(), 1u);
  EXPECT_EQ(
      last.messages[0].text,
      "one\r\ntwo\r\n\r\n\r\n\r\n\r\n\r\nHow many responses per answer?\r\nYes = 4\r\nNo  = 5");
}

TEST_F(TextImportTest, ALineOfFiveHundredTwelveStopsBeforeAnythingIsCreated) {
  ASSERT_TRUE(testing::writeFileBytes(dir.file("out.qdb"), "keep me"));
  ASSERT_TRUE(testing::writeFileBytes(dir.file("in.txt"),
                                      std::string(kExampleLines) + std::string(512, 'y') + "\r\n"));
  ScriptedPrompts ui;
  ui.openAnswers = {dir.file("in.txt")};
  ui.messageAnswers = {kIdYes};
  ui.saveAnswers = {dir.file("out.qdb")};
  EXPECT_FALSE(importTextFile(ui.prompts(), &ownerTag));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text, kImportLineTooLong);
  EXPECT_EQ(ui.messages[1].caption, "Error");
  EXPECT_EQ(ui.messages[1].type, 0x30u);
  EXPECT_TRUE(ui.saves.empty());
  EXPECT_EQ(testing::readFileBytes(dir.file("out.qdb")), "keep me");
  EXPECT_FALSE(testing::fileExists(dir.file(kSaveTempFileName)));
}

TEST_F(TextImportTest, CancelAndFailures) {
  ASSERT_TRUE(testing::writeFileBytes(dir.file("in.txt"), kExampleLines));
  const struct {
    const char* name;
    std::string openAnswer;
    std::string saveAnswer;
    const char* message;  // the error shown, null for none
    size_t saveDialogs;
  } cases[] = {
      {"open cancelled", "", "", nullptr, 0},
      {"text file missing", dir.file("missing.txt"), "", kImportOpenFailed, 0},
      {"save cancelled", dir.file("in.txt"), "", nullptr, 1},
      {"output folder missing", dir.file("in.txt"), dir.file("no/such/out.qdb"),
       kImportCreateFailed, 1},
      {"output path too long", dir.file("in.txt"), dir.file(std::string(600, 'o')),
       kImportCreateFailed, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPrompts ui;
    ui.openAnswers = {c.openAnswer};
    ui.messageAnswers = {kIdYes};
    ui.saveAnswers = {c.saveAnswer};
    EXPECT_FALSE(importTextFile(ui.prompts(), &ownerTag));
    EXPECT_EQ(ui.saves.size(), c.saveDialogs);
    const MessageRequest* error = nullptr;
    for (const MessageRequest& m : ui.messages) {
      if (m.caption == "Error") error = &m;
    }
    if (c.message == nullptr) {
      EXPECT_EQ(error, nullptr);
    } else {
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->text, c.message);
      EXPECT_EQ(error->type, 0x30u);
    }
    EXPECT_FALSE(testing::fileExists(dir.file(kSaveTempFileName)));
    EXPECT_EQ(testing::readFileBytes(dir.file("in.txt")), kExampleLines);
  }
}

TEST_F(TextImportTest, ReplacesAnExistingFileAndMayOverwriteItsOwnInput) {
  ASSERT_TRUE(testing::writeFileBytes(dir.file("in.txt"), kExampleLines));
  ScriptedPrompts ui;
  ui.openAnswers = {dir.file("in.txt")};
  ui.messageAnswers = {kIdYes};
  ui.saveAnswers = {dir.file("in.txt")};
  EXPECT_TRUE(importTextFile(ui.prompts(), nullptr));
  EXPECT_EQ(testing::readFileBytes(dir.file("in.txt")),
            std::string("24\r\n4\r\n2\r\n") + kExampleLines);
}

// Runs the import from `textPath` to `outPath`; returns the error shown, ""
// for none.
std::string importFrom(const std::string& textPath, const std::string& outPath) {
  ScriptedPrompts ui;
  ui.openAnswers = {textPath};
  ui.messageAnswers = {kIdYes};
  ui.saveAnswers = {outPath};
  bool written = importTextFile(ui.prompts(), &ownerTag);
  std::string error;
  for (const MessageRequest& m : ui.messages) {
    if (m.caption == "Error") error = m.text;
  }
  EXPECT_EQ(written, error.empty());
  return error;
}

// The file is written beside the chosen name, which may hold any bytes (the
// ANSI code page on Windows), so a working folder that cannot take the
// temporary file does not matter; a read-only file is not replaced.
TEST_F(TextImportTest, WritesTheChosenFileWhereverItIs) {
  const std::string converted = std::string("24\r\n4\r\n2\r\n") + kExampleLines;
  TempDir elsewhere;
  std::filesystem::create_directory(dir.file(kSaveTempFileName));
  ASSERT_TRUE(testing::writeFileBytes(elsewhere.file("in.txt"), kExampleLines));
  EXPECT_EQ(importFrom(elsewhere.file("in.txt"), elsewhere.file("out.qdb")), "");
  EXPECT_EQ(testing::readFileBytes(elsewhere.file("out.qdb")), converted);
  EXPECT_FALSE(testing::fileExists(elsewhere.file(kSaveTempFileName)));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file(kSaveTempFileName)));

  std::string folder = elsewhere.path() + "/\x80 d\xE9j\xE0";
  ASSERT_TRUE(std::filesystem::create_directory(ansiPath(folder)));
  std::string text = folder + "/t\xE9xt \x80.txt";
  ASSERT_TRUE(testing::writeFileBytes(text, kExampleLines));
  EXPECT_EQ(importFrom(text, folder + "/\x80uro.qdb"), "");
  EXPECT_EQ(testing::readFileBytes(folder + "/\x80uro.qdb"), converted);

  namespace fs = std::filesystem;
  std::string locked = elsewhere.file("locked.qdb");
  ASSERT_TRUE(testing::writeFileBytes(locked, "keep me"));
  fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(importFrom(text, locked), kImportCreateFailed);
  EXPECT_EQ(testing::readFileBytes(locked), "keep me");
  EXPECT_FALSE(testing::fileExists(elsewhere.file(kSaveTempFileName)));
}

}  // namespace
}  // namespace qova

#include "editor/record_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "editor/file_dialogs.h"

namespace qova {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;
using testing::WorkingDir;

// Record lines as the editor writes them.
std::string recordLines(const std::string& question, const std::vector<std::string>& responses,
                        int correct) {
  std::string s = question + "\r\n";
  for (const std::string& r : responses) s += r + "\r\n";
  return s + std::to_string(correct) + "\r\n";
}

std::string numbered(int n) {
  return recordLines("Q" + std::to_string(n), {"A", "B", "C", "D"}, 1 + n % 4);
}

// A file of `count` records Q1..Qcount with four responses each.
std::string numberedFile(int count) {
  std::string s = "3\r\n4\r\n" + std::to_string(count) + "\r\n";
  for (int n = 1; n <= count; ++n) s += numbered(n);
  return s;
}

QuestionRecord record(const std::string& question, std::vector<std::string> responses,
                      int correct) {
  QuestionRecord r;
  r.question = question;
  r.responses = std::move(responses);
  r.correct = correct;
  return r;
}

int ownerTag;

// After a save the store holds the index it took while writing; it must be
// the index a fresh open of the written file builds.
void expectSameAsFreshOpen(const RecordStore& saved) {
  RecordStore fresh;
  ASSERT_EQ(fresh.open(saved.filePath), saved.fileResponseCount);
  EXPECT_EQ(fresh.recordStart, saved.recordStart);
  EXPECT_EQ(fresh.fileLineBound, saved.fileLineBound);
  EXPECT_EQ(fresh.fileRecordCount, saved.fileRecordCount);
}

class RecordStoreTest : public ::testing::Test {
 protected:
  RecordStoreTest() : cwd(dir.path()) {
    store.prompts = ui.prompts();
    store.owner = &ownerTag;
  }

  std::string path(const std::string& name) const { return dir.file(name); }
  std::string write(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(testing::writeFileBytes(path(name), bytes));
    return path(name);
  }

  TempDir dir;
  WorkingDir cwd;
  ScriptedPrompts ui;
  RecordStore store;
};

TEST_F(RecordStoreTest, OpensHeaderAndIndexAndReadsRecordsInAnyOrder) {
  // LF-only line ends and a last line without line end read like CR LF.
  std::string lf = "3\n4\n10\n";
  for (int n = 1; n <= 10; ++n) {
    std::string s = numbered(n);
    for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, "\n");
    lf += s;
  }
  lf.pop_back();
  for (const std::string& bytes : {numberedFile(10), lf}) {
    std::string file = write("ten.qdb", bytes);
    ASSERT_EQ(store.open(file), 4);
    EXPECT_EQ(store.totalRecords, 10);
    EXPECT_EQ(store.fileRecordCount, 10);
    EXPECT_EQ(store.lineBound, 3);
    EXPECT_EQ(store.currentIndex, 0);
    EXPECT_GE(store.recordStart.size(), 11u);
    EXPECT_EQ(store.next(), record("Q1", {"A", "B", "C", "D"}, 2));
    EXPECT_EQ(store.seek(10).question, "Q10");
    EXPECT_EQ(store.seek(10).correct, 3);
    EXPECT_EQ(store.seek(7).question, "Q7");
    EXPECT_EQ(store.previous().question, "Q6");
    EXPECT_EQ(store.next().question, "Q7");
    EXPECT_EQ(store.seek(11), QuestionRecord());
    EXPECT_EQ(store.seek(3).question, "Q3");
  }
}

TEST_F(RecordStoreTest, OpenDialogAsksWithTheDatabaseFilter) {
  std::string file = write("a.qdb", numberedFile(2));
  ui.openAnswers = {"", file};
  EXPECT_EQ(store.open(), kStoreCancelled);
  EXPECT_EQ(store.fileRecordCount, -1);
  EXPECT_EQ(store.open(), 4);
  ASSERT_EQ(ui.opens.size(), 2u);
  const FileDialogRequest& r = ui.opens[0];
  EXPECT_EQ(r.owner, &ownerTag);
  const char filter[] =
      "QOVA Question Database File (*.qdb, *.dat, *.ini)\0*.qdb;*.dat;\t\t\t*.ini\0"
      "Text File (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(r.filter, std::string(filter, sizeof filter));
  EXPECT_EQ(r.filterIndex, 1u);
  EXPECT_EQ(r.flags, 0x2100Cu);
  EXPECT_EQ(r.defaultExtension, "");
  EXPECT_EQ(r.bufferSize, 512u);
  EXPECT_EQ(std::filesystem::path(r.initialDirectory), std::filesystem::current_path());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RecordStoreTest, UnusableFilesAreRefusedAndTheOpenFileStays) {
  std::string good = write("good.qdb", numberedFile(3));
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not numbers", "abc\r\n4\r\n1\r\n"},
      {"negative bound", "-1\r\n4\r\n1\r\nQ\r\n\r\n\r\n\r\n\r\n0\r\n"},
      {"line beyond bound", "2\r\n4\r\n1\r\nQuestion\r\nA\r\nB\r\nC\r\nD\r\n1\r\n"},
      {"response count -2", "3\r\n-2\r\n1\r\nQ1\r\n1\r\n"},
      {"negative count", "3\r\n4\r\n-5\r\n"},
      {"empty file", ""},
  };
  ASSERT_EQ(store.open(good), 4);
  store.seek(2);
  store.commit(record("edited", {"x"}, 1));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(store.open(write("bad.qdb", c.bytes)), kStoreCannotOpen);
    EXPECT_EQ(store.filePath, good);
    EXPECT_EQ(store.edits.size(), 1u);
    EXPECT_EQ(store.seek(3).question, "Q3");
    store.seek(2);
  }
  EXPECT_EQ(store.open(path("missing.qdb")), kStoreCannotOpen);
  // Paths that do not fit the 512-character buffer are refused, also when
  // the file exists.
  std::string longDir = dir.path();
  while (longDir.size() < 520) {
    longDir += "/" + std::string(100, 'd');
    std::filesystem::create_directory(longDir);
  }
  std::string longPath = longDir + "/x.qdb";
  ASSERT_TRUE(testing::writeFileBytes(longPath, numberedFile(1)));
  EXPECT_EQ(store.open(longPath), kStoreCannotOpen);
  EXPECT_EQ(store.filePath, good);
}

TEST_F(RecordStoreTest, RecordsBeyondTheFileAreEmptyRecords) {
  // The header claims five records; two are there.
  std::string file = write("short.qdb", "3\r\n4\r\n5\r\n" + numbered(1) + numbered(2));
  ASSERT_EQ(store.open(file), 4);
  EXPECT_EQ(store.totalRecords, 5);
  EXPECT_EQ(store.seek(2).question, "Q2");
  for (int n : {3, 4, 5, 6, 1000000}) EXPECT_EQ(store.seek(n), QuestionRecord()) << n;
  EXPECT_EQ(store.seek(1).question, "Q1");
  ui.messageAnswers = {kIdYes};
  ASSERT_EQ(store.save(), 4);
  std::string empty = recordLines("", {"", "", "", ""}, 0);
  EXPECT_EQ(testing::readFileBytes(file),
            "3\r\n4\r\n5\r\n" + numbered(1) + numbered(2) + empty + empty + empty);
  expectSameAsFreshOpen(store);
}

TEST_F(RecordStoreTest, SavingWithErasuresLeavesThemOutAndRenumbers) {
  std::string file = write("ten.qdb", numberedFile(10));
  ASSERT_EQ(store.open(file), 4);
  store.seek(2);
  store.setErased(true);
  store.seek(5);
  store.setErased(true);
  store.seek(7);
  store.setErased(true);
  store.setErased(false);
  EXPECT_TRUE(store.seek(5).erased);
  EXPECT_FALSE(store.seek(7).erased);
  store.seek(11);
  store.setErased(true);  // beyond the total: nothing
  EXPECT_EQ(store.erasedNumbers, (std::set<int32_t>{2, 5}));

  ui.messageAnswers = {kIdYes};
  EXPECT_EQ(store.save(), 4);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Overwrite, or Save New?\nYes = Overwrite\nNo = Save New");
  EXPECT_EQ(ui.messages[0].caption, "Save");
  EXPECT_EQ(ui.messages[0].type, 0x04u);
  EXPECT_EQ(ui.messages[0].owner, &ownerTag);
  EXPECT_TRUE(ui.saves.empty());

  std::string expected = "3\r\n4\r\n8\r\n";
  for (int n : {1, 3, 4, 6, 7, 8, 9, 10}) expected += numbered(n);
  EXPECT_EQ(testing::readFileBytes(file), expected);
  EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
  expectSameAsFreshOpen(store);
  EXPECT_EQ(store.totalRecords, 8);
  EXPECT_EQ(store.currentIndex, 0);
  EXPECT_TRUE(store.edits.empty());
  EXPECT_TRUE(store.erasedNumbers.empty());
  EXPECT_EQ(store.seek(4).question, "Q6");
  EXPECT_FALSE(store.current.erased);
}

TEST_F(RecordStoreTest, SaveWithNoFileGoesStraightToTheSaveDialog) {
  store.clear();
  store.next();
  store.commit(record("2+2?", {"3", "4", "5", "22"}, 2));
  store.next();
  store.commit(record("Sky?", {"blue", "green"}, 1));
  std::string file = path("new.qdb");
  ui.saveAnswers = {"", file};
  EXPECT_EQ(store.save(), kStoreCancelled);
  EXPECT_EQ(store.totalRecords, 2);
  EXPECT_EQ(store.save(), 4);
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(ui.saves.size(), 2u);
  const FileDialogRequest& r = ui.saves[1];
  EXPECT_EQ(r.owner, &ownerTag);
  const char filter[] = "QOVA Database File (*.qdb)\0*.qdb\0";
  EXPECT_EQ(r.filter, std::string(filter, sizeof filter));
  EXPECT_EQ(r.filterIndex, 1u);
  EXPECT_EQ(r.flags, 0x2000Au);
  EXPECT_EQ(r.defaultExtension, "qdb");
  EXPECT_EQ(r.bufferSize, 512u);
  EXPECT_EQ(std::filesystem::path(r.initialDirectory), std::filesystem::current_path());
  EXPECT_EQ(testing::readFileBytes(file), "5\r\n4\r\n2\r\n" +
                                              recordLines("2+2?", {"3", "4", "5", "22"}, 2) +
                                              recordLines("Sky?", {"blue", "green", "", ""}, 1));
  expectSameAsFreshOpen(store);
  EXPECT_EQ(store.filePath, file);
  EXPECT_EQ(store.seek(2).responses, (std::vector<std::string>{"blue", "green", "", ""}));
}

TEST_F(RecordStoreTest, SaveNewLeavesTheOldFileAndContinuesOnTheNewOne) {
  std::string original = numberedFile(3);
  std::string oldFile = write("old.qdb", original);
  ASSERT_EQ(store.open(oldFile), 4);
  store.seek(2);
  store.commit(record("changed", {"a", "b", "c", "d"}, 4));
  std::string newFile = path("new.qdb");
  ui.messageAnswers = {kIdNo, kIdYes};
  ui.saveAnswers = {newFile};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(oldFile), original);
  std::string saved = "7\r\n4\r\n3\r\n" + numbered(1) +
                      recordLines("changed", {"a", "b", "c", "d"}, 4) + numbered(3);
  EXPECT_EQ(testing::readFileBytes(newFile), saved);
  EXPECT_EQ(store.filePath, newFile);

  // The next Overwrite goes to the new file.
  store.seek(1);
  store.commit(record("first", {"a", "b", "c", "d"}, 1));
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(oldFile), original);
  EXPECT_EQ(testing::readFileBytes(newFile),
            "7\r\n4\r\n3\r\n" + recordLines("first", {"a", "b", "c", "d"}, 1) +
                recordLines("changed", {"a", "b", "c", "d"}, 4) + numbered(3));
}

TEST_F(RecordStoreTest, SaveNewUnderTheOpenFileNameKeepsItsRecords) {
  std::string file = write("same.qdb", numberedFile(4));
  ASSERT_EQ(store.open(file), 4);
  store.seek(3);
  store.setErased(true);
  ui.messageAnswers = {kIdNo};
  ui.saveAnswers = {dir.path() + "/./same.qdb"};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(file),
            "3\r\n4\r\n3\r\n" + numbered(1) + numbered(2) + numbered(4));
  EXPECT_EQ(store.seek(3).question, "Q4");
}

// A save that cannot write the temporary file completely leaves the
// original and the store as they were, and the same changes save later.
class FailedOverwriteTest : public RecordStoreTest {
 protected:
  void SetUp() override {
    file = write("db.qdb", original);
    ASSERT_EQ(store.open(file), 4);
    store.seek(2);
    store.commit(record("edit", {"a"}, 1));
    store.seek(4);
    store.setErased(true);
    ui.messageAnswers = {kIdYes, kIdYes};
  }

  void expectUnchangedAndSavableLater() {
    EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
    EXPECT_EQ(testing::readFileBytes(file), original);
    EXPECT_EQ(store.edits.size(), 1u);
    EXPECT_EQ(store.erasedNumbers.size(), 1u);
    EXPECT_EQ(store.seek(5).question, "Q5");
    EXPECT_EQ(store.seek(2).question, "edit");
    EXPECT_EQ(store.save(), 4);
    EXPECT_EQ(testing::readFileBytes(file), "4\r\n4\r\n4\r\n" + numbered(1) +
                                                recordLines("edit", {"a", "", "", ""}, 1) +
                                                numbered(3) + numbered(5));
  }

  std::string original = numberedFile(5);
  std::string file;
};

TEST_F(FailedOverwriteTest, TemporaryFileCannotBeCreated) {
  std::filesystem::create_directory(path(kSaveTempFileName));
  EXPECT_EQ(store.save(), kStoreCannotOpen);
  EXPECT_TRUE(std::filesystem::is_directory(path(kSaveTempFileName)));
  std::filesystem::remove(path(kSaveTempFileName));
  expectUnchangedAndSavableLater();
}

TEST_F(FailedOverwriteTest, DiskFullWhileWriting) {
  // The temporary file takes the first bytes, then every write fails.
  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", path(kSaveTempFileName), ec);
  if (ec) GTEST_SKIP() << "no symbolic link to /dev/full: " << ec.message();
  EXPECT_EQ(store.save(), kStoreCannotOpen);
  EXPECT_FALSE(std::filesystem::is_symlink(path(kSaveTempFileName)));
  expectUnchangedAndSavableLater();
}

TEST_F(RecordStoreTest, OverwriteReplacesAReadOnlyFile) {
  std::string file = write("locked.qdb", numberedFile(2));
  namespace fs = std::filesystem;
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(store.open(file), 4);
  store.seek(1);
  store.setErased(true);
  ui.messageAnswers = {kIdYes};
  EXPECT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(file), "3\r\n4\r\n1\r\n" + numbered(2));
}

TEST_F(RecordStoreTest, OverwriteAcrossVolumes) {
  std::error_code ec;
  std::filesystem::path shm = "/dev/shm";
  if (!std::filesystem::is_directory(shm, ec)) GTEST_SKIP() << "no second volume";
  std::string target =
      (shm / (std::filesystem::path(dir.path()).filename().string() + ".qdb")).string();
  ASSERT_TRUE(testing::writeFileBytes(target, numberedFile(2)));
  ASSERT_EQ(store.open(target), 4);
  store.seek(3);
  store.commit(record("three", {"a", "b", "c", "d"}, 3));
  ui.messageAnswers = {kIdYes};
  EXPECT_EQ(store.save(), 4);
  std::string bytes = testing::readFileBytes(target);
  std::filesystem::remove(target, ec);
  EXPECT_EQ(bytes, "5\r\n4\r\n3\r\n" + numbered(1) + numbered(2) +
                       recordLines("three", {"a", "b", "c", "d"}, 3));
  EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
  EXPECT_FALSE(testing::fileExists((shm / kSaveTempFileName).string()));
}

TEST_F(RecordStoreTest, ResponsesAreFittedToTheCountWritten) {
  std::string five = "3\r\n5\r\n1\r\n" + recordLines("Q", {"a", "b", "c", "d", "e"}, 5);
  std::string four = "3\r\n4\r\n1\r\n" + recordLines("Q", {"a", "b", "c", "d"}, 2);
  const struct {
    std::string bytes;
    int opened;
    int saveWith;
    std::string expected;
  } cases[] = {
      {five, 5, 4, "3\r\n4\r\n1\r\n" + recordLines("Q", {"a", "b", "c", "d"}, 5)},
      {four, 4, 5, "3\r\n5\r\n1\r\n" + recordLines("Q", {"a", "b", "c", "d", ""}, 2)},
  };
  for (const auto& c : cases) {
    std::string file = write("fit.qdb", c.bytes);
    ASSERT_EQ(store.open(file), c.opened);
    EXPECT_EQ(store.responsesPerRecord, c.opened);
    store.responsesPerRecord = c.saveWith;
    ui.messages.clear();
    ui.messageAnswers = {kIdYes};
    ASSERT_EQ(store.save(), c.saveWith);
    EXPECT_EQ(testing::readFileBytes(file), c.expected);
    expectSameAsFreshOpen(store);
  }
}

TEST_F(RecordStoreTest, AnEditTakenBackIsNoLongerAnEdit) {
  std::string file = write("db.qdb", numberedFile(3));
  ASSERT_EQ(store.open(file), 4);
  QuestionRecord first = store.seek(2);
  QuestionRecord changed = first;
  changed.question = "changed";
  store.commit(changed);
  store.commit(record("changed again", {"A", "B", "C", "D"}, 1));
  EXPECT_EQ(store.edits.size(), 1u);
  EXPECT_EQ(store.baselines.at(2), first);
  EXPECT_EQ(store.seek(2).question, "changed again");
  store.commit(first);
  EXPECT_TRUE(store.edits.empty());
  EXPECT_TRUE(store.baselines.empty());
  EXPECT_EQ(store.seek(2).question, "Q2");
  // Committing an unchanged record of the file leaves no entry either.
  store.commit(store.seek(3));
  EXPECT_TRUE(store.edits.empty());
  // A change in the number of responses is a change.
  QuestionRecord fewer = store.seek(1);
  fewer.responses.pop_back();
  store.commit(fewer);
  EXPECT_EQ(store.edits.count(1), 1u);
}

TEST_F(RecordStoreTest, CommittingPastTheEndRaisesTheTotal) {
  std::string file = write("db.qdb", numberedFile(2));
  ASSERT_EQ(store.open(file), 4);
  store.seek(2);
  store.next();
  EXPECT_EQ(store.current, QuestionRecord());
  store.commit(store.current);
  EXPECT_EQ(store.totalRecords, 3);
  store.seek(6);
  store.commit(record("six", {"a", "b", "c", "d"}, 4));
  EXPECT_EQ(store.totalRecords, 6);
  EXPECT_EQ(store.seek(5), QuestionRecord());
  ui.messageAnswers = {kIdYes};
  ASSERT_EQ(store.save(), 4);
  std::string empty = recordLines("", {"", "", "", ""}, 0);
  EXPECT_EQ(testing::readFileBytes(file), "3\r\n4\r\n6\r\n" + numbered(1) + numbered(2) + empty +
                                              empty + empty +
                                              recordLines("six", {"a", "b", "c", "d"}, 4));
  expectSameAsFreshOpen(store);
}

TEST_F(RecordStoreTest, RunningLineBound) {
  const struct {
    QuestionRecord record;
    int32_t rpr;
    int32_t bound;
  } cases[] = {
      {record("a", {"b", "c", "d", "e"}, 3), 4, 2},
      {record("a", {"b"}, 1), 4, 1},
      {record("a", {"b"}, 2), 4, 1},
      {record("a", {"b"}, 7), 4, 2},
      {record("a", {"b"}, 8), 4, 3},
      {record("a", {"b"}, 20), 4, 3},
      {record("a", {"b"}, 21), 4, 4},
      {record("", {}, 0), 4, 0},
      {record("", {}, -100), 4, 0},
      {record("abc", {"b"}, 0), 4, 3},
      {record("a", {"b", "c", "d", "e", "fffff"}, 1), 4, 1},
      {record("a", {"b", "c", "d", "e", "fffff"}, 1), 5, 5},
  };
  for (const auto& c : cases) {
    store.clear();
    store.responsesPerRecord = c.rpr;
    store.next();
    store.commit(c.record);
    EXPECT_EQ(store.lineBound, c.bound) << c.record.correct << " " << c.record.question;
  }
  // It never shrinks while the database is open.
  store.commit(record("a", {}, 0));
  store.next();
  store.commit(record("x", {}, 0));
  EXPECT_EQ(store.lineBound, 5);
}

TEST_F(RecordStoreTest, ADatabaseOfEmptyRecordsSavesReadably) {
  store.clear();
  store.next();
  store.commit(QuestionRecord());
  std::string file = path("empty.qdb");
  ui.saveAnswers = {file};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(file), "1\r\n4\r\n1\r\n\r\n\r\n\r\n\r\n\r\n0\r\n");
  expectSameAsFreshOpen(store);
  // And an empty database is the header alone.
  store.clear();
  ui.saveAnswers = {file};
  ui.saves.clear();
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(file), "0\r\n4\r\n0\r\n");
  expectSameAsFreshOpen(store);
  EXPECT_EQ(store.totalRecords, 0);
}

TEST_F(RecordStoreTest, AppendingThreeRecordsToTen) {
  std::string file = write("ten.qdb", numberedFile(10));
  std::string extraBytes = "9\r\n5\r\n3\r\n" +
                           recordLines("Appended1", {"a", "b", "c", "d", "e"}, 5) +
                           recordLines("Appended2", {"a", "b", "c", "d", "e"}, 1) +
                           recordLines("Appended3", {"a", "b", "c", "d", "e"}, 2);
  std::string extra = write("extra.qdb", extraBytes);
  ASSERT_EQ(store.open(file), 4);
  ui.openAnswers = {"", path("missing.qdb"), extra};
  EXPECT_EQ(store.appendFile(), kStoreCancelled);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(store.appendFile(), kStoreCancelled);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error opening file.");
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_EQ(ui.messages[0].type, 0x30u);
  EXPECT_EQ(store.totalRecords, 10);

  EXPECT_EQ(store.appendFile(), 13);
  EXPECT_EQ(ui.opens[2].flags, 0x2100Cu);
  EXPECT_EQ(store.currentIndex, 1);
  EXPECT_EQ(store.lineBound, 9);
  EXPECT_EQ(store.seek(11).question, "Appended1");
  EXPECT_EQ(store.current.responses.size(), 5u);
  EXPECT_EQ(store.seek(13).question, "Appended3");
  EXPECT_EQ(store.seek(10).question, "Q10");
  EXPECT_EQ(testing::readFileBytes(extra), extraBytes);

  ui.messageAnswers = {kIdOk, kIdYes};
  ASSERT_EQ(store.save(), 4);
  std::string expected = "9\r\n4\r\n13\r\n";
  for (int n = 1; n <= 10; ++n) expected += numbered(n);
  expected += recordLines("Appended1", {"a", "b", "c", "d"}, 5) +
              recordLines("Appended2", {"a", "b", "c", "d"}, 1) +
              recordLines("Appended3", {"a", "b", "c", "d"}, 2);
  EXPECT_EQ(testing::readFileBytes(file), expected);
  expectSameAsFreshOpen(store);
}

TEST_F(RecordStoreTest, ATextHoldingALineEndIsIndexedAsWritten) {
  store.clear();
  store.next();
  store.commit(record("two\nlines", {"a", "b", "c", "d"}, 1));
  store.next();
  store.commit(record("next", {"a", "b", "c", "d"}, 2));
  ui.saveAnswers = {path("split.qdb")};
  ASSERT_EQ(store.save(), 4);
  expectSameAsFreshOpen(store);
  EXPECT_EQ(store.seek(1).question, "two");
}

TEST_F(RecordStoreTest, AFifthResponseCommittedUnderFourStillFitsTheBound) {
  // Committed while four responses are written, the fifth is not counted in
  // the running bound; choosing five before saving must still give a file
  // whose header admits every line written.
  std::string file = write("db.qdb", numberedFile(3));
  ASSERT_EQ(store.open(file), 4);
  store.seek(1);
  store.commit(record("Q1", {"A", "B", "C", "D", "a much longer fifth"}, 2));
  store.responsesPerRecord = 5;
  ui.messageAnswers = {kIdYes};
  ASSERT_EQ(store.save(), 5);
  EXPECT_EQ(store.fileLineBound, 19);
  EXPECT_EQ(store.seek(1).responses.at(4), "a much longer fifth");
  expectSameAsFreshOpen(store);
}

// A question longer than any bound a reader accepts is written, but the file
// cannot be read back.
std::string oversizedText() { return std::string(static_cast<size_t>(kMaxLineBound) + 1, 'x'); }

TEST_F(RecordStoreTest, AfterAFailedReopenSavingIsRefused) {
  std::string file = write("db.qdb", numberedFile(3));
  ASSERT_EQ(store.open(file), 4);
  store.seek(1);
  store.commit(record(oversizedText(), {"A", "B", "C", "D"}, 2));
  ui.messageAnswers = {kIdYes};
  EXPECT_EQ(store.save(), kStoreCannotReopen);
  std::string written = testing::readFileBytes(file);
  EXPECT_NE(written.find(oversizedText()), std::string::npos);
  EXPECT_FALSE(store.input.is_open());
  EXPECT_EQ(store.edits.size(), 1u);
  // Records 2 and 3 can no longer be read: a further save would write them
  // empty, so it is refused and the file stays as written.
  ui.saveAnswers = {path("other.qdb")};
  EXPECT_EQ(store.save(), kStoreCannotOpen);
  EXPECT_EQ(testing::readFileBytes(file), written);
  EXPECT_FALSE(testing::fileExists(path("other.qdb")));
  // Opening a file ends the refusal.
  ASSERT_EQ(store.open(write("fresh.qdb", numberedFile(1))), 4);
  ui.messageAnswers = {kIdYes, kIdYes};
  EXPECT_EQ(store.save(), 4);
}

TEST_F(RecordStoreTest, FailedReopenAfterSaveNewKeepsTheOldFile) {
  std::string original = numberedFile(3);
  std::string file = write("db.qdb", original);
  ASSERT_EQ(store.open(file), 4);
  store.seek(1);
  store.commit(record(oversizedText(), {"A", "B", "C", "D"}, 2));
  ui.messageAnswers = {kIdNo, kIdYes};
  ui.saveAnswers = {path("new.qdb")};
  EXPECT_EQ(store.save(), kStoreCannotReopen);
  EXPECT_EQ(store.filePath, file);
  EXPECT_EQ(store.seek(3).question, "Q3");
  EXPECT_EQ(store.seek(1).question, oversizedText());
  EXPECT_EQ(testing::readFileBytes(file), original);
}

TEST_F(RecordStoreTest, ClearForgetsEverythingButThePath) {
  std::string file = write("db.qdb", numberedFile(3));
  ASSERT_EQ(store.open(file), 4);
  store.seek(5);
  store.commit(record("x", {}, 1));
  store.setErased(true);
  store.responsesPerRecord = 5;
  store.clear();
  EXPECT_FALSE(store.input.is_open());
  EXPECT_EQ(store.filePath, file);
  EXPECT_EQ(store.fileRecordCount, -1);
  EXPECT_EQ(store.totalRecords, 0);
  EXPECT_EQ(store.currentIndex, 0);
  EXPECT_EQ(store.responsesPerRecord, 4);
  EXPECT_EQ(store.lineBound, 0);
  EXPECT_TRUE(store.edits.empty() && store.baselines.empty() && store.erasedNumbers.empty());
  EXPECT_TRUE(store.recordStart.empty());
  EXPECT_EQ(store.next(), QuestionRecord());
}

// Search over records of the file, edited, new, erased and empty ones.
class SearchTest : public RecordStoreTest {
 protected:
  void SetUp() override {
    std::string bytes = "9\r\n5\r\n4\r\n" +
                        recordLines("Capital?", {"Rome", "Paris", "Oslo", "Bern", ""}, 2) +
                        recordLines("capital?", {"Rome", "Paris", "Oslo", "Bern", "Kyiv"}, 3) +
                        recordLines("Capital? ", {"Rome", "", "", "", ""}, 3) +
                        recordLines("", {"", "", "", "", ""}, 0);
    ASSERT_EQ(store.open(write("search.qdb", bytes)), 5);
    store.seek(2);
    store.setErased(true);
    store.seek(5);  // a new record with four responses
    store.commit(record("Capital?", {"Rome", "Madrid", "Oslo", "Bern"}, 3));
    store.seek(3);  // edited in memory
    store.commit(record("Capitals", {"Rome", "", "", "", ""}, 1));
    store.seek(4);
  }

  SearchCriteria criteria(uint32_t mask, std::string question = "",
                          std::vector<std::string> responses = {"", "", "", "", ""},
                          int correct = 0) {
    SearchCriteria c;
    c.mask = mask;
    c.question = std::move(question);
    c.responses = std::move(responses);
    c.correct = correct;
    return c;
  }
};

TEST_F(SearchTest, EveryMaskBit) {
  using C = SearchCriteria;
  const std::vector<std::string> five = {"Rome", "Paris", "Oslo", "Bern", ""};
  const struct {
    SearchCriteria c;
    std::vector<int32_t> expected;
  } cases[] = {
      {criteria(C::MatchQuestion, "Capital?"), {1, 5}},
      {criteria(C::MatchQuestion, "Capital"), {}},
      {criteria(C::MatchQuestion, ""), {4}},
      {criteria(C::MatchQuestion, "Capitals"), {3}},
      {criteria(C::MatchQuestion, "Capital? "), {}},
      {criteria(C::MatchCorrect, "", {}, 3), {2, 5}},
      {criteria(C::MatchCorrect, "", {}, 0), {4}},
      {criteria(C::MatchResponse1, "", five), {1, 2, 3, 5}},
      {criteria(C::MatchResponse2, "", five), {1, 2}},
      {criteria(C::MatchResponse2, "", {"", "", "", "", ""}), {3, 4}},
      {criteria(C::MatchResponse3, "", five), {1, 2, 5}},
      {criteria(C::MatchResponse4, "", five), {1, 2, 5}},
      // The fifth: records with four responses pass; five-response records
      // only with an empty fifth.
      {criteria(C::MatchResponse5, "", five), {1, 3, 4, 5}},
      {criteria(C::MatchResponse5, "", {"", "", "", "", "Kyiv"}), {2, 5}},
      {criteria(C::MatchQuestion | C::MatchCorrect, "Capital?", {}, 3), {5}},
      {criteria(C::MatchQuestion | C::MatchResponse2, "Capital?", five), {1}},
      {criteria(C::MatchResponse1 | C::MatchResponse5, "", five), {1, 3, 5}},
      // Criteria with fewer responses test only those positions.
      {criteria(C::MatchResponse5, "", {"x"}), {1, 2, 3, 4, 5}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store.search(c.c), c.expected)
        << "mask " << c.c.mask << " q '" << c.c.question << "'";
  }
}

TEST_F(SearchTest, LeavesTheStoreAsItWas) {
  QuestionRecord before = store.current;
  store.search(criteria(SearchCriteria::MatchQuestion, "Capital?"));
  EXPECT_EQ(store.currentIndex, 4);
  EXPECT_EQ(store.current, before);
  EXPECT_EQ(store.edits.size(), 2u);
  store.commit(before);  // an unchanged record stays unchanged
  EXPECT_EQ(store.edits.size(), 2u);
  store.seek(2);
  EXPECT_EQ(store.search(criteria(SearchCriteria::MatchCorrect, "", {}, 3)),
            (std::vector<int32_t>{2, 5}));
  EXPECT_TRUE(store.current.erased);
  EXPECT_EQ(store.current.question, "capital?");

  store.clear();
  EXPECT_TRUE(store.search(criteria(SearchCriteria::MatchQuestion)).empty());
}

}  // namespace
}  // namespace qova

#include "editor/record_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <random>
#include <set>
#include <streambuf>
#include <string>
#include <vector>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "editor/file_dialogs.h"
#include "editor/file_path.h"

namespace qova {
namespace {

using testing::qdbRecordLines;
using testing::ScriptedPrompts;
using testing::TempDir;
using testing::TestRecord;
using testing::WorkingDir;

TestRecord numberedRecord(int n) {
  return {"Q" + std::to_string(n), {"A", "B", "C", "D"}, 1 + n % 4};
}

// Record lines as the editor writes them.
std::string numbered(int n) { return qdbRecordLines(numberedRecord(n)); }

// A file of `count` records Q1..Qcount with four responses each.
std::string numberedFile(int count) {
  std::vector<TestRecord> records;
  for (int n = 1; n <= count; ++n) records.push_back(numberedRecord(n));
  return testing::qdbBytes(3, 4, records);
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
  std::string empty = qdbRecordLines({"", {"", "", "", ""}, 0});
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
  EXPECT_EQ(testing::readFileBytes(file),
            "5\r\n4\r\n2\r\n" + qdbRecordLines({"2+2?", {"3", "4", "5", "22"}, 2}) +
                qdbRecordLines({"Sky?", {"blue", "green", "", ""}, 1}));
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
                      qdbRecordLines({"changed", {"a", "b", "c", "d"}, 4}) + numbered(3);
  EXPECT_EQ(testing::readFileBytes(newFile), saved);
  EXPECT_EQ(store.filePath, newFile);

  // The next Overwrite goes to the new file.
  store.seek(1);
  store.commit(record("first", {"a", "b", "c", "d"}, 1));
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(oldFile), original);
  EXPECT_EQ(testing::readFileBytes(newFile),
            "7\r\n4\r\n3\r\n" + qdbRecordLines({"first", {"a", "b", "c", "d"}, 1}) +
                qdbRecordLines({"changed", {"a", "b", "c", "d"}, 4}) + numbered(3));
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
                                                qdbRecordLines({"edit", {"a", "", "", ""}, 1}) +
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
                       qdbRecordLines({"three", {"a", "b", "c", "d"}, 3}));
  EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
  EXPECT_FALSE(testing::fileExists((shm / kSaveTempFileName).string()));
}

TEST_F(RecordStoreTest, ResponsesAreFittedToTheCountWritten) {
  std::string five = "3\r\n5\r\n1\r\n" + qdbRecordLines({"Q", {"a", "b", "c", "d", "e"}, 5});
  std::string four = "3\r\n4\r\n1\r\n" + qdbRecordLines({"Q", {"a", "b", "c", "d"}, 2});
  const struct {
    std::string bytes;
    int opened;
    int saveWith;
    std::string expected;
  } cases[] = {
      {five, 5, 4, "3\r\n4\r\n1\r\n" + qdbRecordLines({"Q", {"a", "b", "c", "d"}, 5})},
      {four, 4, 5, "3\r\n5\r\n1\r\n" + qdbRecordLines({"Q", {"a", "b", "c", "d", ""}, 2})},
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
  std::string empty = qdbRecordLines({"", {"", "", "", ""}, 0});
  EXPECT_EQ(testing::readFileBytes(file), "3\r\n4\r\n6\r\n" + numbered(1) + numbered(2) + empty +
                                              empty + empty +
                                              qdbRecordLines({"six", {"a", "b", "c", "d"}, 4}));
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
                           qdbRecordLines({"Appended1", {"a", "b", "c", "d", "e"}, 5}) +
                           qdbRecordLines({"Appended2", {"a", "b", "c", "d", "e"}, 1}) +
                           qdbRecordLines({"Appended3", {"a", "b", "c", "d", "e"}, 2});
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
  expected += qdbRecordLines({"Appended1", {"a", "b", "c", "d"}, 5}) +
              qdbRecordLines({"Appended2", {"a", "b", "c", "d"}, 1}) +
              qdbRecordLines({"Appended3", {"a", "b", "c", "d"}, 2});
  EXPECT_EQ(testing::readFileBytes(file), expected);
  expectSameAsFreshOpen(store);
}

// Imported records follow the last record; only a database that is nothing
// but one empty record (a new one) gives its place up to them.
TEST_F(RecordStoreTest, ImportedRecordsFollowTheLastOrReplaceALoneEmptyRecord) {
  const std::vector<QuestionRecord> imported = {record("I1", {"a", "b", "", ""}, 1),
                                                record("I2", {"c", "d", "", ""}, 2)};
  struct Case {
    const char* what;
    std::vector<QuestionRecord> before;  // committed as records 1, 2, ...
    int32_t first;                       // number of the first imported record
  } cases[] = {
      {"new database", {QuestionRecord()}, 1},
      {"one record with a question", {record("Q", {}, 0)}, 2},
      {"one record with a response only", {record("", {"", "x"}, 0)}, 2},
      {"two empty records", {QuestionRecord(), QuestionRecord()}, 3},
  };
  for (const Case& c : cases) {
    store.clear();
    for (const QuestionRecord& r : c.before) {
      store.next();
      store.commit(r);
    }
    EXPECT_EQ(store.importRecords(imported), c.first) << c.what;
    EXPECT_EQ(store.totalRecords, c.first + 1) << c.what;
    EXPECT_EQ(store.currentIndex, 1) << c.what;
    EXPECT_EQ(store.seek(c.first).question, "I1") << c.what;
    EXPECT_EQ(store.seek(c.first + 1).question, "I2") << c.what;
    if (c.first > 1) {
      EXPECT_TRUE(store.seek(1) == c.before[0]) << c.what;
    }
  }
  // An erased lone record is kept, erasure and all.
  store.clear();
  store.next();
  store.commit(QuestionRecord());
  store.setErased(true);
  EXPECT_EQ(store.importRecords(imported), 2);
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
                        qdbRecordLines({"Capital?", {"Rome", "Paris", "Oslo", "Bern", ""}, 2}) +
                        qdbRecordLines({"capital?", {"Rome", "Paris", "Oslo", "Bern", "Kyiv"}, 3}) +
                        qdbRecordLines({"Capital? ", {"Rome", "", "", "", ""}, 3}) +
                        qdbRecordLines({"", {"", "", "", "", ""}, 0});
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

TEST_F(RecordStoreTest, ASecondCommitOfTheSameRecordIsKept) {
  std::string file = write("db.qdb", numberedFile(3));
  ASSERT_EQ(store.open(file), 4);
  QuestionRecord original = store.seek(2);
  QuestionRecord edited = original;
  edited.question = "edited";
  store.commit(edited);
  store.next();
  store.previous();
  store.commit(original);  // typed back, then Save, cancelled
  ui.messageAnswers = {kIdNo};
  EXPECT_EQ(store.save(), kStoreCancelled);
  store.commit(edited);  // typed again, then Next
  store.next();
  EXPECT_EQ(store.previous().question, "edited");
  ui.messageAnswers = {kIdNo, kIdYes};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(store.seek(2).question, "edited");
}

// What the window reads back from a shown record with "4" chosen: four
// responses, and a correct response only from 1 to 5.
QuestionRecord asWindowShowsIt(QuestionRecord r) {
  r.responses.resize(4);
  if (r.correct < 1 || r.correct > 5) r.correct = 0;
  r.erased = false;
  return r;
}

// Random sessions of what the editor window does (typing, Next, Prev, Seek,
// Erase, Save with Overwrite, Save New, a cancelled and a failing save),
// against a model that holds every record's content in full. Every record
// the store shows, and every file it saves, must be the model's.
TEST_F(RecordStoreTest, RandomWindowSessionsMatchAModelOfTheDatabase) {
  std::mt19937 random(20261209);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::vector<std::string> texts = {"", "x", "y", "Q1", "Q2", "A", "B"};
  int mismatches = 0;
  int steps = 0;
  for (int session = 0; session < 10 && mismatches == 0; ++session) {
    SCOPED_TRACE("session " + std::to_string(session));
    std::string file = write("db.qdb", numberedFile(4));
    ASSERT_EQ(store.open(file), 4);
    std::vector<QuestionRecord> original;
    for (int n = 1; n <= 4; ++n)
      original.push_back(record("Q" + std::to_string(n), {"A", "B", "C", "D"}, 1 + n % 4));
    std::vector<QuestionRecord> model = original;  // record n is model[n - 1]
    std::set<int32_t> erased;
    int32_t index = 1;
    QuestionRecord window;
    QuestionRecord lastShown;

    auto contentOf = [&](int32_t n) {
      return n <= static_cast<int32_t>(model.size()) ? model[static_cast<size_t>(n) - 1]
                                                     : QuestionRecord();
    };
    auto commitWindow = [&] {
      store.commit(window);
      if (index > static_cast<int32_t>(model.size())) model.resize(static_cast<size_t>(index));
      model[static_cast<size_t>(index) - 1] = window;
    };
    auto show = [&](const QuestionRecord& shown) {
      bool erasedHere = erased.count(index) != 0;
      if (!(shown == contentOf(index)) || shown.erased != erasedHere) {
        ++mismatches;
        ADD_FAILURE() << "step " << steps << ": record " << index << " shows '" << shown.question
                      << "', the model holds '" << contentOf(index).question << "'";
      }
      window = asWindowShowsIt(shown);
      lastShown = window;
    };
    auto saved = [&] {
      std::vector<QuestionRecord> kept;
      for (size_t n = 1; n <= model.size(); ++n) {
        if (erased.count(static_cast<int32_t>(n)) != 0) continue;
        QuestionRecord r = model[n - 1];
        r.responses.resize(4);
        kept.push_back(r);
      }
      model = kept;
      original = kept;
      erased.clear();
      RecordStore fresh;
      ASSERT_EQ(fresh.open(store.filePath), 4);
      ASSERT_EQ(fresh.totalRecords, static_cast<int32_t>(model.size()));
      for (const QuestionRecord& r : model) {
        if (!(fresh.next() == r)) {
          ++mismatches;
          ADD_FAILURE() << "step " << steps << ": saved record " << fresh.currentIndex << " is '"
                        << fresh.current.question << "', the model holds '" << r.question << "'";
        }
      }
      index = 1;
      show(store.next());
    };
    auto answer = [&](std::vector<int> messages, std::vector<std::string> saves) {
      ui.messages.clear();
      ui.messageAnswers = std::move(messages);
      ui.saves.clear();
      ui.saveAnswers = std::move(saves);
    };

    show(store.next());
    for (int step = 0; step < 500 && mismatches == 0; ++step, ++steps) {
      int32_t total = static_cast<int32_t>(model.size());
      EXPECT_EQ(store.totalRecords, total);
      // Typing a text back and saves that change nothing come often, so
      // that commits without a move in between are frequent.
      static const int kActions[] = {0, 1, 2, 3, 3, 12, 12, 4, 5, 6, 6, 7, 8, 9, 10, 10, 11};
      switch (kActions[pick(static_cast<int>(std::size(kActions)))]) {
        case 0:
        case 1:
          window.question = texts[static_cast<size_t>(pick(static_cast<int>(texts.size())))];
          break;
        case 2:
          window.responses[static_cast<size_t>(pick(4))] =
              texts[static_cast<size_t>(pick(static_cast<int>(texts.size())))];
          window.correct = pick(5);
          break;
        case 3:  // the text the record has in the file typed back
          if (index <= static_cast<int32_t>(original.size())) {
            window = asWindowShowsIt(original[static_cast<size_t>(index) - 1]);
          }
          break;
        case 12:  // the text shown when the record was reached typed back
          window = lastShown;
          break;
        case 4:
          commitWindow();
          ++index;
          show(store.next());
          if (index > static_cast<int32_t>(model.size())) commitWindow();
          break;
        case 5:
          if (index > 1) {
            commitWindow();
            --index;
            show(store.previous());
          }
          break;
        case 6: {
          int32_t n = 1 + (pick(4) == 0 ? pick(total + 3) : pick(std::min(total, 5)));
          commitWindow();
          index = n;
          show(store.seek(n));
          if (index > static_cast<int32_t>(model.size())) commitWindow();
          break;
        }
        case 7: {
          bool flag = pick(2) == 0;
          store.setErased(flag);
          if (index <= total) {
            if (flag) {
              erased.insert(index);
            } else {
              erased.erase(index);
            }
          }
          break;
        }
        case 8:  // Overwrite
          commitWindow();
          answer({kIdYes}, {});
          ASSERT_EQ(store.save(), 4);
          saved();
          break;
        case 9:  // Save New, to one of two names
          commitWindow();
          answer({kIdNo}, {path(pick(2) == 0 ? "a.qdb" : "b.qdb")});
          ASSERT_EQ(store.save(), 4);
          saved();
          break;
        case 10:  // the save dialog cancelled
          commitWindow();
          answer({kIdNo}, {""});
          ASSERT_EQ(store.save(), kStoreCancelled);
          break;
        case 11:  // a save that cannot create its temporary file
          commitWindow();
          std::filesystem::create_directory(path(kSaveTempFileName));
          answer({kIdYes}, {});
          EXPECT_EQ(store.save(), kStoreCannotOpen);
          std::filesystem::remove(path(kSaveTempFileName));
          break;
      }
    }
    commitWindow();
    answer({kIdYes}, {});
    ASSERT_EQ(store.save(), 4);
    saved();
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GE(steps, 5000);
}

SearchCriteria questionIs(const std::string& question) {
  SearchCriteria c;
  c.mask = SearchCriteria::MatchQuestion;
  c.question = question;
  c.responses = {"", "", "", "", ""};
  return c;
}

// Record numbers far beyond the records that exist, typed into Seek or
// claimed by a header, cost nothing: the blank records between are left out
// of the saved file and of searches.
TEST_F(RecordStoreTest, HugeRecordNumbersCostOnlyTheRecordsThatExist) {
  const QuestionRecord emptyWindow = record("", {"", "", "", ""}, 0);
  store.clear();
  store.next();
  store.commit(record("one", {"a", "b", "c", "d"}, 1));
  store.seek(2000000000);
  store.commit(emptyWindow);
  EXPECT_EQ(store.totalRecords, 2000000000);
  EXPECT_EQ(store.seek(1999999999), QuestionRecord());
  EXPECT_EQ(store.search(questionIs("")), (std::vector<int32_t>{2000000000}));
  std::string far = path("far.qdb");
  ui.saveAnswers = {far};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(far), "3\r\n4\r\n2\r\n" +
                                             qdbRecordLines({"one", {"a", "b", "c", "d"}, 1}) +
                                             qdbRecordLines({"", {"", "", "", ""}, 0}));

  std::string claimsBytes = "3\r\n4\r\n2000000000\r\n" + numbered(1) + numbered(2);
  std::string claims = write("claims.qdb", claimsBytes);
  ASSERT_EQ(store.open(claims), 4);
  EXPECT_EQ(store.totalRecords, 2000000000);
  EXPECT_EQ(store.seek(2).question, "Q2");
  EXPECT_EQ(store.seek(1500000000), QuestionRecord());
  EXPECT_EQ(store.search(questionIs("Q2")), (std::vector<int32_t>{2}));
  EXPECT_TRUE(store.search(questionIs("")).empty());

  std::string three = write("three.qdb", numberedFile(3));
  ASSERT_EQ(store.open(three), 4);
  ui.openAnswers = {claims};
  EXPECT_EQ(store.appendFile(), 2000000003);
  EXPECT_EQ(store.seek(5).question, "Q2");
  EXPECT_EQ(testing::readFileBytes(claims), claimsBytes);
  ui.messageAnswers = {kIdYes, kIdYes};
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(three), "3\r\n4\r\n5\r\n" + numbered(1) + numbered(2) +
                                               numbered(3) + numbered(1) + numbered(2));
  ASSERT_EQ(store.open(claims), 4);
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(testing::readFileBytes(claims), "3\r\n4\r\n2\r\n" + numbered(1) + numbered(2));
  EXPECT_EQ(store.totalRecords, 2);
}

TEST_F(RecordStoreTest, BlankRecordsAreSavedUpToTheLimit) {
  for (int64_t blanks : {kMaxBlankRecords, kMaxBlankRecords + 1}) {
    SCOPED_TRACE(blanks);
    store.clear();
    store.next();
    store.commit(record("first", {"a", "b", "c", "d"}, 1));
    store.seek(static_cast<int32_t>(blanks + 2));
    store.commit(record("last", {"a", "b", "c", "d"}, 2));
    ui.saves.clear();
    ui.saveAnswers = {path("blanks.qdb")};
    ASSERT_EQ(store.save(), 4);
    int32_t kept = blanks <= kMaxBlankRecords ? static_cast<int32_t>(blanks + 2) : 2;
    EXPECT_EQ(store.totalRecords, kept);
    EXPECT_EQ(store.seek(kept).question, "last");
    EXPECT_EQ(store.seek(2), kept == 2 ? record("last", {"a", "b", "c", "d"}, 2)
                                       : record("", {"", "", "", ""}, 0));
  }
}

// The working folder cannot take the temporary file (a folder of that name,
// or a full disk): Overwrite fails as before, Save New elsewhere works.
TEST_F(RecordStoreTest, SaveNewElsewhereWorksWhenTheWorkingFolderCannotTakeTheTemporaryFile) {
  TempDir elsewhere;
  std::string original = numberedFile(2);
  std::string file = write("db.qdb", original);
  for (bool fullDisk : {false, true}) {
    SCOPED_TRACE(fullDisk ? "full disk" : "blocked");
    std::error_code ec;
    if (fullDisk) {
      std::filesystem::create_symlink("/dev/full", path(kSaveTempFileName), ec);
      if (ec) continue;
    } else {
      std::filesystem::create_directory(path(kSaveTempFileName));
    }
    ASSERT_EQ(store.open(file), 4);
    store.seek(2);
    store.commit(record("kept", {"a", "b", "c", "d"}, 3));
    ui.messages.clear();
    ui.messageAnswers = {kIdYes, kIdNo};
    ui.saves.clear();
    ui.saveAnswers = {elsewhere.file("new.qdb")};
    EXPECT_EQ(store.save(), kStoreCannotOpen);
    EXPECT_EQ(testing::readFileBytes(file), original);
    ASSERT_EQ(store.save(), 4);
    EXPECT_EQ(testing::readFileBytes(elsewhere.file("new.qdb")),
              "4\r\n4\r\n2\r\n" + numbered(1) + qdbRecordLines({"kept", {"a", "b", "c", "d"}, 3}));
    EXPECT_FALSE(testing::fileExists(elsewhere.file(kSaveTempFileName)));
    EXPECT_EQ(store.filePath, elsewhere.file("new.qdb"));
    std::filesystem::remove(path(kSaveTempFileName), ec);
  }
}

TEST_F(RecordStoreTest, SaveNewRefusesAReadOnlyFile) {
  namespace fs = std::filesystem;
  std::string file = write("db.qdb", numberedFile(2));
  std::string locked = write("locked.qdb", numberedFile(1));
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(locked, writable, fs::perm_options::remove);
  ASSERT_EQ(store.open(file), 4);
  store.seek(1);
  store.commit(record("kept", {"a", "b", "c", "d"}, 3));
  // The same refusal when the file is written directly, under the name of
  // the temporary file.
  std::filesystem::create_directory(path("sub"));
  std::string lockedTemp = write("sub/" + std::string(kSaveTempFileName), "");
  ui.messageAnswers = {kIdNo, kIdNo};
  ui.saveAnswers = {locked, lockedTemp};
  EXPECT_EQ(store.save(), kStoreCannotOpen);
  EXPECT_EQ(testing::readFileBytes(locked), numberedFile(1));
  EXPECT_EQ(store.filePath, file);
  EXPECT_EQ(store.seek(1).question, "kept");
  fs::permissions(lockedTemp, writable, fs::perm_options::remove);
  EXPECT_EQ(store.save(), kStoreCannotOpen);
  EXPECT_EQ(testing::readFileBytes(lockedTemp), "");
  EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
}

// File and folder names are handed on byte for byte: in the ANSI code page
// of Windows (0x80 is the euro sign in 1252), as bytes elsewhere.
TEST_F(RecordStoreTest, NamesWithBytesAbove127NameTheFileChosen) {
  std::string folder = dir.path() + "/d\xE9j\xE0 \x80";
  ASSERT_TRUE(std::filesystem::create_directory(ansiPath(folder)));
  // Joined as text: the test helpers' std::filesystem joins would read the
  // bytes as Latin-1 on Windows.
  std::string file = folder + "/\x80uro \xE9t\xE9.qdb";
  ASSERT_TRUE(testing::writeFileBytes(file, numberedFile(3)));
  ASSERT_EQ(store.open(file), 4);
  store.seek(2);
  store.commit(record("changed", {"a", "b", "c", "d"}, 1));
  ui.messageAnswers = {kIdYes, kIdNo, kIdNo};
  ASSERT_EQ(store.save(), 4);
  std::string saved = "7\r\n4\r\n3\r\n" + numbered(1) +
                      qdbRecordLines({"changed", {"a", "b", "c", "d"}, 1}) + numbered(3);
  EXPECT_EQ(testing::readFileBytes(file), saved);
  // Save New under the open file's name, written another way, is an
  // Overwrite; then Save New to a new name in the same folder.
  store.seek(1);
  store.setErased(true);
  std::string sameName = folder + "/./\x80uro \xE9t\xE9.qdb";
  std::string newName = folder + "/n\xE9w \x80.qdb";
  ui.saveAnswers = {sameName, newName};
  ASSERT_EQ(store.save(), 4);
  saved = "7\r\n4\r\n2\r\n" + qdbRecordLines({"changed", {"a", "b", "c", "d"}, 1}) + numbered(3);
  EXPECT_EQ(testing::readFileBytes(file), saved);
  store.seek(3);
  store.commit(record("third", {"a", "b", "c", "d"}, 2));
  ASSERT_EQ(store.save(), 4);
  EXPECT_EQ(store.filePath, newName);
  EXPECT_EQ(testing::readFileBytes(file), saved);
  EXPECT_EQ(testing::readFileBytes(newName),
            "7\r\n4\r\n3\r\n" + qdbRecordLines({"changed", {"a", "b", "c", "d"}, 1}) + numbered(3) +
                qdbRecordLines({"third", {"a", "b", "c", "d"}, 2}));
  ui.openAnswers = {file};
  EXPECT_EQ(store.appendFile(), 5);
  EXPECT_EQ(store.seek(4).question, "changed");
  EXPECT_FALSE(std::filesystem::exists(ansiPath(folder + "/" + kSaveTempFileName)));
}

// A stream buffer over `bytes` whose reads fail from offset `failAt` on, the
// way a file on a network share that drops fails: underflow throws, as the
// file buffer does on an I/O error. After `budget` failures it reports the
// end instead, so that a reader that ignores the errors still ends.
class FailingBuffer : public std::streambuf {
 public:
  FailingBuffer(std::string bytes, size_t failAt, int budget = 1000)
      : bytes_(std::move(bytes)), failAt_(std::min(failAt, bytes_.size())), budget_(budget) {
    setg(bytes_.data(), bytes_.data(), bytes_.data() + failAt_);
  }
  int failures = 0;

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (failAt_ < bytes_.size() && failures++ < budget_) {
      throw std::ios_base::failure("read error");
    }
    return traits_type::eof();
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    off_type base = dir == std::ios_base::beg   ? 0
                    : dir == std::ios_base::cur ? static_cast<off_type>(gptr() - eback())
                                                : static_cast<off_type>(bytes_.size());
    return seekpos(pos_type(base + off), std::ios_base::in);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    off_type at = static_cast<off_type>(pos);
    if (at < 0 || static_cast<size_t>(at) > failAt_) return pos_type(off_type(-1));
    setg(bytes_.data(), bytes_.data() + at, bytes_.data() + failAt_);
    return pos;
  }

 private:
  std::string bytes_;
  size_t failAt_;
  int budget_;
};

TEST_F(RecordStoreTest, AReadErrorWhileSavingKeepsTheFileAndTheEdits) {
  std::string original = numberedFile(4);
  std::string file = write("db.qdb", original);
  for (int answer : {kIdYes, kIdNo}) {
    SCOPED_TRACE(answer == kIdYes ? "Overwrite" : "Save New");
    ASSERT_EQ(store.open(file), 4);
    store.seek(4);
    store.commit(record("edit", {"a", "b", "c", "d"}, 1));
    // Record 3 cannot be read any more.
    FailingBuffer failing(original, original.find("Q3") + 4);
    std::istream& input = store.input;
    std::streambuf* fileBuffer = input.rdbuf(&failing);
    ui.messages.clear();
    ui.messageAnswers = {answer};
    ui.saves.clear();
    ui.saveAnswers = {path("new.qdb")};
    int r = store.save();
    input.rdbuf(fileBuffer);
    EXPECT_EQ(r, kStoreCannotOpen);
    EXPECT_LE(failing.failures, 1);
    EXPECT_EQ(testing::readFileBytes(file), original);
    EXPECT_FALSE(testing::fileExists(path("new.qdb")));
    EXPECT_FALSE(testing::fileExists(path(kSaveTempFileName)));
    EXPECT_EQ(store.filePath, file);
    EXPECT_EQ(store.edits.size(), 1u);
    // Once the file reads again, the same save works.
    EXPECT_EQ(store.seek(3).question, "Q3");
    ui.messages.clear();
    ui.saves.clear();
    ASSERT_EQ(store.save(), 4);
    std::string written = "4\r\n4\r\n4\r\n" + numbered(1) + numbered(2) + numbered(3) +
                          qdbRecordLines({"edit", {"a", "b", "c", "d"}, 1});
    EXPECT_EQ(testing::readFileBytes(answer == kIdYes ? file : path("new.qdb")), written);
    store.clear();
    std::error_code ec;
    std::filesystem::remove(path("new.qdb"), ec);
    write("db.qdb", original);
  }
}

#ifdef __linux__
// Reading /proc/self/mem at offset 0, which is never mapped, fails with an
// I/O error.
TEST_F(RecordStoreTest, AFileThatCannotBeReadIsRefused) {
  std::string file = write("db.qdb", numberedFile(2));
  ASSERT_EQ(store.open(file), 4);
  EXPECT_EQ(store.open("/proc/self/mem"), kStoreCannotOpen);
  EXPECT_EQ(store.filePath, file);
  EXPECT_EQ(store.seek(2).question, "Q2");
  ui.openAnswers = {"/proc/self/mem"};
  EXPECT_EQ(store.appendFile(), kStoreCancelled);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error opening file.");
  EXPECT_EQ(store.totalRecords, 2);
}
#endif

}  // namespace
}  // namespace qova

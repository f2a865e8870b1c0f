// The editor's model of one question database: the open .qdb file, an index
// of where each of its records starts, the edits and erasures not yet saved,
// and the current record.
//
// The store never loads a whole file. Unchanged records are read from the
// open file when they become current; only changed and new records live in
// memory, in maps ordered by record number, so that save visits them in file
// order while copying the rest from the open file. Record numbers start at 1.
//
// Invariants:
//  1. edits and baselines have the same keys.
//  2. Every number in erasedNumbers lies between 1 and totalRecords.
//  3. The content of record n is edits[n] when present; else the file's
//     record n when n <= fileRecordCount (an empty record when the file holds
//     fewer records than its header claims); else the empty record.
//  4. totalRecords >= fileRecordCount while a file is open.
//  5. current is the content of record currentIndex after every move and
//     commit (a read error leaves what could be read).
//
// The public fields are read and written by the editor window where it needs
// them (totalRecords for "Total Records:", responsesPerRecord
// from the "4" / "5" radios); everything else goes through the operations.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/prompts.h"
#include "qdb/qdb_file.h"
#include "qdb/question_record.h"

namespace qova {

// One search request of the Find Record window: the fields of a record and
// the mask of the fields that take part. Response j (1..5) has the bit
// 2^(j + 1).
struct SearchCriteria {
  enum : uint32_t {
    MatchQuestion = 0x01,
    MatchCorrect = 0x02,
    MatchResponse1 = 0x04,
    MatchResponse2 = 0x08,
    MatchResponse3 = 0x10,
    MatchResponse4 = 0x20,
    MatchResponse5 = 0x40,
  };

  std::string question;
  std::vector<std::string> responses;  // the window always passes five
  int32_t correct = 0;                 // compared only under MatchCorrect
  bool erased = false;                 // not used by the search
  uint32_t mask = 0;
};

// Results of open and save; a non-negative result is the file's number of
// responses per record.
enum : int {
  kStoreCancelled = -1,     // dialog cancelled (appendFile: also unreadable file)
  kStoreCannotOpen = -2,    // open: "Could not open file." / save: "Could not save file."
  kStoreCannotReopen = -3,  // save: "Error re-opening file."
};

// File name of the temporary file that Overwrite writes before it replaces
// the original; created in the working folder.
extern const char kSaveTempFileName[];  // "__qdbtemp.tmp"

// Blank records are the record numbers up to totalRecords that neither the
// file holds nor a commit stored (a Seek far beyond the last record, or a
// header that claims more records than the file has). They read as empty
// records and save writes them so, as long as there are at most this many;
// more are taken for a mistyped number or a damaged header and are left out
// of the saved file and of searches, so that no operation costs time or
// memory in proportion to them.
constexpr int64_t kMaxBlankRecords = 1000000;

// Paths of this many characters or more are refused (the dialogs' buffers
// hold 511 characters and a NUL).
constexpr size_t kMaxPathBuffer = 512;

class RecordStore {
 public:
  RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // The dialogs and message boxes of open, save and appendFile go through
  // `prompts`, owned by `owner` (a window handle, null for none).
  Prompts prompts;
  void* owner = nullptr;

  // Path of the open file, or of the file last saved; kept by clear.
  std::string filePath;
  std::ifstream input;   // the open file (binary); open from open until the next open/clear/save
  std::ofstream output;  // used only while save runs
  std::vector<int64_t> recordStart;  // entry n-1: start of record n; last: end of data
  int32_t fileLineBound = 0;
  int32_t fileResponseCount = 4;
  int32_t fileRecordCount = -1;    // -1: no file
  int32_t lineBound = 0;           // running bound, written as header line 1
  int32_t responsesPerRecord = 4;  // header line 2 of the next save
  int32_t totalRecords = 0;
  int32_t currentIndex = 0;
  QuestionRecord current;                       // what the store holds for currentIndex
  std::map<int32_t, QuestionRecord> edits;      // committed content of changed/new records
  std::map<int32_t, QuestionRecord> baselines;  // content before the first change
  std::set<int32_t> erasedNumbers;

  // No file, no changes, total 0, current index 0, 4 responses per record.
  // filePath is kept. Asks nothing.
  void clear();

  // Opens `path`, or with no path asks for a file with the open dialog.
  // Returns kStoreCancelled, kStoreCannotOpen (the file cannot be opened, is
  // damaged, or its path is empty or too long; the store is then unchanged
  // and its previous file stays open), or the file's responses per record.
  // Afterwards currentIndex is 0.
  int open();
  int open(const std::string& path);

  // Makes `current` the content of record currentIndex (see invariant 3),
  // with `erased` from erasedNumbers.
  void loadCurrent();

  // Move the current index by one or to n, load the record and return a copy.
  QuestionRecord next();
  QuestionRecord previous();
  QuestionRecord seek(int32_t n);

  // Takes `record` as the content of the current record (an edit taken back
  // to its first content stops being an edit) and as `current`, so that each
  // commit compares with what the store holds, raises totalRecords to the
  // current index and the running lineBound to the record's line lengths
  // (the correct line counted as floor(ln(correct)) + 1 for correct >= 1).
  void commit(const QuestionRecord& record);

  // Marks or unmarks the current record for erasure; nothing when the
  // current index lies beyond totalRecords.
  void setErased(bool flag);

  // Asks Overwrite or Save New (Save New without asking when no file is
  // open), writes the database and re-opens the written file. Returns
  // kStoreCancelled, kStoreCannotOpen (nothing could be written, a record of
  // the open file could not be read, or Save New met a read-only file; the
  // original and the store are unchanged), kStoreCannotReopen, or the
  // responses per record of the re-opened file, after which the store holds
  // the saved file. The temporary file goes in the working folder for
  // Overwrite and beside the chosen file for Save New.
  int save();

  // Asks for another database file and appends its records after the last
  // record, in memory. Returns -1 when cancelled or when the file cannot be
  // opened or read ("Error opening file." shown; nothing changed), else the
  // new totalRecords; the current index is then 1.
  int appendFile();

  // Appends records read from a question file after the last record, in
  // memory, as appendFile does with the records of a database. A database
  // that holds nothing but one empty record (a new database) takes them in
  // its place, so that it does not begin with an empty question. Returns the
  // number of the first record appended, the current index then being 1;
  // -1, with nothing changed, when the total would pass the largest record
  // number.
  int32_t importRecords(const std::vector<QuestionRecord>& records);

  // Numbers of the records (1..totalRecords) that match `criteria`,
  // ascending. The current record is the same before and after.
  std::vector<int32_t> search(const SearchCriteria& criteria);

 private:
  // The record number whose start the input stream is at, so that reading
  // records in order needs no seek; 0 when unknown.
  int32_t streamRecord_ = 0;
  // Set when a save replaced the open file but could not open it again: the
  // records of the old file can no longer be read, so saving is refused
  // until a file is opened or the store cleared.
  bool inputLost_ = false;
  std::vector<char> outputBuffer_;  // buffer of `output` while save writes

  // Takes over an opened file whose header and index are known.
  int adopt(std::ifstream& in, const std::string& path, const QdbHeader& header,
            std::vector<int64_t>& starts);
  // Opens the file save has just written, taking the index save noted.
  int reopenWritten(const std::string& path, const QdbHeader& written,
                    std::vector<int64_t>& starts);
  // Opens filePath again after a failed save closed it.
  void reopenInput();
  // Records 1..recordsFound() are in the open file (0 with no file).
  int32_t recordsFound() const;
  // The number of blank records, and whether save writes them.
  int64_t blankRecords() const;
  bool blanksKept() const;
  bool readFileRecord(int32_t n, QuestionRecord& record);
  // Puts `records` and then `blankAfter` blank records after record `last`
  // (at most totalRecords); returns the number of the first, or -1 when the
  // total would overflow (nothing changed).
  int32_t appendAfter(int32_t last, const std::vector<QuestionRecord>& records, int32_t blankAfter);
  // Writes header and records. Fills *header with what it wrote and *starts
  // with the index of the written file; *indexKnown is false when the index
  // cannot be trusted (a text holding a line end, or a line beyond the bound)
  // and the file must be scanned. False on a read error in the open file.
  bool writeDatabase(std::ostream& out, QdbHeader* header, std::vector<int64_t>* starts,
                     bool* indexKnown);
};

}  // namespace qova

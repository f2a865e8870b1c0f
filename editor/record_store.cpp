#include "editor/record_store.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "editor/file_dialogs.h"
#include "editor/file_path.h"
#include "editor/file_replace.h"
#include "qdb/qdb_file.h"

namespace qova {

const char kSaveTempFileName[] = "__qdbtemp.tmp";

namespace {

constexpr char kSaveQuestion[] = "Overwrite, or Save New?\nYes = Overwrite\nNo = Save New";
constexpr char kAppendOpenFailed[] = "Error opening file.";

int32_t clampLength(size_t length) {
  return length > static_cast<size_t>(std::numeric_limits<int32_t>::max())
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(length);
}

}  // namespace

RecordStore::RecordStore() = default;

void RecordStore::clear() {
  if (input.is_open()) input.close();
  input.clear();
  edits.clear();
  baselines.clear();
  recordStart.clear();
  erasedNumbers.clear();
  current = QuestionRecord();
  fileResponseCount = 4;
  responsesPerRecord = 4;
  fileLineBound = 0;
  lineBound = 0;
  currentIndex = 0;
  totalRecords = 0;
  fileRecordCount = -1;
  streamRecord_ = 0;
  inputLost_ = false;
}

int RecordStore::open() {
  std::string path;
  if (!prompts.openFile || !prompts.openFile(databaseOpenRequest(owner), &path)) {
    return kStoreCancelled;
  }
  return open(path);
}

int RecordStore::open(const std::string& path) {
  if (path.empty() || path.size() >= kMaxPathBuffer) return kStoreCannotOpen;

  // Everything is read and checked before the store changes, so a file that
  // cannot be used leaves the previous one open and the edits in place.
  // A read error (bad()) anywhere in the header or the scan refuses the file
  // like a damaged one.
  std::ifstream in(ansiPath(path), std::ios::binary);
  if (!in.is_open()) return kStoreCannotOpen;
  QdbHeader header;
  if (!readHeader(in, header) || in.bad() || !headerIsUsable(header)) return kStoreCannotOpen;
  std::vector<int64_t> starts;
  if (!indexRecords(in, header, starts) || in.bad() || starts.empty()) return kStoreCannotOpen;

  return adopt(in, path, header, starts);
}

int RecordStore::adopt(std::ifstream& in, const std::string& path, const QdbHeader& header,
                       std::vector<int64_t>& starts) {
  if (input.is_open()) input.close();
  input = std::move(in);
  filePath = path;
  baselines.clear();
  edits.clear();
  erasedNumbers.clear();
  current = QuestionRecord();
  fileLineBound = header.lineBound;
  fileResponseCount = header.responseCount;
  fileRecordCount = header.recordCount;
  totalRecords = fileRecordCount;
  lineBound = fileLineBound;
  responsesPerRecord = fileResponseCount;
  recordStart = std::move(starts);
  currentIndex = 0;
  input.clear();
  input.seekg(recordStart[0]);
  streamRecord_ = 1;
  inputLost_ = false;
  return fileResponseCount;
}

int32_t RecordStore::recordsFound() const {
  // recordStart holds one entry per record found plus the end of the data; a
  // header that claims more records than that gets empty records for the rest.
  if (!input.is_open() || recordStart.empty()) return 0;
  size_t found =
      std::min(recordStart.size() - 1, static_cast<size_t>(std::max(fileRecordCount, 0)));
  return static_cast<int32_t>(found);
}

int64_t RecordStore::blankRecords() const {
  int32_t found = recordsFound();
  int64_t stored = static_cast<int64_t>(std::distance(edits.upper_bound(found), edits.end()));
  return std::max<int64_t>(0, static_cast<int64_t>(totalRecords) - found - stored);
}

bool RecordStore::blanksKept() const { return blankRecords() <= kMaxBlankRecords; }

bool RecordStore::readFileRecord(int32_t n, QuestionRecord& record) {
  if (n < 1 || n > recordsFound()) return false;
  if (streamRecord_ != n) {
    input.clear();
    input.seekg(recordStart[static_cast<size_t>(n) - 1]);
  }
  readRecord(input, record, fileResponseCount, fileLineBound);
  streamRecord_ = input.good() ? n + 1 : 0;
  return true;
}

void RecordStore::loadCurrent() {
  auto edit = edits.find(currentIndex);
  if (edit != edits.end()) {
    current = edit->second;
  } else if (currentIndex < 1 || currentIndex > fileRecordCount ||
             !readFileRecord(currentIndex, current)) {
    current = QuestionRecord();
  }
  current.erased = erasedNumbers.count(currentIndex) != 0;
}

QuestionRecord RecordStore::next() {
  if (currentIndex < std::numeric_limits<int32_t>::max()) ++currentIndex;
  loadCurrent();
  return current;
}

QuestionRecord RecordStore::previous() {
  if (currentIndex > 0) --currentIndex;
  loadCurrent();
  return current;
}

QuestionRecord RecordStore::seek(int32_t n) {
  currentIndex = n;
  loadCurrent();
  return current;
}

void RecordStore::commit(const QuestionRecord& record) {
  // Record 0 is the position before the first move; it is no record.
  if (currentIndex < 1) return;
  auto edit = edits.find(currentIndex);
  if (edit != edits.end()) {
    if (record == baselines[currentIndex]) {
      edits.erase(edit);
      baselines.erase(currentIndex);
    } else {
      edit->second = record;
      edit->second.erased = false;
    }
  } else if (currentIndex > fileRecordCount || record != current) {
    QuestionRecord baseline = current;
    baseline.erased = false;
    baselines[currentIndex] = std::move(baseline);
    QuestionRecord edited = record;
    edited.erased = false;
    edits[currentIndex] = std::move(edited);
  }
  if (totalRecords < currentIndex) totalRecords = currentIndex;
  // `current` is what the store now holds for the record, so that the next
  // commit compares with it and not with what was loaded before.
  current = record;
  current.erased = erasedNumbers.count(currentIndex) != 0;

  lineBound = std::max(lineBound, clampLength(record.question.size()));
  if (record.correct >= 1) {
    // The bound counts the correct line as floor(ln(correct)) + 1 characters,
    // which is at least its number of decimal digits.
    int32_t digits = static_cast<int32_t>(std::log(static_cast<double>(record.correct))) + 1;
    lineBound = std::max(lineBound, digits);
  }
  for (size_t i = 0; i < record.responses.size() && static_cast<int64_t>(i) < responsesPerRecord;
       ++i) {
    lineBound = std::max(lineBound, clampLength(record.responses[i].size()));
  }
}

void RecordStore::setErased(bool flag) {
  if (currentIndex < 1 || currentIndex > totalRecords) return;
  if (flag) {
    erasedNumbers.insert(currentIndex);
  } else {
    erasedNumbers.erase(currentIndex);
  }
}

namespace {

// What writeRecord puts out for `record`: the number of bytes, the longest
// line, and whether every text is free of line ends (so that the lines read
// back are the lines written).
struct WrittenSize {
  int64_t bytes = 0;
  int32_t longest = 0;
  bool plain = true;
};

void addLine(WrittenSize& size, size_t length, bool plain) {
  size.bytes += static_cast<int64_t>(length) + 2;
  size.longest = std::max(size.longest, clampLength(length));
  size.plain = size.plain && plain;
}

void addText(WrittenSize& size, const std::string& text) {
  addLine(size, text.size(), text.find('\n') == std::string::npos);
}

void addRecord(WrittenSize& size, const QuestionRecord& record, int32_t responseCount) {
  addText(size, record.question);
  for (int32_t i = 0; i < responseCount; ++i) {
    if (static_cast<size_t>(i) < record.responses.size()) {
      addText(size, record.responses[static_cast<size_t>(i)]);
    } else {
      addLine(size, 0, true);
    }
  }
  addLine(size, std::to_string(record.correct).size(), true);
}

}  // namespace

bool RecordStore::writeDatabase(std::ostream& out, QdbHeader* header, std::vector<int64_t>* starts,
                                bool* indexKnown) {
  const QuestionRecord empty;
  const int32_t found = recordsFound();
  // Blank records (never read from the file nor committed) are written as
  // empty records, unless there are too many of them to be anything but a
  // mistyped record number or a damaged header: then they are left out.
  const bool keepBlanks = blanksKept();
  int64_t count = static_cast<int64_t>(totalRecords) - static_cast<int64_t>(erasedNumbers.size());
  if (!keepBlanks) {
    count = found + static_cast<int64_t>(std::distance(edits.upper_bound(found), edits.end()));
    for (int32_t n : erasedNumbers) {
      if (n <= found || edits.count(n) != 0) --count;
    }
  }
  header->recordCount = static_cast<int32_t>(count);
  header->responseCount = responsesPerRecord;
  // Every record has a correct line of at least one character, so a bound of
  // 0 would make the written file unreadable.
  header->lineBound = lineBound;
  if (header->recordCount > 0 && header->lineBound < 1) header->lineBound = 1;
  // The running bound counts only the responses that were being written when
  // a record was committed; an appended five-response record saved after "5"
  // was chosen would otherwise write lines longer than the header admits.
  for (const auto& [number, record] : edits) {
    if (erasedNumbers.count(number) != 0) continue;
    WrittenSize size;
    addRecord(size, record, responsesPerRecord);
    header->lineBound = std::max(header->lineBound, size.longest);
  }
  writeHeader(out, header->lineBound, header->responseCount, header->recordCount);

  // The index of the new file is taken while it is written, so the re-open
  // after the save need not scan it again. Its size is bounded by the records
  // that exist and the blank records kept.
  WrittenSize size;
  size.bytes = static_cast<int64_t>(
      std::to_string(header->lineBound).size() + std::to_string(header->responseCount).size() +
      std::to_string(static_cast<uint32_t>(header->recordCount)).size() + 6);
  starts->clear();
  starts->reserve(static_cast<size_t>(std::max(header->recordCount, 0)) + 1);
  auto put = [&](const QuestionRecord& record) {
    starts->push_back(size.bytes);
    addRecord(size, record, responsesPerRecord);
    writeRecord(out, record, responsesPerRecord);
  };

  auto edit = edits.begin();
  auto erased = erasedNumbers.begin();
  // Moves the two ordered cursors to n and tells what becomes of record n.
  auto lookup = [&](int64_t n, const QuestionRecord** edited) {
    while (erased != erasedNumbers.end() && *erased < n) ++erased;
    while (edit != edits.end() && edit->first < n) ++edit;
    *edited = edit != edits.end() && edit->first == n ? &edit->second : nullptr;
    return erased != erasedNumbers.end() && *erased == n;
  };

  int64_t n = 1;
  if (input.is_open()) {
    // One forward pass over the records of the open file: unchanged records
    // are copied as read, the others skipped. A read error stops the save.
    input.clear();
    input.seekg(recordStart[0]);
    streamRecord_ = 0;
    QuestionRecord record;  // one for all, so that its texts keep their storage
    for (; n <= found; ++n) {
      const QuestionRecord* edited;
      bool isErased = lookup(n, &edited);
      if (isErased || edited != nullptr) {
        skipRecord(input, fileResponseCount, fileLineBound);
        if (input.bad()) return false;
        if (!isErased) put(*edited);
      } else {
        readRecord(input, record, fileResponseCount, fileLineBound);
        if (input.bad()) return false;
        put(record);
      }
    }
  }
  if (keepBlanks) {
    for (; n <= totalRecords; ++n) {
      const QuestionRecord* edited;
      if (lookup(n, &edited)) continue;
      put(edited != nullptr ? *edited : empty);
    }
  } else {
    for (auto it = edits.upper_bound(found); it != edits.end(); ++it) {
      if (erasedNumbers.count(it->first) == 0) put(it->second);
    }
  }
  starts->push_back(size.bytes);
  *indexKnown = size.plain && size.longest <= header->lineBound;
  return true;
}

int RecordStore::reopenWritten(const std::string& path, const QdbHeader& written,
                               std::vector<int64_t>& starts) {
  if (path.size() >= kMaxPathBuffer) return kStoreCannotOpen;
  std::ifstream in(ansiPath(path), std::ios::binary);
  QdbHeader header;
  if (!in.is_open() || !readHeader(in, header) || in.bad() || !headerIsUsable(header)) {
    return kStoreCannotOpen;
  }
  if (header.lineBound != written.lineBound || header.responseCount != written.responseCount ||
      header.recordCount != written.recordCount) {
    return open(path);
  }
  return adopt(in, path, header, starts);
}

void RecordStore::reopenInput() {
  input.clear();
  input.open(ansiPath(filePath), std::ios::binary);
  streamRecord_ = 0;
  inputLost_ = !input.is_open() && fileRecordCount > 0;
}

int RecordStore::save() {
  namespace fs = std::filesystem;
  // After a save that replaced the open file but could not read it back, the
  // unchanged records are no longer readable; writing now would turn them
  // into empty records.
  if (inputLost_) return kStoreCannotOpen;

  bool fileOpen = input.is_open();
  bool overwrite = false;
  if (fileOpen) {
    MessageRequest question{owner, kSaveQuestion, "Save", kMbYesNo};
    overwrite = prompts.messageBox && prompts.messageBox(question) == kIdYes;
  }
  std::string target = filePath;
  if (!overwrite) {
    if (!prompts.saveFile || !prompts.saveFile(databaseSaveRequest(owner), &target)) {
      return kStoreCancelled;
    }
    if (target.empty() || target.size() >= kMaxPathBuffer) return kStoreCannotOpen;
    // Saving under the name of the open file is an Overwrite: writing it
    // directly would empty the file before its records were copied.
    if (fileOpen && sameFile(ansiPath(target), ansiPath(filePath))) overwrite = true;
  }
  const fs::path targetPath = ansiPath(target);
  if (targetPath.empty()) return kStoreCannotOpen;

  // Both modes write the whole database to a temporary file first and put it
  // in place only once it was written and closed without error, so a full
  // disk, a failed write or a read error never damages the file that is
  // there. Overwrite writes it in the working folder; Save New beside the
  // target, so that a database can be saved elsewhere when the working folder
  // is full or read-only. A target named like the temporary file is written
  // directly.
  fs::path temp = overwrite ? fs::path(kSaveTempFileName) : besideOf(targetPath, kSaveTempFileName);
  const bool direct = !overwrite && targetPath.filename() == fs::path(kSaveTempFileName);
  if (direct) temp = targetPath;
  // The temporary file must not be the open file itself.
  if (fileOpen && sameFile(temp, ansiPath(filePath))) return kStoreCannotOpen;
  // A read-only file is replaced only by Overwrite.
  if (direct && isReadOnlyFile(targetPath)) return kStoreCannotOpen;

  // A larger buffer than the default: the whole database goes through it.
  outputBuffer_.resize(1 << 16);
  output.rdbuf()->pubsetbuf(outputBuffer_.data(),
                            static_cast<std::streamsize>(outputBuffer_.size()));
  output.open(temp, std::ios::binary | std::ios::trunc);
  if (!output.is_open()) {
    output.clear();
    return kStoreCannotOpen;
  }
  QdbHeader written;
  std::vector<int64_t> starts;
  bool indexKnown = false;
  bool readOk = writeDatabase(output, &written, &starts, &indexKnown);
  output.close();
  bool writtenOk = readOk && !output.fail();
  output.clear();
  if (!writtenOk) {
    removeQuietly(temp);
    // The open file stays; the next read clears a read error and seeks anew.
    if (fileOpen) input.clear();
    streamRecord_ = 0;
    return kStoreCannotOpen;
  }

  // The open file is closed before it is replaced (Windows refuses to rename
  // over an open file) and opened again if the replacement fails.
  if (fileOpen) input.close();
  if (!direct && !replaceFile(temp, targetPath, overwrite)) {
    removeQuietly(temp);
    if (fileOpen) reopenInput();
    return kStoreCannotOpen;
  }

  int r = indexKnown ? reopenWritten(target, written, starts) : open(target);
  if (r != kStoreCannotOpen) return r;
  // The new file is in place but cannot be read back.
  if (overwrite && fileOpen) {
    // The old records are gone with the old file.
    inputLost_ = fileRecordCount > 0;
  } else if (fileOpen) {
    // Save New: the store carries on with the file it had, which is still
    // there, so nothing is lost by a later save.
    reopenInput();
  }
  return kStoreCannotReopen;
}

int RecordStore::appendFile() {
  RecordStore other;
  other.prompts = prompts;
  other.owner = owner;
  int r = other.open();
  if (r == kStoreCancelled) return kStoreCancelled;

  // Only the records the other file really holds are read; the blank records
  // its header claims beyond them follow as blank records here too. They are
  // all read before anything changes, so a read error changes nothing.
  std::vector<QuestionRecord> records;
  bool readOk = r != kStoreCannotOpen;
  for (int32_t i = 0; readOk && i < other.recordsFound(); ++i) {
    records.push_back(other.next());
    readOk = !other.input.bad();
  }
  const int32_t blank = other.totalRecords - static_cast<int32_t>(records.size());
  if (!readOk || appendAfter(totalRecords, records, blank) < 0) {
    if (prompts.messageBox) {
      prompts.messageBox(MessageRequest{owner, kAppendOpenFailed, "Error", kMbIconExclamation});
    }
    return kStoreCancelled;
  }
  lineBound = std::max(lineBound, other.lineBound);
  return totalRecords;
}

namespace {

bool isEmptyRecord(const QuestionRecord& record) {
  return record.question.empty() && record.correct == 0 &&
         std::all_of(record.responses.begin(), record.responses.end(),
                     [](const std::string& r) { return r.empty(); });
}

}  // namespace

int32_t RecordStore::importRecords(const std::vector<QuestionRecord>& records) {
  int32_t last = totalRecords;
  if (last == 1 && !records.empty() && erasedNumbers.empty()) {
    int32_t remembered = currentIndex;
    seek(1);
    if (isEmptyRecord(current)) last = 0;
    seek(remembered);
  }
  return appendAfter(last, records, 0);
}

int32_t RecordStore::appendAfter(int32_t last, const std::vector<QuestionRecord>& records,
                                 int32_t blankAfter) {
  int64_t added = static_cast<int64_t>(records.size()) + std::max(blankAfter, 0);
  if (added > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) - last) return -1;
  const int32_t total = static_cast<int32_t>(std::max<int64_t>(totalRecords, last + added));
  seek(last);
  for (const QuestionRecord& record : records) {
    next();
    commit(record);
  }
  totalRecords = total;
  currentIndex = 1;
  loadCurrent();
  return last + 1;
}

namespace {

bool matches(const QuestionRecord& record, const SearchCriteria& criteria) {
  if ((criteria.mask & SearchCriteria::MatchQuestion) && record.question != criteria.question) {
    return false;
  }
  if ((criteria.mask & SearchCriteria::MatchCorrect) && record.correct != criteria.correct) {
    return false;
  }
  // Only the positions both have are compared: a record with four responses
  // passes any test on the fifth.
  size_t common = std::min(record.responses.size(), criteria.responses.size());
  for (size_t j = 1; j <= common && j <= 5; ++j) {
    uint32_t bit = 1u << (j + 1);
    if ((criteria.mask & bit) && record.responses[j - 1] != criteria.responses[j - 1]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<int32_t> RecordStore::search(const SearchCriteria& criteria) {
  std::vector<int32_t> found;
  int32_t remembered = currentIndex;
  auto test = [&](int32_t n) {
    currentIndex = n;
    loadCurrent();
    if (matches(current, criteria)) found.push_back(n);
  };
  // The records save would write: blank records only while save keeps them.
  int32_t inFile = recordsFound();
  int32_t last = blanksKept() ? totalRecords : inFile;
  for (int64_t n = 1; n <= last; ++n) test(static_cast<int32_t>(n));
  if (last < totalRecords) {
    // loadCurrent only reads the maps, so they can be walked meanwhile.
    for (auto it = edits.upper_bound(inFile); it != edits.end(); ++it) test(it->first);
  }
  currentIndex = remembered;
  loadCurrent();
  return found;
}

}  // namespace qova

// libFuzzer target for the question file readers and the server's bank: any
// bytes must be read or refused without a crash, a hang or runaway memory,
// and what is read must keep the readers' promises.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qdb/qdb_file.h"
#include "qdb/question_bank.h"
#include "testing/read_error_test_support.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
  }
}

// The stream readers as the editor uses them: header, index, every record
// found, and a write and read back of each.
void checkStreamReaders(const std::string& bytes) {
  std::istringstream in(bytes);
  qova::QdbHeader h;
  if (!qova::readHeader(in, h) || !qova::headerIsUsable(h)) return;
  std::vector<int64_t> starts;
  if (!qova::indexRecords(in, h, starts)) return;
  require(!starts.empty(), "an index holds at least the end of the data");
  require(std::is_sorted(starts.begin(), starts.end()), "record starts ascend");
  require(starts.back() <= static_cast<int64_t>(bytes.size()), "index within the file");
  require(static_cast<int64_t>(starts.size()) <= static_cast<int64_t>(h.recordCount) + 1,
          "index bounded by the claimed count");
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    in.clear();
    in.seekg(starts[i]);
    qova::QuestionRecord r = qova::readRecord(in, h.responseCount, h.lineBound);
    require(r.responses.size() == static_cast<size_t>(h.responseCount), "response count");
    require(r.question.size() <= static_cast<size_t>(h.lineBound), "line within bound");

    std::ostringstream out;
    qova::writeRecord(out, r, h.responseCount);
    std::istringstream back(out.str());
    // The correct number may be written longer than the file's bound.
    qova::QuestionRecord again = qova::readRecord(back, h.responseCount, h.lineBound + 11);
    require(again == r, "a record read back equals the record written");
  }
}

// The same readers when the stream fails at an offset taken from the input:
// the error ends the scan as a failure with badbit, is met once (no retry),
// and nothing throws (an escaping exception ends the run as a crash).
void checkReadError(const std::string& bytes, const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t failAt = (data[0] | static_cast<size_t>(data[1]) << 8) % (bytes.size() + 1);
  qova::testing::FailingBuffer buffer(bytes, failAt, 1000);
  std::istream in(&buffer);
  qova::QdbHeader h;
  std::vector<int64_t> starts;
  bool ok = qova::readHeader(in, h) && qova::headerIsUsable(h) && qova::indexRecords(in, h, starts);
  require(buffer.throws() <= 1, "a read error is not retried");
  if (buffer.throws() == 0) return;
  require(!ok, "a read error fails the scan");
  require(in.bad(), "a read error leaves badbit");
  std::string line;
  require(qova::readLine(in, line, 16) == qova::LineRead::kFailed, "a failed stream stays failed");
}

// The bank reads from a file; one per process, removed when the run ends.
const std::string& scratchPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("qdb_fuzz_" + std::to_string(getpid()) + ".qdb"))
          .string();
  static const bool removedAtExit = std::atexit([] { std::remove(scratchPath().c_str()); }) == 0;
  (void)removedAtExit;
  return path;
}

void checkBank(const std::string& bytes, const uint8_t* data, size_t size) {
  const std::string& path = scratchPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  qova::QuestionBank bank;
  int32_t loaded = bank.load(path);
  if (loaded <= 0) return;
  require(qova::headerIsUsable({bank.lineBound(), bank.responseCount(), bank.recordCount()}),
          "a loaded header is usable");
  // A few distinct record numbers drawn from the input's first bytes.
  std::set<int32_t> seen;
  std::vector<int32_t> numbers;
  for (size_t i = 0; i < std::min<size_t>(size, 6); ++i) {
    int32_t n = static_cast<int32_t>(data[i] % static_cast<uint32_t>(loaded)) + 1;
    if (seen.insert(n).second) numbers.push_back(n);
  }
  std::vector<qova::ServerQuestionRecord> got = bank.fetch(numbers);
  require(got.size() == numbers.size(), "one record per number");
  for (const qova::ServerQuestionRecord& r : got) {
    require(r.responses.size() == static_cast<size_t>(bank.responseCount()), "server responses");
    require(r.question.size() <= static_cast<size_t>(bank.lineBound()), "server line bound");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  checkStreamReaders(bytes);
  checkReadError(bytes, data, size);
  checkBank(bytes, data, size);
  return 0;
}

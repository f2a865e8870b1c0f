#include "qdb/question_bank.h"

#include <algorithm>
#include <numeric>

namespace qova {

int32_t QuestionBank::load(const std::string& path) {
  if (in_.is_open()) in_.close();
  in_.clear();
  header_ = QdbHeader();
  firstRecordPosition_ = -1;
  recordStart_.clear();

  in_.open(path, std::ios::binary);
  if (!in_.is_open() || in_.fail()) return -1;
  // The whole file is checked here, once: a damaged header or a line longer
  // than the header allows would otherwise make every later round read
  // garbage or empty texts. The index also lets fetch seek straight to a
  // record instead of reading the file from the start every round.
  QdbHeader header;
  std::vector<int64_t> starts;
  if (!readHeader(in_, header) || !headerIsUsable(header) || !indexRecords(in_, header, starts) ||
      starts.empty()) {
    in_.close();
    return -1;
  }
  header_ = header;
  recordStart_ = std::move(starts);
  firstRecordPosition_ = recordStart_.front();
  rewind();
  return header_.recordCount;
}

void QuestionBank::rewind() {
  in_.clear();
  if (firstRecordPosition_ >= 0) in_.seekg(static_cast<std::streamoff>(firstRecordPosition_));
}

std::vector<ServerQuestionRecord> QuestionBank::fetch(const std::vector<int32_t>& numbers) {
  std::vector<ServerQuestionRecord> result;
  fetch(numbers, result);
  return result;
}

bool QuestionBank::fetch(const std::vector<int32_t>& numbers,
                         std::vector<ServerQuestionRecord>& result) {
  ServerQuestionRecord missing;
  missing.responses.assign(static_cast<size_t>(std::max(header_.responseCount, 0)), std::string());
  result.assign(numbers.size(), missing);

  // Read in file order, so records that follow each other need no seek.
  std::vector<size_t> order(numbers.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&numbers](size_t a, size_t b) { return numbers[a] < numbers[b]; });

  // recordStart_ holds one entry per record present plus the end of the data;
  // numbers beyond the records present keep the empty record.
  const int64_t present = static_cast<int64_t>(recordStart_.size()) - 1;
  int64_t next = -1;  // the record the stream stands at, when known
  for (size_t at : order) {
    const int64_t n = numbers[at];
    if (n < 1 || n > present || n > header_.recordCount) continue;
    if (n != next) {
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(recordStart_[static_cast<size_t>(n - 1)]));
    }
    result[at] = readServerRecord(in_, header_.responseCount, header_.lineBound);
    // A read error (the share holding the file dropped) is not a record cut
    // short: the texts of this round cannot be trusted.
    if (in_.bad()) return false;
    next = in_.good() ? n + 1 : -1;
  }
  return true;
}

}  // namespace qova

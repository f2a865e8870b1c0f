// The server's open question database: kept open read-only from load() to
// the end of the run; each round fetches the records it drew.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "qdb/qdb_file.h"

namespace qova {

class QuestionBank {
 public:
  // The header's recordCount, or -1 when the file cannot be opened, is
  // damaged (see docs/decisions/qdb-usable-header.md) or cannot be read (a read error).
  int32_t load(const std::string& path);

  // Clears the stream state and moves to record 1.
  void rewind();

  // One record per number, in the order given, into `records`. Numbers must
  // be distinct and within 1..recordCount; a number beyond the records
  // present gives empty texts. False on a read error of the file; the
  // records read up to it are then not to be used.
  bool fetch(const std::vector<int32_t>& numbers, std::vector<ServerQuestionRecord>& records);
  // The same, for callers that need no report of a read error (records not
  // read keep empty texts).
  std::vector<ServerQuestionRecord> fetch(const std::vector<int32_t>& numbers);

  int32_t lineBound() const { return header_.lineBound; }
  int32_t responseCount() const { return header_.responseCount; }
  int32_t recordCount() const { return header_.recordCount; }
  // The records load found in the file: recordCount at most, fewer when the
  // header claims more than the file holds. A round cannot have more
  // questions than this without asking for records that are not there.
  int32_t recordsPresent() const {
    return recordStart_.empty() ? 0 : static_cast<int32_t>(recordStart_.size() - 1);
  }

 private:
  std::ifstream in_;
  QdbHeader header_;
  int64_t firstRecordPosition_ = -1;
  std::vector<int64_t> recordStart_;  // built by load, so fetch seeks directly
};

}  // namespace qova

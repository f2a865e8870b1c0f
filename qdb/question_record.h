// One multiple-choice question, in the two forms the programs hold it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qova {

// The editor's form. `correct` is the 1-based number of the correct response,
// 0 for none. `erased` mirrors the record store's erasure set and is never
// written to a file.
struct QuestionRecord {
  std::string question;
  std::vector<std::string> responses;
  int32_t correct = 0;
  bool erased = false;
};

// Same number of responses, same `correct`, byte-identical texts; `erased`
// takes no part.
bool operator==(const QuestionRecord& a, const QuestionRecord& b);
inline bool operator!=(const QuestionRecord& a, const QuestionRecord& b) { return !(a == b); }

// The server's form: exactly responseCount responses, and `correct` the first
// character of the record's correct line ('\0' for an empty line), sent to the
// players unchanged.
struct ServerQuestionRecord {
  std::string question;
  std::vector<std::string> responses;
  char correct = '\0';
};

}  // namespace qova

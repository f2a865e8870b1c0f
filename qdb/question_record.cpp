#include "qdb/question_record.h"

namespace qova {

bool operator==(const QuestionRecord& a, const QuestionRecord& b) {
  // Vector equality compares the response counts first, then the texts pair
  // by pair; `erased` is deliberately left out.
  return a.correct == b.correct && a.question == b.question && a.responses == b.responses;
}

}  // namespace qova

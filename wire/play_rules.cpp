#include "wire/play_rules.h"

#include "common/number_format.h"

namespace qova {

double timeLimitSeconds(const std::string& timeLimitText) {
  double limit = parseDecimal(timeLimitText);
  return limit > 0 ? limit : 0;
}

std::string timeoutTimeText(double limitSeconds) { return secondsText(limitSeconds); }

int correctResponseNumber(const Question& question) {
  int n = question.correct - '0';
  return n >= 1 && n <= static_cast<int>(question.responses.size()) ? n : 0;
}

}  // namespace qova

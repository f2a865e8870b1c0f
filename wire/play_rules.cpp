#include "wire/play_rules.h"

#include "common/number_format.h"
#include "wire/player_side.h"

namespace qova {

double timeLimitSeconds(const std::string& timeLimitText) {
  double limit = parseDecimal(timeLimitText);
  return limit > 0 ? limit : 0;
}

std::string timeoutTimeText(double limitSeconds) { return secondsText(limitSeconds); }

}  // namespace qova

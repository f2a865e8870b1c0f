#include "wire/wire.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/number_format.h"

namespace qova {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void appendLine(std::string& out, const std::string& text) {
  out += text;
  out += "\r\n";
}

std::string averageText(float average) {
  if (std::isinf(average)) average = std::copysign(std::numeric_limits<float>::max(), average);
  return formatGcvt(average, 4);
}

bool isCountText(const std::string& text) {
  if (text.empty() || (text[0] == '0' && text.size() > 1)) return false;
  return std::all_of(text.begin(), text.end(), isDigit);
}

bool isAverageText(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  size_t digits = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  size_t intDigits = i - digits;
  // Four digits before the point leave no decimals, and then no point.
  if (intDigits == 4 && i == text.size()) return true;
  if (intDigits == 0 || i == text.size() || text[i] != '.') return false;
  ++i;
  while (i < text.size() && isDigit(text[i])) ++i;
  if (i == text.size()) return true;
  // Exponential form: one digit before the point, e, sign, three digits.
  if (intDigits != 1 || text.size() - i != 5 || text[i] != 'e') return false;
  return (text[i + 1] == '+' || text[i + 1] == '-') && isDigit(text[i + 2]) &&
         isDigit(text[i + 3]) && isDigit(text[i + 4]);
}

bool parseCount(const std::string& text, int* value) {
  if (!isCountText(text) || text.size() > 10) return false;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace qova

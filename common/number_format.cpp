#include "common/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qova {

namespace {

// Significant decimal digits of a finite, non-negative double, rounded to
// `count` digits: `digits` holds exactly `count` characters '0'..'9' and the
// value is about 0.d1d2d3... * 10^(exponent + 1), i.e. d1.d2d3... * 10^exponent.
//
// The digits come from the exact binary value, never from the C library:
// every double is m * 2^k, so it equals either the integer m * 2^k or the
// integer m * 5^-k shifted -k decimal places. A tie in the first dropped digit
// rounds away from zero, which is what the wire's examples (1234.5 -> 1235)
// require.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

// A non-negative integer in base 10^9, least significant limb first.
class BigDecimal {
 public:
  explicit BigDecimal(uint64_t value) {
    do {
      limbs_.push_back(static_cast<uint32_t>(value % kBase));
      value /= kBase;
    } while (value != 0);
  }

  // Multiplies by `factor`, which must stay below 2^32.
  void multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
      limb = static_cast<uint32_t>(product % kBase);
      carry = product / kBase;
    }
    while (carry != 0) {
      limbs_.push_back(static_cast<uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }

  void multiplyByPower(uint32_t base, int exponent, uint32_t chunk, int chunkExponent) {
    for (; exponent >= chunkExponent; exponent -= chunkExponent) multiply(chunk);
    uint32_t rest = 1;
    for (; exponent > 0; --exponent) rest *= base;
    if (rest != 1) multiply(rest);
  }

  std::string text() const {
    std::string out;
    for (size_t i = limbs_.size(); i-- > 0;) {
      char group[9];
      uint32_t limb = limbs_[i];
      for (int d = 8; d >= 0; --d) {
        group[d] = static_cast<char>('0' + limb % 10);
        limb /= 10;
      }
      out.append(group, 9);
    }
    size_t first = out.find_first_not_of('0');
    return first == std::string::npos ? "0" : out.substr(first);
  }

 private:
  static constexpr uint32_t kBase = 1000000000;
  std::vector<uint32_t> limbs_;
};

Decimal roundedDigits(double value, int count) {
  Decimal result;
  if (value == 0) {
    result.digits.assign(count, '0');
    return result;
  }
  int binaryExponent = 0;
  double fraction = std::frexp(value, &binaryExponent);  // value = fraction * 2^binaryExponent
  uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int k = binaryExponent - 53;  // value = mantissa * 2^k exactly
  while (mantissa % 2 == 0 && k < 0) {
    mantissa /= 2;
    ++k;
  }
  BigDecimal exact(mantissa);
  int shift = 0;  // value = exact * 10^-shift
  if (k >= 0) {
    exact.multiplyByPower(2, k, 1u << 31, 31);
  } else {
    exact.multiplyByPower(5, -k, 1220703125u, 13);  // 5^13
    shift = -k;
  }
  std::string all = exact.text();
  result.exponent = static_cast<int>(all.size()) - 1 - shift;
  if (static_cast<int>(all.size()) <= count) {
    result.digits = all + std::string(count - all.size(), '0');
    return result;
  }
  result.digits = all.substr(0, count);
  if (all[count] >= '5') {
    int i = count - 1;
    while (i >= 0 && result.digits[i] == '9') result.digits[i--] = '0';
    if (i >= 0) {
      ++result.digits[i];
    } else {
      // 99..9 carried into a new digit: 10..0 one decade up.
      result.digits[0] = '1';
      ++result.exponent;
    }
  }
  return result;
}

// "e+004" style: sign and at least three digits.
std::string exponentText(int exponent) {
  std::string out = exponent < 0 ? "e-" : "e+";
  std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (digits.size() < 3) out.append(3 - digits.size(), '0');
  return out + digits;
}

// Digits with a point after `integerDigits` of them (leading zeros added when
// that count is zero or negative); no point when no digit is left after it.
std::string placePoint(const std::string& digits, int integerDigits) {
  if (integerDigits <= 0) return "0." + std::string(-integerDigits, '0') + digits;
  if (integerDigits >= static_cast<int>(digits.size())) {
    return digits + std::string(integerDigits - digits.size(), '0');
  }
  return digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
}

void stripZerosAfterPoint(std::string& text, bool keepPoint) {
  if (text.find('.') == std::string::npos) return;
  size_t end = text.find_last_not_of('0');
  text.erase(end + 1);
  if (!keepPoint && text.back() == '.') text.pop_back();
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Common front of both formats: sign, non-finite forms. Returns false with
// `out` complete when no digits are needed.
bool prepare(double& value, std::string& out, double nanAs) {
  if (std::isnan(value)) value = nanAs;
  if (std::isinf(value)) {
    out = value < 0 ? "-inf" : "inf";
    return false;
  }
  if (std::signbit(value)) {
    out = "-";
    value = -value;
  }
  return true;
}

}  // namespace

std::string formatGcvt(double value, int digits) {
  if (digits < 1) digits = 1;
  std::string out;
  if (!prepare(value, out, 0.0)) return out;
  Decimal d = roundedDigits(value, digits);
  std::string body;
  if (d.exponent >= -1 && d.exponent < digits) {
    body = placePoint(d.digits, d.exponent + 1);
    stripZerosAfterPoint(body, true);
  } else {
    body = placePoint(d.digits, 1);
    stripZerosAfterPoint(body, true);
    body += exponentText(d.exponent);
  }
  return out + body;
}

std::string formatGeneral(double value, int precision) {
  if (precision < 1) precision = 1;
  std::string out;
  if (!prepare(value, out, 0.0)) return out;
  Decimal d = roundedDigits(value, precision);
  std::string body;
  if (d.exponent >= -4 && d.exponent < precision) {
    body = placePoint(d.digits, d.exponent + 1);
    stripZerosAfterPoint(body, false);
  } else {
    body = placePoint(d.digits, 1);
    stripZerosAfterPoint(body, false);
    body += exponentText(d.exponent);
  }
  return out + body;
}

double parseDecimal(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (isBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* start = p;  // the unsigned number handed to from_chars
  const char* firstNonZero = nullptr;
  int integerDigits = 0;  // digits before the point, leading zeros excluded
  int leadingFractionZeros = 0;
  bool anyDigit = false;
  for (; isDigit(*p); ++p) {
    anyDigit = true;
    if (firstNonZero == nullptr && *p != '0') firstNonZero = p;
    if (firstNonZero != nullptr) ++integerDigits;
  }
  if (*p == '.') {
    ++p;
    for (; isDigit(*p); ++p) {
      anyDigit = true;
      if (firstNonZero == nullptr) {
        if (*p != '0')
          firstNonZero = p;
        else
          ++leadingFractionZeros;
      }
    }
  }
  if (!anyDigit) return 0;
  long long exponent = 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    bool negativeExponent = false;
    if (*q == '+' || *q == '-') negativeExponent = *q++ == '-';
    if (isDigit(*q)) {
      for (; isDigit(*q); ++q) {
        if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
      }
      if (negativeExponent) exponent = -exponent;
      p = q;
    }
  }
  if (firstNonZero == nullptr) return negative ? -0.0 : 0.0;
  // The prefix [start, p) is plain decimal text now: digits, at most one
  // point, an exponent with digits. from_chars reads exactly that, correctly
  // rounded and without regard to the locale.
  double magnitude = 0;
  auto [end, error] = std::from_chars(start, p, magnitude, std::chars_format::general);
  if (error == std::errc::result_out_of_range || end != p) {
    // Decimal exponent of the first significant digit decides: too large
    // gives infinity, as atof does, too small gives zero.
    long long decade =
        (integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
    magnitude = decade > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -magnitude : magnitude;
}

int32_t parseLeadingInt(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (isBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; isDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace qova

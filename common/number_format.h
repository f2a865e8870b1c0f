// Number texts that must be the same bytes on every platform. The C library's
// printf and gcvt disagree across platforms (exponent digits, rounding), so
// these are written here and never delegated to it.
#pragma once

#include <cstdint>
#include <string>

namespace qova {

// gcvt-style text with `digits` significant digits, as the wire uses it with
// 4: fixed notation when the decimal exponent e of the rounded value lies in
// -1..digits-1 (digits-1-e decimals, so no point at all when that is 0), else
// d.ddde+XXX with three exponent digits; trailing zeros after the point are
// removed but the point stays. Digits are rounded from the double's exact
// value, a tie away from zero (in both functions here).
//   12 -> "12."   3.25 -> "3.25"   0.5 -> "0.5"   1234.5 -> "1235"
//   12345 -> "1.235e+004"   0.05 -> "5.e-002"   9999.5 -> "1.e+004"
// Non-finite values never reach the C library: NaN is written as 0 would be
// ("0." here, "0" in formatGeneral), infinities as "inf" and "-inf".
std::string formatGcvt(double value, int digits);

// printf("%.<precision>g") with a three-digit exponent, as the results file
// uses it with 3: "4", "12.3", "1.23e+003", "1e-005".
std::string formatGeneral(double value, int precision);

// atof: skips leading white space, takes the longest prefix that forms a
// decimal floating-point number (sign, digits, point, exponent), 0 when there
// is none. No hexadecimal forms and no "inf"/"nan" words.
double parseDecimal(const char* text);
inline double parseDecimal(const std::string& text) { return parseDecimal(text.c_str()); }

// atoi: leading white space, optional sign, decimal digits up to the first
// other character; 0 without digits. Values beyond 32 bits are clamped.
int32_t parseLeadingInt(const char* text);
inline int32_t parseLeadingInt(const std::string& text) { return parseLeadingInt(text.c_str()); }

}  // namespace qova

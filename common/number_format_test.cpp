#include "common/number_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

namespace qova {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct FormatCase {
  double value;
  int digits;
  const char* text;
};

TEST(NumberFormat, GcvtForm) {
  const FormatCase cases[] = {
      {12, 4, "12."},
      {3.25, 4, "3.25"},
      {0.5, 4, "0.5"},
      {1234.5, 4, "1235"},  // a tie on the exact value rounds away from zero
      {12345, 4, "1.235e+004"},
      {0.05, 4, "5.e-002"},
      {9999.5, 4, "1.e+004"},  // rounding carries into a fifth digit
      {9999.4, 4, "9999"},     // no decimals left, so no point
      {1000, 4, "1000"},
      {100, 4, "100."},
      {123.456, 4, "123.5"},
      {0.1, 4, "0.1"},
      {0.099996, 4, "0.1"},  // carries up into the fixed range
      {0.015625, 4, "1.563e-002"},
      {0, 4, "0."},
      {-2.5, 4, "-2.5"},
      {-0.0, 4, "-0."},
      {0.125, 2, "0.13"},
      {2.675, 3, "2.67"},  // the double lies just below 2.675
      {1e100, 4, "1.e+100"},
      {1.5e-300, 4, "1.5e-300"},
      {DBL_MAX, 4, "1.798e+308"},
      {4.9406564584124654e-324, 4, "4.941e-324"},
      {kInf, 4, "inf"},
      {-kInf, 4, "-inf"},
      {kNaN, 4, "0."},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(formatGcvt(c.value, c.digits), c.text) << c.value;
  }
}

TEST(NumberFormat, GeneralForm) {
  const FormatCase cases[] = {
      {4, 3, "4"},
      {12.345, 3, "12.3"},
      {1234.5, 3, "1.23e+003"},
      {3.9375, 3, "3.94"},
      {75, 3, "75"},
      {100, 3, "100"},
      {123, 3, "123"},
      {999.5, 3, "1e+003"},
      {99.95, 3, "100"},
      {0.5, 3, "0.5"},
      {1.125, 3, "1.13"},
      {0.0001, 3, "0.0001"},
      {0.00001, 3, "1e-005"},
      {66.666666, 3, "66.7"},
      {0, 3, "0"},
      {-0.25, 3, "-0.25"},
      {kInf, 3, "inf"},
      {kNaN, 3, "0"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(formatGeneral(c.value, c.digits), c.text) << c.value;
  }
}

TEST(NumberFormat, ParseDecimal) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"3.25", 3.25},
      {"  -1.5e2xyz", -150},
      {"\t\n 2", 2},
      {"+7", 7},
      {".5", 0.5},
      {"5.", 5},
      {"1e", 1},
      {"1e+", 1},
      {"2E-1", 0.2},
      {"1.5 seconds", 1.5},
      {"12,5", 12},  // never the locale's decimal comma
      {"0x1p3", 0},
      {"inf", 0},
      {"nan", 0},
      {".", 0},
      {"-", 0},
      {"", 0},
      {"abc", 0},
      {"0.1", 0.1},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1e-400", 0},
      {"2.4e-324", 0},
      {"0e99999999999", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseDecimal(c.text), c.value) << c.text;
  }
  EXPECT_EQ(parseDecimal("1" + std::string(400, '0')), kInf);
  EXPECT_EQ(parseDecimal("0." + std::string(400, '0') + "1"), 0);
  EXPECT_EQ(parseDecimal(nullptr), 0);
}

TEST(NumberFormat, ParseLeadingInt) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"42", 42},
      {"  -7x", -7},
      {"+3", 3},
      {" 3 4", 3},
      {"x", 0},
      {"", 0},
      {"- 1", 0},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseLeadingInt(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace qova

#include "web/seat/text_codec.h"

#include <gtest/gtest.h>

namespace qova::web {
namespace {

TEST(WebTextCodec, RoundTripsEveryDefinedByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) {
    if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) continue;
    all += static_cast<char>(c);
  }
  std::string back;
  ASSERT_TRUE(utf8ToCp1252(cp1252ToUtf8(all), &back));
  EXPECT_EQ(back, all);
  EXPECT_EQ(cp1252ToUtf8("\x80\x81\xE9"), "\xE2\x82\xAC\xEF\xBF\xBD\xC3\xA9");
}

TEST(WebTextCodec, RefusesBrokenUtf8AndMissingCharacters) {
  const char* bad[] = {"\xC3",
                       "\xC0\xAF",
                       "\xED\xA0\x80",  // cut, overlong, surrogate
                       "\xF4\x90\x80\x80",
                       "\xE2\x82",
                       "\xFF",
                       "\xE4\xB8\xAD",
                       "\xF0\x9F\x98\x80"};  // 中, an emoji
  for (const char* text : bad) {
    std::string out;
    EXPECT_FALSE(utf8ToCp1252(text, &out)) << text;
  }
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(WebTextCodec, NameRules) {
  struct Case {
    std::string in;
    std::string message;  // empty: accepted
    std::string wire;
  } cases[] = {
      {"Ann", "", "Ann"},
      {"  Ann Bo  ", "", "Ann Bo"},
      {"Zo\xC3\xAB \xE2\x82\xAC", "", "Zo\xEB \x80"},
      {"", "Please enter a name.", ""},
      {"    ", "Please enter a name.", ""},
      {"Ann\r\nBo", "A name cannot hold control characters.", ""},
      {"A\tB", "A name cannot hold control characters.", ""},
      {"A\xC2\x85"
       "B",
       "A name cannot hold control characters.", ""},  // U+0085
      {std::string(40, 'x'), "", std::string(40, 'x')},
      {std::string(41, 'x'), "A name can be at most 40 characters long.", ""},
      // 40 characters, half of them two bytes long in UTF-8
      {std::string(20, 'x') + repeat("\xC3\xA9", 20), "",
       std::string(20, 'x') + std::string(20, '\xE9')},
      {repeat("\xC3\xA9", 41), "A name can be at most 40 characters long.", ""},
      {"\xE4\xB8\xAD", "That name holds characters the quiz cannot show.", ""},
      // No-break spaces are spaces; invisible characters are refused.
      {"\xC2\xA0"
       "Ann\xC2\xA0",
       "", "Ann"},
      {"Ann\xC2\xA0"
       "Bo",
       "", "Ann Bo"},
      {"\xC2\xA0\xC2\xA0", "Please enter a name.", ""},
      {"A\xC2\xADnn", "A name cannot hold invisible characters.", ""},
      {"\xC2\xAD\xC2\xAD", "A name cannot hold invisible characters.", ""},
      {"Ann\xE2\x80\x8B", "A name cannot hold invisible characters.", ""},
      {"\xEF\xBB\xBF"
       "Ann",
       "A name cannot hold invisible characters.", ""},
      {"\xFF", "That name is not valid text.", ""},
  };
  for (const Case& c : cases) {
    std::string wire;
    EXPECT_EQ(checkName(c.in, &wire), c.message) << c.in;
    if (c.message.empty()) {
      EXPECT_EQ(wire, c.wire) << c.in;
    }
  }
}

TEST(WebTextCodec, FoldsCaseAcrossTheCodePage) {
  EXPECT_EQ(foldCase("ANN"), foldCase("ann"));
  EXPECT_EQ(foldCase("\xC9LISE"), "\xE9lise");  // Élise
  EXPECT_EQ(foldCase("\x8A\x9F"), "\x9A\xFF");  // Š Ÿ
  EXPECT_EQ(foldCase("\xD7"), "\xD7");          // the multiplication sign has no case
}

TEST(WebTextCodec, NamesClashAfterFolding) {
  EXPECT_EQ(foldName("Ann  BO"), foldName("ann bo"));
  EXPECT_NE(foldName("Ann"), foldName("Anne"));
  std::string a, b;
  ASSERT_EQ(checkName("\xC2\xA0"
                      "Ann",
                      &a),
            "");
  ASSERT_EQ(checkName("ANN", &b), "");
  EXPECT_EQ(foldName(a), foldName(b));
}

TEST(WebTextCodec, OtherPlayersTextsAreClippedForDisplay) {
  struct Case {
    std::string text;
    size_t max;
    std::string shown;
  } cases[] = {
      {"Ann", 40, "Ann"},
      {std::string(40, 'a'), 40, std::string(40, 'a')},
      {std::string(1024, '\x01'), 40, std::string(39, '\x01') + "\x85"},
      {"12345.678901234", 12, "12345.67890\x85"},
  };
  for (const Case& c : cases) EXPECT_EQ(clipForDisplay(c.text, c.max), c.shown) << c.text;
}

}  // namespace
}  // namespace qova::web

#include "web/page_message.h"

#include <gtest/gtest.h>

namespace qova::web {
namespace {

bool parse(const std::string& text, PageRequest* r) {
  return parsePageMessage(text.data(), text.size(), r);
}

TEST(WebPageMessage, ReadsTheThreeKinds) {
  PageRequest r;
  ASSERT_TRUE(parse("{\"t\":\"join\",\"name\":\"Zo\xC3\xAB\"}", &r));
  EXPECT_EQ(r.kind, PageRequest::kJoin);
  EXPECT_EQ(r.name, "Zo\xC3\xAB");
  ASSERT_TRUE(parse("{\"t\":\"resume\",\"token\":\"0123456789abcdef0123456789abcdef\"}", &r));
  EXPECT_EQ(r.kind, PageRequest::kResume);
  ASSERT_TRUE(parse("{\"choice\":2,\"t\":\"answer\",\"q\":7,\"extra\":null}", &r));
  EXPECT_EQ(r.kind, PageRequest::kAnswer);
  EXPECT_EQ(r.q, 7);
  EXPECT_EQ(r.choice, 2);
}

TEST(WebPageMessage, RefusesWhatIsNotOfTheAppsForm) {
  const char* bad[] = {
      "",
      "null",
      "[]",
      "\"join\"",
      "{\"t\":\"join\"}",
      "{\"t\":\"join\",\"name\":5}",
      "{\"t\":\"leave\"}",
      "{\"t\":1}",
      "{\"name\":\"Ann\"}",
      "{\"t\":\"resume\",\"token\":\"0123\"}",
      "{\"t\":\"resume\",\"token\":\"0123456789ABCDEF0123456789abcdef\"}",
      "{\"t\":\"resume\",\"token\":\"0123456789abcdef0123456789abcdeg\"}",
      "{\"t\":\"answer\",\"q\":7}",
      "{\"t\":\"answer\",\"q\":7,\"choice\":0}",
      "{\"t\":\"answer\",\"q\":7,\"choice\":65}",
      "{\"t\":\"answer\",\"q\":7,\"choice\":2.5}",
      "{\"t\":\"answer\",\"q\":7,\"choice\":\"2\"}",
      "{\"t\":\"answer\",\"q\":0,\"choice\":2}",
      "{\"t\":\"answer\",\"q\":-3,\"choice\":2}",
      "{\"t\":\"answer\",\"q\":18446744073709551615,\"choice\":2}",
      "{\"t\":\"answer\",\"q\":1e400,\"choice\":2}",
      "{\"t\":\"join\",\"name\":\"Ann\"",
      "{\"t\":\"join\",\"name\":\"Ann\"} x",
      "{\"t\":\"join\",\"name\":\"\xFF\"}",
  };
  for (const char* text : bad) {
    PageRequest r;
    EXPECT_FALSE(parse(text, &r)) << text;
  }
  PageRequest r;
  std::string big = "{\"t\":\"join\",\"name\":\"" + std::string(kMaxPageMessage, 'a') + "\"}";
  EXPECT_FALSE(parse(big, &r));
  std::string deep = std::string(4000, '[') + std::string(4000, ']');
  EXPECT_FALSE(parse(deep, &r));
}

TEST(WebPageMessage, JsonStringsReplaceBytesThatAreNotUtf8) {
  EXPECT_EQ(jsonString("a\"b\n"), "\"a\\\"b\\n\"");
  EXPECT_EQ(jsonString("x\xFFy"), "\"x\xEF\xBF\xBDy\"");
}

}  // namespace
}  // namespace qova::web

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

// The messages whose bytes no seat test reads back whole.
TEST(WebPageMessage, GatewayMessagesByteForByte) {
  auto rows = std::make_shared<const std::string>("[{\"rank\":1}]");
  struct Case {
    PageText text;
    const char* bytes;
  } cases[] = {
      {pageRefused("That name is already taken."),
       "{\"t\":\"refused\",\"message\":\"That name is already taken.\"}"},
      {pageUnknown(), "{\"t\":\"unknown\"}"},
      {pageLobby(), "{\"t\":\"lobby\"}"},
      {pageEnded("Over.", nullptr, -1),
       "{\"t\":\"ended\",\"message\":\"Over.\",\"rows\":[],\"me\":-1}"},
      {pageEnded("Over.", rows, 0),
       "{\"t\":\"ended\",\"message\":\"Over.\",\"rows\":[{\"rank\":1}],\"me\":0}"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text.str(), c.bytes);
  EXPECT_EQ(infoJson({"http://10.0.0.2:8080/", "http://10.0.0.3:8080/"}, "10.0.0.9", 3, 1000),
            "{\"links\":[\"http://10.0.0.2:8080/\",\"http://10.0.0.3:8080/\"],"
            "\"server\":\"10.0.0.9\",\"seats\":3,\"maxSeats\":1000}");
  EXPECT_EQ(infoJson({}, "127.0.0.1", 0, 5),
            "{\"links\":[],\"server\":\"127.0.0.1\",\"seats\":0,\"maxSeats\":5}");
}

}  // namespace
}  // namespace qova::web

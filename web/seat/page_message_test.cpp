#include "web/seat/page_message.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
  ASSERT_TRUE(parse("{\"t\":\"rows\",\"of\":\"standings\",\"from\":200}", &r));
  EXPECT_EQ(r.kind, PageRequest::kRows);
  EXPECT_TRUE(r.standings);
  EXPECT_EQ(r.from, 200);
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
      "{\"t\":\"rows\",\"of\":\"results\"}",
      "{\"t\":\"rows\",\"of\":\"all\",\"from\":0}",
      "{\"t\":\"rows\",\"of\":\"results\",\"from\":-1}",
      "{\"t\":\"rows\",\"of\":\"results\",\"from\":4294967296}",
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
  StandingsDigest board = digestStandings({{"Bo", 1, "2.5", 1, 3, "2.5", 4}});
  auto shared = std::make_shared<const std::string>(standingsShared(board));
  struct Case {
    PageText text;
    const char* bytes;
  } cases[] = {
      {pageRefused("That name is already taken."),
       "{\"t\":\"refused\",\"message\":\"That name is already taken.\"}"},
      {pageUnknown(), "{\"t\":\"unknown\"}"},
      {pageLobby(), "{\"t\":\"lobby\"}"},
      {pageEnded("Over.", nullptr, nullptr, -1),
       "{\"t\":\"ended\",\"message\":\"Over.\",\"players\":0,\"rows\":[],\"me\":-1,"
       "\"mine\":null}"},
      {pageEnded("Over.", &board, shared, 0),
       "{\"t\":\"ended\",\"message\":\"Over.\",\"players\":1,\"rows\":[{\"i\":0,"
       "\"rank\":1,\"name\":\"Bo\",\"correct\":3,\"answers\":4,\"average\":\"2.5\"}],"
       "\"me\":0,\"mine\":{\"i\":0,\"rank\":1,\"name\":\"Bo\",\"correct\":3,\"answers\":4,"
       "\"average\":\"2.5\"}}"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text.str(), c.bytes);
  EXPECT_EQ(infoJson({"http://10.0.0.2:8080/", "http://10.0.0.3:8080/"}, "10.0.0.9", 3, 1000),
            "{\"links\":[\"http://10.0.0.2:8080/\",\"http://10.0.0.3:8080/\"],"
            "\"server\":\"10.0.0.9\",\"seats\":3,\"maxSeats\":1000}");
  EXPECT_EQ(infoJson({}, "127.0.0.1", 0, 5),
            "{\"links\":[],\"server\":\"127.0.0.1\",\"seats\":0,\"maxSeats\":5}");
}

// Rooms of every size, names of the longest kind (control characters take
// six bytes each in JSON), the seat's own row at the top, in the middle, at
// the end and absent: every message stays under its bound and carries the
// right counts and own row.
TEST(WebPageMessage, ResultAndStandingMessagesAreBoundedWhateverTheRoom) {
  const std::string longName(200, '\x01');
  for (int n : {1, 40, 41, 1024, 100000}) {
    auto entries = std::make_shared<std::vector<ResultEntry>>();
    std::vector<SummaryEntry> summary;
    for (int i = 0; i < n; ++i) {
      std::string name = longName + std::to_string(i);
      entries->push_back({name, i % 3 ? "1.25" : "123456789.123456", i % 2 == 0});
      summary.push_back({name, 1, "1.5", 1, i % 5, "1234567.12345678", 10});
    }
    ResultDigest results = digestResults(entries);
    StandingsDigest board = digestStandings(summary);
    auto rShared = std::make_shared<const std::string>(resultsShared(results));
    auto bShared = std::make_shared<const std::string>(standingsShared(board));
    for (int me : {0, n / 2, n - 1, -1}) {
      SCOPED_TRACE(std::to_string(n) + " players, own row " + std::to_string(me));
      Question question;
      PageText r = pageResults(7, question, 2, results, rShared, me);
      EXPECT_LE(r.size(), kMaxResultsMessage);
      nlohmann::json j = nlohmann::json::parse(r.str());
      EXPECT_EQ(j["players"], n);
      EXPECT_EQ(j["right"], (n + 1) / 2);
      EXPECT_EQ(j["all"], n <= kInlineRows);
      EXPECT_EQ(j["rows"].size(), n <= kInlineRows ? n : std::min(kFastestRows, (n + 1) / 2));
      EXPECT_EQ(j["me"], me);
      if (me >= 0) {
        EXPECT_EQ(j["mine"]["i"], me);
        EXPECT_EQ(j["mine"]["name"].get<std::string>().size(), kMaxShownName - 1 + 3);
      } else {
        EXPECT_TRUE(j["mine"].is_null());
      }
      PageText b = pageLeaderboard(2, board, bShared, me);
      EXPECT_LE(b.size(), kMaxStandingsMessage);
      j = nlohmann::json::parse(b.str());
      EXPECT_EQ(j["players"], n);
      EXPECT_EQ(j["rows"].size(), n <= kInlineRows ? n : kTopRows);
      EXPECT_EQ(j["rows"][0]["rank"], 1);
      if (me >= 0) {
        EXPECT_EQ(j["mine"]["rank"], board.places[static_cast<size_t>(me)]);
      }
      EXPECT_LE(pageEnded("Over.", &board, bShared, me).size(), kMaxStandingsMessage);
    }
  }
}

// The pages of all rows: first, middle and last page, one past the end.
TEST(WebPageMessage, RowsInPagesOfBoundedSize) {
  const int n = 1024;
  auto entries = std::make_shared<std::vector<ResultEntry>>();
  std::vector<SummaryEntry> summary;
  for (int i = 0; i < n; ++i) {
    entries->push_back({std::string(60, 'x') + std::to_string(i), "1.00", true});
    summary.push_back({"P" + std::to_string(i), 0, "0", 0, i, "2", n});
  }
  ResultDigest results = digestResults(entries);
  StandingsDigest board = digestStandings(summary);
  struct Case {
    int64_t from;
    size_t rows;
  } cases[] = {{0, 100}, {500, 100}, {1000, 24}, {1023, 1}, {1024, 0}, {INT32_MAX, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    PageText r = pageResultRows(3, results, c.from, 5);
    EXPECT_LE(r.size(), kMaxRowsMessage);
    nlohmann::json j = nlohmann::json::parse(r.str());
    EXPECT_EQ(j["of"], "results");
    EXPECT_EQ(j["q"], 3);
    EXPECT_EQ(j["total"], n);
    EXPECT_EQ(j["from"], c.from);
    EXPECT_EQ(j["me"], 5);
    ASSERT_EQ(j["rows"].size(), c.rows);
    if (c.rows) {
      EXPECT_EQ(j["rows"][0]["i"], c.from);
      EXPECT_EQ(j["rows"][0]["name"].get<std::string>().size(), kMaxShownName - 1 + 3);
    }
    PageText s = pageStandingRows(2, board, c.from, -1);
    EXPECT_LE(s.size(), kMaxRowsMessage);
    j = nlohmann::json::parse(s.str());
    ASSERT_EQ(j["rows"].size(), c.rows);
    // Leaderboard order: the most correct first.
    if (c.rows) {
      EXPECT_EQ(j["rows"][0]["correct"], n - 1 - c.from);
    }
  }
}

}  // namespace
}  // namespace qova::web

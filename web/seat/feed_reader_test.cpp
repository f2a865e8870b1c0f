// The room feed's reader: each message read whole, in one piece or byte by
// byte; each fault and bound ending the reading.
#include "web/seat/feed_reader.h"

#include <gtest/gtest.h>

#include "wire/wire.h"

namespace qova::web {
namespace {

const std::string kHello = std::string(kRoomFeedGreeting) + "SETTINGS\t30\t10\t4\r\n";

std::vector<FeedMessage> readAll(const std::string& bytes, bool byteByByte, FeedReader* reader) {
  std::vector<FeedMessage> out;
  if (byteByByte) {
    for (char c : bytes) {
      if (!reader->feed(&c, 1, &out)) break;
    }
  } else {
    reader->feed(bytes.data(), bytes.size(), &out);
  }
  return out;
}

TEST(FeedReader, ReadsEveryMessageWholeInOnePieceOrByteByByte) {
  const std::string game = kHello +
                           "JOIN\t1\tAda\r\n"
                           "JOIN\t2\tBrook Lee\r\n"
                           "DROP\t2\r\n"
                           "REMOVE\t1\r\n"
                           "START\t2\r\n"
                           "QUESTION\t1\t3\t10\t30\tWhat is 2 + 2?\t3\t4\t5\t22\r\n"
                           "ANSWERS\t1\t1\r\n"
                           "RESULTS\t2\t2\r\n1\t1.25\tr\r\n2\t4.50\tw\r\n"
                           "SUMMARY\t1\t1\r\n1\t1\t1.25\t1\t3\t2.5\t4\r\n"
                           "RESULTS\t\t0\r\n"
                           "END\r\n";
  for (bool bytewise : {false, true}) {
    SCOPED_TRACE(bytewise ? "byte by byte" : "in one piece");
    FeedReader reader;
    std::vector<FeedMessage> m = readAll(game, bytewise, &reader);
    ASSERT_FALSE(reader.broken()) << reader.error();
    ASSERT_EQ(m.size(), 12u);
    EXPECT_EQ(m[11].kind, FeedKind::kEnd);
    EXPECT_EQ(m[0].kind, FeedKind::kSettings);
    EXPECT_EQ(m[0].timeLimitText, "30");
    EXPECT_EQ(m[0].questionsPerRound, 10);
    EXPECT_EQ(m[0].responseCount, 4);
    EXPECT_EQ(m[1].kind, FeedKind::kJoin);
    EXPECT_EQ(m[1].player, 1);
    EXPECT_EQ(m[2].name, "Brook Lee");
    EXPECT_EQ(m[3].kind, FeedKind::kDrop);
    EXPECT_EQ(m[3].player, 2);
    EXPECT_EQ(m[4].kind, FeedKind::kRemove);
    EXPECT_EQ(m[5].kind, FeedKind::kStart);
    EXPECT_EQ(m[5].count, 2);
    const FeedMessage& q = m[6];
    EXPECT_EQ(q.kind, FeedKind::kQuestion);
    EXPECT_EQ(q.round, 1);
    EXPECT_EQ(q.number, 3);
    EXPECT_EQ(q.questionsPerRound, 10);
    EXPECT_EQ(q.text, "What is 2 + 2?");
    EXPECT_EQ(q.responses, (std::vector<std::string>{"3", "4", "5", "22"}));
    EXPECT_EQ(m[7].received, 1);
    EXPECT_EQ(m[7].awaited, 1);
    const FeedMessage& r = m[8];
    EXPECT_EQ(r.kind, FeedKind::kResults);
    EXPECT_EQ(r.correct, 2);
    ASSERT_EQ(r.results.size(), 2u);
    EXPECT_EQ(r.results[1].player, 2);
    EXPECT_EQ(r.results[1].timeText, "4.50");
    EXPECT_FALSE(r.results[1].right);
    EXPECT_TRUE(r.results[0].right);
    const FeedMessage& s = m[9];
    ASSERT_EQ(s.summary.size(), 1u);
    EXPECT_EQ(s.round, 1);
    EXPECT_EQ(s.summary[0].totalRight, 3);
    EXPECT_EQ(s.summary[0].totalAverage, "2.5");
    EXPECT_EQ(m[10].kind, FeedKind::kResults);
    EXPECT_EQ(m[10].correct, 0);
    EXPECT_TRUE(m[10].results.empty());
  }
}

TEST(FeedReader, NothingBeforeTheLineIsWhole) {
  FeedReader reader;
  std::vector<FeedMessage> out;
  std::string partial = kHello + "JOIN\t1\tAd";
  ASSERT_TRUE(reader.feed(partial.data(), partial.size(), &out));
  EXPECT_EQ(out.size(), 1u);
  // A lone LF belongs to the text; the row of a list completes it only whole.
  std::string rest = "a\nb\r\nRESULTS\t1\t1\r\n";
  ASSERT_TRUE(reader.feed(rest.data(), rest.size(), &out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].name, "Ada\nb");
}

struct Bad {
  const char* what;
  std::string bytes;  // after the greeting, unless `raw`
  const char* error;  // a part of the reason
  bool raw = false;
};

TEST(FeedReader, AFaultEndsTheReading) {
  const std::string longName(kMaxNameBytes + 1, 'n');
  const Bad cases[] = {
      {"a browser's request", "GET / HTTP/1.1\r\n", "greeting", true},
      {"another version", "QOVA ROOM FEED\t2\r\n", "greeting", true},
      {"a line before SETTINGS", "JOIN\t1\tAda\r\n", "before SETTINGS"},
      {"SETTINGS twice", "SETTINGS\t30\t10\t4\r\nSETTINGS\t30\t10\t4\r\n", "twice"},
      {"no responses", "SETTINGS\t30\t10\t0\r\n", "responses"},
      {"too many responses", "SETTINGS\t30\t10\t65\r\n", "responses"},
      {"an unknown message", "SETTINGS\t30\t10\t4\r\nHELLO\r\n", "unknown"},
      {"player 0", "SETTINGS\t30\t10\t4\r\nJOIN\t0\tAda\r\n", "player number"},
      {"a signed number", "SETTINGS\t30\t10\t4\r\nDROP\t+1\r\n", "player number"},
      {"a leading zero", "SETTINGS\t30\t10\t4\r\nDROP\t01\r\n", "player number"},
      {"an empty name", "SETTINGS\t30\t10\t4\r\nJOIN\t1\t\r\n", "name"},
      {"a name past the server's bound", "SETTINGS\t30\t10\t4\r\nJOIN\t1\t" + longName + "\r\n",
       "name"},
      {"an extra field", "SETTINGS\t30\t10\t4\r\nSTART\t2\tx\r\n", "START"},
      {"a response short", "SETTINGS\t30\t10\t4\r\nQUESTION\t1\t1\t10\t30\tQ\ta\tb\tc\r\n",
       "responses"},
      {"a number past the round", "SETTINGS\t30\t2\t1\r\nQUESTION\t1\t3\t2\t30\tQ\ta\r\n",
       "number in the round"},
      {"a negative count", "SETTINGS\t30\t10\t4\r\nANSWERS\t-1\t2\r\n", "counts"},
      {"a verdict other than r or w", "SETTINGS\t30\t10\t4\r\nRESULTS\t1\t1\r\n1\t2.0\tx\r\n",
       "row"},
      {"a row short", "SETTINGS\t30\t10\t4\r\nRESULTS\t1\t2\r\n1\t2.0\tr\r\nEND\r\n", "row"},
      {"an empty time", "SETTINGS\t30\t10\t4\r\nRESULTS\t1\t1\r\n1\t\tr\r\n", "row"},
      {"a correct response that is no number", "SETTINGS\t30\t10\t4\r\nRESULTS\tb\t0\r\n",
       "correct"},
      {"a summary average of another form",
       "SETTINGS\t30\t10\t4\r\nSUMMARY\t1\t1\r\n1\t1\t2,5\t1\t1\t2.5\t1\r\n", "SUMMARY"},
      {"more right than answered",
       "SETTINGS\t30\t10\t4\r\nSUMMARY\t1\t1\r\n1\t2\t2.5\t1\t2\t2.5\t1\r\n", "SUMMARY"},
      {"a list past the players' bound",
       "SETTINGS\t30\t10\t4\r\nRESULTS\t1\t" + std::to_string(kMaxListedPlayers + 1) + "\r\n",
       "player count"},
      {"anything after END", "SETTINGS\t30\t10\t4\r\nEND\r\nSTART\t1\r\n", "after END"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.what);
    FeedReader reader;
    std::string bytes = c.raw ? c.bytes : std::string(kRoomFeedGreeting) + c.bytes;
    std::vector<FeedMessage> out;
    EXPECT_FALSE(reader.feed(bytes.data(), bytes.size(), &out));
    ASSERT_TRUE(reader.broken());
    EXPECT_NE(reader.error().find(c.error), std::string::npos) << reader.error();
    // Nothing more is taken once broken.
    std::string more = "END\r\n";
    size_t had = out.size();
    EXPECT_FALSE(reader.feed(more.data(), more.size(), &out));
    EXPECT_EQ(out.size(), had);
  }
}

TEST(FeedReader, LinesAreBoundedBeforeTheyAreWhole) {
  struct Case {
    const char* what;
    std::string head;  // the line's beginning
    size_t bound;      // the most its line may hold
  } cases[] = {
      {"greeting", "", kMaxFeedShortLine},
      {"short line", "ANSWERS\t", kMaxFeedShortLine},
      {"join", "JOIN\t1\t", maxFeedJoinLine()},
      {"question", "QUESTION\t1\t1\t10\t30\t", maxFeedQuestionLine()},
      {"results row", "RESULTS\t1\t1\r\n1\t", maxFeedResultRow()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool over : {false, true}) {
      FeedReader reader;
      std::string prefix = c.head.empty() ? "" : kHello + c.head;
      size_t lineEnd = prefix.rfind("\r\n");
      size_t lineStart = lineEnd == std::string::npos ? 0 : lineEnd + 2;
      // A line under way may reach its bound and the CR LF still to come.
      size_t fill = c.bound + 2 + (over ? 1 : 0) - (prefix.size() - lineStart);
      std::string bytes = prefix + std::string(fill, 'x');
      std::vector<FeedMessage> out;
      // Fed in pieces, as a socket delivers it: the bound holds before any
      // line end arrives.
      bool ok = true;
      for (size_t at = 0; at < bytes.size() && ok; at += 65536) {
        ok = reader.feed(bytes.data() + at, std::min<size_t>(65536, bytes.size() - at), &out);
      }
      EXPECT_EQ(ok, !over) << reader.error();
      if (over) {
        EXPECT_NE(reader.error().find("bound"), std::string::npos);
      }
    }
  }
}

}  // namespace
}  // namespace qova::web

namespace qova::web {
namespace {

TEST(FeedReader, ReadsTheHoldAndTheAnswersToCommands) {
  FeedReader reader;
  std::vector<FeedMessage> m = readAll(std::string(kRoomFeedGreeting) +
                                           "DONE\t12\r\n"  // an answer may come before SETTINGS
                                           "SETTINGS\t30\t10\t4\r\nHOLD\t1\t0\r\nHOLD\t0\t1\r\n"
                                           "REFUSED\t999999999\tNo question is out.\r\n",
                                       false, &reader);
  ASSERT_FALSE(reader.broken()) << reader.error();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[0].kind, FeedKind::kDone);
  EXPECT_EQ(m[0].tag, 12);
  EXPECT_TRUE(isCommandAnswer(m[0]));
  EXPECT_EQ(m[2].kind, FeedKind::kHold);
  EXPECT_TRUE(m[2].held);
  EXPECT_FALSE(m[2].holdAfterRound);
  EXPECT_FALSE(m[3].held);
  EXPECT_TRUE(m[3].holdAfterRound);
  EXPECT_FALSE(isCommandAnswer(m[3]));
  EXPECT_EQ(m[4].kind, FeedKind::kRefused);
  EXPECT_EQ(m[4].tag, 999999999);
  EXPECT_EQ(m[4].reason, "No question is out.");
}

TEST(FeedReader, AMalformedHoldOrAnswerBreaksTheFeed) {
  const char* bad[] = {"HOLD\t2\t0",     "HOLD\t1",    "HOLD\t1\t0\t1",    "HOLD\t\t0",
                       "DONE\t0",        "DONE",       "DONE\t1234567890", "DONE\tx",
                       "DONE\t5\textra", "REFUSED\t5", "REFUSED\t5\t",     "REFUSED\t\tWhy"};
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    FeedReader reader;
    readAll(kHello + line + "\r\n", false, &reader);
    EXPECT_TRUE(reader.broken());
  }
}

}  // namespace
}  // namespace qova::web

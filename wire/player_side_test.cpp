#include "wire/player_side.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "testing/server_stream_cases.h"

namespace qova {
namespace {

// A player must take every line a sound server sends: questions and responses
// as long as a question file allows, names and time texts as long as the
// server accepts them from the players, as many responses as a file holds.
static_assert(kMaxServerLine >= static_cast<size_t>(kMaxLineBound));
static_assert(kMaxServerLine >= kMaxNameBytes);
static_assert(kMaxServerLine >= kMaxAnswerBytes);
static_assert(kMaxResponses >= kMaxResponseCount);

using testing::kStreamSettings;
using testing::streamQuestion;

std::vector<std::string> messages(const std::string& bytes, size_t piece) {
  ServerStream s;
  return testing::messagesThrough(s, bytes, piece);
}

TEST(ServerStreamTest, ConversationsParseAlikeInPiecesOfAnySize) {
  for (const testing::StreamConversation& c : testing::streamConversations()) {
    for (size_t piece : c.pieces) {
      EXPECT_EQ(messages(c.bytes, piece), c.expected) << c.what << ", pieces of " << piece;
    }
  }
}

TEST(ServerStreamTest, ReportsEveryBrokenForm) {
  for (const testing::BrokenStream& c : testing::brokenStreams()) {
    for (size_t piece : testing::brokenStreamPieces(c)) {
      std::vector<std::string> got = messages(c.bytes, piece);
      ASSERT_FALSE(got.empty()) << c.violation;
      EXPECT_EQ(got.back().compare(0, c.violation.size() + 1, "!" + c.violation), 0) << got.back();
      for (size_t i = 0; i + 1 < got.size(); ++i) EXPECT_NE(got[i][0], '!');
    }
  }
}

TEST(ServerStreamTest, BrokenStreamYieldsNothingMore) {
  ServerStream s;
  std::string bytes = "30\r\nx\r\n4\r\n" + kStreamSettings;
  s.feed(bytes.data(), bytes.size());
  EXPECT_EQ(s.next(), ServerMessage::kViolation);
  EXPECT_EQ(s.next(), ServerMessage::kNone);
  s.feed(kStreamSettings.data(), kStreamSettings.size());
  EXPECT_EQ(s.next(), ServerMessage::kNone);
}

TEST(ServerStreamTest, KnowsWhetherACloseFallsBetweenMessages) {
  // qpr 1: the results of every question end a round.
  std::string settings = "30\r\n1\r\n4\r\n";
  std::string q = streamQuestion("Q", '1');
  std::string r = "Ann\r\n1\r\nr\r\n\r\n";
  std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  struct Case {
    std::string bytes;
    bool boundary;
    const char* expected;
  } cases[] = {
      {"", true, "settings"},
      {"30\r", false, "settings"},
      {"30\r\n", false, "settings"},
      {settings, true, "question"},
      {settings + "Q\r\n", false, "question"},
      {settings + q + "Ann\r\n1\r\nr\r\n", false, "results"},
      {settings + q + r, false, "round summary"},  // the summary is due at once
      {settings + q + r + "Ann\r\n", false, "round summary"},
      {settings + q + r + m, true, "question"},
  };
  for (const Case& c : cases) {
    ServerStream s;
    s.feed(c.bytes.data(), c.bytes.size());
    while (s.next() != ServerMessage::kNone) {
    }
    EXPECT_EQ(s.atMessageBoundary(), c.boundary) << c.bytes;
    EXPECT_STREQ(s.expectedMessage(), c.expected) << c.bytes;
  }
}

// A results or summary message read elsewhere is taken in place of next()
// reading it: the bytes it covered are dropped, its entries are the very
// objects handed over, and questions and rounds are counted on.
TEST(ServerStreamTest, TakesListsReadElsewhere) {
  const std::string r = "Ann\r\n1\r\nr\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  auto results = std::make_shared<const std::vector<ResultEntry>>(
      std::vector<ResultEntry>{{"Ann", "1", true}});
  auto summary = std::make_shared<const std::vector<SummaryEntry>>(
      std::vector<SummaryEntry>{{"Ann", 1, "1.", 1, 1, "1.", 1}});
  ServerStream s;
  std::string lead = "30\r\n1\r\n4\r\n" + streamQuestion("Q", '1') + r + "Ann";
  s.feed(lead.data(), lead.size());
  EXPECT_EQ(s.due(), ServerMessage::kSettings);
  EXPECT_EQ(s.failTooLarge(), ServerMessage::kNone);
  EXPECT_EQ(s.next(), ServerMessage::kSettings);
  EXPECT_EQ(s.takeResults(results, 0), ServerMessage::kNone);  // a question is due
  EXPECT_EQ(s.next(), ServerMessage::kQuestion);
  EXPECT_EQ(s.due(), ServerMessage::kResults);
  EXPECT_EQ(s.pending(), r + "Ann");
  // Nothing is taken for the wrong kind, without entries, or beyond what
  // was received.
  EXPECT_EQ(s.takeSummary(summary, 0), ServerMessage::kNone);
  EXPECT_EQ(s.takeResults(nullptr, r.size()), ServerMessage::kNone);
  EXPECT_EQ(s.takeResults(results, r.size() + 4), ServerMessage::kNone);
  EXPECT_EQ(s.pending(), r + "Ann");
  EXPECT_EQ(s.takeResults(results, r.size()), ServerMessage::kResults);
  EXPECT_EQ(s.sharedResults(), results);
  EXPECT_TRUE(s.summaryExpected());
  EXPECT_EQ(s.pending(), "Ann");
  // The summary's first bytes were received, the rest never fed.
  EXPECT_EQ(s.takeSummary(summary, 3), ServerMessage::kSummary);
  EXPECT_EQ(s.sharedSummary(), summary);
  EXPECT_TRUE(s.atMessageBoundary());
  std::string q = streamQuestion("N", '2');
  s.feed(q.data(), q.size());
  EXPECT_EQ(s.next(), ServerMessage::kQuestion);
  EXPECT_EQ(s.question().round, 2);
  EXPECT_EQ(s.question().number, 1);
  // Once next() has taken a line of the results, they are its own to read.
  s.feed(r.data(), 5);
  EXPECT_EQ(s.next(), ServerMessage::kNone);
  EXPECT_EQ(s.takeResults(results, 0), ServerMessage::kNone);
  EXPECT_EQ(s.failTooLarge(), ServerMessage::kViolation);
  EXPECT_TRUE(s.tooLarge());
  EXPECT_EQ(s.violation().rfind("in the results: a message of more than ", 0), 0u) << s.violation();
  EXPECT_EQ(s.failTooLarge(), ServerMessage::kNone);
}

TEST(ProtocolTextTest, Forms) {
  for (const char* t : {"0", "7", "10", "123456"}) EXPECT_TRUE(isCountText(t)) << t;
  for (const char* t : {"", "-1", "01", "1.", " 1", "1e3"}) EXPECT_FALSE(isCountText(t)) << t;
  for (const char* t :
       {"12.", "0.5", "3.25", "1235", "-1235", "1.235e+004", "5.e-002", "0.", "-1.5"}) {
    EXPECT_TRUE(isAverageText(t)) << t;
  }
  for (const char* t : {"", "12", "123", "12345", ".5", "1.2e+04", "12.3e+004", "1.2E+004",
                        "1.5e004", "nan", "1.5 "}) {
    EXPECT_FALSE(isAverageText(t)) << t;
  }
  struct {
    double seconds;
    const char* text;
  } times[] = {{0, "0.00"},     {1.234, "1.23"}, {1.235001, "1.24"}, {9.999, "10.00"},
               {29.5, "29.50"}, {-3, "0.00"},    {125.07, "125.07"}};
  for (const auto& t : times) EXPECT_EQ(secondsText(t.seconds), t.text) << t.seconds;
  EXPECT_EQ(answerMessage("4.20", true), "4.20\r\nr");
  EXPECT_EQ(answerMessage("", false), "\r\nw");
  EXPECT_EQ(nameMessage("Ann"), "Ann\r\n");
}

// Every average a server can send is read as one: the texts of floats of
// every magnitude and both signs, the overflowed sums and NaN included.
TEST(ProtocolTextTest, EveryAverageTheServerWritesIsAccepted) {
  struct {
    float value;
    const char* text;
  } known[] = {
      {std::numeric_limits<float>::infinity(), "3.403e+038"},
      {-std::numeric_limits<float>::infinity(), "-3.403e+038"},
      {std::numeric_limits<float>::quiet_NaN(), "0."},
      {std::numeric_limits<float>::max(), "3.403e+038"},
      {std::numeric_limits<float>::denorm_min(), "1.401e-045"},
      {-0.0f, "-0."},
      {12, "12."},
      {9999.5f, "1.e+004"},
  };
  for (const auto& k : known) {
    EXPECT_EQ(averageText(k.value), k.text) << k.value;
    EXPECT_TRUE(isAverageText(k.text)) << k.text;
  }
  // Mantissas spread over each binary exponent of the float range.
  const uint32_t mantissas[] = {0, 1, 0x7FFFFF, 0x400000, 0x123456, 0x6D0000};
  for (uint32_t exponent = 0; exponent < 255; ++exponent) {
    for (uint32_t mantissa : mantissas) {
      for (uint32_t sign : {0u, 1u}) {
        uint32_t bits = sign << 31 | exponent << 23 | mantissa;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        std::string text = averageText(value);
        EXPECT_TRUE(isAverageText(text)) << text << " from bits " << bits;
      }
    }
  }
  // Fixed forms near each switch of notation.
  for (float v : {0.09999f, 0.1f, 0.99995f, 9.9995f, 99.995f, 999.95f, 1000.0f, 9999.0f}) {
    EXPECT_TRUE(isAverageText(averageText(v))) << averageText(v);
    EXPECT_TRUE(isAverageText(averageText(-v))) << averageText(-v);
  }
  for (const char* t : {"inf", "-inf", "3.403e+38", "3.403e+0038"}) {
    EXPECT_FALSE(isAverageText(t)) << t;
  }
}

}  // namespace
}  // namespace qova

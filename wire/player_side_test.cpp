#include "wire/player_side.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "wire/shared_lists.h"

namespace qova {
namespace {

// A player must take every line a sound server sends: questions and responses
// as long as a question file allows, names and time texts as long as the
// server accepts them from the players, as many responses as a file holds.
static_assert(kMaxServerLine >= static_cast<size_t>(kMaxLineBound));
static_assert(kMaxServerLine >= kMaxNameBytes);
static_assert(kMaxServerLine >= kMaxAnswerBytes);
static_assert(kMaxResponses >= kMaxResponseCount);

// Everything a stream yields for `bytes`, fed in pieces of `piece` bytes,
// written as one token per message: S(time,qpr,rc) Q(round.number:text|resp..|c)
// R(name/time/v ...) M(name/..7 lines..) or !violation.
std::vector<std::string> messagesThrough(const std::string& bytes, size_t piece,
                                         SharedLists* shared) {
  ServerStream s(shared);
  std::vector<std::string> out;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    s.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    for (ServerMessage m; (m = s.next()) != ServerMessage::kNone;) {
      std::string t;
      switch (m) {
        case ServerMessage::kSettings:
          t = "S(" + s.settings().timeLimitText + "," +
              std::to_string(s.settings().questionsPerRound) + "," +
              std::to_string(s.settings().responseCount) + ")";
          break;
        case ServerMessage::kQuestion:
          t = "Q(" + std::to_string(s.question().round) + "." +
              std::to_string(s.question().number) + ":" + s.question().text;
          for (const std::string& r : s.question().responses) t += "|" + r;
          t += "|" + std::string(1, s.question().correct) + ")";
          break;
        case ServerMessage::kResults:
          t = "R(";
          for (const ResultEntry& e : s.results())
            t += e.name + "/" + e.timeText + "/" + (e.correct ? "r" : "w") + " ";
          t += ")";
          break;
        case ServerMessage::kSummary:
          t = "M(";
          for (const SummaryEntry& e : s.summary()) {
            t += e.name + "/" + std::to_string(e.roundCorrect) + "/" + e.roundAverage + "/" +
                 std::to_string(e.roundAnswers) + "/" + std::to_string(e.totalCorrect) + "/" +
                 e.totalAverage + "/" + std::to_string(e.totalAnswers) + " ";
          }
          t += ")";
          break;
        case ServerMessage::kViolation:
          t = "!" + s.violation();
          break;
        case ServerMessage::kNone:
          break;
      }
      out.push_back(t);
    }
  }
  return out;
}

// The same, checking that a stream reading results and summaries through
// SharedLists yields exactly what a stream of its own does: with nothing
// read before, and after another stream read the same bytes.
std::vector<std::string> messages(const std::string& bytes, size_t piece) {
  std::vector<std::string> own = messagesThrough(bytes, piece, nullptr);
  SharedLists fresh;
  EXPECT_EQ(messagesThrough(bytes, piece, &fresh), own) << "shared, pieces of " << piece;
  SharedLists kept;
  messagesThrough(bytes, bytes.size(), &kept);
  EXPECT_EQ(messagesThrough(bytes, piece, &kept), own) << "read before, pieces of " << piece;
  return own;
}

const std::string kSettings = "30\r\n2\r\n4\r\n";
std::string question(const std::string& text, char correct) {
  return text + "\r\n" + text + "a\r\n" + text + "b\r\n\r\n" + text + "d\r\n" + correct + "\r\n";
}

TEST(ServerStreamTest, ConversationParsesAlikeInPiecesOfAnySize) {
  // Two rounds of two questions: the summary follows every second results.
  std::string bytes = kSettings + question("Q1", '2') + "Ann\r\n1.5\r\nr\r\nBo b\r\n\r\nw\r\n\r\n" +
                      question("Q2", '1') + "Ann\r\n2\r\nw\r\n\r\n" +
                      "Ann\r\n1\r\n1.75\r\n2\r\n1\r\n1.75\r\n2\r\n\r\n" + question("Q3", '4') +
                      "Ann\r\n0.5\r\nr\r\n\r\n" + question("Q4", '\0') + "Ann\r\n12\r\nr\r\n\r\n" +
                      "Ann\r\n2\r\n6.25\r\n2\r\n3\r\n4.\r\n4\r\n\r\n";
  std::vector<std::string> expected = {
      "S(30,2,4)",
      "Q(1.1:Q1|Q1a|Q1b||Q1d|2)",
      "R(Ann/1.5/r Bo b//w )",
      "Q(1.2:Q2|Q2a|Q2b||Q2d|1)",
      "R(Ann/2/w )",
      "M(Ann/1/1.75/2/1/1.75/2 )",
      "Q(2.1:Q3|Q3a|Q3b||Q3d|4)",
      "R(Ann/0.5/r )",
      "Q(2.2:Q4|Q4a|Q4b||Q4d|" + std::string(1, '\0') + ")",
      "R(Ann/12/r )",
      "M(Ann/2/6.25/2/3/4./4 )",
  };
  for (size_t piece : {bytes.size(), size_t{1}, size_t{2}, size_t{7}}) {
    EXPECT_EQ(messages(bytes, piece), expected) << "pieces of " << piece;
  }
}

TEST(ServerStreamTest, OneQuestionPerRoundGivesASummaryAfterEveryResults) {
  std::string bytes = "0\r\n1\r\n4\r\n" + question("A", '1') + "X\r\n1\r\nr\r\n\r\n" +
                      "X\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n" + question("B", '1');
  EXPECT_EQ(messages(bytes, 3),
            (std::vector<std::string>{"S(0,1,4)", "Q(1.1:A|Aa|Ab||Ad|1)", "R(X/1/r )",
                                      "M(X/1/1./1/1/1./1 )", "Q(2.1:B|Ba|Bb||Bd|1)"}));
}

TEST(ServerStreamTest, EmptyCorrectLineNamesNoResponse) {
  EXPECT_EQ(
      messages(kSettings + "Q\r\na\r\nb\r\nc\r\nd\r\n\r\n", 5),
      (std::vector<std::string>{"S(30,2,4)", "Q(1.1:Q|a|b|c|d|" + std::string(1, '\0') + ")"}));
}

TEST(ServerStreamTest, LinesEndOnlyAtCrLf) {
  // A lone LF or CR belongs to the text; the line ends at CR LF.
  std::string bytes = "3\n0\r\n2\r\n5\r\n";
  EXPECT_EQ(messages(bytes, 1), std::vector<std::string>{"S(3\n0,2,5)"});
}

TEST(ServerStreamTest, ReportsEveryBrokenForm) {
  const std::string q = question("Q", '1');
  const std::string r = "Ann\r\n1\r\nr\r\n\r\n";
  // Summaries are closed, so that a stream that takes them whole through
  // SharedLists reads them too (it finds a broken entry at the end).
  const std::string kEnd = "\r\n";
  struct Case {
    std::string bytes;
    std::string violation;
  } cases[] = {
      {"30\r\n0\r\n4\r\n", "in the settings: line 2 (questions per round) is \"0\""},
      {"30\r\n-2\r\n4\r\n", "in the settings: line 2 (questions per round) is \"-2\""},
      {"30\r\n02\r\n4\r\n", "in the settings: line 2 (questions per round) is \"02\""},
      {"30\r\n2\r\n4 \r\n", "in the settings: line 3 (responses per question) is \"4 \""},
      {"30\r\n2\r\n0\r\n", "in the settings: line 3 (responses per question) is \"0\""},
      {kSettings + "Q\r\na\r\nb\r\nc\r\nd\r\n12\r\n",
       "in the question: line 6 (the correct response) is \"12\""},
      {kSettings + q + "Ann\r\n1\r\nR\r\n", "in the results: player 1 (\"Ann\"): the verdict"},
      {kSettings + q + r + q + r + "Ann\r\n1\r\n1.\r\nx\r\n1\r\n1.\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 4 (answers in the round) is \"x\""},
      {kSettings + q + r + q + r + "Ann\r\n1\r\n1.5e+01\r\n2\r\n1\r\n1.5\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 3 (average time in the round) is"},
      {kSettings + q + r + q + r + "Ann\r\n1\r\n1.5\r\n2\r\n1\r\n15\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): line 6 (average time overall) is \"15\""},
      {kSettings + q + r + q + r + "Ann\r\n3\r\n1.5\r\n2\r\n3\r\n1.5\r\n2\r\n" + kEnd,
       "in the round summary: player 1 (\"Ann\"): the counts 3/2 in the round and 3/2"},
      {std::string(kMaxServerLine + 2, 'x'),
       "in the settings: more than " + std::to_string(kMaxServerLine) + " bytes without"},
      {std::string(kMaxServerLine + 1, 'x') + "\r\n",
       "in the settings: a line of " + std::to_string(kMaxServerLine + 1) + " bytes"},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.bytes.size(), size_t{1000}}) {
      std::vector<std::string> got = messages(c.bytes, piece);
      ASSERT_FALSE(got.empty()) << c.violation;
      EXPECT_EQ(got.back().compare(0, c.violation.size() + 1, "!" + c.violation), 0) << got.back();
      for (size_t i = 0; i + 1 < got.size(); ++i) EXPECT_NE(got[i][0], '!');
    }
  }
}

TEST(ServerStreamTest, BrokenStreamYieldsNothingMore) {
  ServerStream s;
  std::string bytes = "30\r\nx\r\n4\r\n" + kSettings;
  s.feed(bytes.data(), bytes.size());
  EXPECT_EQ(s.next(), ServerMessage::kViolation);
  EXPECT_EQ(s.next(), ServerMessage::kNone);
  s.feed(kSettings.data(), kSettings.size());
  EXPECT_EQ(s.next(), ServerMessage::kNone);
}

TEST(ServerStreamTest, KnowsWhetherACloseFallsBetweenMessages) {
  // qpr 1: the results of every question end a round.
  std::string settings = "30\r\n1\r\n4\r\n";
  std::string q = question("Q", '1');
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

// Streams that received the same results and summaries get the very same
// entries, read once; bytes that begin alike but differ later are read anew.
TEST(SharedListsTest, SameBytesReadOnceDifferentBytesReadAnew) {
  const std::string lead = "30\r\n1\r\n4\r\n" + question("Q", '1');
  const std::string r = "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  SharedLists shared;
  ServerStream a(&shared), b(&shared), c(&shared);
  std::string bytes = lead + r + m;
  for (ServerStream* s : {&a, &b}) {
    for (size_t at = 0; at < bytes.size(); at += 4) {
      s->feed(bytes.data() + at, std::min<size_t>(4, bytes.size() - at));
      while (s->next() != ServerMessage::kNone) {
      }
    }
  }
  EXPECT_EQ(a.sharedResults().get(), b.sharedResults().get());
  EXPECT_EQ(a.sharedSummary().get(), b.sharedSummary().get());
  EXPECT_EQ(a.results().size(), 2u);
  std::string other = lead + "Ann\r\n1\r\nr\r\nBo\r\n2\r\nr\r\n\r\n";
  c.feed(other.data(), other.size());
  std::vector<ServerMessage> got;
  for (ServerMessage msg; (msg = c.next()) != ServerMessage::kNone;) got.push_back(msg);
  EXPECT_EQ(got, (std::vector<ServerMessage>{ServerMessage::kSettings, ServerMessage::kQuestion,
                                             ServerMessage::kResults}));
  EXPECT_NE(c.sharedResults().get(), a.sharedResults().get());
  EXPECT_TRUE(c.results()[1].correct);
  EXPECT_FALSE(a.results()[1].correct);                            // what a took stays as it was
  EXPECT_TRUE(c.midMessage() == false && !c.atMessageBoundary());  // the summary is due
  // A message that is not whole, or not one message, is not read.
  EXPECT_FALSE(shared.read(ServerMessage::kResults, r.data(), r.size() - 2));
  EXPECT_FALSE(shared.read(ServerMessage::kResults, (r + r).data(), 2 * r.size()));
  EXPECT_FALSE(shared.read(ServerMessage::kSummary, m.data(), m.size() - 4));
}

// A stream compares what arrives with the last message read as it arrives,
// and keeps comparing with that one when another stream reads a different
// message meanwhile; bytes that differ are read as they are.
TEST(SharedListsTest, ComparisonKeepsTheMessageItBeganWith) {
  const std::string lead = "30\r\n1\r\n4\r\n" + question("Q", '1');
  const std::string r1 = "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string r2 = "Ann\r\n1\r\nw\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  auto drain = [](ServerStream& s, const std::string& bytes) {
    s.feed(bytes.data(), bytes.size());
    std::vector<ServerMessage> got;
    for (ServerMessage msg; (msg = s.next()) != ServerMessage::kNone;) got.push_back(msg);
    return got;
  };
  SharedLists shared;
  ServerStream first(&shared), a(&shared), a2(&shared), b(&shared), c(&shared), d(&shared);
  drain(first, lead + r1);
  // a and a2 have compared "Ann 1 r" with r1 when b reads r2, which differs
  // there only: a as the bytes arrived (not kept), a2 in its buffer (they
  // arrived with the question).
  drain(a, lead);
  drain(a, r1.substr(0, 9));
  drain(a2, lead + r1.substr(0, 9));
  EXPECT_TRUE(a.midMessage());
  EXPECT_FALSE(a.atMessageBoundary());
  drain(b, lead + r2);
  EXPECT_FALSE(b.results()[0].correct);
  // f's bytes differ from r2, the last read, and f frames them; when g reads
  // the same bytes meanwhile, f takes what g read.
  ServerStream f(&shared), g(&shared);
  drain(f, lead);
  EXPECT_TRUE(drain(f, r1.substr(0, 12)).empty());
  drain(g, lead + r1);
  EXPECT_EQ(drain(f, r1.substr(12)), std::vector<ServerMessage>{ServerMessage::kResults});
  EXPECT_EQ(f.sharedResults().get(), g.sharedResults().get());
  EXPECT_TRUE(f.results()[0].correct);
  ServerStream h(&shared);
  drain(h, lead + r2);  // r2 is the last read again
  EXPECT_FALSE(h.results()[0].correct);
  for (ServerStream* s : {&a, &a2}) {
    EXPECT_EQ(drain(*s, r1.substr(9)), std::vector<ServerMessage>{ServerMessage::kResults});
    EXPECT_TRUE(s->results()[0].correct);
    EXPECT_EQ(s->sharedResults().get(), first.sharedResults().get());
  }
  // One byte at a time: c's bytes differ from r2, the last read, at the
  // verdict, and c reads r1 anew; d's are then equal to what c read. The
  // summary that follows in d's last piece is the next message.
  std::vector<ServerStream*> late = {&c, &d};
  for (ServerStream* s : late) {
    drain(*s, lead);
    for (size_t i = 0; i + 1 < r1.size(); ++i) {
      EXPECT_TRUE(drain(*s, r1.substr(i, 1)).empty()) << i;
    }
    EXPECT_EQ(drain(*s, r1.substr(r1.size() - 1) + m),
              (std::vector<ServerMessage>{ServerMessage::kResults, ServerMessage::kSummary}));
    EXPECT_TRUE(s->results()[0].correct);
    EXPECT_TRUE(s->atMessageBoundary());
  }
  EXPECT_NE(c.sharedResults().get(), b.sharedResults().get());
  EXPECT_EQ(d.sharedResults().get(), c.sharedResults().get());
  EXPECT_EQ(d.sharedSummary().get(), c.sharedSummary().get());
  // Bytes that begin like the last message and then break the protocol are
  // still found broken.
  ServerStream e(&shared);
  std::vector<ServerMessage> got = drain(e, lead + r1.substr(0, 18) + "x\r\n\r\n");
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), ServerMessage::kViolation);
  EXPECT_NE(e.violation().find("verdict"), std::string::npos) << e.violation();
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

// The longest question line a server can send, and the largest questions
// per round it can start with (a record count is a 32-bit number), read fine.
TEST(ServerStreamTest, TakesTheLongestLinesAndCountsAServerSends) {
  const std::string longest(static_cast<size_t>(kMaxLineBound), 'q');
  const std::string bytes = "30\r\n2147483647\r\n1\r\n" + longest + "\r\n" + longest + "\r\n1\r\n";
  for (size_t piece : {bytes.size(), size_t{65536}, size_t{1000}}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(messages(bytes, piece),
              (std::vector<std::string>{"S(30,2147483647,1)",
                                        "Q(1.1:" + longest + "|" + longest + "|1)"}));
  }
  // One more than a 32-bit count is no count a server writes.
  EXPECT_EQ(messages("30\r\n2147483648\r\n1\r\n", 64)[0].substr(0, 50),
            "!in the settings: line 2 (questions per round) is ");
}

}  // namespace
}  // namespace qova

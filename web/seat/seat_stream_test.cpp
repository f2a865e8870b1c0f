// The seats' stream against the plain one: the same messages, violations
// and bounds, with results and summaries read once for the seats that share
// a SharedLists.
#include "web/seat/seat_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/server_stream_cases.h"
#include "web/seat/shared_lists.h"
#include "wire/player_side.h"

namespace qova::web {
namespace {

using testing::messagesThrough;

// A seat stream yields exactly what a plain stream does for `bytes` in
// pieces of `piece`, with nothing read before and after another stream read
// the same bytes; with `maxListBytes` as the bound on results and summaries.
void expectAsThePlainStream(const std::string& bytes, size_t piece,
                            size_t maxListBytes = static_cast<size_t>(-1)) {
  ServerStream plain;
  plain.setMaxListBytes(maxListBytes);
  std::vector<std::string> own = messagesThrough(plain, bytes, piece);
  SharedLists fresh;
  SeatStream alone(&fresh);
  alone.setMaxListBytes(maxListBytes);
  EXPECT_EQ(messagesThrough(alone, bytes, piece), own) << "shared, pieces of " << piece;
  EXPECT_EQ(alone.tooLarge(), plain.tooLarge()) << "shared, pieces of " << piece;
  SharedLists kept;
  SeatStream first(&kept), after(&kept);
  first.setMaxListBytes(maxListBytes);
  after.setMaxListBytes(maxListBytes);
  messagesThrough(first, bytes, bytes.size());
  EXPECT_EQ(messagesThrough(after, bytes, piece), own) << "read before, pieces of " << piece;
  EXPECT_EQ(after.tooLarge(), plain.tooLarge()) << "read before, pieces of " << piece;
}

TEST(SeatStreamTest, ReadsEveryConversationAsThePlainStream) {
  for (const testing::StreamConversation& c : testing::streamConversations()) {
    SCOPED_TRACE(c.what);
    for (size_t piece : c.pieces) expectAsThePlainStream(c.bytes, piece);
  }
  for (const testing::BrokenStream& c : testing::brokenStreams()) {
    SCOPED_TRACE(c.violation);
    for (size_t piece : testing::brokenStreamPieces(c)) expectAsThePlainStream(c.bytes, piece);
  }
}

// A results or summary message longer than the bound ends the stream as it
// ends a plain one, whether it arrives whole or grows past the bound in
// pieces, and whether or not another stream has read one like it.
TEST(SeatStreamTest, HoldsListsToTheBoundAsThePlainStream) {
  const std::string lead = "30\r\n1\r\n4\r\n" + testing::streamQuestion("Q", '1');
  const std::string r = "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";  // longer than r
  const std::string fits = lead + r + m;
  const std::string longResults = lead + "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\nCy\r\n3\r\nr\r\n\r\n";
  // Past the bound before its end arrives.
  const std::string unclosed = lead + "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\nCy\r\n3\r\n";
  for (size_t piece : {fits.size(), size_t{1}, size_t{5}}) {
    expectAsThePlainStream(fits, piece, m.size());
    expectAsThePlainStream(longResults, piece, r.size());
    expectAsThePlainStream(unclosed, piece, r.size());
    expectAsThePlainStream(fits, piece, r.size() - 1);
    expectAsThePlainStream(fits, piece, m.size() - 1);
  }
  ServerStream plain;
  plain.setMaxListBytes(r.size());
  EXPECT_EQ(messagesThrough(plain, longResults, 1).back(),
            "!in the results: a message of more than " + std::to_string(r.size()) +
                " bytes, more than the players could fill");
  EXPECT_TRUE(plain.tooLarge());
}

// Streams that received the same results and summaries get the very same
// entries, read once; bytes that begin alike but differ later are read anew.
TEST(SeatStreamTest, SameBytesReadOnceDifferentBytesReadAnew) {
  const std::string lead = "30\r\n1\r\n4\r\n" + testing::streamQuestion("Q", '1');
  const std::string r = "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  SharedLists shared;
  SeatStream a(&shared), b(&shared), c(&shared);
  std::string bytes = lead + r + m;
  for (SeatStream* s : {&a, &b}) {
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
TEST(SeatStreamTest, ComparisonKeepsTheMessageItBeganWith) {
  const std::string lead = "30\r\n1\r\n4\r\n" + testing::streamQuestion("Q", '1');
  const std::string r1 = "Ann\r\n1\r\nr\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string r2 = "Ann\r\n1\r\nw\r\nBo\r\n2\r\nw\r\n\r\n";
  const std::string m = "Ann\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n";
  auto drain = [](SeatStream& s, const std::string& bytes) {
    s.feed(bytes.data(), bytes.size());
    std::vector<ServerMessage> got;
    for (ServerMessage msg; (msg = s.next()) != ServerMessage::kNone;) got.push_back(msg);
    return got;
  };
  SharedLists shared;
  SeatStream first(&shared), a(&shared), a2(&shared), b(&shared), c(&shared), d(&shared);
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
  SeatStream f(&shared), g(&shared);
  drain(f, lead);
  EXPECT_TRUE(drain(f, r1.substr(0, 12)).empty());
  drain(g, lead + r1);
  EXPECT_EQ(drain(f, r1.substr(12)), std::vector<ServerMessage>{ServerMessage::kResults});
  EXPECT_EQ(f.sharedResults().get(), g.sharedResults().get());
  EXPECT_TRUE(f.results()[0].correct);
  SeatStream h(&shared);
  drain(h, lead + r2);  // r2 is the last read again
  EXPECT_FALSE(h.results()[0].correct);
  for (SeatStream* s : {&a, &a2}) {
    EXPECT_EQ(drain(*s, r1.substr(9)), std::vector<ServerMessage>{ServerMessage::kResults});
    EXPECT_TRUE(s->results()[0].correct);
    EXPECT_EQ(s->sharedResults().get(), first.sharedResults().get());
  }
  // One byte at a time: c's bytes differ from r2, the last read, at the
  // verdict, and c reads r1 anew; d's are then equal to what c read. The
  // summary that follows in d's last piece is the next message.
  std::vector<SeatStream*> late = {&c, &d};
  for (SeatStream* s : late) {
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
  SeatStream e(&shared);
  std::vector<ServerMessage> got = drain(e, lead + r1.substr(0, 18) + "x\r\n\r\n");
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), ServerMessage::kViolation);
  EXPECT_NE(e.violation().find("verdict"), std::string::npos) << e.violation();
}

}  // namespace
}  // namespace qova::web

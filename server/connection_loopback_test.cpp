// The server's side of the conversation over real loopback connections.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "server/client_connection.h"
#include "testing/loopback_peer.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

// A connected pair: the server's Socket and the player program's end.
struct Pair {
  bool started = socketStartup() == 0;  // before any socket is made
  Socket listener;
  LoopbackPeer peer;
  Socket server{Socket::kInvalid};
  Pair() : server(connectPair()) {}
  Socket connectPair() {
    EXPECT_TRUE(listener.listen(0, kListenBacklog));
    EXPECT_TRUE(peer.connect(listener.localPort()));
    EXPECT_TRUE(listener.pollReadable(2000));
    return listener.accept();
  }
};

// Polls until the answer is complete, the client drops, or about two
// seconds have passed; the bytes are already on their way, so this is short.
bool pollUntilAnswered(ClientConnection& c) {
  for (int i = 0; i < 400; ++i) {
    if (!c.pollAnswer()) return false;
    if (c.answered()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

const ServerQuestionRecord kQuestion{"Q?", {"a", "b", "c", "d"}, '2'};

TEST(Answer, PiecesAndCompletion) {
  struct Case {
    std::vector<std::string> pieces;  // sent one after another
    bool complete;                    // after the last piece
    const char* timeText;
    bool correct;
  };
  const Case cases[] = {
      {{"4.2\r", "\nr"}, true, "4.2", true},
      {{"4.2\r"}, false, "", false},
      {{"\r\nr"}, true, "", true},
      {{"7\r\n"}, false, "", false},
      {{"7\r\n", "x"}, true, "7", false},
      {{"3.5\r\nrw\r\n"}, true, "3.5", true},
      {{"1", ".", "2", "5\r", "\n", "w"}, true, "1.25", false},
  };
  for (const Case& c : cases) {
    Pair p;
    ClientConnection client(p.server);
    client.sendQuestion(kQuestion);
    EXPECT_FALSE(client.answered());
    EXPECT_EQ(p.peer.readLines(6, 2000), "Q?\r\na\r\nb\r\nc\r\nd\r\n2\r\n");
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      ASSERT_TRUE(p.peer.send(c.pieces[i]));
      if (i + 1 == c.pieces.size() && c.complete) {
        EXPECT_TRUE(pollUntilAnswered(client));
        break;
      }
      settle();
      EXPECT_TRUE(client.pollAnswer());
      if (i + 1 < c.pieces.size()) {
        EXPECT_FALSE(client.answered()) << c.pieces[i];
      }
    }
    EXPECT_EQ(client.answered(), c.complete) << c.pieces[0];
    if (c.complete) {
      Response r = client.takeAnswer();
      EXPECT_EQ(r.timeText, c.timeText);
      EXPECT_EQ(r.correct, c.correct);
    }
  }
}

TEST(Answer, BytesAfterTheVerdictAreDiscardedByTheNextQuestion) {
  Pair p;
  ClientConnection client(p.server);
  client.sendQuestion(kQuestion);
  p.peer.send("3.5\r\nrw\r\n");
  ASSERT_TRUE(pollUntilAnswered(client));
  EXPECT_TRUE(client.takeAnswer().correct);
  client.sendQuestion(kQuestion);
  EXPECT_EQ(client.received(), "");
  EXPECT_FALSE(client.answered());
  // Bytes that come after the answer was complete stay in the socket and
  // begin the next answer.
  p.peer.send("2\r\nw");
  ASSERT_TRUE(pollUntilAnswered(client));
  EXPECT_EQ(client.takeAnswer().timeText, "2");
}

TEST(Answer, CloseAndOverlongAnswerDrop) {
  {
    Pair p;
    ClientConnection client(p.server);
    client.sendQuestion(kQuestion);
    EXPECT_TRUE(client.pollAnswer());  // nothing yet
    p.peer.close();
    EXPECT_FALSE(pollUntilAnswered(client));
  }
  {
    Pair p;
    ClientConnection client(p.server);
    client.sendQuestion(kQuestion);
    std::string flood(kMaxAnswerBytes + 256, '9');
    p.peer.send(flood);
    bool alive = true;
    for (int i = 0; i < 100 && alive; ++i) {
      alive = client.pollAnswer();
      if (alive) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(alive);
    EXPECT_LE(client.received().size(), kMaxAnswerBytes + 256);
  }
}

TEST(Answer, DestroyingTheConnectionClosesIt) {
  Pair p;
  auto client = std::make_unique<ClientConnection>(p.server);
  p.server.close();  // the connection now holds the only reference
  EXPECT_FALSE(p.peer.waitClosed(50));
  client.reset();
  EXPECT_TRUE(p.peer.waitClosed(2000));
}

TEST(Outbox, AStalledReaderGetsEveryByteInOrderLater) {
  Pair p;
  ClientConnection client(p.server);
  // Blocks until the socket buffers are full and the outbox holds some (the
  // kernel grows loopback buffers to several megabytes), and a few after.
  std::string expected;
  int afterFull = 0;
  for (int i = 0; afterFull < 100 && expected.size() < kMaxOutboxBytes - (1 << 20); ++i) {
    std::string block = std::to_string(i) + std::string(1000, 'a' + i % 26) + "\r\n";
    expected += block;
    client.send(block);
    if (client.hasPendingOutput()) ++afterFull;
  }
  ASSERT_TRUE(client.hasPendingOutput());
  std::string got;
  for (int i = 0; i < 20000 && got.size() < expected.size(); ++i) {
    got += p.peer.readAvailable(5);
    client.flush();
  }
  EXPECT_FALSE(client.hasPendingOutput());
  EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size();
}

TEST(Outbox, AReaderThatNeverReadsIsDroppedAtItsNextPoll) {
  Pair p;
  ClientConnection client(p.server);
  std::string block(1 << 20, 'z');
  for (size_t sent = 0; sent <= kMaxOutboxBytes + (4u << 20); sent += block.size())
    client.send(block);
  client.sendQuestion(kQuestion);
  EXPECT_FALSE(client.hasPendingOutput());  // given up, not held
  EXPECT_FALSE(client.pollAnswer());
}

// A question file's lines may be 1 MiB each, so one question can be longer
// than the outbox's bound; a player that reads must still get it whole.
TEST(Outbox, AQuestionLongerThanTheBoundReachesAReader) {
  Pair p;
  ClientConnection client(p.server);
  const std::string line(1 << 20, 'r');
  ServerQuestionRecord big{line, std::vector<std::string>(20, line), '1'};
  client.sendQuestion(big);
  const size_t expected = 21 * (line.size() + 2) + 3;
  size_t got = 0;
  for (int i = 0; i < 20000 && got < expected; ++i) {
    got += p.peer.readAvailable(5).size();
    client.flush();
  }
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(client.pollAnswer());  // still connected
}

TEST(Handshake, NameLine) {
  struct Case {
    std::vector<std::string> pieces;
    bool closeAfter;
    HandshakeResult result;
    std::string name;
  };
  const Case cases[] = {
      {{"Ann\r\n"}, false, HandshakeResult::kNamed, "Ann"},
      {{"Ann\r\nmore bytes"}, false, HandshakeResult::kNamed, "Ann"},
      {{"A", "n", "n\r", "\n"}, false, HandshakeResult::kNamed, "Ann"},
      {{"\r\n"}, false, HandshakeResult::kNamed, ""},
      {{"Ann"}, true, HandshakeResult::kClosed, ""},
      {{}, true, HandshakeResult::kClosed, ""},
      {{"Ann\n"}, false, HandshakeResult::kTimedOut, ""},
      {{std::string(kMaxNameBytes, 'n') + "\r\n"},
       false,
       HandshakeResult::kNamed,
       std::string(kMaxNameBytes, 'n')},
      {{std::string(kMaxNameBytes + 1, 'n') + "\r\n"}, false, HandshakeResult::kTooLong, ""},
      {{std::string(100000, 'n')}, false, HandshakeResult::kTooLong, ""},
  };
  for (const Case& c : cases) {
    Pair p;
    for (const std::string& piece : c.pieces) p.peer.send(piece);
    if (c.closeAfter) p.peer.close();
    std::string name;
    EXPECT_EQ(performHandshake(p.server, settingsMessage("30", 10, 5), name, 300), c.result);
    EXPECT_EQ(name, c.name);
    if (p.peer.isOpen()) {
      EXPECT_EQ(p.peer.readLines(3, 1000), "30\r\n10\r\n5\r\n");
    }
  }
}

uint32_t fakeNow = 0;
uint32_t fakeTicks() { return fakeNow; }

// The lobby's way: looks that never wait, each handshake with a deadline of
// its own, and a result that stays once reached.
TEST(Handshake, PendingHandshakeIsPolledWithoutWaiting) {
  Pair p;
  fakeNow = 1000;
  PendingHandshake h(p.server, "x\r\n", 500, fakeTicks);
  EXPECT_EQ(p.peer.readLines(1, 1000), "x\r\n");  // sent at once
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(h.poll(), HandshakeResult::kPending);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  p.peer.send("Ri");
  settle();
  fakeNow += 499;
  EXPECT_EQ(h.poll(), HandshakeResult::kPending);
  EXPECT_EQ(h.remainingMs(), 1u);
  p.peer.send("ta\r\nrest");
  settle();
  EXPECT_EQ(h.poll(), HandshakeResult::kNamed);
  EXPECT_EQ(h.name(), "Rita");
  fakeNow += 1000;
  EXPECT_EQ(h.poll(), HandshakeResult::kNamed);

  // A peer that keeps trickling bytes is still given up at its deadline.
  Pair q;
  PendingHandshake slow(q.server, "x\r\n", 500, fakeTicks);
  q.peer.send("abc");
  settle();
  fakeNow += 500;
  EXPECT_EQ(slow.poll(), HandshakeResult::kTimedOut);
  q.peer.send("\r\n");
  settle();
  EXPECT_EQ(slow.poll(), HandshakeResult::kTimedOut);
  EXPECT_EQ(slow.name(), "");
}

TEST(Handshake, SilentPeerIsGivenUpAfterTheWait) {
  Pair p;
  std::string name;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(performHandshake(p.server, "x\r\n", name, 200), HandshakeResult::kTimedOut);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace qova

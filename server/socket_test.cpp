#include "server/socket.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cerrno>
#endif

#include "testing/loopback_peer.h"

namespace qova {
namespace {

using testing::LoopbackPeer;

struct Listening {
  bool started = socketStartup() == 0;  // before any socket is made
  Socket listener;
  uint16_t port = 0;
  Listening() {
    EXPECT_TRUE(started);
    EXPECT_TRUE(listener.listen(0, kListenBacklog));
    port = listener.localPort();
  }
  // The server's end of a new connection from `peer`.
  Socket acceptFrom(LoopbackPeer& peer) {
    EXPECT_TRUE(peer.connect(port));
    EXPECT_TRUE(listener.pollReadable(2000));
    return listener.accept();
  }
};

TEST(Socket, PollReadableIsFalseAtOnceWhenNothingWaits) {
  Listening l;
  EXPECT_NE(l.port, 0);
  EXPECT_FALSE(l.listener.pollReadable());
  LoopbackPeer peer;
  Socket s = l.acceptFrom(peer);
  ASSERT_TRUE(s.isValid());
  EXPECT_FALSE(s.pollReadable());
}

TEST(Socket, SecondListenerOnTheSamePortFails) {
  Listening l;
  Socket second;
  EXPECT_FALSE(second.listen(l.port, kListenBacklog));
}

TEST(Socket, PeerCloseMakesReadableAndRecvZero) {
  Listening l;
  LoopbackPeer peer;
  Socket s = l.acceptFrom(peer);
  peer.send("ab");
  ASSERT_TRUE(s.pollReadable(2000));
  char buffer[256];
  EXPECT_EQ(s.recv(buffer, sizeof buffer), 2);
  peer.close();
  EXPECT_TRUE(s.pollReadable(2000));
  EXPECT_EQ(s.recv(buffer, sizeof buffer), 0);
}

TEST(Socket, CopiesShareTheHandleAndTheLastOneCloses) {
  Listening l;
  LoopbackPeer peer;
  Socket a = l.acceptFrom(peer);
  {
    Socket b(a);
    EXPECT_EQ(b.handle(), a.handle());
    a.close();
    a.close();  // a second close does nothing
    EXPECT_EQ(b.send("hi", 2), 2);
    EXPECT_EQ(peer.readAvailable(2000), "hi");
    EXPECT_FALSE(peer.waitClosed(50));
  }
  // b was the last holder.
  EXPECT_TRUE(peer.waitClosed(2000));
}

TEST(Socket, FailedAcceptGivesAnInvalidObjectHoldingNothing) {
  Socket none(Socket::kInvalid);
  EXPECT_FALSE(none.isValid());
  Socket accepted = none.accept();
  EXPECT_FALSE(accepted.isValid());
  Socket copy(accepted);
  copy.close();
  EXPECT_FALSE(copy.isValid());
  EXPECT_FALSE(none.pollReadable());
}

TEST(Socket, SendToAGonePeerFailsWithoutKillingTheProcess) {
  Listening l;
  LoopbackPeer peer;
  Socket s = l.acceptFrom(peer);
  peer.close();
  std::string block(65536, 'x');
  int result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) {
    result = s.sendNoWait(block.data(), static_cast<int>(block.size()));
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(s.send("x", 1), -1);
}

TEST(Socket, SendNoWaitTakesNothingWhenThePeerStopsReading) {
  Listening l;
  LoopbackPeer peer;
  Socket s = l.acceptFrom(peer);
  std::string block(1 << 20, 'x');
  long total = 0;
  int n = 1;
  for (int i = 0; i < 1000 && n > 0; ++i) {
    n = s.sendNoWait(block.data(), static_cast<int>(block.size()));
    if (n > 0) total += n;
  }
  EXPECT_EQ(n, 0);
  EXPECT_GT(total, 0);
}

// Only a listening socket that is gone may end the lobby; a failure of one
// connection, or running out of descriptors, must not.
TEST(Socket, AcceptFailuresByKind) {
  struct {
    int code;
    AcceptError kind;
  } cases[] = {
#ifdef _WIN32
      {WSAECONNRESET, AcceptError::kTransient},  {WSAECONNABORTED, AcceptError::kTransient},
      {WSAEINTR, AcceptError::kTransient},       {WSAEWOULDBLOCK, AcceptError::kTransient},
      {WSAEMFILE, AcceptError::kNoDescriptors},  {WSAENOBUFS, AcceptError::kNoDescriptors},
      {WSAENOTSOCK, AcceptError::kListenerGone}, {WSAEINVAL, AcceptError::kListenerGone},
      {WSAENETDOWN, AcceptError::kListenerGone}, {WSANOTINITIALISED, AcceptError::kListenerGone},
#else
      {ECONNABORTED, AcceptError::kTransient}, {EINTR, AcceptError::kTransient},
      {EAGAIN, AcceptError::kTransient},       {EPROTO, AcceptError::kTransient},
      {EMFILE, AcceptError::kNoDescriptors},   {ENFILE, AcceptError::kNoDescriptors},
      {ENOBUFS, AcceptError::kNoDescriptors},  {EBADF, AcceptError::kListenerGone},
      {EINVAL, AcceptError::kListenerGone},    {ENOTSOCK, AcceptError::kListenerGone},
#endif
  };
  for (const auto& c : cases) EXPECT_EQ(acceptErrorKind(c.code), c.kind) << c.code;

  // A socket that was never set listening: accepting on it fails for good.
  EXPECT_TRUE(socketStartup() == 0);
  Socket idle;
  AcceptError error = AcceptError::kNone;
  EXPECT_FALSE(idle.accept(&error).isValid());
  EXPECT_EQ(error, AcceptError::kListenerGone);
  Listening l;
  LoopbackPeer peer;
  ASSERT_TRUE(peer.connect(l.port));
  ASSERT_TRUE(l.listener.pollReadable(2000));
  EXPECT_TRUE(l.listener.accept(&error).isValid());
  EXPECT_EQ(error, AcceptError::kNone);
}

TEST(Socket, LocalAddressIsDotted) {
  std::string address = localHostAddress();
  int dots = 0;
  for (char c : address) {
    if (c == '.')
      ++dots;
    else
      EXPECT_TRUE(c >= '0' && c <= '9') << address;
  }
  EXPECT_EQ(dots, 3) << address;
}

}  // namespace
}  // namespace qova

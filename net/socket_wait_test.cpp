#include "net/socket_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "testing/loopback_peer.h"

namespace qova {
namespace {

using Clock = std::chrono::steady_clock;
using testing::LoopbackListener;
using testing::LoopbackPeer;

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The socket library is started before any socket is made.
struct Started {
  Started() { EXPECT_TRUE(startSockets()); }
};

// Both ends of one loopback connection.
struct Pair : Started {
  LoopbackListener listener;
  LoopbackPeer client, server;
  Pair() {
    EXPECT_TRUE(client.connect(listener.port()));
    EXPECT_TRUE(listener.accept(&server, 2000));
  }
};

PollEntry entry(SocketHandle handle, bool read, bool write) {
  PollEntry e;
  e.handle = handle;
  e.wantRead = read;
  e.wantWrite = write;
  return e;
}

TEST(SocketWait, ReportsOnlyWhatIsAskedAndReady) {
  Pair quiet, talking;
  ASSERT_TRUE(talking.client.send("x"));
  struct Case {
    const char* what;
    bool askRead, askWrite;
    WaitOutcome outcome;
    bool talkingReadable, talkingWritable;
  };
  const Case cases[] = {
      {"read", true, false, WaitOutcome::kReady, true, false},
      {"write", false, true, WaitOutcome::kReady, false, true},
      {"both", true, true, WaitOutcome::kReady, true, true},
      {"nothing asked", false, false, WaitOutcome::kTimeout, false, false},
  };
  SocketWait wait;
  for (const Case& c : cases) {
    PollEntry entries[2] = {entry(quiet.server.fd(), true, false),
                            entry(talking.server.fd(), c.askRead, c.askWrite)};
    auto start = Clock::now();
    EXPECT_EQ(wait.wait(entries, 2, 100), c.outcome) << c.what;
    EXPECT_FALSE(entries[0].readable) << c.what;
    EXPECT_EQ(entries[1].readable, c.talkingReadable) << c.what;
    EXPECT_EQ(entries[1].writable, c.talkingWritable) << c.what;
    if (c.outcome == WaitOutcome::kTimeout) {
      EXPECT_GE(msSince(start), 90) << c.what;
    }
  }
}

TEST(SocketWait, WaitsUntilBytesArriveOrACloseAndNoLonger) {
  SocketWait wait;
  for (bool closing : {false, true}) {
    Pair pair;
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      if (closing) {
        pair.client.close();
      } else {
        pair.client.send("answer");
      }
    });
    PollEntry e = entry(pair.server.fd(), true, false);
    auto start = Clock::now();
    EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kReady);
    int64_t took = msSince(start);
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 2000);
    EXPECT_TRUE(e.readable);
    peer.join();
  }
}

TEST(SocketWait, TimeoutWithNothingComingAndNoWaitAtZero) {
  Pair pair;
  SocketWait wait;
  PollEntry e = entry(pair.server.fd(), true, false);
  auto start = Clock::now();
  EXPECT_EQ(wait.wait(&e, 1, 200), WaitOutcome::kTimeout);
  EXPECT_GE(msSince(start), 180);
  start = Clock::now();
  EXPECT_EQ(wait.wait(&e, 1, 0), WaitOutcome::kTimeout);
  EXPECT_EQ(wait.wait(nullptr, 0, 0), WaitOutcome::kTimeout);
  EXPECT_LT(msSince(start), 100);
}

TEST(SocketWait, WakeFromAnotherThreadEndsAWaitWithoutLimit) {
  Pair pair;
  SocketWait wait;
  PollEntry e = entry(pair.server.fd(), true, false);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    wait.wake();
  });
  auto start = Clock::now();
  EXPECT_EQ(wait.wait(&e, 1, -1), WaitOutcome::kWoken);
  EXPECT_GE(msSince(start), 100);
  other.join();
  // A wake given before the wait ends the next one at once, and only that one.
  wait.wake();
  EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kWoken);
  EXPECT_EQ(wait.wait(&e, 1, 100), WaitOutcome::kTimeout);
}

// Bytes that came while nobody asked are found as soon as somebody asks,
// also where the platform tells of each arrival only once.
TEST(SocketWait, BytesThatCameWhileNotAskedAreFoundWhenAsked) {
  Pair pair;
  SocketWait wait;
  PollEntry e = entry(pair.server.fd(), true, false);
  EXPECT_EQ(wait.wait(&e, 1, 50), WaitOutcome::kTimeout);
  e.wantRead = false;
  ASSERT_TRUE(pair.client.send("late"));
  EXPECT_EQ(wait.wait(&e, 1, 200), WaitOutcome::kTimeout);
  e.wantRead = true;
  auto start = Clock::now();
  EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kReady);
  EXPECT_TRUE(e.readable);
  EXPECT_LT(msSince(start), 1000);
  // Unread, it stays ready.
  EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kReady);
  char buffer[16];
  EXPECT_EQ(receiveSome(pair.server.fd(), buffer, sizeof buffer), 4);
  EXPECT_EQ(wait.wait(&e, 1, 100), WaitOutcome::kTimeout);
}

// The wait may keep what it was asked between waits; what it keeps must
// follow the sockets: a closed socket's number given to a new one, the same
// socket in two entries, a socket no longer asked about, a handle that is
// no socket any more.
TEST(SocketWait, WhatItKeepsBetweenWaitsFollowsTheSockets) {
  SocketWait wait;
  {
    Pair first;
    PollEntry e = entry(first.server.fd(), true, false);
    EXPECT_EQ(wait.wait(&e, 1, 0), WaitOutcome::kTimeout);
  }
  // The numbers of the closed pair come back for the next one.
  Pair second;
  PollEntry e = entry(second.server.fd(), true, false);
  ASSERT_TRUE(second.client.send("x"));
  EXPECT_EQ(wait.wait(&e, 1, 2000), WaitOutcome::kReady);
  EXPECT_TRUE(e.readable);

  // One socket asked about for reading in one entry, writing in another.
  PollEntry twice[2] = {entry(second.server.fd(), true, false),
                        entry(second.server.fd(), false, true)};
  EXPECT_EQ(wait.wait(twice, 2, 2000), WaitOutcome::kReady);
  EXPECT_TRUE(twice[0].readable);
  EXPECT_FALSE(twice[0].writable);
  EXPECT_FALSE(twice[1].readable);
  EXPECT_TRUE(twice[1].writable);

  // Readable but left out of the next wait: it does not end that wait.
  Pair other;
  PollEntry quiet = entry(other.server.fd(), true, false);
  auto start = Clock::now();
  EXPECT_EQ(wait.wait(&quiet, 1, 200), WaitOutcome::kTimeout);
  EXPECT_GE(msSince(start), 180);
  EXPECT_FALSE(quiet.readable);

  // A handle closed under the wait's feet is told at once, not waited on.
  Pair closing;
  PollEntry stale = entry(closing.server.fd(), true, false);
  EXPECT_EQ(wait.wait(&stale, 1, 0), WaitOutcome::kTimeout);
  closing.server.close();
  start = Clock::now();
  WaitOutcome outcome = wait.wait(&stale, 1, 2000);
  EXPECT_LT(msSince(start), 1000);
  EXPECT_NE(outcome, WaitOutcome::kTimeout);
#ifndef _WIN32
  EXPECT_EQ(outcome, WaitOutcome::kReady);
  EXPECT_TRUE(stale.readable);
#endif
}

TEST(SocketWait, ListenerIsReadableWhenAConnectionWaits) {
  startSockets();
  LoopbackListener listener;
  SocketWait wait;
  // The listener's handle is not exposed: a listening socket of our own.
  SocketHandle own = openStreamSocket();
  ASSERT_TRUE(listenOn(own, 0, 16));
  PollEntry e = entry(own, true, false);
  EXPECT_EQ(wait.wait(&e, 1, 100), WaitOutcome::kTimeout);
  LoopbackPeer caller;
  std::thread connecting([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    caller.connect(localPort(own));
  });
  EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kReady);
  EXPECT_TRUE(e.readable);
  connecting.join();
  AcceptError error;
  SocketHandle accepted = acceptOn(own, &error);
  EXPECT_NE(accepted, kNoSocket);
  // The accepted socket is waited on like any other.
  PollEntry both[2] = {entry(own, true, false), entry(accepted, true, false)};
  EXPECT_EQ(wait.wait(both, 2, 100), WaitOutcome::kTimeout);
  caller.send("hi");
  EXPECT_EQ(wait.wait(both, 2, 5000), WaitOutcome::kReady);
  EXPECT_FALSE(both[0].readable);
  EXPECT_TRUE(both[1].readable);
  closeSocket(accepted);
  closeSocket(own);
}

#ifdef _WIN32
TEST(SocketWait, WindowMessagesEndTheWaitOnlyWhenWatched) {
  Pair pair;
  SocketWait wait;
  PollEntry e = entry(pair.server.fd(), true, false);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists
  const DWORD self = GetCurrentThreadId();
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostThreadMessageA(self, WM_APP, 0, 0);
  });
  EXPECT_EQ(wait.wait(&e, 1, 400), WaitOutcome::kTimeout);
  poster.join();
  wait.watchMessages(true);
  // Taken from the queue by the caller, it no longer ends a wait...
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
  std::thread again([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostThreadMessageA(self, WM_APP + 1, 0, 0);
  });
  auto start = Clock::now();
  EXPECT_EQ(wait.wait(&e, 1, 5000), WaitOutcome::kMessage);
  EXPECT_GE(msSince(start), 50);
  again.join();
  // ...and one the caller looked at and left does not end every wait.
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 5, WM_APP + 6, PM_REMOVE));
  EXPECT_EQ(wait.wait(&e, 1, 200), WaitOutcome::kTimeout);
}
#endif

}  // namespace
}  // namespace qova

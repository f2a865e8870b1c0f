// A scripted quiz server for the player side's tests: one loopback
// connection whose bytes the test sends and reads raw, every wait bounded.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testing/loopback_peer.h"

namespace qova::testing {

struct FakeServer {
  bool started = startSockets();  // before the socket: WinSock must be up first
  LoopbackListener listener;
  LoopbackPeer peer;
  FakeServer() {
    EXPECT_TRUE(started);
    EXPECT_TRUE(listener.isListening());
  }
  uint16_t port() const { return listener.port(); }
  bool accept(int ms = 2000) { return listener.accept(&peer, ms); }
  void send(const std::string& bytes) { ASSERT_TRUE(peer.send(bytes)); }
  // What arrives within `ms`.
  std::string readSome(int ms = 2000) { return peer.readAvailable(ms); }
  // At least `count` bytes, or what came within `ms`.
  std::string read(size_t count, int ms = 2000) { return peer.read(count, ms); }
  void close() { peer.close(); }
};

}  // namespace qova::testing

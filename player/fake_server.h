// A scripted quiz server for the player side's tests: one loopback
// connection whose bytes the test sends and reads raw, every wait bounded.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "server/socket.h"

namespace qova::testing {

struct FakeServer {
  int started = socketStartup();  // before the socket: WinSock must be up first
  Socket listener;
  std::optional<Socket> peer;
  FakeServer() {
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(listener.listen(0, 16));
  }
  uint16_t port() const { return listener.localPort(); }
  bool accept(int ms = 2000) {
    if (!listener.pollReadable(ms)) return false;
    peer.emplace(listener.accept());
    return peer->isValid();
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(peer->send(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
  }
  // What arrives within `ms`, one receive call.
  std::string readSome(int ms = 2000) {
    char buffer[65536];
    if (!peer->pollReadable(ms)) return "";
    int n = peer->recv(buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }
  // At least `count` bytes, or what came within `ms`.
  std::string read(size_t count, int ms = 2000) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < count && std::chrono::steady_clock::now() < end) got += readSome(50);
    return got;
  }
  void close() { peer.reset(); }
};

}  // namespace qova::testing

// Both ends of loopback connections for tests and benchmarks, on the
// platform layer (net/net.h), every wait bounded: a listener on a free port,
// and a peer that either connects to one (a player program's end, or a
// server's with a real listener) or is accepted from one.
#pragma once

#include <cstdint>
#include <string>

#include "net/net.h"

namespace qova::testing {

class LoopbackPeer {
 public:
  LoopbackPeer() = default;
  ~LoopbackPeer() { close(); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;
  LoopbackPeer(LoopbackPeer&& other) noexcept
      : fd_(other.fd_), pending_(std::move(other.pending_)) {
    other.fd_ = kNoSocket;
  }

  // Connects to 127.0.0.1:port within a few seconds; false when that fails.
  bool connect(uint16_t port);
  // Takes over a connected blocking socket (closing any held before).
  void adopt(SocketHandle handle);
  bool isOpen() const { return fd_ != kNoSocket; }
  void close();

  // Sends everything; false on failure.
  bool send(const std::string& bytes);

  // Whatever arrives within `timeoutMs` (waits only while nothing has come).
  std::string readAvailable(int timeoutMs);
  // Exactly `count` CR LF lines (text included), waiting at most
  // `timeoutMs` in all; fewer when time runs out or the peer closes.
  std::string readLines(int count, int timeoutMs);
  // At least `count` bytes, or what came within `timeoutMs`.
  std::string read(size_t count, int timeoutMs);
  // True when the other end closes the connection within `timeoutMs`;
  // bytes still arriving before the close are discarded.
  bool waitClosed(int timeoutMs);

  // Shrinks this end's receive buffer, to make a slow reader.
  void setReceiveBuffer(int bytes) { qova::setReceiveBuffer(fd_, bytes); }

  SocketHandle fd() const { return fd_; }

 private:
  SocketHandle fd_ = kNoSocket;
  std::string pending_;  // read but not yet handed out by readLines
};

// A listening socket on a free port of all interfaces.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener() { closeSocket(fd_); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool isListening() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  // Accepts one connection that arrives within `timeoutMs` into *peer.
  bool accept(LoopbackPeer* peer, int timeoutMs);

 private:
  SocketHandle fd_;
  uint16_t port_ = 0;
};

}  // namespace qova::testing

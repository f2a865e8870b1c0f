// A player program's end of a loopback connection, for the engine's tests and
// the benchmark: raw socket calls (WinSock or POSIX), every wait bounded.
#pragma once

#include <cstdint>
#include <string>

namespace qova::testing {

class LoopbackPeer {
 public:
  LoopbackPeer() = default;
  ~LoopbackPeer() { close(); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;
  LoopbackPeer(LoopbackPeer&& other) noexcept
      : fd_(other.fd_), pending_(std::move(other.pending_)) {
    other.fd_ = kNone;
  }

  // Connects to 127.0.0.1:port; false when that fails.
  bool connect(uint16_t port);
  bool isOpen() const { return fd_ != kNone; }
  void close();

  // Sends everything; false on failure.
  bool send(const std::string& bytes);

  // Whatever arrives within `timeoutMs` (waits only while nothing has come).
  std::string readAvailable(int timeoutMs);
  // Exactly `count` CR LF lines (text included), waiting at most
  // `timeoutMs` in all; fewer when time runs out or the server closes.
  std::string readLines(int count, int timeoutMs);
  // True when the server closes the connection within `timeoutMs`; bytes
  // still arriving before the close are discarded.
  bool waitClosed(int timeoutMs);

  // Shrinks this end's receive buffer, to make a slow reader.
  void setReceiveBuffer(int bytes);

  intptr_t fd() const { return fd_; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t fd_ = kNone;
  std::string pending_;  // read but not yet handed out by readLines
};

// Shrinks the send buffer of a socket of the server's, to make a slow reader.
void setSendBuffer(intptr_t handle, int bytes);

}  // namespace qova::testing

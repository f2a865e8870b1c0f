// A shared, reference-counted handle to one IPv4 TCP socket, on the platform
// layer of net/net.h (which also starts and cleans up the socket library
// and classifies accept failures). Copies share the handle and one count;
// the last holder to let go closes it. Readiness is asked with a zero-timeout
// poll, so callers receive or accept only when that would not block.
#pragma once

#include <cstdint>

#include "net/net.h"

namespace qova {

constexpr int kListenBacklog = 0x7FFFFFFF;  // SOMAXCONN of WinSock 2

class Socket {
 public:
  using Handle = SocketHandle;
  static constexpr Handle kInvalid = kNoSocket;

  // Creates a new IPv4 stream socket. When that fails the object is open but
  // not valid, and listen() fails.
  Socket();
  // Adopts `handle`; an invalid handle gives a closed object.
  explicit Socket(Handle handle);
  Socket(const Socket& other);
  Socket& operator=(const Socket&) = delete;
  ~Socket() { close(); }

  // Lets go of this object's reference; the last one closes the handle.
  // A second call does nothing.
  void close();

  // Binds all interfaces on `port` (0: a free port, for tests), or only
  // 127.0.0.1 with `loopbackOnly`, and listens.
  bool listen(uint16_t port, int backlog, bool loopbackOnly = false);
  // The bound port (for tests that listened on port 0); 0 when unknown.
  uint16_t localPort() const;

  // Accepts one waiting connection; an object that is not valid on failure,
  // with the kind of failure in *error when that is given.
  Socket accept(AcceptError* error = nullptr);

  // One send call; the byte count or -1. Blocks until the data is queued.
  int send(const char* data, int length);
  // One send that never blocks: bytes taken (possibly fewer than asked),
  // 0 when nothing fits now, -1 when the connection has failed.
  int sendNoWait(const char* data, int length);
  // One receive of at most `size` bytes: the count, 0 when the peer has
  // closed, -1 on error. Blocks until something arrives, unless the socket
  // is non-blocking (waited on with SocketWait on Windows): then
  // kSocketWouldBlock (-2) when nothing is there.
  int recv(char* buffer, int size);

  // True when a receive (or accept) would not block: data, a close or an
  // error is waiting. Waits at most `timeoutMs` (0: asks and returns).
  bool pollReadable(int timeoutMs = 0);

  bool isValid() const { return isOpen_ && handle_ != kInvalid; }
  Handle handle() const { return handle_; }

 private:
  bool isOpen_;
  int32_t* refCount_;
  bool holdsRef_;
  Handle handle_;
};

}  // namespace qova

// A player program's end of one TCP connection: non-blocking, polled with
// poll() (WSAPoll on Windows), so one thread can hold a thousand of them and
// a window loop never waits on the network. Writing to a connection the
// peer has closed gives an error value, never a SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qova {

// Starts the socket library once per process (WSAStartup on Windows, SIGPIPE
// ignored elsewhere). Safe to call again; false when it cannot be started.
bool startSockets();

// Raises the soft open-file limit to at least `count` descriptors where the
// platform has one; returns the limit now in force (or `count` on Windows).
long raiseOpenFileLimit(long count);

// Handle of one connection; kNoSocket when there is none.
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Begins a non-blocking IPv4 connect to host (dotted or a name) and port.
// Returns the handle, whose connect may still be under way (finish it with
// finishConnect once poll reports it writable), or kNoSocket with *error set.
SocketHandle startConnect(const std::string& host, uint16_t port, std::string* error);

// After poll reported the connecting handle writable or failed: true when the
// connection stands, else false with *error set (for example "connection
// refused").
bool finishConnect(SocketHandle handle, std::string* error);

// Outcomes of sendSome and receiveSome besides a byte count.
enum : int { kSocketWouldBlock = -2, kSocketError = -1 };

// Sends what the system takes now: the byte count (maybe fewer than `size`),
// kSocketWouldBlock, or kSocketError.
int sendSome(SocketHandle handle, const char* data, size_t size);

// Receives up to `size` bytes: the count, 0 when the peer has closed,
// kSocketWouldBlock, or kSocketError.
int receiveSome(SocketHandle handle, char* buffer, size_t size);

void closeSocket(SocketHandle handle);

// One entry of a poll set, as poll() takes it.
struct PollEntry {
  SocketHandle handle = kNoSocket;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;  // set by pollSockets: data, a close or an error
  bool writable = false;  // set by pollSockets: send space, or a failed connect
};

// Waits up to timeoutMs (0: no wait, negative: no limit) until an entry is
// ready. Returns the number of ready entries, 0 on timeout, -1 on failure.
int pollSockets(PollEntry* entries, size_t count, int timeoutMs);

// Text of the last socket error of this thread.
std::string lastSocketError();

}  // namespace qova

// The one platform layer under every program of the suite that talks TCP:
// WinSock on Windows, POSIX sockets elsewhere, IPv4 only. Plain functions on
// plain handles; the server's shared Socket (server/socket.h) and the
// players' non-blocking connections (player/player_client.h) stand on it.
// A peer that goes away never kills a process with SIGPIPE: sends give an
// error value instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qova {

// WSAStartup(2.2) on Windows, matched by one socketCleanup; elsewhere makes
// sure SIGPIPE is ignored. 0 on success.
int socketStartup();
// WSACleanup on Windows; nothing elsewhere.
void socketCleanup();
// socketStartup once for the whole process, for programs that never clean
// up (the players' side). Safe to call again; false when it failed.
bool startSockets();

// Raises the soft open-file limit to at least `count` descriptors where the
// platform has one; returns the limit now in force (or `count` on Windows).
long raiseOpenFileLimit(long count);

// This machine's IPv4 address in dotted form, as gethostbyname reports it
// for the host's own name; "127.0.0.1" when the name does not resolve.
std::string localHostAddress();

// Handle of one socket; kNoSocket when there is none.
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// A new blocking IPv4 stream socket, or kNoSocket.
SocketHandle openStreamSocket();
void closeSocket(SocketHandle handle);

// Binds all interfaces on `port` (0: a free port), or only 127.0.0.1 with
// `loopbackOnly`, and listens.
bool listenOn(SocketHandle handle, uint16_t port, int backlog, bool loopbackOnly = false);
// The bound port; 0 when unknown.
uint16_t localPort(SocketHandle handle);

// What a failed accept means for the listening socket.
enum class AcceptError {
  kNone,
  kTransient,      // that one connection failed (reset or aborted before it
                   // was taken, an interrupted call): try again on the next pass
  kNoDescriptors,  // the process or system is out of descriptors or buffers:
                   // stop accepting for a moment, then try again
  kListenerGone,   // the listening socket itself is unusable
};
// The kind of an accept failure from the system's error code (errno, or
// WSAGetLastError on Windows).
AcceptError acceptErrorKind(int systemError);
// Accepts one waiting connection (blocking, with TCP_NODELAY), or kNoSocket
// with the kind of failure in *error when that is given.
SocketHandle acceptOn(SocketHandle listener, AcceptError* error);

// Begins a non-blocking IPv4 connect to host (dotted or a name) and port,
// with TCP_NODELAY. Returns the handle, whose connect may still be under way
// (finish it with finishConnect once poll reports it writable), or kNoSocket
// with *error set.
SocketHandle startConnect(const std::string& host, uint16_t port, std::string* error);
// After poll reported the connecting handle writable or failed: true when the
// connection stands, else false with *error set (for example "connection
// refused").
bool finishConnect(SocketHandle handle, std::string* error);
// Switches a socket between blocking and non-blocking mode.
void setBlocking(SocketHandle handle, bool blocking);

// Outcomes of sendSome and receiveSome besides a byte count.
enum : int { kSocketWouldBlock = -2, kSocketError = -1 };

// One send: the byte count taken (maybe fewer than `size`),
// kSocketWouldBlock, or kSocketError. With `dontWait` it never blocks, even
// on a blocking socket.
int sendSome(SocketHandle handle, const char* data, size_t size, bool dontWait = false);
// One receive of up to `size` bytes: the count, 0 when the peer has closed,
// kSocketWouldBlock, or kSocketError.
int receiveSome(SocketHandle handle, char* buffer, size_t size);

// One entry of a poll set.
struct PollEntry {
  SocketHandle handle = kNoSocket;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;  // set by pollSockets: data, a close or an error
  bool writable = false;  // set by pollSockets: send space, or a failed connect
};
// Waits up to timeoutMs (0: no wait, negative: no limit) until an entry is
// ready. Returns the number of ready entries, 0 on timeout, -1 on failure.
// Any number of sockets, whatever their handle values.
int pollSockets(PollEntry* entries, size_t count, int timeoutMs);

// Sets the system's send or receive buffer of a socket (for tests that make
// a slow reader).
void setSendBuffer(SocketHandle handle, int bytes);
void setReceiveBuffer(SocketHandle handle, int bytes);

// Text of the last socket error of this thread.
std::string lastSocketError();

}  // namespace qova

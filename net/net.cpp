#include "net/net.h"

#include "net/socket_wait.h"

#ifdef _WIN32
// Windows fd_set is a counted array, so a larger size is simply a larger set;
// select is used there because it reports a failed connect reliably
// (exceptfds), which WSAPoll did not on every Windows version.
#define FD_SETSIZE 4096
#include <winsock2.h>
#include <ws2tcpip.h>
// After the sockets header, which must come first.
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <climits>
#include <cstring>
#include <vector>

namespace qova {

namespace {

#ifdef _WIN32
using Native = SOCKET;
int lastError() { return WSAGetLastError(); }
bool wouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
std::string errorText(int e) {
  char buffer[256] = {0};
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(e), 0, buffer, sizeof buffer, nullptr) == 0) {
    return "socket error " + std::to_string(e);
  }
  std::string text(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text + " (" + std::to_string(e) + ")";
}
constexpr int kSendFlags = 0;
#else
using Native = int;
int lastError() { return errno; }
// An interrupted call is tried again by the caller's next poll.
bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS || e == EINTR; }
std::string errorText(int e) { return std::string(strerror(e)); }
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif
#endif

Native raw(SocketHandle h) { return static_cast<Native>(h); }

int clampToInt(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

void setOption(SocketHandle h, int level, int option, int value) {
  setsockopt(raw(h), level, option, reinterpret_cast<const char*>(&value), sizeof value);
}

// Every block is handed over whole, so the small ones (a question, an
// answer) must leave at once rather than wait for the peer's delayed
// acknowledgement of the one before.
void setNoDelay(SocketHandle h) { setOption(h, IPPROTO_TCP, TCP_NODELAY, 1); }

void setNoSigPipe(SocketHandle h) {
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
  setOption(h, SOL_SOCKET, SO_NOSIGPIPE, 1);
#else
  (void)h;
#endif
}

// A socket is never handed to a process this one starts. Windows sockets are
// inheritable by default: a child started while the server runs (a helper
// process the system starts on the program's behalf, a browser opened on the
// results) would keep the listener bound after the server has gone, so the
// next server could not listen on its port and connections to it would wait
// unanswered.
void keepFromChildren(SocketHandle h) {
#ifdef _WIN32
  SetHandleInformation(reinterpret_cast<HANDLE>(raw(h)), HANDLE_FLAG_INHERIT, 0);
#else
  fcntl(raw(h), F_SETFD, FD_CLOEXEC);
#endif
}

// Resolves an IPv4 address; dotted text needs no name service.
bool resolve(const std::string& host, uint16_t port, sockaddr_in* address, std::string* error) {
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1) return true;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    *error = "unknown host \"" + host + "\"";
    return false;
  }
  address->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

}  // namespace

#ifdef _WIN32
int socketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void socketCleanup() { WSACleanup(); }
#else
int socketStartup() {
  // A send to a peer that has gone must come back as an error, not a signal.
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

void socketCleanup() {}
#endif

bool startSockets() {
  static const bool started = socketStartup() == 0;
  return started;
}

long raiseOpenFileLimit(long count) {
#ifdef _WIN32
  return count;
#else
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (static_cast<long>(limit.rlim_cur) < count) {
    rlim_t wanted = static_cast<rlim_t>(count);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<long>(limit.rlim_cur);
#endif
}

std::string localHostAddress() {
  char name[128] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "127.0.0.1";
  hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
    return "127.0.0.1";
  }
  in_addr address;
  std::memcpy(&address, host->h_addr_list[0], sizeof address);
  return inet_ntoa(address);
}

SocketHandle openStreamSocket() {
  Native s = ::socket(AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
  if (s == INVALID_SOCKET) return kNoSocket;
#else
  if (s < 0) return kNoSocket;
#endif
  SocketHandle h = static_cast<SocketHandle>(s);
  keepFromChildren(h);
  setNoSigPipe(h);
  return h;
}

void closeSocket(SocketHandle handle) {
  if (handle == kNoSocket) return;
  forgetSocketSelection(handle);
#ifdef _WIN32
  closesocket(raw(handle));
#else
  ::close(raw(handle));
#endif
}

bool listenOn(SocketHandle handle, uint16_t port, int backlog, bool loopbackOnly) {
#ifndef _WIN32
  // A server restarted at once must be able to bind again while the old
  // connections linger in TIME_WAIT. (On Windows the same option would let a
  // second server share the port, so it stays off there.)
  setOption(handle, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(raw(handle), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  // POSIX caps the backlog itself; a negative int there would mean 0.
  return ::listen(raw(handle), backlog) == 0;
}

uint16_t localPort(SocketHandle handle) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  if (getsockname(raw(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

AcceptError acceptErrorKind(int systemError) {
  switch (systemError) {
#ifdef _WIN32
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAEINTR:
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
      return AcceptError::kTransient;
    case WSAEMFILE:
    case WSAENOBUFS:
      return AcceptError::kNoDescriptors;
#else
    // Besides the aborted connection, Linux reports the pending network
    // errors of the new connection itself through accept.
    case ECONNABORTED:
    case ECONNRESET:
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
#ifdef ENONET
    case ENONET:
#endif
      return AcceptError::kTransient;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptError::kNoDescriptors;
#endif
    default:
      return AcceptError::kListenerGone;
  }
}

SocketHandle acceptOn(SocketHandle listener, AcceptError* error) {
  Native s = ::accept(raw(listener), nullptr, nullptr);
#ifdef _WIN32
  bool failed = s == INVALID_SOCKET;
#else
  bool failed = s < 0;
#endif
  if (error != nullptr) *error = failed ? acceptErrorKind(lastError()) : AcceptError::kNone;
  if (failed) return kNoSocket;
  SocketHandle h = static_cast<SocketHandle>(s);
  keepFromChildren(h);
  setNoDelay(h);
  setNoSigPipe(h);
  return h;
}

void setBlocking(SocketHandle handle, bool blocking) {
#ifdef _WIN32
  u_long nonBlocking = blocking ? 0 : 1;
  ioctlsocket(raw(handle), FIONBIO, &nonBlocking);
#else
  int flags = fcntl(raw(handle), F_GETFL, 0);
  fcntl(raw(handle), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
#endif
}

SocketHandle startConnect(const std::string& host, uint16_t port, std::string* error) {
  sockaddr_in address;
  if (!resolve(host, port, &address, error)) return kNoSocket;
  SocketHandle s = openStreamSocket();
  if (s == kNoSocket) {
    *error = errorText(lastError());
    return kNoSocket;
  }
  setBlocking(s, false);
  setNoDelay(s);
  if (connect(raw(s), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int e = lastError();
    if (!wouldBlock(e)) {
      *error = errorText(e);
      closeSocket(s);
      return kNoSocket;
    }
  }
  return s;
}

bool finishConnect(SocketHandle handle, std::string* error) {
  int code = 0;
  socklen_t size = sizeof code;
  if (getsockopt(raw(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0) {
    code = lastError();
  }
  if (code != 0) {
    *error = errorText(code);
    return false;
  }
  return true;
}

int sendSome(SocketHandle handle, const char* data, size_t size, bool dontWait) {
  if (size == 0) return 0;
#ifdef _WIN32
  // WinSock has no per-call flag; the socket is non-blocking only for this
  // call, so every other call keeps its blocking behaviour.
  if (dontWait) setBlocking(handle, false);
  int n = ::send(raw(handle), data, clampToInt(size), 0);
  int e = n < 0 ? lastError() : 0;
  if (dontWait) setBlocking(handle, true);
#else
  int flags = kSendFlags | (dontWait ? MSG_DONTWAIT : 0);
  int n = static_cast<int>(::send(raw(handle), data, static_cast<size_t>(clampToInt(size)), flags));
  int e = n < 0 ? lastError() : 0;
#endif
  if (n >= 0) return n;
  return wouldBlock(e) ? kSocketWouldBlock : kSocketError;
}

int receiveSome(SocketHandle handle, char* buffer, size_t size) {
#ifdef _WIN32
  int n = ::recv(raw(handle), buffer, clampToInt(size), 0);
#else
  int n;
  do {
    n = static_cast<int>(::recv(raw(handle), buffer, static_cast<size_t>(clampToInt(size)), 0));
  } while (n < 0 && errno == EINTR);
#endif
  if (n >= 0) return n;
  return wouldBlock(lastError()) ? kSocketWouldBlock : kSocketError;
}

int pollSockets(PollEntry* entries, size_t count, int timeoutMs) {
  for (size_t i = 0; i < count; ++i) entries[i].readable = entries[i].writable = false;
#ifdef _WIN32
  // select takes at most FD_SETSIZE sockets per set: larger sets go in slices
  // without waiting, and only a single slice may wait.
  if (count == 0) {
    Sleep(timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    return 0;
  }
  int ready = 0;
  for (size_t start = 0; start < count; start += FD_SETSIZE) {
    size_t end = start + FD_SETSIZE < count ? start + FD_SETSIZE : count;
    fd_set reads, writes, errors;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&errors);
    bool any = false;
    for (size_t i = start; i < end; ++i) {
      if (entries[i].handle == kNoSocket) continue;
      if (entries[i].wantRead) FD_SET(raw(entries[i].handle), &reads);
      if (entries[i].wantWrite) {
        FD_SET(raw(entries[i].handle), &writes);
        FD_SET(raw(entries[i].handle), &errors);
      }
      any = any || entries[i].wantRead || entries[i].wantWrite;
    }
    if (!any) continue;
    timeval wait = {0, 0};
    bool single = count <= FD_SETSIZE;
    if (single && timeoutMs > 0) {
      wait.tv_sec = timeoutMs / 1000;
      wait.tv_usec = (timeoutMs % 1000) * 1000;
    }
    int n = select(0, &reads, &writes, &errors, single && timeoutMs < 0 ? nullptr : &wait);
    if (n < 0) return -1;
    for (size_t i = start; i < end; ++i) {
      SOCKET s = raw(entries[i].handle);
      if (entries[i].handle == kNoSocket) continue;
      entries[i].readable = entries[i].wantRead && FD_ISSET(s, &reads);
      entries[i].writable = entries[i].wantWrite && (FD_ISSET(s, &writes) || FD_ISSET(s, &errors));
      if (entries[i].readable || entries[i].writable) ++ready;
    }
  }
  // Sliced sets cannot wait in select; a short pause keeps callers from spinning.
  if (ready == 0 && count > FD_SETSIZE && timeoutMs != 0) Sleep(1);
  return ready;
#else
  // The server polls its clients one at a time without pause: no
  // allocation for small sets.
  pollfd small[16];
  std::vector<pollfd> large;
  pollfd* fds = small;
  if (count > 16) {
    large.resize(count);
    fds = large.data();
  }
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].handle == kNoSocket ? -1 : raw(entries[i].handle);
    fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                       (entries[i].wantWrite ? POLLOUT : 0));
    if (fds[i].events == 0) fds[i].fd = -1;
    fds[i].revents = 0;
  }
  int n;
  do {
    n = poll(fds, static_cast<nfds_t>(count), timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    short r = fds[i].revents;
    bool failed = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    entries[i].readable = entries[i].wantRead && ((r & POLLIN) || failed);
    entries[i].writable = entries[i].wantWrite && ((r & POLLOUT) || failed);
    if (entries[i].readable || entries[i].writable) ++ready;
  }
  return ready;
#endif
}

void setSendBuffer(SocketHandle handle, int bytes) {
  setOption(handle, SOL_SOCKET, SO_SNDBUF, bytes);
}

void setReceiveBuffer(SocketHandle handle, int bytes) {
  setOption(handle, SOL_SOCKET, SO_RCVBUF, bytes);
}

std::string lastSocketError() { return errorText(lastError()); }

}  // namespace qova

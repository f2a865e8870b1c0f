#include "player/client_socket.h"

#ifdef _WIN32
// Windows fd_set is a counted array, so a larger size is simply a larger set;
// select is used there because it reports a failed connect reliably
// (exceptfds), which WSAPoll did not on every Windows version.
#define FD_SETSIZE 4096
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>
#endif

#include <cstring>

namespace qova {

namespace {

#ifdef _WIN32
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
SOCKET raw(SocketHandle h) { return static_cast<SOCKET>(h); }
#else
int lastError() { return errno; }
bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }
std::string errorText(int e) { return std::string(strerror(e)); }
int raw(SocketHandle h) { return static_cast<int>(h); }
#endif

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

bool startSockets() {
#ifdef _WIN32
  static bool started = false;
  if (started) return true;
  WSADATA data;
  started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return started;
#else
  signal(SIGPIPE, SIG_IGN);
  return true;
#endif
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

SocketHandle startConnect(const std::string& host, uint16_t port, std::string* error) {
  sockaddr_in address;
  if (!resolve(host, port, &address, error)) return kNoSocket;
#ifdef _WIN32
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = errorText(lastError());
    return kNoSocket;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
#else
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) {
    *error = errorText(lastError());
    return kNoSocket;
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK);
  fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
  // Answers are a few bytes each; send them at once rather than batched.
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int e = lastError();
    if (!wouldBlock(e)) {
      *error = errorText(e);
      closeSocket(static_cast<SocketHandle>(s));
      return kNoSocket;
    }
  }
  return static_cast<SocketHandle>(s);
}

bool finishConnect(SocketHandle handle, std::string* error) {
  int code = 0;
#ifdef _WIN32
  int size = sizeof code;
#else
  socklen_t size = sizeof code;
#endif
  if (getsockopt(raw(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0) {
    code = lastError();
  }
  if (code != 0) {
    *error = errorText(code);
    return false;
  }
  return true;
}

int sendSome(SocketHandle handle, const char* data, size_t size) {
  if (size == 0) return 0;
  int chunk = size > 65536 ? 65536 : static_cast<int>(size);
#ifdef _WIN32
  int n = send(raw(handle), data, chunk, 0);
#else
  int n = static_cast<int>(send(raw(handle), data, static_cast<size_t>(chunk), MSG_NOSIGNAL));
#endif
  if (n >= 0) return n;
  return wouldBlock(lastError()) ? kSocketWouldBlock : kSocketError;
}

int receiveSome(SocketHandle handle, char* buffer, size_t size) {
  int chunk = size > 65536 ? 65536 : static_cast<int>(size);
#ifdef _WIN32
  int n = recv(raw(handle), buffer, chunk, 0);
#else
  int n = static_cast<int>(recv(raw(handle), buffer, static_cast<size_t>(chunk), 0));
#endif
  if (n >= 0) return n;
  return wouldBlock(lastError()) ? kSocketWouldBlock : kSocketError;
}

void closeSocket(SocketHandle handle) {
  if (handle == kNoSocket) return;
#ifdef _WIN32
  closesocket(raw(handle));
#else
  close(raw(handle));
#endif
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
  std::vector<pollfd> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].handle == kNoSocket ? -1 : raw(entries[i].handle);
    fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                       (entries[i].wantWrite ? POLLOUT : 0));
    if (fds[i].events == 0) fds[i].fd = -1;
    fds[i].revents = 0;
  }
  int n;
  do {
    n = poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
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

std::string lastSocketError() { return errorText(lastError()); }

}  // namespace qova

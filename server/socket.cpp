#include "server/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstring>

namespace qova {

#ifdef _WIN32
const Socket::Handle Socket::kInvalid = INVALID_SOCKET;
namespace {
int closeHandle(Socket::Handle h) { return closesocket(h); }
bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
}  // namespace

int socketStartup() {
  WSADATA data;
  return WSAStartup(0x0202, &data);
}

void socketCleanup() { WSACleanup(); }
#else
const Socket::Handle Socket::kInvalid = -1;
namespace {
int closeHandle(Socket::Handle h) { return ::close(h); }
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif
}  // namespace

int socketStartup() {
  // A send to a peer that has gone must come back as an error, not a signal.
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

void socketCleanup() {}
#endif

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

Socket::Socket() : isOpen_(true), refCount_(nullptr), holdsRef_(false) {
  handle_ = ::socket(AF_INET, SOCK_STREAM, 0);
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
  if (handle_ != kInvalid) {
    int on = 1;
    setsockopt(handle_, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
  }
#endif
  if (handle_ != kInvalid) {
    refCount_ = new int32_t(1);
    holdsRef_ = true;
  }
}

Socket::Socket(Handle handle)
    : isOpen_(false), refCount_(nullptr), holdsRef_(false), handle_(handle) {
  if (handle != kInvalid) {
    isOpen_ = true;
    refCount_ = new int32_t(1);
    holdsRef_ = true;
  }
}

Socket::Socket(const Socket& other)
    : isOpen_(other.isOpen_),
      refCount_(other.refCount_),
      holdsRef_(other.holdsRef_),
      handle_(other.handle_) {
  if (holdsRef_) ++*refCount_;
}

void Socket::close() {
  if (!holdsRef_) return;
  holdsRef_ = false;
  if (--*refCount_ == 0) {
    closeHandle(handle_);
    handle_ = kInvalid;
    delete refCount_;
    isOpen_ = false;
  }
  refCount_ = nullptr;
}

bool Socket::listen(uint16_t port, int backlog) {
  if (!isValid()) return false;
#ifndef _WIN32
  // A server restarted at once must be able to bind again while the old
  // connections linger in TIME_WAIT. (On Windows the same option would let a
  // second server share the port, so it stays off there.)
  int on = 1;
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  // POSIX caps the backlog itself; a negative int there would mean 0.
  return ::listen(handle_, backlog) == 0;
}

uint16_t Socket::localPort() const {
  if (!isValid()) return 0;
  sockaddr_in address;
  socklen_t length = sizeof address;
  if (getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
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

Socket Socket::accept(AcceptError* error) {
  if (error != nullptr) *error = AcceptError::kListenerGone;
  if (!isValid()) return Socket(kInvalid);
  Handle h = ::accept(handle_, nullptr, nullptr);
  if (error != nullptr) {
#ifdef _WIN32
    *error = h == kInvalid ? acceptErrorKind(WSAGetLastError()) : AcceptError::kNone;
#else
    *error = h == kInvalid ? acceptErrorKind(errno) : AcceptError::kNone;
#endif
  }
  if (h != kInvalid) {
    // Every block is handed over whole, so the small ones (a question, the
    // results) must leave at once rather than wait for the peer's delayed
    // acknowledgement of the one before.
    int on = 1;
    setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
    setsockopt(h, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  }
  return Socket(h);
}

int Socket::send(const char* data, int length) {
#ifdef _WIN32
  return ::send(handle_, data, length, 0);
#else
  return static_cast<int>(::send(handle_, data, static_cast<size_t>(length), kSendFlags));
#endif
}

int Socket::sendNoWait(const char* data, int length) {
#ifdef _WIN32
  // WinSock has no per-call flag; the socket is non-blocking only for this
  // call, so every other call keeps its blocking behaviour.
  u_long on = 1, off = 0;
  ioctlsocket(handle_, FIONBIO, &on);
  int sent = ::send(handle_, data, length, 0);
  bool blocked = sent < 0 && wouldBlock();
  ioctlsocket(handle_, FIONBIO, &off);
#else
  int sent = static_cast<int>(
      ::send(handle_, data, static_cast<size_t>(length), kSendFlags | MSG_DONTWAIT));
  bool blocked = sent < 0 && (wouldBlock() || errno == EINTR);
#endif
  if (blocked) return 0;
  return sent < 0 ? -1 : sent;
}

int Socket::recv(char* buffer, int size) {
#ifdef _WIN32
  int got = ::recv(handle_, buffer, size, 0);
#else
  int got;
  do {
    got = static_cast<int>(::recv(handle_, buffer, static_cast<size_t>(size), 0));
  } while (got < 0 && errno == EINTR);
#endif
  return got < 0 ? -1 : got;
}

bool Socket::pollReadable(int timeoutMs) {
  if (handle_ == kInvalid) return false;
#ifdef _WIN32
  // select takes any number of sockets on WinSock; FD_SETSIZE limits only
  // how many one set holds, and this set holds one.
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(handle_, &readSet);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readSet, nullptr, nullptr, &timeout) > 0;
#else
  pollfd entry{handle_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
#endif
}

}  // namespace qova

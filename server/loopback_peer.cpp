#include "server/loopback_peer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>

namespace qova::testing {

namespace {

#ifdef _WIN32
using Native = SOCKET;
constexpr int kNoSignal = 0;
int pollOne(intptr_t fd, int timeoutMs) {
  WSAPOLLFD entry{static_cast<Native>(fd), POLLRDNORM, 0};
  return WSAPoll(&entry, 1, timeoutMs);
}
void closeNative(intptr_t fd) { closesocket(static_cast<Native>(fd)); }
#else
using Native = int;
constexpr int kNoSignal = MSG_NOSIGNAL;
int pollOne(intptr_t fd, int timeoutMs) {
  pollfd entry{static_cast<Native>(fd), POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs);
}
void closeNative(intptr_t fd) { ::close(static_cast<Native>(fd)); }
#endif

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int receive(intptr_t fd, char* buffer, int size) {
  return static_cast<int>(::recv(static_cast<Native>(fd), buffer, size, 0));
}

void setBuffer(intptr_t fd, int option, int bytes) {
  setsockopt(static_cast<Native>(fd), SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
}

}  // namespace

bool LoopbackPeer::connect(uint16_t port) {
  close();
  Native s = ::socket(AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
  if (s == INVALID_SOCKET) return false;
#else
  if (s < 0) return false;
#endif
  fd_ = static_cast<intptr_t>(s);
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close();
    return false;
  }
  return true;
}

void LoopbackPeer::close() {
  if (fd_ != kNone) closeNative(fd_);
  fd_ = kNone;
  pending_.clear();
}

bool LoopbackPeer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = static_cast<int>(::send(static_cast<Native>(fd_), bytes.data() + sent,
                                    static_cast<int>(bytes.size() - sent), kNoSignal));
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string LoopbackPeer::readAvailable(int timeoutMs) {
  std::string out;
  out.swap(pending_);
  char buffer[65536];
  int wait = out.empty() ? timeoutMs : 0;
  for (;;) {
    if (pollOne(fd_, wait) <= 0) return out;
    int n = receive(fd_, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.append(buffer, static_cast<size_t>(n));
    wait = 0;
  }
}

std::string LoopbackPeer::readLines(int count, int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  size_t end = 0;
  int found = 0;
  char buffer[65536];
  for (;;) {
    while (found < count) {
      size_t at = pending_.find("\r\n", end);
      if (at == std::string::npos) break;
      end = at + 2;
      ++found;
    }
    if (found == count) break;
    int64_t left = deadline - nowMs();
    if (left <= 0) break;
    if (pollOne(fd_, static_cast<int>(left)) <= 0) break;
    int n = receive(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    pending_.append(buffer, static_cast<size_t>(n));
  }
  if (found < count) end = pending_.size();
  std::string lines = pending_.substr(0, end);
  pending_.erase(0, end);
  return lines;
}

bool LoopbackPeer::waitClosed(int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  char buffer[4096];
  for (;;) {
    int64_t left = deadline - nowMs();
    if (left <= 0) return false;
    if (pollOne(fd_, static_cast<int>(left)) <= 0) return false;
    if (receive(fd_, buffer, sizeof buffer) <= 0) return true;
  }
}

void LoopbackPeer::setReceiveBuffer(int bytes) { setBuffer(fd_, SO_RCVBUF, bytes); }

void setSendBuffer(intptr_t handle, int bytes) { setBuffer(handle, SO_SNDBUF, bytes); }

}  // namespace qova::testing

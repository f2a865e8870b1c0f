#include "server/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace qova::testing {

namespace {

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool LoopbackPeer::connect(uint16_t port) {
  close();
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return false;
  int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close();
    return false;
  }
  return true;
}

void LoopbackPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool LoopbackPeer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
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
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, wait) <= 0) return out;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
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
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
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
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left)) <= 0) return false;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

}  // namespace qova::testing

#include "testing/loopback_peer.h"

#include <chrono>

namespace qova::testing {

namespace {

int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool waitFor(SocketHandle fd, bool write, int timeoutMs) {
  PollEntry entry;
  entry.handle = fd;
  entry.wantRead = !write;
  entry.wantWrite = write;
  return pollSockets(&entry, 1, timeoutMs) > 0;
}

}  // namespace

bool LoopbackPeer::connect(uint16_t port) {
  close();
  std::string error;
  fd_ = startConnect("127.0.0.1", port, &error);
  if (fd_ == kNoSocket) return false;
  if (!waitFor(fd_, true, 5000) || !finishConnect(fd_, &error)) {
    close();
    return false;
  }
  setBlocking(fd_, true);
  return true;
}

void LoopbackPeer::adopt(SocketHandle handle) {
  close();
  fd_ = handle;
}

void LoopbackPeer::close() {
  closeSocket(fd_);
  fd_ = kNoSocket;
  pending_.clear();
}

bool LoopbackPeer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = sendSome(fd_, bytes.data() + sent, bytes.size() - sent);
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
    if (!waitFor(fd_, false, wait)) return out;
    int n = receiveSome(fd_, buffer, sizeof buffer);
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
    if (!waitFor(fd_, false, static_cast<int>(left))) break;
    int n = receiveSome(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    pending_.append(buffer, static_cast<size_t>(n));
  }
  if (found < count) end = pending_.size();
  std::string lines = pending_.substr(0, end);
  pending_.erase(0, end);
  return lines;
}

std::string LoopbackPeer::read(size_t count, int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  std::string got;
  while (got.size() < count && nowMs() < deadline) got += readAvailable(50);
  return got;
}

bool LoopbackPeer::waitClosed(int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  char buffer[4096];
  for (;;) {
    int64_t left = deadline - nowMs();
    if (left <= 0) return false;
    if (!waitFor(fd_, false, static_cast<int>(left))) return false;
    if (receiveSome(fd_, buffer, sizeof buffer) <= 0) return true;
  }
}

LoopbackListener::LoopbackListener() : fd_(openStreamSocket()) {
  if (fd_ != kNoSocket && listenOn(fd_, 0, 64)) port_ = localPort(fd_);
}

bool LoopbackListener::accept(LoopbackPeer* peer, int timeoutMs) {
  if (fd_ == kNoSocket || !waitFor(fd_, false, timeoutMs)) return false;
  SocketHandle h = acceptOn(fd_, nullptr);
  if (h == kNoSocket) return false;
  peer->adopt(h);
  return true;
}

}  // namespace qova::testing

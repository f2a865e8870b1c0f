#include "server/socket.h"

namespace qova {

Socket::Socket() : isOpen_(true), refCount_(nullptr), holdsRef_(false) {
  handle_ = openStreamSocket();
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
    closeSocket(handle_);
    handle_ = kInvalid;
    delete refCount_;
    isOpen_ = false;
  }
  refCount_ = nullptr;
}

bool Socket::listen(uint16_t port, int backlog, bool loopbackOnly) {
  return isValid() && listenOn(handle_, port, backlog, loopbackOnly);
}

uint16_t Socket::localPort() const { return isValid() ? qova::localPort(handle_) : 0; }

Socket Socket::accept(AcceptError* error) {
  if (error != nullptr) *error = AcceptError::kListenerGone;
  if (!isValid()) return Socket(kInvalid);
  return Socket(acceptOn(handle_, error));
}

int Socket::send(const char* data, int length) {
  int sent = sendSome(handle_, data, length < 0 ? 0 : static_cast<size_t>(length));
  return sent < 0 ? -1 : sent;
}

int Socket::sendNoWait(const char* data, int length) {
  int sent = sendSome(handle_, data, length < 0 ? 0 : static_cast<size_t>(length), true);
  if (sent == kSocketWouldBlock) return 0;
  return sent < 0 ? -1 : sent;
}

int Socket::recv(char* buffer, int size) {
  int got = receiveSome(handle_, buffer, size < 0 ? 0 : static_cast<size_t>(size));
  if (got == kSocketWouldBlock) return kSocketWouldBlock;
  return got < 0 ? -1 : got;
}

bool Socket::pollReadable(int timeoutMs) {
  if (handle_ == kInvalid) return false;
  PollEntry entry;
  entry.handle = handle_;
  entry.wantRead = true;
  return pollSockets(&entry, 1, timeoutMs) > 0 && entry.readable;
}

}  // namespace qova

#include "net/socket_wait.h"

#ifdef _WIN32
#include <winsock2.h>
// After the sockets header, which must come first.
#include <windows.h>

#include <unordered_map>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>
#endif

#include "common/tick.h"

namespace qova {

namespace {

// What is left of `timeoutMs` (negative: no limit) after `elapsed`.
int remaining(int timeoutMs, uint32_t elapsed) {
  if (timeoutMs < 0) return -1;
  return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

void clearReadiness(PollEntry* entries, size_t count) {
  for (size_t i = 0; i < count; ++i) entries[i].readable = entries[i].writable = false;
}

}  // namespace

#ifdef _WIN32

namespace {

// What a socket was last asked about, and in which wait.
struct Selection {
  uint64_t seenIn = 0;
  bool read = false;
  bool write = false;
};

// Every event a socket can report; which of them matter is the query's
// business. A socket signals each kind once until the call that re-enables
// it (recv, send, accept), so sockets nobody asks about wake a wait at most
// once.
constexpr long kNetworkEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE | FD_CONNECT;

}  // namespace

struct SocketWait::Platform {
  WSAEVENT sockets = WSA_INVALID_EVENT;  // manual reset: every socket's events
  HANDLE wake = nullptr;                 // auto reset: wake()
  std::unordered_map<SocketHandle, Selection> selected;
  uint64_t waits = 0;

  // Ties the entries' sockets to the event (once each) and notes whether
  // one is asked about for something it was not asked about in the previous
  // wait: what it reported back then was taken and not looked at, and will
  // not be reported again, so the query must run before the wait.
  bool select(const PollEntry* entries, size_t count, size_t* asked) {
    ++waits;
    bool widened = false;
    *asked = 0;
    for (size_t i = 0; i < count; ++i) {
      const PollEntry& e = entries[i];
      if (e.handle == kNoSocket || !(e.wantRead || e.wantWrite)) continue;
      ++*asked;
      auto [at, fresh] = selected.try_emplace(e.handle);
      Selection& s = at->second;
      if (fresh) {
        WSAEventSelect(static_cast<SOCKET>(e.handle), sockets, kNetworkEvents);
        widened = true;
      } else if ((e.wantRead && !s.read) || (e.wantWrite && !s.write)) {
        widened = true;
      }
      s.seenIn = waits;
      s.read = e.wantRead;
      s.write = e.wantWrite;
    }
    // Closed sockets leave the table once it has grown well past the set
    // asked about. A handle that comes back under a value still listed is
    // a socket accepted from a listener of this wait, which inherits the
    // listener's selection, and it is asked about before any wait anyway.
    if (selected.size() > 2 * *asked + 64) {
      for (auto it = selected.begin(); it != selected.end();) {
        it = it->second.seenIn == waits ? std::next(it) : selected.erase(it);
      }
    }
    return widened;
  }

  int query(PollEntry* entries, size_t count, size_t asked) {
    WSAResetEvent(sockets);
    if (asked == 0) {
      clearReadiness(entries, count);
      return 0;
    }
    return pollSockets(entries, count, 0);
  }
};

SocketWait::SocketWait() : platform_(new Platform) {
  platform_->sockets = WSACreateEvent();
  platform_->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

SocketWait::~SocketWait() {
  if (platform_->sockets != WSA_INVALID_EVENT) WSACloseEvent(platform_->sockets);
  if (platform_->wake != nullptr) CloseHandle(platform_->wake);
}

void SocketWait::wake() {
  if (platform_->wake != nullptr) SetEvent(platform_->wake);
}

WaitOutcome SocketWait::wait(PollEntry* entries, size_t count, int timeoutMs) {
  ++wakes_;
  Platform& p = *platform_;
  if (p.sockets == WSA_INVALID_EVENT || p.wake == nullptr) return WaitOutcome::kFailed;
  size_t asked = 0;
  const bool widened = p.select(entries, count, &asked);
  if (widened || timeoutMs == 0) {
    int ready = p.query(entries, count, asked);
    if (ready < 0) return WaitOutcome::kFailed;
    if (ready > 0) return WaitOutcome::kReady;
    if (timeoutMs == 0) return WaitOutcome::kTimeout;
  }
  const uint32_t start = tickCount();
  for (;;) {
    int left = remaining(timeoutMs, tickCount() - start);
    DWORD ms = left < 0 ? INFINITE : static_cast<DWORD>(left);
    HANDLE handles[2] = {p.sockets, p.wake};
    // Without MWMO_INPUTAVAILABLE: only input that arrived since the caller
    // last looked at its queue ends the wait, so messages the caller leaves
    // for another window do not end every wait.
    DWORD woke = watchMessages_ ? MsgWaitForMultipleObjectsEx(2, handles, ms, QS_ALLINPUT, 0)
                                : WaitForMultipleObjects(2, handles, FALSE, ms);
    if (woke == WAIT_OBJECT_0 + 1) {
      clearReadiness(entries, count);
      return WaitOutcome::kWoken;
    }
    if (woke == WAIT_OBJECT_0 + 2 && watchMessages_) {
      clearReadiness(entries, count);
      return WaitOutcome::kMessage;
    }
    if (woke != WAIT_OBJECT_0 && woke != WAIT_TIMEOUT) return WaitOutcome::kFailed;
    int ready = p.query(entries, count, asked);
    if (ready < 0) return WaitOutcome::kFailed;
    if (ready > 0) return WaitOutcome::kReady;
    if (woke == WAIT_TIMEOUT || remaining(timeoutMs, tickCount() - start) == 0) {
      return WaitOutcome::kTimeout;
    }
    // The event told of a socket nobody asks about (or of something already
    // taken): it has been reset; wait on.
  }
}

#else

struct SocketWait::Platform {
  int wakeRead = -1;
  int wakeWrite = -1;
  std::vector<pollfd> fds;  // kept between waits: no allocation per wait
};

SocketWait::SocketWait() : platform_(new Platform) {
  int ends[2];
  if (pipe(ends) != 0) return;  // no wake then; sockets and timeouts still work
  for (int fd : ends) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  platform_->wakeRead = ends[0];
  platform_->wakeWrite = ends[1];
}

SocketWait::~SocketWait() {
  if (platform_->wakeRead >= 0) ::close(platform_->wakeRead);
  if (platform_->wakeWrite >= 0) ::close(platform_->wakeWrite);
}

void SocketWait::wake() {
  if (platform_->wakeWrite < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake.
  while (::write(platform_->wakeWrite, &byte, 1) < 0 && errno == EINTR) {
  }
}

WaitOutcome SocketWait::wait(PollEntry* entries, size_t count, int timeoutMs) {
  ++wakes_;
  Platform& p = *platform_;
  p.fds.resize(count + 1);
  p.fds[0] = pollfd{p.wakeRead, POLLIN, 0};
  for (size_t i = 0; i < count; ++i) {
    const PollEntry& e = entries[i];
    pollfd& f = p.fds[i + 1];
    f.events = static_cast<short>((e.wantRead ? POLLIN : 0) | (e.wantWrite ? POLLOUT : 0));
    f.fd = e.handle == kNoSocket || f.events == 0 ? -1 : static_cast<int>(e.handle);
    f.revents = 0;
  }
  const uint32_t start = tickCount();
  int n;
  do {
    n = poll(p.fds.data(), static_cast<nfds_t>(p.fds.size()),
             remaining(timeoutMs, tickCount() - start));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    clearReadiness(entries, count);
    return WaitOutcome::kFailed;
  }
  bool woken = false;
  if (p.fds[0].revents != 0) {
    char drain[64];
    while (::read(p.wakeRead, drain, sizeof drain) > 0) {
    }
    woken = true;
  }
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    short r = p.fds[i + 1].revents;
    bool failed = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    entries[i].readable = entries[i].wantRead && ((r & POLLIN) || failed);
    entries[i].writable = entries[i].wantWrite && ((r & POLLOUT) || failed);
    if (entries[i].readable || entries[i].writable) ++ready;
  }
  if (woken) return WaitOutcome::kWoken;
  return ready > 0 ? WaitOutcome::kReady : WaitOutcome::kTimeout;
}

#endif

}  // namespace qova

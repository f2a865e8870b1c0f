#include "net/socket_wait.h"

#ifdef _WIN32
#include <winsock2.h>
// After the sockets header, which must come first.
#include <windows.h>

#include <mutex>
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

// How each socket is tied to an event, for every SocketWait of the process.
// A handle value can come back for a new socket once the old one is closed;
// closeSocket forgets the old tie first, so the new socket is tied afresh.
struct Selection {
  WSAEVENT event = WSA_INVALID_EVENT;
  bool read = false;   // asked about for reading in the last wait
  bool write = false;  // FD_WRITE is in its events
};
std::mutex selectionsLock;
std::unordered_map<SocketHandle, Selection>& selections() {
  static std::unordered_map<SocketHandle, Selection> table;
  return table;
}

// Reading, accepting and closing are in every socket's events: each is told
// once until the call that re-enables it (recv, accept), so a socket that
// nobody asks about wakes a wait at most once. Writing is in them only while
// the socket is asked about for it, since a writable socket is told of again
// and again (Wine does so on every select).
long networkEvents(bool write) {
  return FD_READ | FD_ACCEPT | FD_CLOSE | (write ? FD_WRITE | FD_CONNECT : 0);
}

}  // namespace

void forgetSocketSelection(SocketHandle handle) {
  std::lock_guard<std::mutex> hold(selectionsLock);
  selections().erase(handle);
}

struct SocketWait::Platform {
  HANDLE wake = nullptr;                 // auto reset: wake()
  WSAEVENT sockets = WSA_INVALID_EVENT;  // manual reset: every socket's events

  // Ties the entries' sockets to the event where they are not tied to it
  // with the events they need, and tells whether one is asked about for
  // something it was not asked about before: what it reported back then
  // was taken and not looked at, and will not be reported again, so the
  // query must run before the wait.
  bool select(const PollEntry* entries, size_t count, size_t* asked) {
    bool widened = false;
    *asked = 0;
    std::lock_guard<std::mutex> hold(selectionsLock);
    auto& table = selections();
    for (size_t i = 0; i < count; ++i) {
      const PollEntry& e = entries[i];
      if (e.handle == kNoSocket) continue;
      if (!e.wantRead && !e.wantWrite) {
        // Not asked about now: asking again later must count as new.
        auto it = table.find(e.handle);
        if (it == table.end()) continue;
        Selection& s = it->second;
        if (s.write && s.event == sockets) {
          WSAEventSelect(static_cast<SOCKET>(e.handle), sockets, networkEvents(false));
          s.write = false;
        }
        s.read = false;
        continue;
      }
      ++*asked;
      Selection& s = table[e.handle];
      if (s.event != sockets || s.write != e.wantWrite) {
        WSAEventSelect(static_cast<SOCKET>(e.handle), sockets, networkEvents(e.wantWrite));
        s.event = sockets;
        s.write = e.wantWrite;
        widened = true;
      } else if (e.wantRead && !s.read) {
        widened = true;
      }
      s.read = e.wantRead;
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
  platform_->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  platform_->sockets = WSACreateEvent();
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
    // The wake first, so that busy sockets cannot hold it up.
    HANDLE handles[2] = {p.wake, p.sockets};
    // Without MWMO_INPUTAVAILABLE: only input that arrived since the caller
    // last looked at its queue ends the wait, so messages the caller leaves
    // for another window do not end every wait.
    DWORD woke = watchMessages_ ? MsgWaitForMultipleObjectsEx(2, handles, ms, QS_ALLINPUT, 0)
                                : WaitForMultipleObjects(2, handles, FALSE, ms);
    if (woke == WAIT_OBJECT_0) {
      clearReadiness(entries, count);
      return WaitOutcome::kWoken;
    }
    if (woke == WAIT_OBJECT_0 + 2 && watchMessages_) {
      clearReadiness(entries, count);
      return WaitOutcome::kMessage;
    }
    if (woke != WAIT_OBJECT_0 + 1 && woke != WAIT_TIMEOUT) return WaitOutcome::kFailed;
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

void forgetSocketSelection(SocketHandle) {}

#endif

}  // namespace qova

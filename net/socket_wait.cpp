#include "net/socket_wait.h"

#ifdef _WIN32
#include <winsock2.h>
// After the sockets header, which must come first.
#include <windows.h>

#include <mutex>
#include <unordered_map>
#else
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
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

namespace {

// What one descriptor is to one wait. `asked` and `ready` hold the number of
// the wait that last asked about it and that last found it ready, so nothing
// is cleared between waits.
struct Slot {
  uint32_t events = 0;   // what the epoll set holds for it; 0: not in it
  uint32_t wanted = 0;   // what this wait asks about it
  uint32_t revents = 0;  // what this wait found
  bool listed = false;   // in `registered`
  uint64_t asked = 0;
  uint64_t ready = 0;
};

}  // namespace

// The epoll set is kept between waits and changed only where what is asked
// about changes, so a wait costs the kernel only the descriptors that are
// ready, not every one asked about (with a thousand players awaited, poll()
// over all of them on every answer's wake was most of the game's CPU).
struct SocketWait::Platform {
  int epoll = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  uint64_t waits = 0;
  std::vector<Slot> slots;         // by descriptor
  std::vector<int> registered;     // descriptors in the epoll set, each once
  std::vector<epoll_event> found;  // kept between waits: no allocation per wait
  // Held while the slots change: closeSocket may come from another thread.
  std::mutex lock;

  // Brings the epoll set to what this wait asks; a descriptor the kernel
  // refuses (closed, or no socket) is reported as ready, as poll() reports
  // POLLNVAL, so the caller finds out by reading it.
  void ask(int fd, uint32_t wanted);
  void dropUnasked();
  void forget(int fd);
};

namespace {

// Every wait of the process, so that closeSocket can take a descriptor out
// of each epoll set before its number is given to a new socket.
std::mutex waitsLock;
std::vector<SocketWait*>& allWaits() {
  static std::vector<SocketWait*> list;
  return list;
}

}  // namespace

void SocketWait::Platform::ask(int fd, uint32_t wanted) {
  if (static_cast<size_t>(fd) >= slots.size()) slots.resize(static_cast<size_t>(fd) + 1);
  Slot& s = slots[fd];
  // The same descriptor twice in one wait asks for both entries' events.
  if (s.asked == waits) wanted |= s.wanted;
  s.asked = waits;
  s.wanted = wanted;
  if (s.events == wanted) return;
  epoll_event ev{};
  ev.events = wanted;
  ev.data.fd = fd;
  int rc = epoll_ctl(epoll, s.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
  // A descriptor closed without closeSocket and opened again may be in the
  // set or not, whatever its slot says: then the other operation is right.
  if (rc != 0 && (errno == ENOENT || errno == EEXIST)) {
    rc = epoll_ctl(epoll, errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
  }
  if (rc != 0) {
    if (s.events != 0) epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    s.events = 0;
    s.revents = EPOLLERR;
    s.ready = waits;
    return;
  }
  if (!s.listed) registered.push_back(fd);
  s.listed = true;
  s.events = wanted;
}

void SocketWait::Platform::dropUnasked() {
  size_t kept = 0;
  for (int fd : registered) {
    Slot& s = slots[fd];
    if (s.events != 0 && s.asked == waits) {
      registered[kept++] = fd;
      continue;
    }
    // Not asked about: out of the set, or a readable socket nobody reads
    // would end every wait. (events 0: forgotten, or refused after a close.)
    if (s.events != 0) epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    s.events = 0;
    s.listed = false;
  }
  registered.resize(kept);
}

void SocketWait::Platform::forget(int fd) {
  if (fd < 0 || static_cast<size_t>(fd) >= slots.size() || slots[fd].events == 0) return;
  epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
  slots[fd].events = 0;
}

SocketWait::SocketWait() : platform_(new Platform) {
  Platform& p = *platform_;
  p.epoll = epoll_create1(EPOLL_CLOEXEC);
  int ends[2];
  if (p.epoll >= 0 && pipe(ends) == 0) {
    for (int fd : ends) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = ends[0];
    if (epoll_ctl(p.epoll, EPOLL_CTL_ADD, ends[0], &ev) == 0) {
      p.wakeRead = ends[0];
      p.wakeWrite = ends[1];
    } else {  // no wake then; sockets and timeouts still work
      ::close(ends[0]);
      ::close(ends[1]);
    }
  }
  std::lock_guard<std::mutex> hold(waitsLock);
  allWaits().push_back(this);
}

SocketWait::~SocketWait() {
  {
    std::lock_guard<std::mutex> hold(waitsLock);
    auto& list = allWaits();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  if (platform_->wakeRead >= 0) ::close(platform_->wakeRead);
  if (platform_->wakeWrite >= 0) ::close(platform_->wakeWrite);
  if (platform_->epoll >= 0) ::close(platform_->epoll);
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
  if (p.epoll < 0) {
    clearReadiness(entries, count);
    return WaitOutcome::kFailed;
  }
  std::unique_lock<std::mutex> hold(p.lock);
  const uint64_t now = ++p.waits;
  bool refused = false;
  for (size_t i = 0; i < count; ++i) {
    const PollEntry& e = entries[i];
    uint32_t wanted = (e.wantRead ? EPOLLIN : 0u) | (e.wantWrite ? EPOLLOUT : 0u);
    if (e.handle == kNoSocket || wanted == 0) continue;
    const int fd = static_cast<int>(e.handle);
    p.ask(fd, wanted);
    if (p.slots[fd].ready == now) refused = true;
  }
  p.dropUnasked();
  p.found.resize(p.registered.size() + 1);
  // A descriptor the set refused is ready at once, as poll() would say.
  if (refused) timeoutMs = 0;
  hold.unlock();
  const uint32_t start = tickCount();
  int n;
  do {
    n = epoll_wait(p.epoll, p.found.data(), static_cast<int>(p.found.size()),
                   remaining(timeoutMs, tickCount() - start));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    clearReadiness(entries, count);
    return WaitOutcome::kFailed;
  }
  hold.lock();
  bool woken = false;
  for (int k = 0; k < n; ++k) {
    const int fd = p.found[k].data.fd;
    if (fd == p.wakeRead) {
      char drain[64];
      while (::read(p.wakeRead, drain, sizeof drain) > 0) {
      }
      woken = true;
      continue;
    }
    p.slots[fd].revents = p.found[k].events;
    p.slots[fd].ready = now;
  }
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    PollEntry& e = entries[i];
    uint32_t r = 0;
    if (e.handle != kNoSocket && (e.wantRead || e.wantWrite)) {
      const Slot& s = p.slots[static_cast<int>(e.handle)];
      if (s.ready == now) r = s.revents;
    }
    bool failed = (r & (EPOLLERR | EPOLLHUP)) != 0;
    e.readable = e.wantRead && ((r & EPOLLIN) || failed);
    e.writable = e.wantWrite && ((r & EPOLLOUT) || failed);
    if (e.readable || e.writable) ++ready;
  }
  if (woken) return WaitOutcome::kWoken;
  return ready > 0 ? WaitOutcome::kReady : WaitOutcome::kTimeout;
}

void forgetSocketSelection(SocketHandle handle) {
  std::lock_guard<std::mutex> hold(waitsLock);
  for (SocketWait* w : allWaits()) {
    std::lock_guard<std::mutex> slots(w->platform_->lock);
    w->platform_->forget(static_cast<int>(handle));
  }
}

#endif

}  // namespace qova

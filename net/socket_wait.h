// One wait for everything a single-threaded program has to do: any number of
// sockets (readable, or writable where bytes are queued), a wake from another
// thread, and on Windows the thread's window messages, with one timeout for
// the earliest time that falls due. After the wait one readiness query fills
// in which sockets are ready, so the caller touches only those.
//
// Linux: one epoll set, kept between waits, holds the sockets asked about
// and the read end of a wake pipe; a wait changes it only where what is
// asked changes, and epoll_wait is both the wait and the query, so a wait
// costs what is ready, not every socket asked about.
//
// Windows: every socket is tied, by WSAEventSelect, to one manual-reset
// event (so any number of sockets costs one handle of the 63 that a wait can
// take), once, and again only when it starts or stops being asked about for
// writing; MsgWaitForMultipleObjectsEx waits on that event, a wake event
// and, when messages are watched, the thread's input queue. After a wake the
// socket event is reset and one zero-timeout select over the sockets asked
// about says which are ready. WSAEventSelect makes a socket non-blocking,
// and a socket accepted from a selected listener inherits its selection: the
// server's sends already never block (the outbox), and receives that find
// nothing after all are taken as "nothing yet".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/net.h"

namespace qova {

enum class WaitOutcome {
  kReady,    // the query found at least one entry ready (readable/writable set)
  kTimeout,  // the time ran out; the query ran and found nothing ready
  kMessage,  // Windows: input for the thread's queue arrived (nothing queried)
  kWoken,    // wake() was called (nothing queried)
  kFailed,   // the wait itself failed
};

class SocketWait {
 public:
  SocketWait();
  ~SocketWait();
  SocketWait(const SocketWait&) = delete;
  SocketWait& operator=(const SocketWait&) = delete;

  // Windows: whether the thread's window messages (posted, sent, input) end
  // a wait. The caller takes its messages before each wait; a wait ends only
  // for input that arrived since (so messages left for another window do not
  // end every wait). No effect elsewhere, where there are no messages.
  void watchMessages(bool watch) { watchMessages_ = watch; }

  // From any thread: the wait under way, or the next one, ends with kWoken.
  void wake();

  // Waits at most `timeoutMs` (0: does not wait; negative: no limit) until
  // an entry asked about (wantRead, wantWrite) may be ready, a wake or a
  // message comes, or the time is up; then fills in every entry's readable
  // and writable with one query. Entries that ask for nothing are left out.
  // The caller runs it from one thread at a time.
  WaitOutcome wait(PollEntry* entries, size_t count, int timeoutMs);

  // How many times a wait has returned (for the benchmarks' figures).
  uint64_t wakes() const { return wakes_; }

 private:
  friend void forgetSocketSelection(SocketHandle handle);

  struct Platform;
  std::unique_ptr<Platform> platform_;
  bool watchMessages_ = false;
  uint64_t wakes_ = 0;
};

// closeSocket calls it, from any thread, before the handle goes: a new socket
// that gets the same handle value is tied to a wait afresh.
void forgetSocketSelection(SocketHandle handle);

}  // namespace qova

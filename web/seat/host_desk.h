// The host page's side of the gateway (/host/ws), without sockets and without
// a clock of its own: which host pages have given the key, the game's state
// from the room feed for them, and their commands on their way to the quiz
// server and back.
//
// Rules: a page must give the key as its first message within
// kHostKeyWaitMs; until then it gets nothing but a denial. A wrong key is
// denied and bars its address's tries for a second (SeatRegistry's
// per-address accounting); the right key is never refused once that second
// is over. At most kMaxHostPages keyed pages at once: a newer one takes the
// place of the oldest. A page has at most one command on its way; each goes
// to the feed with a tag of its own, and its answer (DONE or REFUSED) goes
// back to that page only, or "The quiz server did not answer." after
// kHostAnswerWaitMs or when the feed closes. Nothing here reaches a seat.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "web/seat/host_message.h"
#include "web/seat/room_feed.h"
#include "web/seat/seat_registry.h"

namespace qova::web {

constexpr int64_t kHostKeyWaitMs = 10000;    // the key must come within this
constexpr int64_t kHostAnswerWaitMs = 5000;  // a command's answer must come within this
constexpr int64_t kHostStateGapMs = 250;     // counts and player lists at most this often
constexpr size_t kMaxHostPages = 8;          // keyed host pages at once

struct HostActions {
  struct ToPage {
    PageId page;
    PageText text;
  };
  std::vector<ToPage> toPages;      // in order
  std::vector<PageId> closePages;   // after what they were sent (a denial)
  std::vector<std::string> toFeed;  // command lines for the room feed, in order
};

class HostDesk {
 public:
  // `key`: 32 lower-case hex digits; empty: every key is wrong. `registry`
  // keeps the per-address accounting of key tries and outlives the desk.
  HostDesk(std::string key, SeatRegistry* registry);

  void pageOpened(PageId page, const std::string& address, int64_t now);
  void pageMessage(PageId page, const HostRequest& request, int64_t now, HostActions* out);
  void pageClosed(PageId page);
  size_t keyedPages() const;

  // The room feed: open (greeting read), each room message, each answer to a
  // command, closed. flush sends what changed; call it after a run of
  // messages.
  void feedOpened(int64_t now, HostActions* out);
  void feedMessage(const FeedMessage& m, int64_t now);
  void feedAnswer(const FeedMessage& m, HostActions* out);
  void feedClosed(HostActions* out);
  void flush(int64_t now, HostActions* out);
  bool feedOpen() const { return feedOpen_; }
  const RoomFeed& room() const { return room_; }

  // When wake must be called next, -1 when never.
  int64_t wakeAt() const;
  void wake(int64_t now, HostActions* out);

 private:
  struct HostPage {
    std::string address;
    int64_t openedAt = 0;
    bool keyed = false;
    int64_t keyedAt = 0;
    int pendingTag = 0;  // 0: no command on its way
    bool listWanted = false;
    int64_t listFrom = 0;
    std::string listSearch;
  };
  struct Pending {
    PageId page = 0;
    int64_t id = 0;
    int64_t due = 0;
  };

  bool keyMatches(const std::string& key) const;
  void takeKey(PageId page, HostPage& p, const std::string& key, int64_t now, HostActions* out);
  void command(PageId page, HostPage& p, const HostRequest& r, int64_t now, HostActions* out);
  void deny(PageId page, HostActions* out);
  void answer(int tag, bool done, const std::string& reason, HostActions* out);
  PageText stateText(int64_t now) const;
  void sendState(int64_t now, HostActions* out);

  std::string key_;
  SeatRegistry* registry_;
  std::map<PageId, HostPage> pages_;
  std::map<int, Pending> pending_;  // by tag
  int nextTag_ = 1;
  bool feedOpen_ = false;
  RoomFeed room_;
  int64_t questionAt_ = 0;
  int64_t limitMs_ = 0;
  bool stateDirty_ = false;    // a change to send at once
  bool countsDirty_ = false;   // a count change, sent at most every kHostStateGapMs
  bool playersDirty_ = false;  // the players changed: lists go again
  int64_t stateSentAt_ = -1000000;
};

}  // namespace qova::web

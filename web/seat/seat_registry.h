// The gateway's decisions about pages and seats, without sockets and
// without a clock of its own: who may join under which name, which page
// holds which seat, and when a seat is forgotten. The network shell tells it
// what happened (a page opened, sent a message or closed; a server
// connection opened, brought bytes or ended; a seat's wake-up time came)
// with the time (monotonic milliseconds), and carries out the actions it
// returns, as Seat does for one seat.
//
// Rules: a name is checked (checkName) and may not be held by another seat
// that has not ended (letter case ignored); seats that have not ended are
// capped; a client address may start a limited number of seats a second
// and hold a limited number of seats that have not ended; each seat gets a secret token, and a
// resume with it takes the seat from any other page that held it; a join the server refuses never
// becomes a seat; a page that leaves before its welcome gives up its seat; an ended seat without a
// page is forgotten after a while.
//
// Connections (HTTP and WebSocket alike, from accept to close) are counted
// per client address and in all: an address may hold a limited number, a
// page that holds no seat is closed after a while, and the last few
// connections below the cap (or below what the descriptors allow, server
// connections counted) are kept for pages that come back for their seat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "web/seat/page_message.h"
#include "web/seat/screen_state.h"
#include "web/seat/seat.h"
#include "web/seat/shared_rows.h"

namespace qova::web {

using PageId = uint64_t;  // chosen by the shell, never 0
using SeatId = uint64_t;  // chosen by the registry, never 0, growing with each join

struct RegistryOptions {
  size_t maxSeats = 1000;  // seats not yet ended
  int joinsPerAddressPerSecond = 10;
  size_t seatsPerAddress = 8;         // seats not yet ended, per client address
  size_t connectionsPerAddress = 16;  // open connections per client address
  size_t maxConnections = 1256;       // open connections in all
  size_t reservedForResume = 8;       // of those, kept for pages that resume a seat
  size_t maxDescriptors = 0;          // connections and seats' server links; 0: no bound
  int64_t unseatedPageMs = 30000;     // a page holding no seat is closed after this
  size_t maxServerMessageBytes = static_cast<size_t>(-1);  // one results or summary message
  int64_t endedSeatKeepMs = 600000;  // an ended seat without a page is forgotten after this
  SeatPauses pauses;
};

// What the shell does after an event, kind after kind in this order. Ids
// that the shell no longer knows (a socket closed meanwhile) are skipped.
struct RegistryActions {
  struct ToServer {
    SeatId seat;
    std::string bytes;
  };
  struct ToPage {
    PageId page;
    PageText text;
  };
  std::vector<ToServer> toServers;   // bytes for seats' server connections, in order
  std::vector<ToPage> toPages;       // messages for pages, in order
  std::vector<SeatId> closeServers;  // close these seats' server connections
  std::vector<SeatId> connect;       // open these new seats' server connections
  std::vector<PageId> closePages;    // close these pages (the registry has let them go)
  std::vector<SeatId> forget;        // seats gone: drop their connection and timer
  std::vector<SeatId> rearm;         // seats whose wakeAt may have changed
  std::vector<std::string> log;      // lines worth showing, UTF-8
};

class SeatRegistry {
 public:
  // `newToken` gives a fresh seat token (32 hex digits), or "" when none
  // can be had right now.
  SeatRegistry(RegistryOptions options, std::function<std::string()> newToken);
  SeatRegistry(const SeatRegistry&) = delete;
  SeatRegistry& operator=(const SeatRegistry&) = delete;

  // How a new connection from `address` may be used.
  enum class Admit {
    kRefused,     // over a bound: the shell closes it at once
    kOpen,        // anything
    kResumeOnly,  // only a page that resumes a seat (the reserved slots)
  };
  // A connection was accepted; unless refused it counts until
  // connectionClosed.
  Admit connectionOpened(const std::string& address);
  void connectionClosed(const std::string& address);
  size_t connectionCount() const { return connections_; }

  // A page's WebSocket opened from `address` (on a connection counted
  // above). A `resumeOnly` page is closed unless its first message resumes
  // a seat.
  void pageOpened(PageId page, const std::string& address, int64_t now, bool resumeOnly = false);
  // Closes the pages that have held no seat for unseatedPageMs.
  void expirePages(int64_t now, RegistryActions* out);
  // A page's message. Pages the registry does not know (closed) are ignored.
  void pageMessage(PageId page, const PageRequest& request, int64_t now, RegistryActions* out);
  // A page's socket closed: its seat keeps playing (or, before its welcome,
  // is given up).
  void pageClosed(PageId page, int64_t now, RegistryActions* out);

  // A seat's server connection opened.
  void serverConnected(SeatId seat, RegistryActions* out);
  void serverBytes(SeatId seat, const char* data, size_t size, int64_t now, RegistryActions* out);
  // The connection could not be made (kRefused) or ended (kClosed).
  void serverEnded(SeatId seat, ServerEnd how, RegistryActions* out);
  // Whether the seat's server connection is still to be read.
  bool readsServer(SeatId seat) const;

  // When the shell must call wake for the seat next, -1 when never.
  int64_t wakeAt(SeatId seat) const;
  void wake(SeatId seat, int64_t now, RegistryActions* out);

  // The host's hold, from the quiz server's room feed: every seat, and each
  // one that joins later, tells its page at its own pace (Seat::setHeld).
  void setHeld(bool held, int64_t now, RegistryActions* out);
  bool held() const { return held_; }

  // The host page's key tries, accounted per client address like joins: a
  // wrong key bars the address's tries for kHostKeyWaitMs; a try inside that
  // time is refused without looking at the key.
  static constexpr int64_t kHostKeyWaitMs = 1000;
  bool hostKeyTryAllowed(const std::string& address, int64_t now) const;
  void hostKeyWrong(const std::string& address, int64_t now);

  // Seats not yet ended, and their names (Windows-1252) in the order they
  // joined.
  size_t seatCount() const { return liveSeats_; }
  std::vector<std::string> seatNames() const;

  // The room screens' view of the game, kept up to date with every seat.
  const ScreenState& screen() const { return screen_; }
  // The same, for the shell to hand it the room feed.
  ScreenState& screen() { return screen_; }

 private:
  struct SeatEntry {
    explicit SeatEntry(Seat s) : seat(std::move(s)) {}
    Seat seat;
    PageId page = 0;         // 0: no page holds it
    std::string foldedName;  // while the name is held; empty once released
    std::string address;     // the client address that joined it
    int64_t pageGoneAt = 0;
  };
  struct PageEntry {
    std::string address;
    SeatId seat = 0;
    int64_t unseatedSince = 0;  // while seat is 0
    bool resumeOnly = false;
  };
  // What the registry keeps per client address: the joins of the current
  // second, its seats not yet ended and its open connections. An entry
  // with neither seats nor connections may go.
  struct AddressEntry {
    int64_t second = -1;
    int joins = 0;
    size_t seats = 0;
    size_t connections = 0;
    int64_t keyBarredUntil = 0;  // a wrong host key: no try before this
  };

  SeatEntry* find(SeatId seat);
  void join(PageId page, PageEntry& entry, const std::string& name, int64_t now,
            RegistryActions* out);
  void resume(PageId page, const std::string& token, int64_t now, RegistryActions* out);
  bool joinAllowed(const std::string& address, int64_t now);
  void pruneAddresses(int64_t second);
  bool gameBegun() const;
  // Carries out what a seat asked for.
  void apply(SeatId id, SeatOutput& seatOut, RegistryActions* out);
  // The seat's page is gone (closed, or moved on to another seat).
  void letPageGo(SeatId id, int64_t now, RegistryActions* out);
  // The page is closed at once; the seat it held is let go as on a close.
  void closePage(PageId page, int64_t now, RegistryActions* out);
  void releaseName(SeatEntry& seat);
  void removeSeat(SeatId id, RegistryActions* out);

  RegistryOptions options_;
  std::function<std::string()> newToken_;
  SharedRows rows_;  // shared by every seat; outlives them
  SeatId nextSeat_ = 1;
  std::map<SeatId, SeatEntry> seats_;
  std::unordered_map<PageId, PageEntry> pages_;
  std::unordered_map<std::string, SeatId> byToken_;
  std::set<std::string> names_;  // folded names of seats not yet ended
  size_t liveSeats_ = 0;
  std::unordered_map<std::string, AddressEntry> addresses_;
  ScreenState screen_;
  size_t connections_ = 0;
  int64_t lastNow_ = 0;  // the latest time an event brought
  bool held_ = false;
};

}  // namespace qova::web

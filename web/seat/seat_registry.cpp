#include "web/seat/seat_registry.h"

#include "web/seat/text_codec.h"

namespace qova::web {

namespace {

constexpr size_t kMaxAddressesKept = 4096;  // beyond this, addresses of past seconds go

}  // namespace

SeatRegistry::SeatRegistry(RegistryOptions options, std::function<std::string()> newToken)
    : options_(options), newToken_(std::move(newToken)), rows_(options.maxServerMessageBytes) {
  screen_.setPauses(options.pauses);
}

SeatRegistry::SeatEntry* SeatRegistry::find(SeatId seat) {
  auto it = seats_.find(seat);
  return it == seats_.end() ? nullptr : &it->second;
}

SeatRegistry::Admit SeatRegistry::connectionOpened(const std::string& address) {
  // Every seat not yet ended holds a server connection beside its page.
  size_t cap = options_.maxConnections;
  if (options_.maxDescriptors) {
    size_t left = options_.maxDescriptors > liveSeats_ ? options_.maxDescriptors - liveSeats_ : 0;
    if (left < cap) cap = left;
  }
  if (connections_ >= cap) return Admit::kRefused;
  AddressEntry& entry = addresses_[address];
  if (entry.connections >= options_.connectionsPerAddress) {
    if (entry.connections == 0 && entry.seats == 0) addresses_.erase(address);
    return Admit::kRefused;
  }
  ++entry.connections;
  ++connections_;
  return connections_ + options_.reservedForResume > cap ? Admit::kResumeOnly : Admit::kOpen;
}

void SeatRegistry::connectionClosed(const std::string& address) {
  auto it = addresses_.find(address);
  if (it == addresses_.end() || it->second.connections == 0) return;
  --it->second.connections;
  --connections_;
}

void SeatRegistry::pageOpened(PageId page, const std::string& address, int64_t now,
                              bool resumeOnly) {
  pages_[page] = PageEntry{address, 0, now, resumeOnly};
}

void SeatRegistry::expirePages(int64_t now, RegistryActions* out) {
  lastNow_ = now;
  std::vector<PageId> expired;
  for (const auto& p : pages_) {
    if (p.second.seat == 0 && now - p.second.unseatedSince >= options_.unseatedPageMs) {
      expired.push_back(p.first);
    }
  }
  for (PageId page : expired) closePage(page, now, out);
}

void SeatRegistry::pageMessage(PageId page, const PageRequest& request, int64_t now,
                               RegistryActions* out) {
  lastNow_ = now;
  auto p = pages_.find(page);
  if (p == pages_.end()) return;
  SeatId id = p->second.seat;
  SeatEntry* seat = id ? find(id) : nullptr;
  if (p->second.resumeOnly) {
    // A reserved slot: only for a page that comes back for its seat.
    p->second.resumeOnly = false;
    if (request.kind != PageRequest::kResume || !byToken_.count(request.token)) {
      out->toPages.push_back(
          {page, pageRefused("The gateway is busy right now; please try again shortly.")});
      closePage(page, now, out);
      return;
    }
  }
  switch (request.kind) {
    case PageRequest::kJoin:
      if (seat && seat->seat.state() != SeatState::kEnded) {
        out->toPages.push_back({page, pageRefused("This page already has a seat.")});
        return;
      }
      join(page, p->second, request.name, now, out);
      return;
    case PageRequest::kResume:
      resume(page, request.token, now, out);
      return;
    case PageRequest::kAnswer: {
      if (!seat) return;  // no seat (yet): nothing to answer for
      SeatOutput seatOut;
      bool fine = seat->seat.answer(request.q, request.choice, now, &seatOut);
      apply(id, seatOut, out);
      if (!fine) closePage(page, now, out);
      return;
    }
    case PageRequest::kRows: {
      if (!seat) return;
      SeatOutput seatOut;
      seat->seat.rows(request.standings, request.from, now, &seatOut);
      apply(id, seatOut, out);
      return;
    }
  }
}

void SeatRegistry::pruneAddresses(int64_t second) {
  if (addresses_.size() <= kMaxAddressesKept) return;
  for (auto i = addresses_.begin(); i != addresses_.end();) {
    const AddressEntry& e = i->second;
    bool held =
        e.second == second || e.seats > 0 || e.connections > 0 || e.keyBarredUntil > second * 1000;
    i = held ? std::next(i) : addresses_.erase(i);
  }
}

bool SeatRegistry::joinAllowed(const std::string& address, int64_t now) {
  int64_t second = now / 1000;
  pruneAddresses(second);
  AddressEntry& entry = addresses_[address];
  if (entry.second != second) {
    int64_t barred = entry.keyBarredUntil;
    entry = AddressEntry{second, 0};
    entry.keyBarredUntil = barred;
  }
  return ++entry.joins <= options_.joinsPerAddressPerSecond;
}

void SeatRegistry::join(PageId page, PageEntry& entry, const std::string& name, int64_t now,
                        RegistryActions* out) {
  std::string wire;
  std::string problem = checkName(name, &wire);
  std::string folded = foldName(wire);
  if (problem.empty() && names_.count(folded)) problem = "That name is already taken.";
  bool noDescriptor =
      options_.maxDescriptors && liveSeats_ + connections_ >= options_.maxDescriptors;
  if (problem.empty() && (liveSeats_ >= options_.maxSeats || noDescriptor)) {
    problem = "All seats are taken.";
  }
  auto held = addresses_.find(entry.address);
  if (problem.empty() && held != addresses_.end() &&
      held->second.seats >= options_.seatsPerAddress) {
    problem = "This address already holds " + std::to_string(options_.seatsPerAddress) +
              " seats; no more can join from it.";
  }
  if (problem.empty() && !joinAllowed(entry.address, now)) {
    problem = "Too many players are joining from this address; please try again.";
  }
  std::string token;
  if (problem.empty()) {
    token = newToken_();
    if (token.empty()) problem = "The gateway cannot make a seat right now.";
  }
  if (!problem.empty()) {
    out->toPages.push_back({page, pageRefused(problem)});
    return;
  }
  // A page whose earlier seat has ended leaves it behind for the new one.
  if (entry.seat && find(entry.seat)) letPageGo(entry.seat, now, out);
  SeatId id = nextSeat_++;
  SeatEntry& seat =
      seats_.emplace(id, SeatEntry(Seat(token, wire, &rows_, options_.pauses))).first->second;
  seat.foldedName = folded;
  seat.address = entry.address;
  seat.page = page;
  names_.insert(folded);
  ++liveSeats_;
  ++addresses_[entry.address].seats;
  byToken_[token] = id;
  entry.seat = id;
  out->log.push_back("Joining: " + cp1252ToUtf8(wire) + " (from " + entry.address + ")");
  SeatOutput seatOut;
  seat.seat.setHeld(held_, now, &seatOut);
  seat.seat.attach(now, &seatOut);
  apply(id, seatOut, out);
  out->connect.push_back(id);
}

void SeatRegistry::resume(PageId page, const std::string& token, int64_t now,
                          RegistryActions* out) {
  auto t = byToken_.find(token);
  if (t == byToken_.end()) {
    out->toPages.push_back({page, pageUnknown()});
    return;
  }
  SeatId id = t->second;
  SeatEntry& seat = seats_.at(id);
  PageEntry& entry = pages_[page];
  if (entry.seat && entry.seat != id) {
    SeatEntry* old = find(entry.seat);
    if (old && old->page == page) letPageGo(entry.seat, now, out);
  }
  // A page that still holds the seat (a tab left open elsewhere) gives it up.
  if (seat.page && seat.page != page) {
    PageId other = seat.page;
    pages_.erase(other);
    out->closePages.push_back(other);
  }
  seat.page = page;
  entry.seat = id;
  SeatOutput seatOut;
  seat.seat.attach(now, &seatOut);
  apply(id, seatOut, out);
}

void SeatRegistry::pageClosed(PageId page, int64_t now, RegistryActions* out) {
  lastNow_ = now;
  auto p = pages_.find(page);
  if (p == pages_.end()) return;
  SeatId id = p->second.seat;
  pages_.erase(p);
  SeatEntry* seat = id ? find(id) : nullptr;
  if (!seat || (seat->page != page && seat->page != 0)) return;
  // Before its welcome the page holds no token: nobody can come back for it.
  if (!seat->seat.welcomed()) return removeSeat(id, out);
  letPageGo(id, now, out);
}

void SeatRegistry::closePage(PageId page, int64_t now, RegistryActions* out) {
  pageClosed(page, now, out);
  out->closePages.push_back(page);
}

void SeatRegistry::letPageGo(SeatId id, int64_t now, RegistryActions* out) {
  SeatEntry& seat = seats_.at(id);
  seat.page = 0;
  seat.seat.detach(now);
  seat.pageGoneAt = now;
  out->rearm.push_back(id);
}

void SeatRegistry::serverConnected(SeatId id, RegistryActions* out) {
  SeatEntry* seat = find(id);
  if (!seat) return;
  out->log.push_back("Seated: " + cp1252ToUtf8(seat->seat.wireName()) + " (" +
                     std::to_string(liveSeats_) + " seats)");
}

void SeatRegistry::serverBytes(SeatId id, const char* data, size_t size, int64_t now,
                               RegistryActions* out) {
  SeatEntry* seat = find(id);
  lastNow_ = now;
  if (!seat || seat->seat.state() == SeatState::kEnded) return;
  SeatOutput seatOut;
  seat->seat.serverBytes(data, size, now, &seatOut);
  apply(id, seatOut, out);
}

void SeatRegistry::serverEnded(SeatId id, ServerEnd how, RegistryActions* out) {
  SeatEntry* seat = find(id);
  if (!seat || seat->seat.state() == SeatState::kEnded) return;
  SeatOutput seatOut;
  seat->seat.serverEnded(how, gameBegun(), &seatOut);
  apply(id, seatOut, out);
}

bool SeatRegistry::readsServer(SeatId id) const {
  auto it = seats_.find(id);
  return it != seats_.end() && it->second.seat.state() != SeatState::kEnded;
}

int64_t SeatRegistry::wakeAt(SeatId id) const {
  auto it = seats_.find(id);
  if (it == seats_.end()) return -1;
  const SeatEntry& seat = it->second;
  if (seat.seat.state() == SeatState::kEnded && seat.page == 0) {
    return seat.pageGoneAt + options_.endedSeatKeepMs;
  }
  return seat.seat.deadline();
}

void SeatRegistry::wake(SeatId id, int64_t now, RegistryActions* out) {
  lastNow_ = now;
  SeatEntry* seat = find(id);
  if (!seat) return;
  if (seat->seat.state() == SeatState::kEnded) {
    if (seat->page == 0 && now >= seat->pageGoneAt + options_.endedSeatKeepMs) {
      return removeSeat(id, out);
    }
    out->rearm.push_back(id);
    return;
  }
  SeatOutput seatOut;
  seat->seat.tick(now, &seatOut);
  apply(id, seatOut, out);
}

void SeatRegistry::setHeld(bool held, int64_t now, RegistryActions* out) {
  lastNow_ = now;
  if (held == held_) return;
  held_ = held;
  std::vector<SeatId> ids;
  for (const auto& s : seats_) ids.push_back(s.first);
  for (SeatId id : ids) {
    SeatEntry* seat = find(id);
    if (!seat || seat->seat.state() == SeatState::kEnded) continue;
    SeatOutput seatOut;
    seat->seat.setHeld(held, now, &seatOut);
    apply(id, seatOut, out);
  }
}

bool SeatRegistry::hostKeyTryAllowed(const std::string& address, int64_t now) const {
  auto it = addresses_.find(address);
  return it == addresses_.end() || now >= it->second.keyBarredUntil;
}

void SeatRegistry::hostKeyWrong(const std::string& address, int64_t now) {
  pruneAddresses(now / 1000);
  addresses_[address].keyBarredUntil = now + kHostKeyWaitMs;
}

void SeatRegistry::apply(SeatId id, SeatOutput& seatOut, RegistryActions* out) {
  SeatEntry& seat = seats_.at(id);
  if (!seatOut.toServer.empty() && !seatOut.closeServer) {
    out->toServers.push_back({id, std::move(seatOut.toServer)});
  }
  if (seat.page) {
    for (PageText& t : seatOut.toPage) out->toPages.push_back({seat.page, std::move(t)});
  }
  if (seatOut.closeServer) out->closeServers.push_back(id);
  if (seat.seat.state() == SeatState::kEnded) {
    if (!seat.foldedName.empty()) {
      out->log.push_back("Seat ended: " + cp1252ToUtf8(seat.seat.wireName()) +
                         (seat.seat.welcomed() ? "" : " (no seat was granted)"));
    }
    releaseName(seat);
    // A refused join never became a seat: the page may try again.
    if (!seat.seat.welcomed()) return removeSeat(id, out);
  }
  screen_.seatChanged(id, seat.seat);
  out->rearm.push_back(id);
}

void SeatRegistry::releaseName(SeatEntry& seat) {
  if (seat.foldedName.empty()) return;
  names_.erase(seat.foldedName);
  seat.foldedName.clear();
  --liveSeats_;
  auto a = addresses_.find(seat.address);
  if (a != addresses_.end() && a->second.seats > 0) --a->second.seats;
}

void SeatRegistry::removeSeat(SeatId id, RegistryActions* out) {
  SeatEntry& seat = seats_.at(id);
  releaseName(seat);
  if (seat.page) {
    auto p = pages_.find(seat.page);
    if (p != pages_.end() && p->second.seat == id) {
      p->second.seat = 0;
      p->second.unseatedSince = lastNow_;
    }
  }
  byToken_.erase(seat.seat.token());
  seats_.erase(id);
  screen_.seatRemoved(id);
  out->forget.push_back(id);
}

bool SeatRegistry::gameBegun() const {
  for (const auto& s : seats_) {
    if (s.second.seat.state() != SeatState::kEnded && s.second.seat.seenQuestion()) return true;
  }
  return false;
}

std::vector<std::string> SeatRegistry::seatNames() const {
  std::vector<std::string> names;
  // A held name marks a seat not yet ended.
  for (const auto& s : seats_) {
    if (!s.second.foldedName.empty()) names.push_back(s.second.seat.wireName());
  }
  return names;
}

}  // namespace qova::web

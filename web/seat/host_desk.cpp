#include "web/seat/host_desk.h"

#include <algorithm>
#include <cmath>

#include "web/seat/text_codec.h"
#include "wire/play_rules.h"

namespace qova::web {

HostDesk::HostDesk(std::string key, SeatRegistry* registry)
    : key_(std::move(key)), registry_(registry) {}

void HostDesk::pageOpened(PageId page, const std::string& address, int64_t now) {
  HostPage p;
  p.address = address;
  p.openedAt = now;
  pages_[page] = std::move(p);
}

void HostDesk::pageClosed(PageId page) {
  auto it = pages_.find(page);
  if (it == pages_.end()) return;
  // Its command's answer, should it come, has no page to go to.
  if (it->second.pendingTag) pending_.erase(it->second.pendingTag);
  pages_.erase(it);
}

size_t HostDesk::keyedPages() const {
  size_t n = 0;
  for (const auto& p : pages_) n += p.second.keyed ? 1 : 0;
  return n;
}

// Compared in time independent of where the texts differ.
bool HostDesk::keyMatches(const std::string& key) const {
  if (key_.empty() || key.size() != key_.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < key.size(); ++i) {
    diff |= static_cast<unsigned char>(key[i] ^ key_[i]);
  }
  return diff == 0;
}

void HostDesk::deny(PageId page, HostActions* out) {
  out->toPages.push_back({page, hostDenied()});
  out->closePages.push_back(page);
  pageClosed(page);
}

void HostDesk::pageMessage(PageId page, const HostRequest& r, int64_t now, HostActions* out) {
  auto it = pages_.find(page);
  if (it == pages_.end()) return;
  HostPage& p = it->second;
  if (!p.keyed) {
    // Without the key nothing but the key is taken.
    if (r.kind != HostRequest::kKey) return deny(page, out);
    return takeKey(page, p, r.key, now, out);
  }
  switch (r.kind) {
    case HostRequest::kKey:
      return;  // given already
    case HostRequest::kCommand:
      return command(page, p, r, now, out);
    case HostRequest::kPlayers:
      p.listWanted = true;
      p.listFrom = r.from;
      p.listSearch = r.search;
      if (feedOpen_) out->toPages.push_back({page, hostPlayers(room_, r.from, r.search)});
      return;
  }
}

void HostDesk::takeKey(PageId page, HostPage& p, const std::string& key, int64_t now,
                       HostActions* out) {
  if (!registry_->hostKeyTryAllowed(p.address, now)) return deny(page, out);
  if (!keyMatches(key)) {
    registry_->hostKeyWrong(p.address, now);
    return deny(page, out);
  }
  // The host's newest device takes the place of the oldest.
  if (keyedPages() >= kMaxHostPages) {
    PageId oldest = 0;
    int64_t at = 0;
    for (const auto& q : pages_) {
      if (q.second.keyed && (oldest == 0 || q.second.keyedAt < at)) {
        oldest = q.first;
        at = q.second.keyedAt;
      }
    }
    out->closePages.push_back(oldest);
    pageClosed(oldest);
  }
  HostPage& keyed = pages_.at(page);
  keyed.keyed = true;
  keyed.keyedAt = now;
  out->toPages.push_back({page, feedOpen_ ? stateText(now) : hostNofeed()});
}

void HostDesk::command(PageId page, HostPage& p, const HostRequest& r, int64_t now,
                       HostActions* out) {
  if (p.pendingTag) {
    out->toPages.push_back({page, hostAnswer(r.id, false, kHostBusyText)});
    return;
  }
  if (!feedOpen_) {
    out->toPages.push_back({page, hostAnswer(r.id, false, kHostNoAnswerText)});
    return;
  }
  // Tags are never reused while one waits: at most kMaxHostPages wait.
  int tag = nextTag_;
  while (pending_.count(tag)) tag = tag >= kMaxCommandTag ? 1 : tag + 1;
  nextTag_ = tag >= kMaxCommandTag ? 1 : tag + 1;
  pending_[tag] = Pending{page, r.id, now + kHostAnswerWaitMs};
  p.pendingTag = tag;
  out->toFeed.push_back(feedCommandLine(tag, r));
}

void HostDesk::answer(int tag, bool done, const std::string& reason, HostActions* out) {
  auto it = pending_.find(tag);
  if (it == pending_.end()) return;  // late, or its page is gone
  Pending p = it->second;
  pending_.erase(it);
  auto page = pages_.find(p.page);
  if (page == pages_.end()) return;
  page->second.pendingTag = 0;
  out->toPages.push_back({p.page, hostAnswer(p.id, done, reason)});
}

void HostDesk::feedOpened(int64_t now, HostActions* out) {
  feedOpen_ = true;
  room_ = RoomFeed();
  questionAt_ = 0;
  limitMs_ = 0;
  stateDirty_ = true;
  playersDirty_ = true;
  flush(now, out);
}

void HostDesk::feedMessage(const FeedMessage& m, int64_t now) {
  if (!feedOpen_) return;
  std::string ignored;
  // A message that does not fit breaks the feed for the screen too, which
  // closes it (feedClosed).
  if (!room_.apply(m, &ignored)) return;
  switch (m.kind) {
    case FeedKind::kAnswers:
      countsDirty_ = true;
      return;
    case FeedKind::kJoin:
    case FeedKind::kDrop:
    case FeedKind::kRemove:
      playersDirty_ = true;
      countsDirty_ = true;  // the count of players
      return;
    case FeedKind::kQuestion: {
      questionAt_ = now;
      double limit = timeLimitSeconds(m.timeLimitText);
      limitMs_ =
          limit > 0 ? static_cast<int64_t>(std::llround(std::min(limit, 86400.0) * 1000)) : 0;
      stateDirty_ = true;
      return;
    }
    default:
      stateDirty_ = true;
      return;
  }
}

void HostDesk::feedAnswer(const FeedMessage& m, HostActions* out) {
  answer(m.tag, m.kind == FeedKind::kDone, cp1252ToUtf8(m.reason), out);
}

void HostDesk::feedClosed(HostActions* out) {
  if (!feedOpen_) return;
  feedOpen_ = false;
  std::vector<int> tags;
  for (const auto& p : pending_) tags.push_back(p.first);
  for (int tag : tags) answer(tag, false, kHostNoAnswerText, out);
  for (const auto& p : pages_) {
    if (p.second.keyed) out->toPages.push_back({p.first, hostNofeed()});
  }
  stateDirty_ = countsDirty_ = playersDirty_ = false;
}

PageText HostDesk::stateText(int64_t now) const {
  int64_t left = 0;
  if (room_.phase() == RoomPhase::kQuestion && limitMs_ > 0) {
    left = std::max<int64_t>(0, questionAt_ + limitMs_ - now);
  }
  return hostState(room_, limitMs_, left);
}

void HostDesk::sendState(int64_t now, HostActions* out) {
  PageText state = stateText(now);
  for (const auto& p : pages_) {
    if (!p.second.keyed) continue;
    out->toPages.push_back({p.first, state});
    if (playersDirty_ && p.second.listWanted) {
      out->toPages.push_back({p.first, hostPlayers(room_, p.second.listFrom, p.second.listSearch)});
    }
  }
  stateSentAt_ = now;
  stateDirty_ = countsDirty_ = playersDirty_ = false;
}

void HostDesk::flush(int64_t now, HostActions* out) {
  if (!feedOpen_) return;
  bool counts = (countsDirty_ || playersDirty_) && now >= stateSentAt_ + kHostStateGapMs;
  if (stateDirty_ || counts) sendState(now, out);
}

int64_t HostDesk::wakeAt() const {
  int64_t due = -1;
  auto sooner = [&due](int64_t t) {
    if (due < 0 || t < due) due = t;
  };
  for (const auto& p : pages_) {
    if (!p.second.keyed) sooner(p.second.openedAt + kHostKeyWaitMs);
  }
  for (const auto& p : pending_) sooner(p.second.due);
  if (feedOpen_ && (countsDirty_ || playersDirty_)) sooner(stateSentAt_ + kHostStateGapMs);
  return due;
}

void HostDesk::wake(int64_t now, HostActions* out) {
  std::vector<PageId> late;
  for (const auto& p : pages_) {
    if (!p.second.keyed && now >= p.second.openedAt + kHostKeyWaitMs) late.push_back(p.first);
  }
  for (PageId page : late) {
    out->closePages.push_back(page);
    pageClosed(page);
  }
  std::vector<int> due;
  for (const auto& p : pending_) {
    if (now >= p.second.due) due.push_back(p.first);
  }
  for (int tag : due) answer(tag, false, kHostNoAnswerText, out);
  flush(now, out);
}

}  // namespace qova::web

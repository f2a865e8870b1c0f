// The host page's WebSocket messages (/host/ws, docs/protocol.md "The host
// page"): reading what the host page sends, and the JSON texts the gateway
// sends it. Texts from the quiz server are in its code page (Windows-1252)
// and converted here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "web/seat/page_message.h"
#include "web/seat/room_feed.h"

namespace qova::web {

constexpr size_t kMaxHostMessage = 4096;  // bytes in one message from the host page
constexpr size_t kHostPlayersPerPage = 100;
constexpr size_t kMaxHostSearch = 200;  // bytes of a players search

enum class HostVerb { kStart, kEndQuestion, kHold, kGoOn, kHoldAfterRound, kRemove };

struct HostRequest {
  enum Kind { kKey, kCommand, kPlayers } kind = kKey;
  std::string key;                   // key
  int64_t id = 0;                    // command: the page's own number, echoed
  HostVerb verb = HostVerb::kStart;  // command
  bool on = false;                   // command holdAfterRound
  int player = 0;                    // command remove: the feed's player number
  int64_t from = 0;                  // players: the first row wanted, 0-based
  std::string search;                // players: UTF-8, may be empty
};

// Reads one message from the host page. False when it is not of the page's
// form (over kMaxHostMessage bytes, not a JSON object, an unknown "t" or
// "do", a field missing or of the wrong type or range). Never throws.
bool parseHostMessage(const char* data, size_t size, HostRequest* out);

// The command's line for the room feed, CR LF included.
std::string feedCommandLine(int tag, const HostRequest& command);

// The gateway's messages to the host page.
PageText hostDenied();
PageText hostNofeed();
// `reason` UTF-8; empty for done.
PageText hostAnswer(int64_t id, bool done, const std::string& reason);
// The game as the feed tells it; `questionLeftMs` the question's time left
// (-1: no limit).
PageText hostState(const RoomFeed& room, int64_t timeLimitMs, int64_t timeLeftMs);
// A page of the players still in whose names hold `search` (letter case
// ignored), at most kHostPlayersPerPage from `from`.
PageText hostPlayers(const RoomFeed& room, int64_t from, const std::string& search);

// The messages' fixed texts.
extern const char kHostDeniedText[];
extern const char kHostNofeedText[];
extern const char kHostNoAnswerText[];
extern const char kHostBusyText[];

}  // namespace qova::web

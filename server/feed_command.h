// The host's commands as feed clients send them (docs/protocol.md, "The room
// feed"): one line `COMMAND\t<tag>\t<verb>[\t<argument>]`, read here into a
// FeedCommand. The feed answers each with DONE or REFUSED and the same tag;
// what a command does is server/host_commands.*.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qova {

// The longest command line, CR LF not counted; a longer one closes its client.
constexpr size_t kMaxFeedCommandLine = 256;

enum class FeedVerb {
  kStart,           // START: the lobby's Start
  kEndQuestion,     // END QUESTION
  kHold,            // HOLD: the Statistics window's Hold
  kGoOn,            // GO ON: its Go On
  kHoldAfterRound,  // HOLD AFTER ROUND\t<1|0>: its check box
  kRemove,          // REMOVE\t<player number>: Remove Player
  kUnknown,         // a valid tag with an unknown verb or a bad argument
};

struct FeedCommand {
  std::string tag;  // 1 to 9 decimal digits, echoed in the answer
  FeedVerb verb = FeedVerb::kUnknown;
  bool on = false;     // kHoldAfterRound
  int32_t player = 0;  // kRemove: a player number (1 to 9 digits)
};

// Reads one line (without its CR LF). False when it is no command line at
// all: not `COMMAND`, a tab, a valid tag and a tab, or a CR or LF inside;
// such a line closes its client. A valid tag with anything else after it is
// a command of verb kUnknown.
bool parseFeedCommand(const std::string& line, FeedCommand* command);

}  // namespace qova

#include "server/feed_command.h"

namespace qova {

namespace {

constexpr char kPrefix[] = "COMMAND\t";
constexpr size_t kPrefixSize = sizeof kPrefix - 1;
constexpr size_t kMaxDigits = 9;

// 1 to 9 decimal digits, nothing else.
bool digits(const std::string& text) {
  if (text.empty() || text.size() > kMaxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool parseFeedCommand(const std::string& line, FeedCommand* command) {
  if (line.size() > kMaxFeedCommandLine) return false;
  if (line.find_first_of("\r\n") != std::string::npos) return false;
  if (line.compare(0, kPrefixSize, kPrefix) != 0) return false;
  const size_t tagEnd = line.find('\t', kPrefixSize);
  if (tagEnd == std::string::npos) return false;
  FeedCommand c;
  c.tag = line.substr(kPrefixSize, tagEnd - kPrefixSize);
  if (!digits(c.tag)) return false;
  const std::string rest = line.substr(tagEnd + 1);
  const size_t argAt = rest.find('\t');
  const std::string verb = rest.substr(0, argAt);
  const bool hasArg = argAt != std::string::npos;
  const std::string arg = hasArg ? rest.substr(argAt + 1) : std::string();
  if (!hasArg) {
    if (verb == "START") c.verb = FeedVerb::kStart;
    if (verb == "END QUESTION") c.verb = FeedVerb::kEndQuestion;
    if (verb == "HOLD") c.verb = FeedVerb::kHold;
    if (verb == "GO ON") c.verb = FeedVerb::kGoOn;
  } else if (verb == "HOLD AFTER ROUND" && (arg == "0" || arg == "1")) {
    c.verb = FeedVerb::kHoldAfterRound;
    c.on = arg == "1";
  } else if (verb == "REMOVE" && digits(arg)) {
    c.verb = FeedVerb::kRemove;
    c.player = static_cast<int32_t>(std::stol(arg));
  }
  *command = c;
  return true;
}

}  // namespace qova

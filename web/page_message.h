// The page's WebSocket messages: reading what the page sends, and the JSON
// texts the gateway sends back (all texts UTF-8; see README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qova::web {

constexpr size_t kMaxPageMessage = 4096;  // bytes in one message from the page

struct PageRequest {
  enum Kind { kJoin, kResume, kAnswer } kind = kJoin;
  std::string name;   // join: as typed, UTF-8, not yet checked
  std::string token;  // resume: 32 lower-case hex digits
  int64_t q = 0;      // answer: the question's number as the gateway gave it
  int choice = 0;     // answer: 1-based
};

// Reads one message from the page. False when it is not of the app's form:
// over kMaxPageMessage bytes, not a JSON object, an unknown "t", or a field
// missing or of the wrong type or range. Never throws.
bool parsePageMessage(const char* data, size_t size, PageRequest* out);

// One message for the page: head + *shared + tail. The part in `shared`
// (result and leaderboard rows) is built once and shared by every seat that
// got the same rows from the server.
struct PageText {
  std::string head;
  std::shared_ptr<const std::string> shared;
  std::string tail;

  size_t size() const { return head.size() + (shared ? shared->size() : 0) + tail.size(); }
  std::string str() const { return head + (shared ? *shared : std::string()) + tail; }
};

// A JSON string literal of a UTF-8 text; bytes that are not UTF-8 become
// U+FFFD.
std::string jsonString(const std::string& utf8);

}  // namespace qova::web

// The page's WebSocket messages: reading what the page sends, and the JSON
// texts the gateway sends back (all texts UTF-8; see README.md). Texts that
// come from the quiz server are taken in its code page (Windows-1252) and
// converted here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/player_side.h"

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

// The gateway's messages, field for field as README.md lists them. `q` is
// the seat's question count, `wireName` and the server's texts are in
// Windows-1252; times are milliseconds.
PageText pageWelcome(const std::string& token, const std::string& wireName,
                     const GameSettings& settings, int64_t limitMs);
PageText pageRefused(const std::string& message);
PageText pageUnknown();
PageText pageLobby();
PageText pageQuestion(int64_t q, const Question& question, int questionsPerRound, int64_t limitMs,
                      int64_t leftMs);
// `correct`: the correct response's number, 0 when none is; `choice` 0 when
// the time ran out.
PageText pageAnswered(int64_t q, int choice, int correct, bool right, const std::string& timeText,
                      bool timedOut);
// `rows` from resultsRows (leaderboardRows), shared by every seat that got
// the same message; `me` the index of the seat's own row, -1 when absent.
PageText pageResults(int64_t q, const Question& question, int correct,
                     std::shared_ptr<const std::string> rows, int me);
PageText pageLeaderboard(int round, std::shared_ptr<const std::string> rows, int me);
// `rows` null when there is no leaderboard yet ([] then).
PageText pageEnded(const std::string& message, std::shared_ptr<const std::string> rows, int me);

// [{"name":..,"time":..,"right":..}, ...] in the server's order.
std::string resultsRows(const std::vector<ResultEntry>& entries);
// [{"rank":..,"name":..,"correct":..,"answers":..,"average":..}, ...];
// `order` in leaderboard order, ranks[i] the place of order[i].
std::string leaderboardRows(const std::vector<SummaryEntry>& order, const std::vector<int>& ranks);

// The /info document: the join links, the server, seats taken and the cap.
std::string infoJson(const std::vector<std::string>& links, const std::string& server, size_t seats,
                     size_t maxSeats);

}  // namespace qova::web

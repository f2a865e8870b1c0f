// The page's WebSocket messages: reading what the page sends, and the JSON
// texts the gateway sends back (all texts UTF-8; see docs/protocol.md). Texts that
// come from the quiz server are taken in its code page (Windows-1252) and
// converted here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "web/seat/result_digest.h"
#include "web/seat/text_codec.h"
#include "wire/player_side.h"

namespace qova::web {

constexpr size_t kMaxPageMessage = 4096;  // bytes in one message from the page

struct PageRequest {
  enum Kind { kJoin, kResume, kAnswer, kRows } kind = kJoin;
  std::string name;        // join: as typed, UTF-8, not yet checked
  std::string token;       // resume: 32 lower-case hex digits
  int64_t q = 0;           // answer: the question's number as the gateway gave it
  int choice = 0;          // answer: 1-based
  bool standings = false;  // rows: of the standings (else of the results)
  int64_t from = 0;        // rows: the first row wanted, 0-based
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

// The gateway's messages, field for field as docs/protocol.md lists them. `q` is
// the seat's question count, `wireName` and the server's texts are in
// Windows-1252; times are milliseconds.
PageText pageWelcome(const std::string& token, const std::string& wireName,
                     const GameSettings& settings, int64_t limitMs);
PageText pageRefused(const std::string& message);
PageText pageUnknown();
PageText pageLobby();
// {"t":"paused","message":"The host has paused the quiz."}
PageText pagePaused();
PageText pageQuestion(int64_t q, const Question& question, int questionsPerRound, int64_t limitMs,
                      int64_t leftMs);
// `correct`: the correct response's number, 0 when none is; `choice` 0 when
// the time ran out.
PageText pageAnswered(int64_t q, int choice, int correct, bool right, const std::string& timeText,
                      bool timedOut);
// Results and standings. Every message is bounded whatever the room's size:
// the rows shown are those of the digest (every row in a room of at most
// kInlineRows players, else the fastest right answers or the top of the
// standings) plus the seat's own row; the rest comes in pages on request.
// Names and times from the server are clipped to kMaxShownName and
// kMaxShownTime characters (web/seat/text_codec.h).
// Rows in one answer to a rows request.
constexpr int kRowsPerPage = 100;
// Upper bounds of the messages' sizes in bytes (a character of a clipped
// text takes at most 6 bytes in JSON, a number at most 20).
constexpr size_t kMaxResultRow = 60 + 6 * (kMaxShownName + 1 + kMaxShownTime + 1) + 20;
constexpr size_t kMaxStandingRow = 80 + 6 * (kMaxShownName + 1 + kMaxShownTime + 1) + 3 * 20;
constexpr size_t kMaxResultsMessage = 200 + 5 * 20 + (kInlineRows + 1) * kMaxResultRow;
constexpr size_t kMaxStandingsMessage = 200 + 5 * 20 + (kInlineRows + 1) * kMaxStandingRow;
constexpr size_t kMaxRowsMessage = 200 + 5 * 20 + kRowsPerPage * kMaxStandingRow;

// The part of a results message every seat shares:
// "players":N,"right":R,"all":B,"rows":[{"i":..,"name":..,"time":..,"right":..}, ...]
// ("all": the rows are every row, in the server's order; else the fastest
// right answers, fastest first; "i" is a row's index in the server's order).
std::string resultsShared(const ResultDigest& digest);
// The part of a standings message every seat shares:
// "players":N,"rows":[{"i":..,"rank":..,"name":..,"correct":..,"answers":..,"average":..}, ...]
// (the first rows in leaderboard order).
std::string standingsShared(const StandingsDigest& digest);

// `shared` from resultsShared; `me` the index of the seat's own row in the
// server's order, -1 when absent; the message carries that row as "mine".
PageText pageResults(int64_t q, const Question& question, int correct, const ResultDigest& digest,
                     std::shared_ptr<const std::string> shared, int me);
// `shared` from standingsShared; `me` the index of the seat's own row in
// leaderboard order, -1 when absent.
PageText pageLeaderboard(int round, const StandingsDigest& digest,
                         std::shared_ptr<const std::string> shared, int me);
// `digest` null when there is no leaderboard yet (no rows then).
PageText pageEnded(const std::string& message, const StandingsDigest* digest,
                   std::shared_ptr<const std::string> shared, int me);
// A page of all rows, at most kRowsPerPage from `from` (none when `from` is
// past the end): {"t":"rows","of":"results","q":..,"from":..,"total":..,"rows":[..],"me":..}
// or "of":"standings" with "round" in place of "q".
PageText pageResultRows(int64_t q, const ResultDigest& digest, int64_t from, int me);
PageText pageStandingRows(int round, const StandingsDigest& digest, int64_t from, int me);

// The /info document: the join links, the server, seats taken and the cap.
std::string infoJson(const std::vector<std::string>& links, const std::string& server, size_t seats,
                     size_t maxSeats);

}  // namespace qova::web

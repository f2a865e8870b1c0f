// What both ends of the line protocol between the quiz server and a player
// program share: its bounds and the forms of its numbers. Every line ends in
// CR LF; counts are decimal integers; averages carry 4 significant digits.
// The server's side of the conversation is in wire/server_side.h, the
// player program's in wire/player_side.h.
#pragma once

#include <cstddef>
#include <string>

#include "qdb/qdb_file.h"

namespace qova {

// Bounds on what a player program may make the server hold
// (docs/decisions/server-bounds.md).
constexpr size_t kMaxNameBytes = 1024;    // the name line, CR LF not counted
constexpr size_t kMaxAnswerBytes = 4096;  // a pending answer

// Bounds against a broken or hostile server: no line and no message may grow
// without limit in a player program. They must still take everything a sound
// server sends. Its longest lines are the questions and responses of its
// question file, which it refuses beyond the files' line bound; its other
// lines are shorter (names up to kMaxNameBytes, time texts under
// kMaxAnswerBytes, settings and counts a few characters).
constexpr size_t kMaxServerLine = static_cast<size_t>(kMaxLineBound);  // CR LF not counted
constexpr size_t kMaxListedPlayers = 65536;       // players in one results or summary message
constexpr int kMaxResponses = kMaxResponseCount;  // responses per question, as files allow

// The most bytes a sound server's results or summary message takes for
// `players` players: a results entry is a name (kMaxNameBytes), a time text
// (under kMaxAnswerBytes) and a verdict, each with CR LF; a summary entry
// is a name and six short figures, less than that.
constexpr size_t listMessageBound(size_t players) {
  return players * (kMaxNameBytes + kMaxAnswerBytes + 3 * 2 + 1) + 2;
}

// Appends `text` and CR LF.
void appendLine(std::string& out, const std::string& text);

// The text of a single-precision average as the server sends it: 4
// significant digits, NaN as 0 ("0."), and an infinity (a sum that left the
// single-precision range, which a player program could not read as a
// number) as the largest finite value with its sign ("3.403e+038",
// "-3.403e+038").
std::string averageText(float average);

// Whether `text` is a decimal integer as the server writes counts: digits,
// no sign, no leading zero.
bool isCountText(const std::string& text);
// Whether `text` is an average as averageText writes it: fixed form with the
// point kept ("12.", "0.5"), four digits and no point ("1235"), or
// d.ddde+XXX with three exponent digits.
bool isAverageText(const std::string& text);
// A count as the server writes it into *value. The server's counts are
// 32-bit (questions per round may be as large as its question file's record
// count), so every value up to INT_MAX is taken; larger ones fail.
bool parseCount(const std::string& text, int* value);

}  // namespace qova

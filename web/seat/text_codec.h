// Texts between the page (UTF-8 in JSON) and the wire (Windows-1252, the
// code page the quiz server and its other players use), and the rules for a
// player name that a web seat may take.
#pragma once

#include <cstddef>
#include <string>

namespace qova::web {

// Windows-1252 bytes as UTF-8. The five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD.
std::string cp1252ToUtf8(const std::string& bytes);

// UTF-8 as Windows-1252. False, with *out unspecified, when the text is not
// well-formed UTF-8 or holds a character the code page lacks.
bool utf8ToCp1252(const std::string& text, std::string* out);

// Case folding for comparing names: Windows-1252 upper-case letters to
// lower case, everything else unchanged.
std::string foldCase(const std::string& cp1252);

// A name as names are compared for clashes: letter case folded (foldCase)
// and every run of spaces taken as one, so that names that look alike on
// a phone clash.
std::string foldName(const std::string& cp1252);

// Checks a name as the page sent it (UTF-8). On success *wire holds the
// name in Windows-1252 and the result is empty; otherwise the result is the
// message for the player. No-break spaces count as spaces (they become
// spaces), and spaces at both ends are trimmed: a name of nothing else is
// empty. Control characters, soft hyphens and other characters that show
// nothing (format characters) are refused. A name is at most
// kMaxNameLength characters, as for every player.
std::string checkName(const std::string& utf8, std::string* wire);

// Another player's text (Windows-1252), as sent by the server, clipped for
// display to at most `maxChars` characters: a longer one keeps its first
// maxChars - 1 and ends in an ellipsis. Rows of results and leaderboards
// pass names (kMaxShownName) and time texts (kMaxShownTime) through it, so
// that a message's size follows the number of players, not their names.
std::string clipForDisplay(const std::string& cp1252, size_t maxChars);
constexpr size_t kMaxShownName = 40;  // as kMaxNameLength, the web seats' own bound
constexpr size_t kMaxShownTime = 12;  // "12345678.90" and a little more

}  // namespace qova::web

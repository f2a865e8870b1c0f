#include "web/seat/text_codec.h"

#include <cstdint>

#include "wire/play_rules.h"

namespace qova::web {

namespace {

// Code points of the bytes 0x80..0x9F; 0 where the code page has none.
constexpr uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code point at text[*i], advancing *i; false when the bytes there are
// not well-formed UTF-8 (overlong forms and surrogates included).
bool decodeUtf8(const std::string& text, size_t* i, uint32_t* cp) {
  unsigned char c = static_cast<unsigned char>(text[*i]);
  int more;
  uint32_t min;
  if (c < 0x80) {
    *cp = c;
    ++*i;
    return true;
  } else if ((c & 0xE0) == 0xC0) {
    more = 1, min = 0x80, *cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    more = 2, min = 0x800, *cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    more = 3, min = 0x10000, *cp = c & 0x07;
  } else {
    return false;
  }
  if (text.size() - *i <= static_cast<size_t>(more)) return false;
  for (int k = 1; k <= more; ++k) {
    unsigned char d = static_cast<unsigned char>(text[*i + k]);
    if ((d & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (d & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return false;
  *i += more + 1;
  return true;
}

bool toCp1252(uint32_t cp, char* byte) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    *byte = static_cast<char>(cp);
    return true;
  }
  for (int k = 0; k < 32; ++k) {
    if (kHigh[k] != 0 && kHigh[k] == cp) {
      *byte = static_cast<char>(0x80 + k);
      return true;
    }
  }
  return false;
}

}  // namespace

std::string cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      appendUtf8(kHigh[c - 0x80] ? kHigh[c - 0x80] : 0xFFFD, &out);
    } else {
      appendUtf8(c, &out);
    }
  }
  return out;
}

bool utf8ToCp1252(const std::string& text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp;
    char byte;
    if (!decodeUtf8(text, &i, &cp) || !toCp1252(cp, &byte)) return false;
    *out += byte;
  }
  return true;
}

std::string foldCase(const std::string& cp1252) {
  std::string out = cp1252;
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
      c += 0x20;
    } else if (c == 0x8A || c == 0x8C || c == 0x8E) {
      c += 0x10;  // Š Œ Ž
    } else if (c == 0x9F) {
      c = 0xFF;  // Ÿ
    }
    ch = static_cast<char>(c);
  }
  return out;
}

std::string foldName(const std::string& cp1252) {
  std::string out;
  out.reserve(cp1252.size());
  for (char c : foldCase(cp1252)) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

namespace {

// Characters that take no room on screen and could make two names look
// the same: the soft hyphen, the invisible format characters (joiners,
// direction marks, word joiners, the byte order mark, interlinear marks)
// and the blank fillers that fonts draw as nothing.
bool invisible(uint32_t cp) {
  return cp == 0xAD || cp == 0x34F || cp == 0x61C || cp == 0x115F || cp == 0x1160 || cp == 0x17B4 ||
         cp == 0x17B5 || cp == 0x180E || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0x2800 ||
         cp == 0x3164 || cp == 0xFEFF || cp == 0xFFA0 || (cp >= 0xFFF0 && cp <= 0xFFFB) ||
         (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xE0000 && cp <= 0xE0FFF);
}

}  // namespace

std::string checkName(const std::string& utf8, std::string* wire) {
  // First pass: well-formed, no control or invisible characters, and
  // no-break spaces as spaces.
  std::string spaced;
  spaced.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    size_t at = i;
    uint32_t cp;
    if (!decodeUtf8(utf8, &i, &cp)) return "That name is not valid text.";
    // Control characters (CR and LF among them) would break the server's lines.
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return "A name cannot hold control characters.";
    if (invisible(cp)) return "A name cannot hold invisible characters.";
    if (cp == 0xA0 || cp == 0x202F || cp == 0x2007) {
      spaced += ' ';
    } else {
      spaced.append(utf8, at, i - at);
    }
  }
  size_t begin = spaced.find_first_not_of(' ');
  if (begin == std::string::npos) return "Please enter a name.";
  std::string trimmed = spaced.substr(begin, spaced.find_last_not_of(' ') - begin + 1);
  size_t chars = 0;
  for (unsigned char c : trimmed) chars += (c & 0xC0) != 0x80;
  if (chars > kMaxNameLength) {
    return "A name can be at most " + std::to_string(kMaxNameLength) + " characters long.";
  }
  if (!utf8ToCp1252(trimmed, wire)) return "That name holds characters the quiz cannot show.";
  return "";
}

std::string clipForDisplay(const std::string& cp1252, size_t maxChars) {
  if (cp1252.size() <= maxChars) return cp1252;
  if (maxChars == 0) return "";
  return cp1252.substr(0, maxChars - 1) + '\x85';  // the code page's ellipsis
}

}  // namespace qova::web

#include "editor/import/html_text.h"

#include <cctype>
#include <cstdint>
#include <iterator>

#include "editor/import/imported_questions.h"
#include "editor/import/utf8_text.h"

namespace qova {
namespace {

// The names of U+00A0 to U+00FF, in order.
const char* const kLatin1Names[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct NamedCharacter {
  const char* name;
  uint32_t c;
};

// The others that text editors and word processors write, chiefly those of
// the Windows-1252 code page.
const NamedCharacter kOtherNames[] = {
    {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},
    {"apos", '\''},     {"euro", 0x20AC},   {"ndash", 0x2013},  {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"hellip", 0x2026}, {"bull", 0x2022},
    {"trade", 0x2122},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"OElig", 0x0152},  {"oelig", 0x0153},
    {"Scaron", 0x0160}, {"scaron", 0x0161}, {"Yuml", 0x0178},   {"Zcaron", 0x017D},
    {"zcaron", 0x017E}, {"fnof", 0x0192},   {"circ", 0x02C6},   {"tilde", 0x02DC},
    {"minus", 0x2212},  {"le", 0x2264},     {"ge", 0x2265},     {"ne", 0x2260},
};

uint32_t namedCharacter(std::string_view name) {
  for (size_t i = 0; i < std::size(kLatin1Names); ++i) {
    if (name == kLatin1Names[i]) return static_cast<uint32_t>(0xA0 + i);
  }
  for (const NamedCharacter& n : kOtherNames) {
    if (name == n.name) return n.c;
  }
  return 0;
}

// The character of the entity at html[at] ('&'), and *length its length
// with the ';'; 0 when it is none.
uint32_t entityAt(std::string_view html, size_t at, size_t* length) {
  size_t semicolon = html.find(';', at + 1);
  if (semicolon == std::string_view::npos || semicolon - at > 12) return 0;
  std::string_view name = html.substr(at + 1, semicolon - at - 1);
  *length = semicolon - at + 1;
  if (name.size() >= 2 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    uint32_t c = 0;
    for (char d : digits) {
      int value = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                  : hex && std::isxdigit(static_cast<unsigned char>(d))
                      ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                      : -1;
      if (value < 0) return 0;
      c = c * (hex ? 16 : 10) + static_cast<uint32_t>(value);
      if (c > 0x10FFFF) return 0xFFFD;
    }
    // NUL and surrogates are no characters; the question's check refuses
    // U+FFFD as a character the code page lacks.
    if (c == 0 || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    return c;
  }
  return namedCharacter(name);
}

bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lowered(std::string_view text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Where "</name" (in any case) stands at or after `from`, or npos.
size_t closingTag(std::string_view html, size_t from, const std::string& name) {
  for (size_t at = html.find("</", from); at != std::string_view::npos;
       at = html.find("</", at + 2)) {
    if (lowered(html.substr(at + 2, name.size())) == name) return at;
  }
  return std::string_view::npos;
}

}  // namespace

HtmlText textFromHtml(std::string_view html) {
  HtmlText out;
  std::string text;
  auto blank = [&] {
    if (!text.empty() && text.back() != ' ') text += ' ';
  };
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<' && html.compare(i, 4, "<!--") == 0) {
      size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 2;
      continue;
    }
    if (c == '<' && i + 1 < html.size() &&
        (std::isalpha(static_cast<unsigned char>(html[i + 1])) || html[i + 1] == '/' ||
         html[i + 1] == '!' || html[i + 1] == '?')) {
      // A tag, to its '>' outside quoted attribute values.
      size_t end = i + 1;
      char quote = 0;
      for (; end < html.size(); ++end) {
        char d = html[end];
        if (quote != 0) {
          if (d == quote) quote = 0;
        } else if (d == '"' || d == '\'') {
          quote = d;
        } else if (d == '>') {
          break;
        }
      }
      size_t nameStart = i + 1 + (html[i + 1] == '/' ? 1 : 0);
      size_t nameEnd = nameStart;
      while (nameEnd < end && std::isalnum(static_cast<unsigned char>(html[nameEnd]))) ++nameEnd;
      std::string name = lowered(html.substr(nameStart, nameEnd - nameStart));
      const bool closing = html[i + 1] == '/';
      for (const char* media : {"img", "video", "audio", "iframe", "object", "embed"}) {
        if (name == media && out.media.empty()) out.media = name;
      }
      if (name == "sup" && !closing) text += '^';
      if ((name == "script" || name == "style") && !closing) {
        // Their content is no text; skip to the closing tag.
        size_t found = closingTag(html, end, name);
        if (found == std::string_view::npos) break;
        end = html.find('>', found);
        if (end == std::string_view::npos) break;
      }
      // Tags that break a line or a block leave a blank between the words.
      for (const char* breaking : {"br", "p", "div", "li", "tr", "td", "th", "h1", "h2", "h3", "h4",
                                   "h5", "h6", "ul", "ol", "table", "hr", "blockquote"}) {
        if (name == breaking) blank();
      }
      i = end;
      continue;
    }
    if (c == '&') {
      size_t length = 0;
      uint32_t decoded = entityAt(html, i, &length);
      if (decoded != 0) {
        if (decoded == 0xA0 || decoded == ' ') {
          blank();
        } else {
          appendUtf8(&text, decoded);
        }
        i += length - 1;
        continue;
      }
    }
    if (isBlankByte(c)) {
      blank();
      continue;
    }
    text += c;
  }
  out.text = trimmed(text);
  return out;
}

}  // namespace qova

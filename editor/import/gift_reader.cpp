#include "editor/import/gift_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "editor/import/text_lines.h"

namespace qova {
namespace {

// A character of a question after its escapes are read: `markup` is false
// for a character written with a backslash, which never has a meaning of its
// own.
struct Glyph {
  char c;
  bool markup;
};

using Glyphs = std::vector<Glyph>;

Glyphs glyphsOf(std::string_view text) {
  Glyphs out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (std::string_view("~=#{}:\\").find(next) != std::string_view::npos) {
        out.push_back({next, false});
        ++i;
        continue;
      }
      if (next == 'n') {  // a line break in the text; a record line holds a blank
        out.push_back({' ', false});
        ++i;
        continue;
      }
    }
    out.push_back({c, true});
  }
  return out;
}

// Position of the first markup `c` at or after `from`, or npos.
size_t findMarkup(const Glyphs& g, char c, size_t from) {
  for (size_t i = from; i < g.size(); ++i) {
    if (g[i].markup && g[i].c == c) return i;
  }
  return std::string::npos;
}

size_t findMarkupPair(const Glyphs& g, char c, size_t from) {
  for (size_t i = from; i + 1 < g.size(); ++i) {
    if (g[i].markup && g[i].c == c && g[i + 1].markup && g[i + 1].c == c) return i;
  }
  return std::string::npos;
}

// The text of g[begin, end), line breaks made blanks, trimmed.
std::string textOf(const Glyphs& g, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end && i < g.size(); ++i) {
    out += g[i].c == '\n' ? ' ' : g[i].c;
  }
  return trimmed(out);
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The question text without a leading format mark such as "[html]".
std::string withoutFormat(std::string text) {
  for (const char* format : {"[html]", "[moodle]", "[plain]", "[markdown]"}) {
    std::string_view f(format);
    if (text.compare(0, f.size(), f) == 0) return trimmed(std::string_view(text).substr(f.size()));
  }
  return text;
}

// Reads the question of one block of lines starting at line `first`.
void readQuestion(const Glyphs& g, int64_t first, ImportedQuestions* out) {
  auto lineAt = [&](size_t position) {
    return first + std::count_if(g.begin(), g.begin() + static_cast<std::ptrdiff_t>(position),
                                 [](const Glyph& x) { return x.c == '\n'; });
  };
  size_t at = 0;
  while (at < g.size() && (g[at].c == ' ' || g[at].c == '\t' || g[at].c == '\n')) ++at;
  if (findMarkupPair(g, ':', at) == at) {
    size_t close = findMarkupPair(g, ':', at + 2);
    if (close == std::string::npos) {
      skipQuestion(out, first, "its ::title:: is never closed");
      return;
    }
    at = close + 2;
  }
  size_t open = findMarkup(g, '{', at);
  if (open == std::string::npos) {
    skipQuestion(out, first, "it has no answer block { } (a description)");
    return;
  }
  size_t close = findMarkup(g, '}', open + 1);
  if (close == std::string::npos) {
    skipQuestion(
        out, first,
        "the answer block opened on line " + std::to_string(lineAt(open)) + " is never closed");
    return;
  }
  if (findMarkup(g, '{', open + 1) < close || findMarkup(g, '{', close + 1) != std::string::npos) {
    skipQuestion(out, first,
                 "it holds more than one answer block (questions must be apart by a blank line)");
    return;
  }
  QuestionDraft draft;
  draft.line = first;
  std::string before = withoutFormat(textOf(g, at, open));
  std::string after = textOf(g, close + 1, g.size());
  draft.question = after.empty() ? before : before + " _____ " + after;

  size_t body = open + 1;
  while (body < close && std::isspace(static_cast<unsigned char>(g[body].c))) ++body;
  if (body == close) {
    skipQuestion(out, first, "it is an essay question");
    return;
  }
  if (g[body].markup && g[body].c == '#') {
    skipQuestion(out, first, "it is a numeric question");
    return;
  }
  std::string head = upper(textOf(g, body, std::min(findMarkup(g, '#', body), close)));
  if (head == "T" || head == "F" || head == "TRUE" || head == "FALSE") {
    skipQuestion(out, first, "it is a true/false question");
    return;
  }
  if (!g[body].markup || (g[body].c != '=' && g[body].c != '~')) {
    skipQuestion(out, first, "its answer block does not start with = or ~");
    return;
  }

  // The responses: each from its mark to the next one.
  std::vector<std::pair<size_t, size_t>> spans;  // [mark, end)
  for (size_t i = body; i < close; ++i) {
    if (g[i].markup && (g[i].c == '=' || g[i].c == '~')) {
      if (!spans.empty()) spans.back().second = i;
      spans.push_back({i, close});
    }
  }
  int right = 0;
  bool anyWrong = false;
  for (const auto& [mark, end] : spans) {
    // Feedback after '#' is dropped.
    size_t stop = std::min(findMarkup(g, '#', mark + 1), end);
    for (size_t i = mark + 1; i + 1 < stop; ++i) {
      if (g[i].markup && g[i].c == '-' && g[i + 1].markup && g[i + 1].c == '>') {
        skipQuestion(out, first, "it is a matching question");
        return;
      }
    }
    // A weight "%50%" right after the mark.
    size_t from = mark + 1;
    while (from < stop && std::isspace(static_cast<unsigned char>(g[from].c))) ++from;
    int weight = -1;
    if (from < stop && g[from].markup && g[from].c == '%') {
      size_t percent = findMarkup(g, '%', from + 1);
      if (percent < stop) {
        weight = std::atoi(textOf(g, from + 1, percent).c_str());
        from = percent + 1;
      }
    }
    char kind = g[mark].c;
    if (kind == '~' && weight > 0 && weight < 100) {
      skipQuestion(out, first, "it gives part marks to several responses");
      return;
    }
    bool isRight = weight < 0 ? kind == '=' : weight == 100;
    if (isRight) {
      ++right;
      draft.correct = static_cast<int>(draft.responses.size()) + 1;
    } else {
      anyWrong = true;
    }
    draft.responses.push_back(textOf(g, from, stop));
  }
  if (!anyWrong) {
    skipQuestion(out, first, "it is a short-answer question");
    return;
  }
  if (right == 0) {
    skipQuestion(out, first, "no response is marked right with =");
    return;
  }
  if (right > 1) {
    skipQuestion(out, first, "more than one response is marked right");
    return;
  }
  acceptQuestion(out, std::move(draft));
}

}  // namespace

bool looksLikeGift(std::string_view text) {
  for (std::string_view line : splitLines(text)) {
    std::string t = trimmed(line);
    if (t.compare(0, 2, "::") == 0 && t.find("::", 2) != std::string::npos) return true;
  }
  // An answer block: a brace whose next character, on its line or a later
  // one, opens a response or closes the block.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
      continue;
    }
    if (text[i] != '{') continue;
    size_t next = text.find_first_not_of(" \t\r\n", i + 1);
    if (next != std::string_view::npos &&
        std::string_view("=~}#").find(text[next]) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

void readGift(std::string_view text, ImportedQuestions* out) {
  std::vector<std::string_view> lines = splitLines(text);
  std::string block;
  int64_t first = 0;
  auto flush = [&] {
    if (first != 0) readQuestion(glyphsOf(block), first, out);
    block.clear();
    first = 0;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = trimmed(lines[i]);
    if (line.compare(0, 2, "//") == 0) continue;
    if (line.empty()) {
      flush();
      continue;
    }
    if (line.compare(0, 10, "$CATEGORY:") == 0) continue;
    if (first == 0) first = static_cast<int64_t>(i) + 1;
    block += lines[i];
    block += '\n';
  }
  flush();
}

}  // namespace qova

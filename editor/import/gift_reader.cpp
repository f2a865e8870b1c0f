#include "editor/import/gift_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "editor/import/html_text.h"
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

enum class TextFormat { kMoodle, kHtml, kPlain, kMarkdown };

// Takes a leading format mark ("[html]", "[moodle]", "[plain]",
// "[markdown]") off the trimmed text; without one the text is in `inherited`.
TextFormat takeFormat(std::string* text, TextFormat inherited) {
  struct Mark {
    std::string_view name;
    TextFormat format;
  };
  for (const Mark& mark :
       {Mark{"[html]", TextFormat::kHtml}, Mark{"[moodle]", TextFormat::kMoodle},
        Mark{"[plain]", TextFormat::kPlain}, Mark{"[markdown]", TextFormat::kMarkdown}}) {
    if (text->compare(0, mark.name.size(), mark.name) == 0) {
      *text = trimmed(std::string_view(*text).substr(mark.name.size()));
      return mark.format;
    }
  }
  return inherited;
}

// The text as the record holds it: an HTML text without its tags and
// entities. Returns why it cannot be kept (a picture or other media), or
// empty.
std::string plainText(std::string* text, TextFormat format) {
  if (format != TextFormat::kHtml) return std::string();
  HtmlText html = textFromHtml(*text);
  *text = html.text;
  if (html.media.empty()) return std::string();
  if (html.media == "img") return "it shows a picture (<img>), which a record cannot hold";
  return "it holds media (<" + html.media + ">), which a record cannot hold";
}

bool onlyBlanksAndHashes(const std::string& text) {
  return text.find_first_not_of(" \t\n#") == std::string::npos;
}

// A weight "%50%" (also "%-33.3%", "%100%") at g[*from]: true, *weight its
// value and *from past it. Anything else is text.
bool takeWeight(const Glyphs& g, size_t* from, size_t stop, double* weight) {
  if (*from >= stop || !g[*from].markup || g[*from].c != '%') return false;
  size_t percent = findMarkup(g, '%', *from + 1);
  if (percent >= stop) return false;
  std::string number = textOf(g, *from + 1, percent);
  size_t digits = number.find_first_not_of('-');
  if (digits == std::string::npos || digits > 1) return false;
  bool point = false;
  bool anyDigit = false;
  for (size_t i = digits; i < number.size(); ++i) {
    if (number[i] == '.' && !point) {
      point = true;
    } else if (number[i] >= '0' && number[i] <= '9') {
      anyDigit = true;
    } else {
      return false;
    }
  }
  if (!anyDigit) return false;
  *weight = std::atof(number.c_str());
  *from = percent + 1;
  return true;
}

std::string responsesCounted(int n) {
  return std::to_string(n) + (n == 1 ? " response" : " responses");
}

// What readGift learns across the questions for the report.
struct GiftTally {
  int64_t feedbackQuestions = 0;
  int64_t firstFeedbackLine = 0;
};

// Reads the question of one block of lines starting at line `first`.
void readQuestion(const Glyphs& g, int64_t first, GiftTally* tally, ImportedQuestions* out) {
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
  // The block stands where the text goes on: there the question shows a gap
  // "_____", with the blanks around it as written.
  std::string before = textOf(g, at, open);
  TextFormat format = takeFormat(&before, TextFormat::kMoodle);
  std::string after = textOf(g, close + 1, g.size());
  if (after.empty()) {
    draft.question = before;
  } else {
    bool spaceBefore = open > at && std::isspace(static_cast<unsigned char>(g[open - 1].c));
    bool spaceAfter =
        close + 1 < g.size() && std::isspace(static_cast<unsigned char>(g[close + 1].c));
    draft.question = before + (spaceBefore ? " " : "") + "_____" + (spaceAfter ? " " : "") + after;
  }
  if (std::string media = plainText(&draft.question, format); !media.empty()) {
    skipQuestion(out, first, media);
    return;
  }

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
  // The kind of question, in the order the format's readers decide it: a
  // "~" anywhere makes multiple choice; "=" with "->" matching; then
  // true/false, and anything else is answered by typing (short answer).
  bool tilde = findMarkup(g, '~', body) < close;
  if (!tilde) {
    bool equals = findMarkup(g, '=', body) < close;
    bool arrow = false;
    for (size_t i = body; i + 1 < close; ++i) {
      if (g[i].markup && g[i].c == '-' && g[i + 1].markup && g[i + 1].c == '>') arrow = true;
    }
    if (equals && arrow) {
      skipQuestion(out, first, "it is a matching question");
      return;
    }
    size_t hash = std::min(findMarkup(g, '#', body), close);
    std::string head = upper(textOf(g, body, hash));
    if (head == "T" || head == "F" || head == "TRUE" || head == "FALSE") {
      draft.responses = {"True", "False"};
      draft.correct = head[0] == 'T' ? 1 : 2;
      bool feedback = hash < close && !onlyBlanksAndHashes(textOf(g, hash, close));
      if (acceptQuestion(out, std::move(draft)) && feedback) {
        if (tally->feedbackQuestions++ == 0) tally->firstFeedbackLine = first;
      }
      return;
    }
    if (g[body].markup && g[body].c == '=') {
      skipQuestion(out, first, "it is a short-answer question");
      return;
    }
    skipQuestion(out, first, "its answer block does not start with = or ~");
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
  int full = 0;
  int part = 0;
  bool feedback = false;
  for (const auto& [mark, end] : spans) {
    // Feedback after '#' is dropped.
    size_t stop = std::min(findMarkup(g, '#', mark + 1), end);
    if (stop < end && !onlyBlanksAndHashes(textOf(g, stop, end))) feedback = true;
    size_t from = mark + 1;
    while (from < stop && std::isspace(static_cast<unsigned char>(g[from].c))) ++from;
    double weight = 0;
    bool weighted = takeWeight(g, &from, stop, &weight);
    if (weighted && weight > 100) {
      skipQuestion(out, first, "a response has a weight above 100%");
      return;
    }
    // "=" gives full credit; a weight, where written, says how much.
    bool isFull = weighted ? weight == 100 : g[mark].c == '=';
    if (isFull) {
      ++full;
      draft.correct = static_cast<int>(draft.responses.size()) + 1;
    } else if (weighted && weight > 0) {
      ++part;
    }
    std::string text = textOf(g, from, stop);
    TextFormat own = takeFormat(&text, format);
    if (std::string media = plainText(&text, own); !media.empty()) {
      skipQuestion(out, first, media);
      return;
    }
    draft.responses.push_back(std::move(text));
  }
  if (full > 1) {
    skipQuestion(out, first, "more than one response is marked right");
    return;
  }
  if (full == 0) {
    skipQuestion(out, first,
                 part > 1    ? "it gives part marks to several responses"
                 : part == 1 ? "no response has full credit"
                             : "no response is marked right with =");
    return;
  }
  if (!acceptQuestion(out, std::move(draft))) return;
  if (part > 0) {
    noteQuestion(out, first,
                 "kept without the part credit of " + responsesCounted(part) +
                     "; only the full-credit response is right");
  }
  if (feedback && tally->feedbackQuestions++ == 0) tally->firstFeedbackLine = first;
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
  GiftTally tally;
  auto flush = [&] {
    if (first != 0) readQuestion(glyphsOf(block), first, &tally, out);
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
  if (tally.feedbackQuestions > 0) {
    out->fileNotes.push_back("Feedback after \"#\", in " + std::to_string(tally.feedbackQuestions) +
                             (tally.feedbackQuestions == 1 ? " question" : " questions") +
                             " (the first on line " + std::to_string(tally.firstFeedbackLine) +
                             ").");
  }
}

}  // namespace qova

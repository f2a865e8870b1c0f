#include "editor/import/csv_reader.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "editor/import/ansi_text.h"

namespace qova {
namespace {

// A row holds at most this many fields; more are counted, not kept.
constexpr size_t kMaxFields = 256;
// The header row is looked for among this many rows at the start.
constexpr int kHeaderRows = 20;

struct Row {
  int64_t line = 0;  // where the row starts
  std::vector<std::string> fields;
  size_t fieldCount = 0;   // fields met, kept or not
  int64_t unclosedAt = 0;  // line of a quote never closed, 0 when none
};

// Reads the row at *at (a text position) and moves past it; *line is the
// line number at *at and is moved on with it. False at the end of the text.
bool nextRow(std::string_view text, char separator, size_t* at, int64_t* line, Row* row) {
  if (*at >= text.size()) return false;
  *row = Row();
  row->line = *line;
  std::string field;
  auto endField = [&] {
    if (row->fields.size() < kMaxFields) row->fields.push_back(std::move(field));
    ++row->fieldCount;
    field.clear();
  };
  size_t i = *at;
  bool quoted = false;
  bool fieldStart = true;
  int64_t quoteLine = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
        continue;
      }
      if (c == '\r' || c == '\n') {
        // A line break inside a cell; a record line holds a blank instead.
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        ++*line;
        field += ' ';
        continue;
      }
      field += c;
      continue;
    }
    if (c == '"' && fieldStart) {
      quoted = true;
      quoteLine = *line;
      fieldStart = false;
      continue;
    }
    if (c == separator) {
      endField();
      fieldStart = true;
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++*line;
      ++i;
      break;
    }
    field += c;
    fieldStart = false;
  }
  if (quoted) row->unclosedAt = quoteLine;
  endField();
  *at = i;
  return true;
}

bool blankRow(const Row& row) {
  return std::all_of(row.fields.begin(), row.fields.end(),
                     [](const std::string& f) { return trimmed(f).empty(); });
}

// Lower-case letters and digits of a header name: "Correct Answer" and
// "correct_answer" are both "correctanswer".
std::string nameKey(const std::string& name) {
  std::string key;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) && u < 0x80) key += static_cast<char>(std::tolower(u));
  }
  return key;
}

bool isOneOf(const std::string& key, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (key == name) return true;
  }
  return false;
}

// The response number (from 1) a header name stands for, or 0.
int responseNumber(const std::string& key) {
  for (const char* prefix : {"response", "answer", "option", "choice", "reply", ""}) {
    std::string_view p(prefix);
    if (key.compare(0, p.size(), p) != 0 || key.size() == p.size()) continue;
    std::string rest = key.substr(p.size());
    if (rest.size() == 1 && rest[0] >= 'a' && rest[0] <= 'z') return rest[0] - 'a' + 1;
    if (!p.empty() && rest.size() <= 2 &&
        std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      int n = std::stoi(rest);
      if (n >= 1) return n;
    }
  }
  return 0;
}

struct Columns {
  int question = -1;
  int correct = -1;
  int timeLimit = -1;
  std::vector<std::pair<int, int>> responses;  // (response number, column)
  bool questionByName = false;  // the question column's header is one of its names exactly
  // The right-response column holds response numbers only ("Correct
  // answer(s)", as the quiz templates name it), never a response's text.
  bool correctByNumber = false;
  std::string timeLimitName;  // the time limit column's header, as written
};

enum class Kind { kNone, kQuestion, kResponse, kCorrect, kTimeLimit, kNumber };

struct ColumnKind {
  Kind kind = Kind::kNone;
  int response = 0;  // for kResponse, from 1
};

// A header as written, for names with punctuation: lower-case, blanks and
// underscores one blank, trimmed. "Correct Answer(s)\n(Only include
// Answer #)" is "correct answer(s) (only include answer #)".
std::string headerText(const std::string& name) {
  std::string out;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '_') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += u < 0x80 ? static_cast<char>(std::tolower(u)) : c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A header that names its column exactly: one of the names in any case and
// spacing ("Correct Answer", "correct_answer", "Option B"), or one of the
// names written with punctuation ("Question #", "No.").
ColumnKind exactKind(const std::string& name) {
  const std::string text = headerText(name);
  bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-';
  });
  if (!plain) {
    if (isOneOf(text, {"question #", "question no.", "no.", "#"})) return {Kind::kNumber, 0};
    if (isOneOf(text, {"correct answer(s)", "correct response(s)"})) return {Kind::kCorrect, 0};
    if (isOneOf(text, {"time limit (sec)", "time limit (s)", "time (sec)"})) {
      return {Kind::kTimeLimit, 0};
    }
  }
  const std::string key = nameKey(name);
  if (isOneOf(key, {"question", "questiontext", "questions", "prompt"})) {
    return {Kind::kQuestion, 0};
  }
  if (isOneOf(key, {"correct", "correctanswer", "correctanswers", "correctresponse",
                    "correctoption", "correctchoice", "rightanswer", "rightresponse", "right",
                    "answer", "key", "answerkey", "solution"})) {
    return {Kind::kCorrect, 0};
  }
  if (isOneOf(key, {"timelimit", "timelimitsec", "timelimitseconds"})) {
    return {Kind::kTimeLimit, 0};
  }
  if (int n = responseNumber(key); n > 0) return {Kind::kResponse, n};
  return {};
}

// True when `text` begins with `prefix` and the name ends there or goes on
// after a character that is no letter or digit ("Answer 1 - max 75
// characters" begins with "answer 1", "Answer 12" does not).
bool beginsWith(const std::string& text, std::string_view prefix) {
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  if (text.size() == prefix.size()) return true;
  unsigned char next = static_cast<unsigned char>(text[prefix.size()]);
  return next >= 0x80 || !std::isalnum(next);
}

// A header that begins with a column's name and goes on with a hint, as the
// quiz platforms' spreadsheet templates write them ("Question - max 120
// characters", "Answer 3 (Optional)", "Time limit (sec)"): the longest name
// it begins with.
ColumnKind prefixKind(const std::string& name) {
  const std::string text = headerText(name);
  struct Prefix {
    std::string_view name;
    Kind kind;
  };
  const Prefix prefixes[] = {
      {"question", Kind::kQuestion},      {"question text", Kind::kQuestion},
      {"question #", Kind::kNumber},      {"no.", Kind::kNumber},
      {"correct answer", Kind::kCorrect}, {"correct answer(s)", Kind::kCorrect},
      {"time limit", Kind::kTimeLimit},
  };
  ColumnKind best;
  size_t bestLength = 0;
  for (const Prefix& p : prefixes) {
    if (p.name.size() > bestLength && beginsWith(text, p.name)) {
      best = {p.kind, 0};
      bestLength = p.name.size();
    }
  }
  // "Answer N", N from 1.
  std::string_view answer = "answer ";
  if (text.compare(0, answer.size(), answer) == 0) {
    size_t end = answer.size();
    while (end < text.size() && end < answer.size() + 2 && text[end] >= '0' && text[end] <= '9') {
      ++end;
    }
    if (end > answer.size() && end > bestLength && beginsWith(text, text.substr(0, end))) {
      int n = std::stoi(text.substr(answer.size(), end - answer.size()));
      if (n >= 1) best = {Kind::kResponse, n};
    }
  }
  return best;
}

Columns headerColumns(const Row& row) {
  Columns c;
  for (size_t i = 0; i < row.fields.size(); ++i) {
    ColumnKind kind = exactKind(row.fields[i]);
    bool exact = kind.kind != Kind::kNone;
    if (!exact) kind = prefixKind(row.fields[i]);
    int column = static_cast<int>(i);
    switch (kind.kind) {
      case Kind::kQuestion:
        if (c.question < 0) {
          c.question = column;
          c.questionByName = exact;
        }
        break;
      case Kind::kCorrect:
        if (c.correct < 0) {
          c.correct = column;
          c.correctByNumber = beginsWith(headerText(row.fields[i]), "correct answer(s)");
        }
        break;
      case Kind::kTimeLimit:
        if (c.timeLimit < 0) {
          c.timeLimit = column;
          c.timeLimitName = trimmed(row.fields[i]);
        }
        break;
      case Kind::kResponse:
        c.responses.push_back({kind.response, column});
        break;
      case Kind::kNumber:
      case Kind::kNone:
        break;
    }
  }
  std::stable_sort(c.responses.begin(), c.responses.end());
  return c;
}

// A header row names the question column exactly, or names the question,
// the responses and the right response.
bool isHeader(const Columns& c, bool firstRow) {
  if (c.question < 0) return false;
  if (firstRow && c.questionByName) return true;
  return c.correct >= 0 && !c.responses.empty();
}

char chooseSeparator(std::string_view text) {
  char best = ',';
  size_t bestScore = 0;
  for (char separator : {',', ';', '\t'}) {
    size_t at = 0;
    int64_t line = 1;
    Row row;
    size_t score = 0;
    for (int rows = 0; rows < 20 && nextRow(text, separator, &at, &line, &row); ++rows) {
      if (row.fieldCount >= 3) score += row.fieldCount;
    }
    if (score > bestScore) best = separator, bestScore = score;
  }
  return best;
}

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The right response from the value of the correct column: *correct gets
// its number from 1, or the reason it cannot be told is returned.
std::string rightResponse(const std::string& value, const std::vector<std::string>& responses,
                          bool byNumber, int* correct) {
  const std::string v = trimmed(value);
  if (v.empty()) return "the right-response column is empty";
  const int count = static_cast<int>(responses.size());
  if (byNumber && isNumber(v)) {
    int named = std::stoi(v);
    if (named == 0) return "the right-response column holds 0";
    if (named > count) {
      return "the right-response column names response " + std::to_string(named) +
             ", and there are " + std::to_string(count);
    }
    *correct = named;
    return std::string();
  }
  // Responses whose text is the value, exactly, and then without regard to case.
  std::vector<int> same;
  for (int i = 0; i < count; ++i) {
    if (trimmed(responses[static_cast<size_t>(i)]) == v) same.push_back(i + 1);
  }
  if (same.empty()) {
    for (int i = 0; i < count; ++i) {
      if (lowered(trimmed(responses[static_cast<size_t>(i)])) == lowered(v)) same.push_back(i + 1);
    }
  }
  // "2,4" or "1, 3": several right responses, which a record cannot have.
  if (same.empty() && v.find_first_not_of("0123456789,; ") == std::string::npos &&
      v.find_first_of(",; ") != std::string::npos &&
      v.find_first_of("0123456789") != std::string::npos) {
    size_t numbers = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(v[i])) &&
          (i == 0 || !std::isdigit(static_cast<unsigned char>(v[i - 1])))) {
        ++numbers;
      }
    }
    if (numbers > 1) {
      return "the right-response column names more than one right response (" + v + ")";
    }
  }
  int named = 0;  // the number or letter given
  if (isNumber(v)) named = std::stoi(v);
  if (v.size() == 1 && std::isalpha(static_cast<unsigned char>(v[0]))) {
    named = std::toupper(static_cast<unsigned char>(v[0])) - 'A' + 1;
  }
  if (named != 0 && !same.empty() && (same.size() > 1 || same[0] != named)) {
    return "the right-response column could mean a response number or letter, or the text "
           "of another response";
  }
  if (named != 0) {
    if (named > count) {
      return "the right-response column names response " + std::to_string(named) +
             ", and there are " + std::to_string(count);
    }
    *correct = named;
    return std::string();
  }
  if (isNumber(v)) return "the right-response column holds 0";
  if (same.size() == 1) {
    *correct = same[0];
    return std::string();
  }
  if (same.size() > 1) return "the right response's text matches more than one response";
  return "the right-response column holds neither 1-5, A-E nor the text of a response";
}

// Reads the row as a question: true when it was imported.
bool readRow(const Row& row, const Columns* header, ImportedQuestions* out) {
  if (row.fieldCount > kMaxFields) {
    skipQuestion(out, row.line, "the row has more than " + std::to_string(kMaxFields) + " fields");
    return false;
  }
  QuestionDraft draft;
  draft.line = row.line;
  std::string correct;
  auto field = [&](int column) {
    return column >= 0 && static_cast<size_t>(column) < row.fields.size()
               ? row.fields[static_cast<size_t>(column)]
               : std::string();
  };
  if (header != nullptr) {
    draft.question = field(header->question);
    for (const auto& [number, column] : header->responses) {
      draft.responses.push_back(field(column));
    }
    correct = field(header->correct);
  } else {
    std::vector<std::string> fields = row.fields;
    while (!fields.empty() && trimmed(fields.back()).empty()) fields.pop_back();
    if (fields.size() < 4) {
      skipQuestion(out, row.line,
                   "it has fewer than two responses (a row: question, responses, right response)");
      return false;
    }
    draft.question = fields.front();
    correct = fields.back();
    draft.responses.assign(fields.begin() + 1, fields.end() - 1);
  }
  // Empty cells after the last response are no responses.
  while (!draft.responses.empty() && trimmed(draft.responses.back()).empty()) {
    draft.responses.pop_back();
  }
  if (draft.responses.size() >= 2 && draft.responses.size() <= 5) {
    std::string problem = rightResponse(
        correct, draft.responses, header != nullptr && header->correctByNumber, &draft.correct);
    if (!problem.empty()) {
      skipQuestion(out, row.line, problem);
      return false;
    }
  }
  return acceptQuestion(out, std::move(draft));
}

std::string fieldOf(const Row& row, int column) {
  return column >= 0 && static_cast<size_t>(column) < row.fields.size()
             ? trimmed(row.fields[static_cast<size_t>(column)])
             : std::string();
}

size_t filledCells(const Row& row) {
  return static_cast<size_t>(
      std::count_if(row.fields.begin(), row.fields.end(),
                    [](const std::string& f) { return !trimmed(f).empty(); }));
}

// A row of a template whose question cells were left empty: nothing of it
// is a question, whatever its number or time limit columns hold.
bool unusedRow(const Row& row, const Columns& header) {
  if (!fieldOf(row, header.question).empty() || !fieldOf(row, header.correct).empty()) {
    return false;
  }
  for (const auto& [number, column] : header.responses) {
    if (!fieldOf(row, column).empty()) return false;
  }
  return true;
}

// The header row among the first rows (the rows of a template's title and
// instructions stand above it), or 0 when there is none; *columns gets its
// columns.
int64_t findHeader(std::string_view text, char separator, Columns* columns) {
  size_t at = 0;
  int64_t line = 1;
  Row row;
  bool first = true;
  for (int rows = 0; rows < kHeaderRows && nextRow(text, separator, &at, &line, &row); ++rows) {
    if (row.unclosedAt != 0) return 0;
    if (blankRow(row)) continue;
    Columns c = headerColumns(row);
    if (isHeader(c, first)) {
      *columns = c;
      return row.line;
    }
    first = false;
  }
  return 0;
}

}  // namespace

bool looksLikeCsv(std::string_view text) {
  char separator = chooseSeparator(text);
  Columns header;
  if (findHeader(text, separator, &header) != 0) return true;
  size_t at = 0;
  int64_t line = 1;
  Row row;
  int rows = 0;
  int wide = 0;
  while (rows < 20 && nextRow(text, separator, &at, &line, &row)) {
    if (blankRow(row)) continue;
    ++rows;
    if (row.fieldCount >= 4) ++wide;
  }
  return rows > 0 && wide * 2 >= rows;
}

void readCsv(std::string_view text, ImportedQuestions* out) {
  const char separator = chooseSeparator(text);
  Columns header;
  const int64_t headerLine = findHeader(text, separator, &header);
  const bool hasHeader = headerLine != 0;
  if (hasHeader && header.correct < 0) {
    out->failure = "Its header row names no column for the right response.";
    return;
  }
  if (hasHeader && header.responses.empty()) {
    out->failure = "Its header row names no response columns.";
    return;
  }
  size_t at = 0;
  int64_t line = 1;
  Row row;
  bool timeLimits = false;  // an imported question had a time limit
  while (nextRow(text, separator, &at, &line, &row)) {
    // The rows above the header and the header itself are no questions. A
    // title or instruction row holds one cell; a row above the header with
    // more may be a question, and is reported rather than passed over.
    if (row.line < headerLine && filledCells(row) > 1) {
      skipQuestion(out, row.line,
                   "the row stands above the header row on line " + std::to_string(headerLine));
      continue;
    }
    if (row.line <= headerLine) continue;
    if (row.unclosedAt != 0) {
      skipQuestion(
          out, row.line,
          "a quoted field opened on line " + std::to_string(row.unclosedAt) + " is never closed");
      continue;
    }
    if (blankRow(row)) continue;
    if (hasHeader && unusedRow(row, header)) continue;
    if (readRow(row, hasHeader ? &header : nullptr, out) && hasHeader &&
        !fieldOf(row, header.timeLimit).empty()) {
      timeLimits = true;
    }
  }
  if (timeLimits) {
    std::string name;
    uint32_t missing = 0;
    if (!ansiFromUtf8(header.timeLimitName, &name, &missing)) name = "Time limit";
    out->fileNotes.push_back("The time limits in the column \"" + name +
                             "\": the database has one time limit for all questions.");
  }
}

}  // namespace qova

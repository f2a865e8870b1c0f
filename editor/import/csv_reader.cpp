#include "editor/import/csv_reader.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace qova {
namespace {

// A row holds at most this many fields; more are counted, not kept.
constexpr size_t kMaxFields = 256;

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
  std::vector<std::pair<int, int>> responses;  // (response number, column)
};

Columns headerColumns(const Row& row) {
  Columns c;
  for (size_t i = 0; i < row.fields.size(); ++i) {
    std::string key = nameKey(row.fields[i]);
    int column = static_cast<int>(i);
    if (c.question < 0 && isOneOf(key, {"question", "questiontext", "questions", "prompt"})) {
      c.question = column;
    } else if (c.correct < 0 &&
               isOneOf(key, {"correct", "correctanswer", "correctanswers", "correctresponse",
                             "correctoption", "correctchoice", "rightanswer", "rightresponse",
                             "right", "answer", "key", "answerkey", "solution"})) {
      c.correct = column;
    } else if (int n = responseNumber(key); n > 0) {
      c.responses.push_back({n, column});
    }
  }
  std::stable_sort(c.responses.begin(), c.responses.end());
  return c;
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
                          int* correct) {
  const std::string v = trimmed(value);
  if (v.empty()) return "the right-response column is empty";
  const int count = static_cast<int>(responses.size());
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

void readRow(const Row& row, const Columns* header, ImportedQuestions* out) {
  if (row.fieldCount > kMaxFields) {
    skipQuestion(out, row.line, "the row has more than " + std::to_string(kMaxFields) + " fields");
    return;
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
      return;
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
    std::string problem = rightResponse(correct, draft.responses, &draft.correct);
    if (!problem.empty()) {
      skipQuestion(out, row.line, problem);
      return;
    }
  }
  acceptQuestion(out, std::move(draft));
}

}  // namespace

bool looksLikeCsv(std::string_view text) {
  char separator = chooseSeparator(text);
  size_t at = 0;
  int64_t line = 1;
  Row row;
  int rows = 0;
  int wide = 0;
  while (rows < 20 && nextRow(text, separator, &at, &line, &row)) {
    if (blankRow(row)) continue;
    if (rows == 0 && headerColumns(row).question >= 0) return true;
    ++rows;
    if (row.fieldCount >= 4) ++wide;
  }
  return rows > 0 && wide * 2 >= rows;
}

void readCsv(std::string_view text, ImportedQuestions* out) {
  const char separator = chooseSeparator(text);
  size_t at = 0;
  int64_t line = 1;
  Row row;
  bool first = true;
  Columns header;
  bool hasHeader = false;
  while (nextRow(text, separator, &at, &line, &row)) {
    if (row.unclosedAt != 0) {
      skipQuestion(
          out, row.line,
          "a quoted field opened on line " + std::to_string(row.unclosedAt) + " is never closed");
      continue;
    }
    if (blankRow(row)) continue;
    if (first) {
      first = false;
      header = headerColumns(row);
      if (header.question >= 0) {
        if (header.correct < 0) {
          out->failure = "Its header row names no column for the right response.";
          return;
        }
        if (header.responses.empty()) {
          out->failure = "Its header row names no response columns.";
          return;
        }
        hasHeader = true;
        continue;
      }
    }
    readRow(row, hasHeader ? &header : nullptr, out);
  }
}

}  // namespace qova

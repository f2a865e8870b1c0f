#include "editor/import/layout_reader.h"

#include <string>
#include <vector>

#include "editor/import/text_lines.h"

namespace qova {
namespace {

bool isNumberLine(std::string_view line) {
  std::string t = trimmed(line);
  if (t.empty() || t.size() > 9) return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The lines without the empty lines at the end of the file, which Convert
// Txt copies but which hold no question.
std::vector<std::string_view> contentLines(std::string_view text) {
  std::vector<std::string_view> lines = splitLines(text);
  while (!lines.empty() && isBlank(lines.back())) lines.pop_back();
  return lines;
}

}  // namespace

int layoutResponseCount(std::string_view text) {
  std::vector<std::string_view> lines = contentLines(text);
  for (int n : {4, 5}) {
    size_t group = static_cast<size_t>(n) + 2;
    size_t groups = lines.size() / group;
    if (groups == 0) continue;
    size_t numbers = 0;
    for (size_t g = 0; g < groups; ++g) {
      if (isNumberLine(lines[g * group + group - 1])) ++numbers;
    }
    // A group here and there may be damaged; the file is taken for this
    // layout when most groups end with a number and the first does.
    if (isNumberLine(lines[group - 1]) && numbers * 4 >= groups * 3) return n;
  }
  return 0;
}

void readLayout(std::string_view text, int responseCount, ImportedQuestions* out) {
  std::vector<std::string_view> lines = contentLines(text);
  const size_t group = static_cast<size_t>(responseCount) + 2;
  for (size_t start = 0; start < lines.size(); start += group) {
    const int64_t line = static_cast<int64_t>(start) + 1;
    if (lines.size() - start < group) {
      skipQuestion(out, line, "the file ends in the middle of the question");
      return;
    }
    std::string_view last = lines[start + group - 1];
    if (!isNumberLine(last)) {
      skipQuestion(out, line,
                   "line " + std::to_string(line + static_cast<int64_t>(group) - 1) +
                       " should hold the number of the right response");
      continue;
    }
    QuestionDraft draft;
    draft.line = line;
    draft.question = std::string(lines[start]);
    for (size_t i = 1; i <= static_cast<size_t>(responseCount); ++i) {
      draft.responses.push_back(std::string(lines[start + i]));
    }
    draft.correct = std::stoi(trimmed(last));
    while (!draft.responses.empty() && isBlank(draft.responses.back()) &&
           static_cast<int>(draft.responses.size()) > draft.correct) {
      draft.responses.pop_back();
    }
    if (draft.correct == 0) {
      skipQuestion(out, line, "no right response is marked (its number is 0)");
      continue;
    }
    acceptQuestion(out, std::move(draft));
  }
}

}  // namespace qova

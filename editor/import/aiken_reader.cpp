#include "editor/import/aiken_reader.h"

#include <cctype>
#include <string>

#include "editor/import/text_lines.h"

namespace qova {
namespace {

// The letter of a response line ("A. text", "B) text", also "C)text"
// without the blank, as learning platforms read it), or 0.
char responseLetter(std::string_view line) {
  if (line.size() < 2) return 0;
  char letter = line[0];
  if (letter < 'A' || letter > 'Z') return 0;
  if (line[1] != '.' && line[1] != ')') return 0;
  return letter;
}

// For an "ANSWER:" line (the word in any case, blanks allowed before the
// colon): true, and *rest is what follows the colon.
bool answerLine(std::string_view line, std::string_view* rest) {
  std::string_view word = "ANSWER";
  if (line.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
  }
  size_t at = line.find_first_not_of(" \t", word.size());
  if (at == std::string_view::npos || line[at] != ':') return false;
  *rest = line.substr(at + 1);
  return true;
}

}  // namespace

bool looksLikeAiken(std::string_view text) {
  bool answer = false;
  bool response = false;
  std::string_view rest;
  for (std::string_view line : splitLines(text)) {
    std::string lineText = trimmed(line);
    answer = answer || answerLine(lineText, &rest);
    response = response || responseLetter(lineText) != 0;
    if (answer && response) return true;
  }
  return false;
}

void readAiken(std::string_view text, ImportedQuestions* out) {
  std::vector<std::string_view> lines = splitLines(text);
  QuestionDraft draft;
  bool open = false;    // a question has started
  bool broken = false;  // it is being skipped; the rest of its block is passed over
  auto finishBroken = [&](const std::string& reason) {
    skipQuestion(out, draft.line, reason);
    broken = true;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const int64_t number = static_cast<int64_t>(i) + 1;
    std::string line = trimmed(lines[i]);
    if (line.empty()) {
      // A blank line ends the block; a question still open has no ANSWER.
      if (open && !broken) skipQuestion(out, draft.line, "it has no ANSWER: line");
      open = broken = false;
      continue;
    }
    std::string_view rest;
    if (broken) {
      // A skipped question ends at a blank line or after its ANSWER: line.
      if (answerLine(line, &rest)) open = broken = false;
      continue;
    }
    if (!open) {
      draft = QuestionDraft();
      draft.line = number;
      draft.question = line;
      open = true;
      continue;
    }
    if (answerLine(line, &rest)) {
      std::string letter = trimmed(rest);
      if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
        skipQuestion(out, draft.line, "its ANSWER: line does not name a response letter");
        open = false;
        continue;
      }
      int index = std::toupper(static_cast<unsigned char>(letter[0])) - 'A';
      draft.correct = index + 1;
      bool countOk = draft.responses.size() >= 2 && draft.responses.size() <= 5;
      if (countOk && static_cast<size_t>(index) >= draft.responses.size()) {
        skipQuestion(out, draft.line, "ANSWER: " + letter + " names no response");
      } else {
        acceptQuestion(out, draft);  // also reports a wrong number of responses
      }
      // The question is done; the next line that is not blank starts another.
      open = false;
      continue;
    }
    char letter = responseLetter(line);
    if (letter != 0 && letter == 'A' + static_cast<char>(draft.responses.size())) {
      draft.responses.push_back(trimmed(std::string_view(line).substr(2)));
      continue;
    }
    if (letter != 0) {
      finishBroken("line " + std::to_string(number) + ": response " + std::string(1, letter) +
                   " is out of order");
    } else if (draft.responses.empty()) {
      finishBroken("the question goes on over more than one line (line " + std::to_string(number) +
                   ")");
    } else {
      finishBroken("line " + std::to_string(number) +
                   " is neither a response (\"A.\" or \"A)\") nor ANSWER:");
    }
  }
  if (open && !broken) skipQuestion(out, draft.line, "the file ends before its ANSWER: line");
}

}  // namespace qova

#include "editor/import/imported_questions.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "editor/import/ansi_text.h"

namespace qova {
namespace {

std::string responseName(size_t i) { return "response " + std::to_string(i + 1); }

std::string characterName(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

// Why `text` cannot be kept as it is; empty when it can. *ansi gets the
// converted text.
std::string textProblem(const std::string& name, const std::string& text, std::string* ansi) {
  if (text.empty()) return name + " is empty";
  // Controls of both ranges: C0 and DEL as bytes, C1 (U+0080..U+009F) as
  // their UTF-8 pairs, so an undefined byte of the code page is refused alike
  // on every platform.
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F ||
        (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
      return name + " holds a control character";
    }
  }
  uint32_t missing = 0;
  if (!ansiFromUtf8(text, ansi, &missing)) {
    if (missing == 0xFFFD) return name + " holds bytes that are not text";
    return name + " holds the character " + characterName(missing) +
           ", which the ANSI code page cannot show";
  }
  if (ansi->size() > kMaxImportedText) {
    return name + " is longer than " + std::to_string(kMaxImportedText) + " characters";
  }
  return std::string();
}

}  // namespace

std::string trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

void skipQuestion(ImportedQuestions* out, int64_t line, std::string reason) {
  ++out->skippedCount;
  if (out->skipped.size() < kMaxListedSkips) {
    out->skipped.push_back(SkippedQuestion{line, std::move(reason)});
  }
}

void noteQuestion(ImportedQuestions* out, int64_t line, std::string text) {
  ++out->noteCount;
  if (out->notes.size() < kMaxListedSkips) out->notes.push_back(ImportNote{line, std::move(text)});
}

bool acceptQuestion(ImportedQuestions* out, QuestionDraft draft) {
  if (out->records.size() >= kMaxImportedQuestions) {
    skipQuestion(
        out, draft.line,
        "one import brings at most " + std::to_string(kMaxImportedQuestions) + " questions");
    return false;
  }
  const size_t count = draft.responses.size();
  if (count > 5) {
    skipQuestion(out, draft.line, "it has " + std::to_string(count) + " responses, more than five");
    return false;
  }
  if (count < 2) {
    skipQuestion(out, draft.line, "it has fewer than two responses");
    return false;
  }
  if (count > static_cast<size_t>(out->responseLimit)) {
    skipQuestion(out, draft.line,
                 "it has " + std::to_string(count) + " responses; the database holds " +
                     std::to_string(out->responseLimit));
    return false;
  }
  if (draft.correct < 1 || static_cast<size_t>(draft.correct) > count) {
    skipQuestion(out, draft.line, "no right response can be told");
    return false;
  }
  QuestionRecord record;
  std::string problem = textProblem("the question", trimmed(draft.question), &record.question);
  for (size_t i = 0; problem.empty() && i < count; ++i) {
    std::string ansi;
    problem = textProblem(responseName(i), trimmed(draft.responses[i]), &ansi);
    record.responses.push_back(std::move(ansi));
  }
  if (!problem.empty()) {
    skipQuestion(out, draft.line, problem);
    return false;
  }
  record.responses.resize(std::max(count, static_cast<size_t>(out->responseLimit)));
  record.correct = draft.correct;
  if (static_cast<int>(count) > out->mostResponses) out->mostResponses = static_cast<int>(count);
  out->records.push_back(std::move(record));
  return true;
}

}  // namespace qova

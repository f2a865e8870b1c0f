// What a question file reader hands back: the questions read as records,
// ready for the store, and the questions it had to leave out, each with its
// line and the reason. Every reader takes UTF-8 text and puts each question
// it finds through acceptQuestion, which applies the rules that all formats
// share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdb/question_record.h"

namespace qova {

// A question text or response longer than this many bytes (in the ANSI code
// page) is not imported.
constexpr size_t kMaxImportedText = 1000;
// One import brings at most this many questions; later ones are skipped.
constexpr size_t kMaxImportedQuestions = 100000;
// Skipped questions are listed in detail up to this many; the rest are
// counted.
constexpr size_t kMaxListedSkips = 1000;

struct SkippedQuestion {
  int64_t line = 0;  // line of the file where the question starts, from 1
  std::string reason;
};

// Something of an imported question that the database has no place for,
// named in the report: the question's line and what was not kept.
struct ImportNote {
  int64_t line = 0;
  std::string text;
};

struct ImportedQuestions {
  std::string format;  // the format the file was read in ("Aiken", "GIFT", ...), or empty
  // How many responses a record may have (4 or 5: the database's count);
  // records with fewer are padded with empty responses up to it.
  int responseLimit = 5;
  std::vector<QuestionRecord> records;   // in the ANSI code page
  int mostResponses = 0;                 // the most responses any record really has
  std::vector<SkippedQuestion> skipped;  // the first kMaxListedSkips
  int64_t skippedCount = 0;              // all of them
  std::vector<ImportNote> notes;         // of imported questions, the first kMaxListedSkips
  int64_t noteCount = 0;                 // all of them
  // What the whole file had that was not kept, one sentence each (a time
  // limit column, feedback), named once in the report.
  std::vector<std::string> fileNotes;
  // Set when the file as a whole could not be read (empty, too large, no
  // known format); then there are no records.
  std::string failure;
};

// One question as a reader found it, texts in UTF-8.
struct QuestionDraft {
  int64_t line = 0;
  std::string question;
  std::vector<std::string> responses;
  int correct = 0;  // 1-based; the reader skips a question whose right response it cannot tell
};

void skipQuestion(ImportedQuestions* out, int64_t line, std::string reason);

// Names what was not kept of the question imported at `line`.
void noteQuestion(ImportedQuestions* out, int64_t line, std::string text);

// Adds the draft as a record, or skips it with the reason: an empty question
// or response, fewer than two or more than five responses, more than the
// database holds, a right response outside them, a control character, a
// character the ANSI code page cannot show, a text longer than
// kMaxImportedText, or kMaxImportedQuestions imported already. Texts are trimmed of blanks at both
// ends first. True when the question was imported.
bool acceptQuestion(ImportedQuestions* out, QuestionDraft draft);

// Blanks (space and tab) off both ends.
std::string trimmed(std::string_view text);

}  // namespace qova

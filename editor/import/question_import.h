// Importing question files into records: the file's encoding and format are
// told from its content, then the reader of that format reads it.
//
// Formats: Aiken, GIFT (multiple choice), CSV from spreadsheets, and the
// suite's own text layout (editor/import/*_reader.h). The file's extension
// is a hint only: ".csv" and ".gift" are tried first, and read in that format
// when the content fits no format. Encodings: UTF-8 with or without a
// byte-order mark, UTF-16 with one, or else the ANSI code page. Texts end up
// in the ANSI code page; a question it cannot show is skipped.
//
// No input makes the import throw, hang or use memory beyond a small
// multiple of the file, which may have at most kMaxImportBytes.
#pragma once

#include <string>
#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

constexpr size_t kMaxImportBytes = 16u << 20;
// Skipped questions listed in a report; the rest are counted.
constexpr size_t kReportedSkips = 20;

// Reads the bytes of a question file named `fileName` (for the extension).
// `responseLimit` (4 or 5) is the number of responses records may have.
ImportedQuestions importQuestions(std::string_view bytes, const std::string& fileName,
                                  int responseLimit);

// Reads the file at `path` (an ANSI name, as the dialogs give it) and
// imports it; a file that cannot be read or is too large gives a failure.
ImportedQuestions importQuestionFile(const std::string& path, int responseLimit);

// The report for the user: how many questions were imported from the file
// (its name without folder), and the first `listed` skipped questions with
// their lines and reasons, then "...and N more." Before the skipped ones,
// under "Not kept:", what the imported questions had that the database
// cannot hold (part credit, feedback, time limits), listed alike.
// Lines end with "\n".
std::string importReport(const ImportedQuestions& imported, const std::string& path,
                         size_t listed = kReportedSkips);

}  // namespace qova

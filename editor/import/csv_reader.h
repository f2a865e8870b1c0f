// CSV as spreadsheet programs write it: one question a row, fields apart by
// comma, semicolon (spreadsheets set to a European locale) or tab, quoted
// fields with doubled quotes and line breaks inside.
//
//   Question;Answer 1;Answer 2;Answer 3;Answer 4;Time limit;Correct answer
//   "Largest planet?";Mars;Jupiter;Venus;Earth;30;2
//
// With a header row the columns are found by their names (question; response
// or answer or option or choice 1-5 or A-E; correct or right answer); other
// columns are ignored. Without one: the question, the responses, and the
// right response last. The right response is its number (1-5), its letter
// (A-E) or its text.
#pragma once

#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

// True when most rows at the start of the text have four fields or more
// with one of the separators, or the first row is a header that names the
// question column.
bool looksLikeCsv(std::string_view text);

void readCsv(std::string_view text, ImportedQuestions* out);

}  // namespace qova

// CSV as spreadsheet programs write it: one question a row, fields apart by
// comma, semicolon (spreadsheets set to a European locale) or tab, quoted
// fields with doubled quotes and line breaks inside.
//
//   Question;Answer 1;Answer 2;Answer 3;Answer 4;Time limit;Correct answer
//   "Largest planet?";Mars;Jupiter;Venus;Earth;30;2
//
// The header row is looked for among the first 20 rows; the title and
// instruction rows that spreadsheet templates put above it are passed over.
// Its columns are found by their names: a name exactly (question; response
// or answer or option or choice 1-5 or A-E; correct or right answer; time
// limit; "Question #" and "No." number the questions and are ignored), else
// the longest name the header begins with, as templates add hints to them
// ("Question - max 120 characters", "Answer 3 (Optional)", "Correct
// answer(s) - choose at least one"). Other columns are ignored, and so are
// template rows whose question cells are empty; time limits are read but
// not kept, and the report says so. Without a header: the question, the
// responses, and the right response last. The right response is its number
// (1-5), its letter (A-E) or its text; several numbers ("2,4") skip the
// question.
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

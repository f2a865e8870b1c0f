// Aiken: one question a block, blocks apart by blank lines.
//
//   What is the capital of France?
//   A. Berlin
//   B) Paris
//   ANSWER: B
//
// The question stands on one line; responses start with a capital letter, in
// order from A, then "." or ")", with or without a blank after it; "ANSWER:"
// names the right one.
#pragma once

#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

// True when the text has the marks of an Aiken file: an "ANSWER:" line and a
// response line.
bool looksLikeAiken(std::string_view text);

void readAiken(std::string_view text, ImportedQuestions* out);

}  // namespace qova

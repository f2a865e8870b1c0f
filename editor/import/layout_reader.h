// The suite's own text layout, as Convert Txt reads it: a group of lines a
// question, with no header and nothing between groups: the question, four
// (or five) responses, and the number of the right response.
//
//   Which planet is largest?
//   Mars
//   Jupiter
//   Venus
//   Earth
//   2
//
// Whether groups hold four or five responses is told from where the numbers
// stand. Empty responses at the end of a group are no responses.
#pragma once

#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

// 4 or 5 when most groups of that size end with a number, else 0.
int layoutResponseCount(std::string_view text);

// Reads groups of `responseCount` responses (4 or 5).
void readLayout(std::string_view text, int responseCount, ImportedQuestions* out);

}  // namespace qova

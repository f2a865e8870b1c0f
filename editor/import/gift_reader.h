// GIFT, multiple-choice questions: questions apart by blank lines, an
// optional "::title::", the question text and an answer block in braces with
// one right response "=" and wrong ones "~", on one line or over several.
//
//   // a comment
//   ::Capital::What is the capital of France? {
//     =Paris #feedback, dropped
//     ~Berlin
//     ~Madrid
//   }
//
// The escapes \~ \= \# \{ \} \: stand for the character itself. Text after
// the block makes it a fill-in question ("before _____ after"). Other GIFT
// question types (true/false, short answer, matching, numeric, essay,
// descriptions) are skipped with a reason.
#pragma once

#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

// True when the text has an answer block with "=" or "~", or a "::title::".
bool looksLikeGift(std::string_view text);

void readGift(std::string_view text, ImportedQuestions* out);

}  // namespace qova

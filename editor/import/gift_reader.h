// GIFT: questions apart by blank lines, an optional "::title::", the
// question text and an answer block in braces, on one line or over several.
//
//   // a comment
//   ::Capital::What is the capital of France? {
//     =Paris #feedback, not kept
//     ~Berlin
//     ~%50%Lyon
//   }
//
// Multiple choice ("~" wrong, "=" right, "%n%" a weight) is imported when
// exactly one response has full credit; part credit is not kept and the
// report says so. True/false ({T} {TRUE} {F} {FALSE}) becomes the responses
// "True" and "False". Answer blocks of "=" alone are short answer, which is
// skipped, as are matching, numeric, essay and descriptions. The escapes
// \~ \= \# \{ \} \: stand for the character itself. A format mark
// [html] [moodle] [plain] [markdown] before a text is removed; an [html]
// text loses its tags and has its entities decoded, and one that shows a
// picture is skipped. Responses are in the question's format unless they
// carry their own mark. Text after the block makes it a fill-in question
// ("before _____ after"). "$CATEGORY:" lines are not questions.
#pragma once

#include <string_view>

#include "editor/import/imported_questions.h"

namespace qova {

// True when the text has an answer block with "=" or "~", or a "::title::".
bool looksLikeGift(std::string_view text);

void readGift(std::string_view text, ImportedQuestions* out);

}  // namespace qova

// Convert Txt: turns a text file that holds question records in the .qdb
// record layout, without the header, into a .qdb file.
//
// Steps: the open dialog for the text file; a preview of its first six lines
// with the question whether records have 4 (Yes) or 5 (No) responses; a pass
// that counts the records and measures the longest line; the save dialog for
// the file to create; then the header and a copy of every line, with CR LF
// line ends. The new file is written completely to a temporary file first and
// only then put in place, so a failure never leaves a file with a wrong header
// behind nor an existing file damaged.
#pragma once

#include "common/prompts.h"

namespace qova {

// Lines of the text file may hold at most this many characters.
constexpr int kImportLineBound = 511;

// Messages, caption "Error", exclamation icon.
extern const char kImportOpenFailed[];    // "Could not open file."
extern const char kImportCreateFailed[];  // "Could not create file."
extern const char kImportLineTooLong[];   // a line of 512 characters or more

// Runs the whole import through `prompts` (dialogs and messages owned by
// `owner`). Returns true when a .qdb file was written; cancelling a dialog or
// any failure (already reported to the user) returns false.
bool importTextFile(const Prompts& prompts, void* owner);

}  // namespace qova

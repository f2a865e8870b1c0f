// The open and save dialogs of the editor's file operations, with the exact
// filters, flags and default extensions the editor has always shown. The file
// name buffer is 512 characters and every dialog starts in the process's
// current directory (currentDirectory() of editor/file_path.h).
#pragma once

#include <string>

#include "common/prompts.h"

namespace qova {

// Open or Append: database files first, then text files and all files.
FileDialogRequest databaseOpenRequest(void* owner);
// Save New: database files only, default extension "qdb".
FileDialogRequest databaseSaveRequest(void* owner);
// Convert Txt, choosing the text file.
FileDialogRequest textOpenRequest(void* owner);
// Convert Txt, choosing the file to create, default extension ".qdb".
FileDialogRequest importSaveRequest(void* owner);
// Import..., choosing a question file: question files, then all files.
FileDialogRequest questionFileRequest(void* owner);

}  // namespace qova

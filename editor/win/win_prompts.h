// The editor's prompts filled with the real message box and common dialogs.
#pragma once

#include "common/prompts.h"

namespace qova {

// MessageBoxA, GetOpenFileNameA and GetSaveFileNameA with each request's
// owner, texts, filter, flags, default extension and initial folder.
Prompts windowsPrompts();

}  // namespace qova

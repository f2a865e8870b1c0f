// The Win32 pieces the Windows programs share: reading the text of a dialog
// item or window, and the prompts' message box. Windows builds only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/prompts.h"

namespace qova {

// The text of item `id` of `dialog` as GetDlgItemTextA leaves it in a buffer
// of `bufferSize` characters (NUL included): a longer text is cut to
// bufferSize - 1 characters, a missing item gives "". bufferSize >= 1.
std::string dialogItemText(HWND dialog, int id, size_t bufferSize);

// The whole text of `window`, however long (GetWindowTextLengthA, then
// GetWindowTextA into a buffer with room to spare); "" for none.
std::string windowText(HWND window);

// MessageBoxA with the request's owner, text, caption and type unchanged;
// returns the button pressed. The message box of the programs' Prompts.
int showMessageBox(const MessageRequest& request);

}  // namespace qova

// The Seek dialog "Seek To Record:" (template 102): asks for a record number.
#pragma once

#include <windows.h>

namespace qova {

// Runs the modal dialog owned by `owner`. Returns the number entered (greater
// than 0, without upper bound) or -1 for Cancel.
int runSeekDialog(HINSTANCE instance, HWND owner);

INT_PTR CALLBACK seekDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qova

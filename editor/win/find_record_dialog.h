// The Find Record window (template 104): a modeless search form with the
// fields of the editor window and one include box per field. Every "Find"
// opens a further Search Results window with the criteria filled in.
#pragma once

#include <windows.h>

#include "editor/record_store.h"

namespace qova {

// Creates a Find Record window owned by `owner`; null on failure. The caller
// adds the handle to EditorApp::searchWindows; the window removes it when it
// is destroyed.
HWND openFindRecordWindow(HINSTANCE instance, HWND owner);

// The criteria the window's fields and boxes describe now. With the
// correct-response box checked and no radio chosen, `correct` is 0, which
// matches the records without a correct response.
SearchCriteria readCriteria(HWND dialog);

INT_PTR CALLBACK findRecordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qova

// The Search Results window (template 105): the numbers of the records that
// matched one search, sorted as text by the list box, with "Go To" to move
// the editor window to one of them.
#pragma once

#include <windows.h>

#include "editor/record_store.h"

namespace qova {

// Creates a results window owned by `owner` (the editor window) and runs the
// search of `criteria` on the editor's store while it initialises; null on
// failure. The caller adds the handle to EditorApp::searchWindows; the window
// removes it when it is destroyed.
HWND openSearchResultsWindow(HINSTANCE instance, HWND owner, const SearchCriteria& criteria);

INT_PTR CALLBACK searchResultsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qova

#include "editor/win/search_results_dialog.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "editor/win/editor_app.h"
#include "editor/win/main_window.h"
#include "editor/win/resource.h"

namespace qova {
namespace {

// The list is filled once and never refreshed; an empty result leaves it
// empty without a message.
void fillResults(HWND dialog, const SearchCriteria& criteria) {
  EditorRef app;
  for (int32_t number : app->store.search(criteria)) {
    std::string text = std::to_string(number);
    SendDlgItemMessageA(dialog, IDC_RESULTS, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void goToSelected(HWND dialog) {
  LRESULT selected = SendDlgItemMessageA(dialog, IDC_RESULTS, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR) return;
  LRESULT length = SendDlgItemMessageA(dialog, IDC_RESULTS, LB_GETTEXTLEN, selected, 0);
  if (length == LB_ERR) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendDlgItemMessageA(dialog, IDC_RESULTS, LB_GETTEXT, selected,
                      reinterpret_cast<LPARAM>(&text[0]));
  int number = std::atoi(text.c_str());

  EditorRef app;
  PostMessageA(app->mainWindow, kGoToRecord, static_cast<WPARAM>(number), 0);
  SetForegroundWindow(GetParent(dialog));
  // A copy: minimising may run other windows' procedures.
  std::vector<HWND> windows(app->searchWindows.begin(), app->searchWindows.end());
  for (HWND window : windows) ShowWindow(window, SW_MINIMIZE);
}

}  // namespace

HWND openSearchResultsWindow(HINSTANCE instance, HWND owner, const SearchCriteria& criteria) {
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SEARCH_RESULTS), owner,
                            searchResultsDialogProc, reinterpret_cast<LPARAM>(&criteria));
}

INT_PTR CALLBACK searchResultsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      fillResults(dialog, *reinterpret_cast<const SearchCriteria*>(lParam));
      return TRUE;
    case WM_ACTIVATE:
      // A window minimised by "Go To" comes back when it is activated.
      ShowWindow(dialog, SW_RESTORE);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_GO_TO ||
          (LOWORD(wParam) == IDC_RESULTS && HIWORD(wParam) == LBN_DBLCLK)) {
        goToSelected(dialog);
      }
      if (LOWORD(wParam) == IDC_DONE) DestroyWindow(dialog);
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY: {
      // Also reached when the editor window, the owner, is destroyed.
      EditorRef app;
      app->searchWindows.erase(dialog);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace qova

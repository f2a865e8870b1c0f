#include "editor/win/find_record_dialog.h"

#include <string>

#include "common/win/dialogs.h"
#include "editor/win/editor_app.h"
#include "editor/win/resource.h"
#include "editor/win/search_results_dialog.h"

namespace qova {
namespace {

struct IncludeBox {
  int id;
  uint32_t bit;
};

// The boxes' ids do not run in field order: 1047 belongs to response 1.
const IncludeBox kIncludeBoxes[] = {
    {IDC_INCLUDE_QUESTION, SearchCriteria::MatchQuestion},
    {IDC_INCLUDE_CORRECT, SearchCriteria::MatchCorrect},
    {IDC_INCLUDE_RESPONSE1, SearchCriteria::MatchResponse1},
    {IDC_INCLUDE_RESPONSE2, SearchCriteria::MatchResponse2},
    {IDC_INCLUDE_RESPONSE3, SearchCriteria::MatchResponse3},
    {IDC_INCLUDE_RESPONSE4, SearchCriteria::MatchResponse4},
    {IDC_INCLUDE_RESPONSE5, SearchCriteria::MatchResponse5},
};
const int kResponseIds[] = {IDC_RESPONSE1, IDC_RESPONSE2, IDC_RESPONSE3, IDC_RESPONSE4,
                            IDC_RESPONSE5};
const int kCorrectIds[] = {IDC_CORRECT1, IDC_CORRECT2, IDC_CORRECT3, IDC_CORRECT4, IDC_CORRECT5};

void find(HWND dialog) {
  EditorRef app;
  SearchCriteria criteria = readCriteria(dialog);
  if (criteria.mask == 0) {
    if (app->store.prompts.messageBox) {
      app->store.prompts.messageBox(MessageRequest{
          dialog, "At least one search field must be checked.", "Error", kMbIconExclamation});
    }
    return;
  }
  // The results window runs the search while it is created and keeps no
  // reference to the criteria, which go when this function returns.
  HWND results = openSearchResultsWindow(app->instance, app->mainWindow, criteria);
  if (results != nullptr) app->searchWindows.insert(results);
}

}  // namespace

HWND openFindRecordWindow(HINSTANCE instance, HWND owner) {
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_FIND_RECORD), owner,
                            findRecordDialogProc, 0);
}

SearchCriteria readCriteria(HWND dialog) {
  SearchCriteria criteria;
  for (const IncludeBox& box : kIncludeBoxes) {
    if (IsDlgButtonChecked(dialog, box.id) == BST_CHECKED) criteria.mask |= box.bit;
  }
  criteria.question = windowText(GetDlgItem(dialog, IDC_QUESTION));
  for (int id : kResponseIds) criteria.responses.push_back(windowText(GetDlgItem(dialog, id)));
  if (criteria.mask & SearchCriteria::MatchCorrect) {
    for (int i = 0; i < 5; ++i) {
      if (IsDlgButtonChecked(dialog, kCorrectIds[i]) == BST_CHECKED) {
        criteria.correct = i + 1;
        break;
      }
    }
  }
  return criteria;
}

INT_PTR CALLBACK findRecordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_FIND) find(dialog);
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

#include "editor/win/seek_dialog.h"

#include "editor/win/editor_app.h"
#include "editor/win/resource.h"

namespace qova {
namespace {

// "Go": a positive number that fits 32 bits ends the dialog with it; anything
// else (empty, 0, negative, not a number, too large) is refused and the
// dialog stays open.
void go(HWND dialog) {
  BOOL translated = FALSE;
  int number = static_cast<int>(GetDlgItemInt(dialog, IDC_SEEK_NUMBER, &translated, TRUE));
  if (translated && number > 0) {
    EndDialog(dialog, number);
    return;
  }
  EditorRef app;
  if (app->store.prompts.messageBox) {
    app->store.prompts.messageBox(MessageRequest{dialog, "Must enter a positive integer",
                                                 "Bad record number", kMbIconExclamation});
  }
}

}  // namespace

int runSeekDialog(HINSTANCE instance, HWND owner) {
  INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SEEK), owner, seekDialogProc, 0);
  return result > 0 ? static_cast<int>(result) : -1;
}

INT_PTR CALLBACK seekDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      // Escape (IDCANCEL) and every other command do nothing: only Cancel
      // closes the dialog without a number.
      if (LOWORD(wParam) == IDC_SEEK_GO) go(dialog);
      if (LOWORD(wParam) == IDC_SEEK_CANCEL) EndDialog(dialog, -1);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace qova

// The Statistics window: browses the players' answers by player or by
// question. Its user-data word holds the view mode, and at shutdown the exit
// code, which it posts with the quit message when it is destroyed. The
// entries themselves come from server/results.h.
#include <windows.h>

#include <string>
#include <vector>

#include "server/results.h"
#include "server/server_app.h"
#include "server/win/host_windows.h"
#include "server/win/resource.h"

namespace qova {

namespace {

int32_t viewMode(HWND dialog) {
  return static_cast<int32_t>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

// The selected position of a combo box, -1 for none.
int selection(HWND dialog, int id) {
  LRESULT at = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  return at == CB_ERR ? -1 : static_cast<int>(at);
}

void fillCombo(HWND dialog, int id, const std::vector<std::string>& entries) {
  SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
  for (const std::string& entry : entries) {
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
}

void fillFirstCombo(HWND dialog) {
  ServerAppRef app;
  fillCombo(dialog, IDC_STATS_FIRST, firstComboEntries(app->players, viewMode(dialog)));
}

void fillSecondCombo(HWND dialog) {
  ServerAppRef app;
  fillCombo(dialog, IDC_STATS_SECOND,
            secondComboEntries(app->players, viewMode(dialog), selection(dialog, IDC_STATS_FIRST)));
}

void fillList(HWND dialog) {
  ServerAppRef app;
  SendDlgItemMessageA(dialog, IDC_STATS_LIST, LB_RESETCONTENT, 0, 0);
  for (const std::string& line :
       listLines(app->players, viewMode(dialog), selection(dialog, IDC_STATS_FIRST),
                 selection(dialog, IDC_STATS_SECOND))) {
    SendDlgItemMessageA(dialog, IDC_STATS_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(line.c_str()));
  }
}

void setView(HWND dialog, int32_t mode) {
  SetWindowLongPtrA(dialog, GWLP_USERDATA, mode);
  ViewLabels labels = viewLabels(mode);
  SetDlgItemTextA(dialog, IDC_STATS_HEADING, labels.listHeading);
  SetDlgItemTextA(dialog, IDC_STATS_FIRST_LABEL, labels.firstLabel);
  SetDlgItemTextA(dialog, IDC_STATS_SECOND_LABEL, labels.secondLabel);
  SendDlgItemMessageA(dialog, IDC_STATS_SECOND, CB_RESETCONTENT, 0, 0);
  fillFirstCombo(dialog);
}

}  // namespace

INT_PTR CALLBACK statisticsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // The three fields of each line fall under the three headings.
      INT stops[2] = {101, 242};
      SendDlgItemMessageA(dialog, IDC_STATS_LIST, LB_SETTABSTOPS, 2,
                          reinterpret_cast<LPARAM>(stops));
      return TRUE;
    }
    case WM_CLOSE:
      shutdownServer(0);
      return TRUE;
    case WM_DESTROY:
      // shutdownServer has put the exit code into the user-data word.
      PostQuitMessage(static_cast<int>(GetWindowLongPtrA(dialog, GWLP_USERDATA)));
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_STATS_QUIT:
          shutdownServer(0);
          break;
        case IDC_STATS_BY_PLAYER:
          setView(dialog, kViewByPlayer);
          break;
        case IDC_STATS_BY_QUESTION:
          setView(dialog, kViewByQuestion);
          break;
        case IDC_STATS_FIRST:
          if (HIWORD(wParam) == CBN_SELCHANGE) fillSecondCombo(dialog);
          break;
        case IDC_STATS_SECOND:
          if (HIWORD(wParam) == CBN_SELCHANGE) fillList(dialog);
          break;
        default:
          break;
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace qova

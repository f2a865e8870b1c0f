// The Statistics window: browses the players' answers by player or by
// question. Its user-data word holds the view mode, and at shutdown the exit
// code, which it posts with the quit message when it is destroyed. The
// entries themselves come from server/results.h. While a question is out it
// also shows how many answers are in, and the operator can end the question
// or remove the player chosen in the player combo. Hold / Go On and the box
// "Hold after each round" pace the game; they follow the feed's commands too.
#include <windows.h>

#include <string>
#include <vector>

#include "common/win/dialogs.h"
#include "server/game_engine.h"
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

// Remove Player acts on the player chosen in combo 1009 in the view by
// player. Afterwards (or when the combo no longer matched the players) the
// player combo is filled again and what depended on it emptied.
void removeChosen(HWND dialog) {
  ServerAppRef app;
  int index = viewMode(dialog) == kViewByPlayer ? selection(dialog, IDC_STATS_FIRST) : -1;
  Removal removal = removeChosenPlayer(*app, processGame(), dialog, index,
                                       entryText(dialog, IDC_STATS_FIRST, index, true), true,
                                       "Choose View by Player and a player first.");
  if (removal == Removal::kRemoved || removal == Removal::kListChanged) {
    fillFirstCombo(dialog);
    SendDlgItemMessageA(dialog, IDC_STATS_SECOND, CB_RESETCONTENT, 0, 0);
    SendDlgItemMessageA(dialog, IDC_STATS_LIST, LB_RESETCONTENT, 0, 0);
  }
  showGameControls();
}

// Hold, or Go On while held: no question is asked first.
void holdOrGoOn() {
  ServerAppRef app;
  GameState& game = processGame();
  if (game.held) {
    goOn(*app, game);
  } else {
    holdGame(*app, game);
  }
  showGameControls();
}

}  // namespace

void showGameControls() {
  ServerAppRef app;
  if (app->mainWindow == nullptr) return;
  HWND dialog = static_cast<HWND>(app->mainWindow);
  const GameState& game = processGame();
  // Asked on every idle turn: a control is set only when what it shows moved.
  static std::string shownLine;
  static int shownHeld = -1;
  static int shownAfterRound = -1;
  std::string line = answersLine(*app, game);
  if (line != shownLine) {
    shownLine = line;
    SetDlgItemTextA(dialog, IDC_STATS_ANSWERS, line.c_str());
  }
  if (static_cast<int>(game.held) != shownHeld) {
    shownHeld = game.held;
    SetDlgItemTextA(dialog, IDC_STATS_HOLD, game.held ? "Go On" : "Hold");
  }
  if (static_cast<int>(game.holdAfterRound) != shownAfterRound) {
    shownAfterRound = game.holdAfterRound;
    CheckDlgButton(dialog, IDC_STATS_HOLD_AFTER_ROUND,
                   game.holdAfterRound ? BST_CHECKED : BST_UNCHECKED);
  }
}

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
        case IDC_STATS_END_QUESTION: {
          // The next idle turn goes on as after a last answer.
          ServerAppRef app;
          endQuestion(*app, processGame());
          showGameControls();
          break;
        }
        case IDC_STATS_HOLD:
          holdOrGoOn();
          break;
        case IDC_STATS_HOLD_AFTER_ROUND:
          if (HIWORD(wParam) == BN_CLICKED) {
            ServerAppRef app;
            setHoldAfterRound(
                *app, processGame(),
                IsDlgButtonChecked(dialog, IDC_STATS_HOLD_AFTER_ROUND) == BST_CHECKED);
            showGameControls();
          }
          break;
        case IDC_STATS_REMOVE:
          removeChosen(dialog);
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

// QOVAPLAY: the players' program. One main window shows one view at a time
// (join, waiting, question, results and leaderboards, end), each a child
// dialog; everything the views show comes from the portable PlaySession,
// which a 50 ms timer advances. Keys 1 to 5 choose a response.
#include <windows.h>

#include <chrono>
#include <string>

#include "common/win/dialogs.h"
#include "player/play_session.h"
#include "player/win/resource.h"
#include "wire/server_marker.h"

namespace qova {

namespace {

// Remembers the last address and name, in the working folder.
const char kRememberedFile[] = "qovaplay_last.txt";
const UINT_PTR kTimerId = 1;
const UINT kTimerMs = 50;
// Characters read from each join field, NUL included.
const size_t kJoinFieldSize = 512;

double monotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct PlayerWindow;

// A view: a child dialog of the main window, shown while its state lasts.
// Its dialog data is the main window's.
struct View {
  HWND window = nullptr;
  PlayerWindow* owner = nullptr;
};

// The main window's data.
struct PlayerWindow {
  HWND dialog = nullptr;
  View join, waiting, question, board;
  PlaySession session;
  HFONT largeFont = nullptr;   // question text
  HFONT buttonFont = nullptr;  // responses
  HFONT headingFont = nullptr;
  PlayView shownView = PlayView::kJoin;
  bool firstRender = true;

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The views' messages.
  INT_PTR joinView(HWND view, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR questionView(HWND view, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR passiveView(HWND view, UINT message, WPARAM wParam, LPARAM lParam);
  void create(HINSTANCE instance);
  void render();
  void renderQuestion(bool fresh);
  void renderBoard();
  void joinPressed();
  void choose(int number);
};

// The join view: its button and Enter start joining.
INT_PTR PlayerWindow::joinView(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDC_JOIN || LOWORD(wParam) == IDOK)) {
    joinPressed();
    return TRUE;
  }
  return FALSE;
}

// The question view: a response button chooses that response.
INT_PTR PlayerWindow::questionView(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND) {
    int id = LOWORD(wParam);
    if (id >= IDC_Q_RESPONSE1 && id <= IDC_Q_RESPONSE5 && HIWORD(wParam) == BN_CLICKED) {
      choose(id - IDC_Q_RESPONSE1 + 1);
    }
    return TRUE;
  }
  return FALSE;
}

// Views without commands of their own.
INT_PTR PlayerWindow::passiveView(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

View makeView(HINSTANCE instance, PlayerWindow* owner, int id, DLGPROC proc) {
  View v;
  v.owner = owner;
  v.window = CreateDialogParamA(instance, MAKEINTRESOURCEA(id), owner->dialog, proc,
                                reinterpret_cast<LPARAM>(owner));
  // The template id doubles as the view's window id, so tests find it.
  if (v.window) SetWindowLongPtrA(v.window, GWLP_ID, id);
  return v;
}

HFONT makeFont(HWND window, int points, bool bold) {
  HDC dc = GetDC(window);
  int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(window, dc);
  return CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "Arial");
}

void PlayerWindow::create(HINSTANCE instance) {
  join = makeView(instance, this, IDD_JOIN, dataDialogProc<PlayerWindow, &PlayerWindow::joinView>);
  waiting = makeView(instance, this, IDD_WAITING,
                     dataDialogProc<PlayerWindow, &PlayerWindow::passiveView>);
  question = makeView(instance, this, IDD_QUESTION,
                      dataDialogProc<PlayerWindow, &PlayerWindow::questionView>);
  board =
      makeView(instance, this, IDD_BOARD, dataDialogProc<PlayerWindow, &PlayerWindow::passiveView>);
  largeFont = makeFont(dialog, 14, true);
  buttonFont = makeFont(dialog, 12, false);
  headingFont = makeFont(dialog, 11, true);
  SendDlgItemMessageA(question.window, IDC_Q_TEXT, WM_SETFONT, (WPARAM)largeFont, TRUE);
  for (int i = 0; i < 5; ++i) {
    SendDlgItemMessageA(question.window, IDC_Q_RESPONSE1 + i, WM_SETFONT, (WPARAM)buttonFont, TRUE);
  }
  SendDlgItemMessageA(question.window, IDC_Q_COUNTDOWN, WM_SETFONT, (WPARAM)headingFont, TRUE);
  SendDlgItemMessageA(board.window, IDC_BOARD_HEADING, WM_SETFONT, (WPARAM)headingFont, TRUE);
  SendDlgItemMessageA(waiting.window, IDC_WAIT_TEXT, WM_SETFONT, (WPARAM)headingFont, TRUE);
  int stops[] = {24, 150, 200, 240};  // place, name, correct, time: dialog units / 4
  SendDlgItemMessageA(board.window, IDC_BOARD_LIST, LB_SETTABSTOPS, 4, (LPARAM)stops);

  session.rememberedPath = kRememberedFile;
  SetDlgItemTextA(join.window, IDC_JOIN_ADDRESS,
                  initialServerAddress(kMarkerPath, kRememberedFile).c_str());
  SetDlgItemTextA(join.window, IDC_JOIN_NAME, rememberedPlayerName(kRememberedFile).c_str());
  SendDlgItemMessageA(join.window, IDC_JOIN_NAME, EM_LIMITTEXT, kMaxNameLength, 0);
  render();
  SetTimer(dialog, kTimerId, kTimerMs, nullptr);
}

void PlayerWindow::joinPressed() {
  if (session.view() != PlayView::kJoin) return;
  session.join(dialogItemText(join.window, IDC_JOIN_ADDRESS, kJoinFieldSize),
               dialogItemText(join.window, IDC_JOIN_NAME, kJoinFieldSize), monotonicSeconds());
  render();
}

void PlayerWindow::choose(int number) {
  if (session.choose(number, monotonicSeconds())) render();
}

void PlayerWindow::renderQuestion(bool fresh) {
  const Question& q = session.question();
  double now = monotonicSeconds();
  HWND v = question.window;
  if (fresh) {
    std::string heading = "Round " + std::to_string(q.round) + ", question " +
                          std::to_string(q.number) + " of " +
                          std::to_string(session.settings().questionsPerRound);
    SetDlgItemTextA(v, IDC_Q_HEADING, heading.c_str());
    SetDlgItemTextA(v, IDC_Q_TEXT, q.text.c_str());
  }
  int correct = session.correctNumber();
  for (int i = 0; i < 5; ++i) {
    HWND button = GetDlgItem(v, IDC_Q_RESPONSE1 + i);
    bool present = i < static_cast<int>(q.responses.size());
    ShowWindow(button, present ? SW_SHOW : SW_HIDE);
    if (!present) continue;
    std::string text = std::to_string(i + 1) + ".  " + q.responses[static_cast<size_t>(i)];
    if (session.answered()) {
      bool isCorrect = i + 1 == correct, isChosen = i + 1 == session.chosen();
      if (isCorrect && isChosen) {
        text = "[your answer - right]  " + text;
      } else if (isCorrect) {
        text = "[right answer]  " + text;
      } else if (isChosen) {
        text = "[your answer - wrong]  " + text;
      }
      EnableWindow(button, isCorrect || isChosen);
    } else {
      EnableWindow(button, TRUE);
    }
    SetDlgItemTextA(v, IDC_Q_RESPONSE1 + i, text.c_str());
  }
  std::string countdown;
  if (session.answered()) {
    countdown = "";
  } else if (session.hasTimeLimit()) {
    int left = static_cast<int>(session.secondsLeft(now) + 0.999);
    countdown = "Time left: " + std::to_string(left) + " s";
  } else {
    countdown = "No time limit";
  }
  SetDlgItemTextA(v, IDC_Q_COUNTDOWN, countdown.c_str());
  std::string status;
  if (session.timedOut()) {
    status =
        "Time is up (" + session.answerTime() + " s): counted as wrong. Waiting for the others...";
  } else if (session.answered()) {
    status = std::string("Your answer is ") + (session.answerCorrect() ? "right" : "wrong") +
             ", in " + session.answerTime() + " s. Waiting for the others...";
  } else {
    status = "Click a response or press its number key.";
  }
  SetDlgItemTextA(v, IDC_Q_STATUS, status.c_str());
}

void PlayerWindow::renderBoard() {
  HWND v = board.window;
  HWND list = GetDlgItem(v, IDC_BOARD_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  int ownRow = -1;
  std::string heading, note;
  if (session.view() == PlayView::kResults) {
    const Question& q = session.question();
    heading =
        "Results of round " + std::to_string(q.round) + ", question " + std::to_string(q.number);
    SendMessageA(list, LB_ADDSTRING, 0, (LPARAM) "\tPlayer\tAnswer\tTime (s)");
    for (const ResultRow& r : session.results()) {
      std::string row = std::string(r.own ? ">" : "") + "\t" + r.name + (r.own ? " (you)" : "") +
                        "\t" + (r.correct ? "right" : "wrong") + "\t" + r.timeText;
      LRESULT at = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)row.c_str());
      if (r.own) ownRow = static_cast<int>(at);
    }
    note = "The next question follows in a moment.";
  } else {
    heading = session.view() == PlayView::kEnd
                  ? "The quiz has ended"
                  : "Leaderboard after round " + std::to_string(session.roundsPlayed());
    if (!session.standings().empty()) {
      SendMessageA(list, LB_ADDSTRING, 0,
                   (LPARAM) "Place\tPlayer\tCorrect\tAvg time (s)\tThis round");
    }
    for (const StandingRow& s : session.standings()) {
      const SummaryEntry& e = s.entry;
      std::string row = std::to_string(s.place) + ".\t" + e.name + (s.own ? " (you)" : "") + "\t" +
                        std::to_string(e.totalCorrect) + " of " + std::to_string(e.totalAnswers) +
                        "\t" + e.totalAverage + "\t" + std::to_string(e.roundCorrect) + " of " +
                        std::to_string(e.roundAnswers);
      LRESULT at = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)row.c_str());
      if (s.own) ownRow = static_cast<int>(at);
    }
    if (session.view() == PlayView::kEnd) {
      note = session.message();
      if (session.standings().empty()) note += " No round was completed.";
    } else {
      note = "The next round starts in a moment.";
    }
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(ownRow), 0);
  SetDlgItemTextA(v, IDC_BOARD_HEADING, heading.c_str());
  SetDlgItemTextA(v, IDC_BOARD_NOTE, note.c_str());
}

void PlayerWindow::render() {
  PlayView now = session.view();
  bool fresh = firstRender || now != shownView;
  HWND visible = nullptr;
  switch (now) {
    case PlayView::kJoin:
      visible = join.window;
      SetDlgItemTextA(join.window, IDC_JOIN_MESSAGE, session.message().c_str());
      if (fresh) SetFocus(GetDlgItem(join.window, IDC_JOIN_NAME));
      break;
    case PlayView::kConnecting:
    case PlayView::kWaiting: {
      visible = waiting.window;
      std::string text;
      if (now == PlayView::kConnecting) {
        text = "Connecting to " + session.address() + "...";
      } else {
        const GameSettings& s = session.settings();
        text = "You have joined as " + session.playerName() +
               ".\r\n\r\nWaiting for the quiz to start...\r\n\r\nTime limit: " +
               (session.hasTimeLimit() ? s.timeLimitText + " seconds per question"
                                       : std::string("none")) +
               "\r\nQuestions per round: " + std::to_string(s.questionsPerRound) + "\r\n" +
               plural(s.responseCount, "response", "responses") + " per question";
      }
      SetDlgItemTextA(waiting.window, IDC_WAIT_TEXT, text.c_str());
      break;
    }
    case PlayView::kQuestion:
      visible = question.window;
      renderQuestion(fresh);
      break;
    case PlayView::kResults:
    case PlayView::kLeaderboard:
    case PlayView::kEnd:
      visible = board.window;
      if (fresh) renderBoard();
      break;
  }
  if (fresh) {
    for (HWND w : {join.window, waiting.window, question.window, board.window}) {
      ShowWindow(w, w == visible ? SW_SHOW : SW_HIDE);
    }
    if (now == PlayView::kQuestion) SetFocus(question.window);
  }
  shownView = now;
  firstRender = false;
}

INT_PTR PlayerWindow::handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      dialog = window;
      return TRUE;
    case WM_TIMER:
      if (wParam == kTimerId && session.tick(monotonicSeconds())) render();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) joinPressed();  // Enter in the join view
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      KillTimer(dialog, kTimerId);
      session.leave();
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

}  // namespace qova

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using qova::PlayerWindow;
  if (!qova::startSockets()) {
    MessageBoxA(nullptr, "The network could not be started.", "Error", MB_ICONEXCLAMATION);
    return 1;
  }
  static PlayerWindow window;
  HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PLAYER), nullptr,
                                   qova::dataDialogProc<PlayerWindow, &PlayerWindow::handle>,
                                   reinterpret_cast<LPARAM>(&window));
  if (dialog == nullptr) {
    MessageBoxA(nullptr, "Could not create window.", "Error", MB_ICONEXCLAMATION);
    return 1;
  }
  window.create(instance);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    // Keys 1 to 5 choose a response wherever the focus is in the question view.
    if (msg.message == WM_KEYDOWN && window.session.view() == qova::PlayView::kQuestion) {
      int number = 0;
      if (msg.wParam >= '1' && msg.wParam <= '5') number = static_cast<int>(msg.wParam - '0');
      if (msg.wParam >= VK_NUMPAD1 && msg.wParam <= VK_NUMPAD5) {
        number = static_cast<int>(msg.wParam - VK_NUMPAD1 + 1);
      }
      if (number > 0) {
        window.choose(number);
        continue;
      }
    }
    if (IsDialogMessageA(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

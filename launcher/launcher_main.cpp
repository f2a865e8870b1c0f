// QOVASTART: the operator's front door. One dialog takes the time limit, the
// questions per round and the question database file, saves them to
// config.ini in the working folder and starts the quiz server, or starts the
// question database editor. Either child inherits this working folder, which
// is where it finds config.ini and its other files; the launcher hides and
// waits until the child ends. Beside the server it starts the web players'
// gateway, and closes that again when the server has ended. Open Results
// shows the server's report, endscores.html in the working folder, in the
// default browser.
// clang-format off
#include <windows.h>
#include <shellapi.h>  // after windows.h, which it needs
// clang-format on

#include <string>

#include "common/win/dialogs.h"
#include "launcher/gateway_child.h"
#include "launcher/launcher_config.h"
#include "launcher/resource.h"

namespace {

const char kConfigFile[] = "config.ini";
const char kServerPath[] = "Bin\\QOVAHOST.exe";
const char kEditorPath[] = "Bin\\QOVAMAKE.exe";
const char kGatewayPath[] = "Bin\\QOVAWEB.exe";
const char kReportFile[] = "endscores.html";

// Description and pattern pairs, the first preselected.
const char kDatabaseFilter[] =
    "QOVA Question Database Files (*.qdb, *.dat)\0*.qdb;*.dat\0"
    "Text Files (*.txt)\0*.txt\0"
    "All Files (*.*)\0*.*\0";

std::string fieldText(HWND dialog, int id) {
  return qova::dialogItemText(dialog, id, qova::kLauncherFieldSize);
}

// The working folder's full path of `name`.
std::string inWorkingFolder(const char* name) {
  char folder[MAX_PATH] = {};
  DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
  std::string path(folder, length > 0 && length < MAX_PATH ? length : 0);
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + name;
}

// Open Results is there to press only while there is a report to open: the
// server writes one after every round and at its end.
void showResultsButton(HWND dialog) {
  DWORD attributes = GetFileAttributesA(kReportFile);
  bool present = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EnableWindow(GetDlgItem(dialog, IDC_OPEN_RESULTS), present ? TRUE : FALSE);
}

void openResults(HWND launcher) {
  showResultsButton(launcher);
  if (!IsWindowEnabled(GetDlgItem(launcher, IDC_OPEN_RESULTS))) return;
  const std::string report = inWorkingFolder(kReportFile);
  const std::string folder = inWorkingFolder("");
  // The shell's answer is a number above 32 when the browser was started.
  HINSTANCE started =
      ShellExecuteA(launcher, "open", report.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(started) <= 32) {
    MessageBoxA(launcher, "Could not open endscores.html.", "Error", MB_OK | MB_ICONEXCLAMATION);
  }
}

void prefill(HWND dialog) {
  qova::LauncherSettings settings = qova::readLauncherSettings(kConfigFile);
  SetDlgItemTextA(dialog, IDC_TIME_LIMIT, settings.timeLimit.c_str());
  SetDlgItemTextA(dialog, IDC_QUESTIONS_PER_ROUND, settings.questionsPerRound.c_str());
  SetDlgItemTextA(dialog, IDC_DATABASE_FILE, settings.databaseFile.c_str());
}

// Starts `path` with no command line in this working folder, hides the
// launcher until the child ends and shows it again. While the child runs this
// thread waits and handles no messages. With `withGateway` (the server) the
// web players' gateway starts beside the child, and the one started here is
// closed once the child has ended, before the launcher shows again.
void runChild(HWND launcher, const char* path, bool withGateway) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    MessageBoxA(launcher, "Could not spawn process.", "Error", MB_OK);
    return;
  }
  qova::GatewayChild gateway;
  if (withGateway) gateway = qova::startGateway(kGatewayPath);
  ShowWindow(launcher, SW_HIDE);
  DWORD waited = WaitForSingleObject(info.hProcess, INFINITE);
  if (waited == WAIT_FAILED) {
    MessageBoxA(launcher, "Wait failed.", "Err", MB_OK);
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  // Without a wait that saw the server end it may still run, and with it the
  // web seats: the gateway is then left to the operator.
  if (waited == WAIT_OBJECT_0) {
    qova::closeGateway(&gateway);
  } else {
    qova::releaseGateway(&gateway);
  }
  showResultsButton(launcher);
  ShowWindow(launcher, SW_SHOW);
}

void begin(HWND launcher) {
  qova::LauncherSettings settings;
  settings.timeLimit = fieldText(launcher, IDC_TIME_LIMIT);
  settings.questionsPerRound = fieldText(launcher, IDC_QUESTIONS_PER_ROUND);
  settings.databaseFile = fieldText(launcher, IDC_DATABASE_FILE);
  // A file that cannot be written is not reported; the server then reads
  // whatever settings it finds.
  qova::writeLauncherSettings(kConfigFile, settings);
  runChild(launcher, kServerPath, /*withGateway=*/true);
}

void browse(HWND launcher) {
  char path[qova::kLauncherFieldSize] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = launcher;
  dialog.lpstrFilter = kDatabaseFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  // OFN_NOCHANGEDIR: the children and config.ini are found relative to the
  // working folder, so choosing a file elsewhere must not move it.
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (GetOpenFileNameA(&dialog)) SetDlgItemTextA(launcher, IDC_DATABASE_FILE, path);
}

INT_PTR CALLBACK launcherDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      prefill(dialog);
      showResultsButton(dialog);
      return TRUE;
    case WM_ACTIVATE:
      // A server run from elsewhere may have written a report meanwhile.
      if (LOWORD(wParam) != WA_INACTIVE) showResultsButton(dialog);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_BEGIN:
          begin(dialog);
          break;
        case IDC_CREATE_MODIFY:
          runChild(dialog, kEditorPath, /*withGateway=*/false);
          break;
        case IDC_BROWSE:
          browse(dialog);
          break;
        case IDC_QUIT:
          DestroyWindow(dialog);
          break;
        case IDC_OPEN_RESULTS:
          openResults(dialog);
          break;
        default:  // the edits' notifications
          break;
      }
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND launcher =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_LAUNCHER), nullptr, launcherDialogProc, 0);
  if (launcher == nullptr) {
    MessageBoxA(nullptr, "Could not create window.", "Error", MB_ICONEXCLAMATION);
    return 1;
  }
  MSG msg;
  // GetMessageA gives -1 on a broken call; looping on it would never end.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

// QOVAWEB: the browser players' gateway in a window. It shows the links that
// phones open, the quiz server the web seats play against and the players
// seated. The gateway runs on this thread: the message loop polls it between
// messages, and a short timer polls it while a modal loop (a message box, a
// moved window) has the thread.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/win/dialogs.h"
#include "common/win/launch.h"
#include "web/gateway/gateway.h"
#include "web/gateway/local_addresses.h"
#include "web/win/resource.h"
#include "wire/play_rules.h"
#include "wire/server_marker.h"

namespace qova::web {

namespace {

const UINT_PTR kTimerId = 1;
const UINT kTimerMs = 50;
// The longest the loop sleeps between polls while the gateway runs.
const DWORD kIdlePollMs = 5;
const uint16_t kDefaultPort = 8080;

// Characters read from a field, NUL included.
const size_t kFieldSize = 256;

// Whether `flag` is one of the words of the command line's arguments.
bool hasArgument(const char* commandLine, const char* flag) {
  std::string words = commandLine ? commandLine : "";
  for (size_t b = words.find_first_not_of(" \t"); b != std::string::npos;) {
    size_t e = words.find_first_of(" \t", b);
    if (words.compare(b, e == std::string::npos ? std::string::npos : e - b, flag) == 0) {
      return true;
    }
    b = words.find_first_not_of(" \t", e);
  }
  return false;
}

// Whether the folder of the marker file exists. Without it a server on this
// machine cannot announce itself, so none ever will.
bool markerFolderExists() {
  std::string folder = kMarkerPath;
  folder.erase(folder.rfind('\\'));
  DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void error(HWND owner, const std::string& text) {
  MessageBoxA(owner, text.c_str(), "Error", MB_OK | MB_ICONEXCLAMATION);
}

// The window's data; the gateway exists while it runs.
struct WebWindow {
  HWND dialog = nullptr;
  std::unique_ptr<Gateway> gateway;
  std::vector<std::string> shownNames;
  std::string screenLink;    // the room screen's page while the gateway runs
  std::string hostLink;      // the host controls' page with its key, while it runs
  std::string markerServer;  // the address read from the marker file, if any
  // Until the operator presses Start or Stop or changes a field, a server
  // that announces itself later is taken up at once.
  bool watchMarker = false;
  std::string filledServer, filledPort;
  int ticks = 0;
  // Started by the launcher beside a server on this machine; the launcher
  // then posts serverEndedMessage once that server has ended.
  bool launched = false;
  UINT serverEndedMessage = 0;

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void create();
  bool start();
  // Asks first when web players are seated; false when the operator says no.
  // `doing` and `verb` name the operator's step: "Stopping", "Stop".
  bool stop(const char* doing, const char* verb);
  void showStopped();
  void refreshSeats();
  void checkMarker();
  // Runs the gateway's ready handlers; true when there were any.
  bool poll() { return gateway && gateway->poll() > 0; }
};

void WebWindow::create() {
  std::string source;
  std::string server = chooseServerAddress("", kMarkerPath, &source);
  SetDlgItemTextA(dialog, IDC_WEB_SERVER, server.c_str());
  SetDlgItemTextA(dialog, IDC_WEB_PORT, std::to_string(kDefaultPort).c_str());
  SendDlgItemMessageA(dialog, IDC_WEB_SERVER, EM_LIMITTEXT, 15, 0);
  SendDlgItemMessageA(dialog, IDC_WEB_PORT, EM_LIMITTEXT, 5, 0);
  if (source == "marker file") markerServer = server;
  showStopped();
  // With the server's own announcement there is nothing to check: the
  // gateway starts at once; so too beside a server that the launcher started
  // here and that has no marker folder (it plays on this machine's address).
  // Otherwise the operator confirms the address.
  if (source == "marker file" || (launched && !markerFolderExists())) {
    start();
  } else {
    watchMarker = true;
    filledServer = server;
    filledPort = std::to_string(kDefaultPort);
  }
  SetTimer(dialog, kTimerId, kTimerMs, nullptr);
}

void WebWindow::showStopped() {
  SetDlgItemTextA(dialog, IDC_WEB_START, "Start");
  EnableWindow(GetDlgItem(dialog, IDC_WEB_SERVER), TRUE);
  EnableWindow(GetDlgItem(dialog, IDC_WEB_PORT), TRUE);
  SetDlgItemTextA(dialog, IDC_WEB_STATUS,
                  "Not started. Check the quiz server's address and press Start.");
  SetDlgItemTextA(dialog, IDC_WEB_LINKS, "");
  screenLink.clear();
  hostLink.clear();
  EnableWindow(GetDlgItem(dialog, IDC_WEB_SCREEN), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_WEB_HOST), FALSE);
  refreshSeats();
}

bool WebWindow::start() {
  std::string server = dialogItemText(dialog, IDC_WEB_SERVER, kFieldSize);
  size_t b = server.find_first_not_of(' '), e = server.find_last_not_of(' ');
  server = b == std::string::npos ? "" : server.substr(b, e - b + 1);
  if (!isDottedIPv4(server)) {
    error(dialog,
          "The quiz server address must be four numbers from 0 to 255 with dots between "
          "them, such as 192.168.1.20.");
    return false;
  }
  std::string portText = dialogItemText(dialog, IDC_WEB_PORT, kFieldSize);
  char* end = nullptr;
  long port = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end || port < 1 || port > 65535) {
    error(dialog, "The players' port must be a number from 1 to 65535.");
    return false;
  }
  GatewayOptions options;
  options.serverHost = server;
  options.httpPort = static_cast<uint16_t>(port);
  std::string links;
  for (const std::string& a : localIPv4Addresses()) {
    std::string link = "http://" + a + ":" + std::to_string(port) + "/";
    options.links.push_back(link);
    links += link + "    (projector: " + link + "join)\r\n";
  }
  // The room screen, for the projector: on the first link, so that the
  // operator can open it on another machine too.
  screenLink = (options.links.empty() ? "http://127.0.0.1:" + std::to_string(port) + "/"
                                      : options.links.front()) +
               "screen";
  links += "Room screen: " + screenLink + "\r\n";
  options.files = appFiles();
  auto next = std::make_unique<Gateway>(options);
  std::string failure;
  if (!next->start(&failure)) {
    error(dialog, failure +
                      "\r\nAnother program may be using the port: close it, or choose "
                      "another port and press Start.");
    return false;
  }
  gateway = std::move(next);
  // The host's own controls: the key after '#', which no browser sends.
  if (!gateway->hostKey().empty()) {
    hostLink = screenLink.substr(0, screenLink.size() - 6) + "host#" + gateway->hostKey();
    links += "Host controls: " + hostLink + "\r\n";
  }
  SetDlgItemTextA(dialog, IDC_WEB_START, "Stop");
  EnableWindow(GetDlgItem(dialog, IDC_WEB_SERVER), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_WEB_PORT), FALSE);
  std::string status = "Running. Web players play against the quiz server at " + server +
                       " (port " + std::to_string(kServerPort) +
                       (server == markerServer ? ", from the server's marker file" : "") + ").";
  if (options.files.count == 0) status += " This build holds no page files.";
  SetDlgItemTextA(dialog, IDC_WEB_STATUS, status.c_str());
  SetDlgItemTextA(dialog, IDC_WEB_LINKS, links.c_str());
  EnableWindow(GetDlgItem(dialog, IDC_WEB_SCREEN), TRUE);
  EnableWindow(GetDlgItem(dialog, IDC_WEB_HOST), !hostLink.empty());
  refreshSeats();
  return true;
}

bool WebWindow::stop(const char* doing, const char* verb) {
  if (!gateway) return true;
  size_t seats = gateway->seatCount();
  if (seats > 0) {
    std::string question = std::string(doing) + " ends the game for " + std::to_string(seats) +
                           (seats == 1 ? " web player." : " web players.") + "\r\n" + verb +
                           " anyway?";
    if (MessageBoxA(dialog, question.c_str(), "Notice", MB_YESNO | MB_ICONQUESTION) != IDYES) {
      return false;
    }
  }
  gateway.reset();  // closes every page and server connection
  return true;
}

void WebWindow::checkMarker() {
  if (!watchMarker || gateway) return;
  if (dialogItemText(dialog, IDC_WEB_SERVER, kFieldSize) != filledServer ||
      dialogItemText(dialog, IDC_WEB_PORT, kFieldSize) != filledPort) {
    watchMarker = false;
    return;
  }
  std::string source;
  std::string server = chooseServerAddress("", kMarkerPath, &source);
  if (source != "marker file") return;
  watchMarker = false;
  SetDlgItemTextA(dialog, IDC_WEB_SERVER, server.c_str());
  markerServer = server;
  start();
}

void WebWindow::refreshSeats() {
  std::vector<std::string> names;
  if (gateway) names = gateway->seatNames();
  if (names == shownNames) return;
  shownNames = names;
  HWND list = GetDlgItem(dialog, IDC_WEB_SEATS);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& name : names) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  SetDlgItemTextA(dialog, IDC_WEB_COUNT, std::to_string(names.size()).c_str());
}

INT_PTR WebWindow::handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      dialog = window;
      return TRUE;
    case WM_TIMER:
      if (wParam == kTimerId) {
        poll();
        refreshSeats();
        // The marker lies on a shared drive: once a second is enough.
        if (++ticks % 20 == 0) checkMarker();
      }
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_WEB_START:
          watchMarker = false;
          if (!gateway) {
            start();
          } else if (stop("Stopping", "Stop")) {
            showStopped();
          }
          return TRUE;
        case IDOK:  // Enter in a field starts, but never stops
          watchMarker = false;
          if (!gateway) start();
          return TRUE;
        case IDC_WEB_QUIT:
          if (stop("Quitting", "Quit")) DestroyWindow(dialog);
          return TRUE;
        case IDC_WEB_SCREEN:
          // Results of 32 or less mean the system could not open it.
          if (!screenLink.empty() &&
              reinterpret_cast<INT_PTR>(ShellExecuteA(dialog, "open", screenLink.c_str(), nullptr,
                                                      nullptr, SW_SHOWNORMAL)) <= 32) {
            error(dialog, "The room screen could not be opened in a browser. Open " + screenLink +
                              " in a browser on the projector's computer.");
          }
          return TRUE;
        case IDC_WEB_HOST:
          if (!hostLink.empty() &&
              reinterpret_cast<INT_PTR>(ShellExecuteA(dialog, "open", hostLink.c_str(), nullptr,
                                                      nullptr, SW_SHOWNORMAL)) <= 32) {
            error(dialog,
                  "The host controls could not be opened in a browser. Open the "
                  "\"Host controls\" link above in a browser.");
          }
          return TRUE;
      }
      return TRUE;  // Escape (IDCANCEL) does nothing: the gateway is not a passing dialog
    case WM_CLOSE:
      if (stop("Quitting", "Quit")) DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      KillTimer(dialog, kTimerId);
      gateway.reset();
      PostQuitMessage(0);
      return TRUE;
    default:
      // The server this window was started beside has ended, and every web
      // seat with it: the window closes without asking.
      if (serverEndedMessage != 0 && message == serverEndedMessage) {
        DestroyWindow(dialog);
        return TRUE;
      }
      return FALSE;
  }
}

}  // namespace

}  // namespace qova::web

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  using qova::web::WebWindow;
  static WebWindow window;
  HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_WEB), nullptr,
                                   qova::dataDialogProc<WebWindow, &WebWindow::handle>,
                                   reinterpret_cast<LPARAM>(&window));
  if (dialog == nullptr) {
    MessageBoxA(nullptr, "Could not create window.", "Error", MB_ICONEXCLAMATION);
    return 1;
  }
  // Nothing posted to the window has been handled yet: both are in place
  // before the first message.
  if (qova::web::hasArgument(commandLine, qova::web::kLaunchedFlag)) {
    window.launched = true;
    window.serverEndedMessage = RegisterWindowMessageA(qova::web::kServerEndedMessage);
  }
  window.create();
  // Messages first, then the gateway's ready handlers; the wait is short
  // while the gateway runs, so its sockets and timers are served within a
  // few milliseconds, and no wait at all while it has more to do.
  bool busy = false;
  for (;;) {
    DWORD wait = busy ? 0 : (window.gateway ? qova::web::kIdlePollMs : INFINITE);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      if (IsDialogMessageA(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    busy = window.poll();
  }
}

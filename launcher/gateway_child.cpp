#include "launcher/gateway_child.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/win/launch.h"

namespace qova {

namespace {

// How often a gateway that has not ended yet is asked again.
constexpr DWORD kAskAgainMs = 200;

// The long form of a full path, so that a short (8.3) spelling of the same
// file compares equal; the path as given when it cannot be had.
std::string longPath(const std::string& path) {
  char buffer[MAX_PATH] = {};
  DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

const char* fileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

// Whether a running process was started from the program file `fullPath`.
bool isRunning(const std::string& fullPath) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const std::string wanted = longPath(fullPath);
  bool found = false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more && !found;
       more = Process32Next(snapshot, &entry)) {
    // The name first: only a process of the same file name is opened.
    if (lstrcmpiA(entry.szExeFile, fileName(wanted.c_str())) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    char image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(process, 0, image, &size)) {
      found = lstrcmpiA(longPath(image).c_str(), wanted.c_str()) == 0;
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

struct CloseRequest {
  DWORD processId;
  UINT message;
};

BOOL CALLBACK askToClose(HWND window, LPARAM param) {
  const auto* request = reinterpret_cast<const CloseRequest*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == request->processId) PostMessageA(window, request->message, 0, 0);
  return TRUE;
}

}  // namespace

GatewayChild startGateway(const char* path) {
  GatewayChild gateway;
  char fullPath[MAX_PATH] = {};
  DWORD length = GetFullPathNameA(path, MAX_PATH, fullPath, nullptr);
  if (length == 0 || length >= MAX_PATH || isRunning(fullPath)) return gateway;
  std::string line = std::string("\"") + path + "\" " + web::kLaunchedFlag;
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return gateway;
  }
  CloseHandle(info.hThread);
  gateway.process = info.hProcess;
  gateway.id = info.dwProcessId;
  return gateway;
}

void closeGateway(GatewayChild* gateway) {
  if (gateway->process == nullptr) return;
  // Posted, never sent: a gateway that is busy or hung cannot hold the
  // launcher. Its window may not be there yet when the server ended at once,
  // so the request is repeated until the gateway has ended.
  CloseRequest request{gateway->id, RegisterWindowMessageA(web::kServerEndedMessage)};
  DWORD start = GetTickCount();
  bool ended = false;
  while (!ended && GetTickCount() - start < kGatewayCloseGraceMs) {
    if (request.message != 0) EnumWindows(askToClose, reinterpret_cast<LPARAM>(&request));
    ended = WaitForSingleObject(gateway->process, kAskAgainMs) != WAIT_TIMEOUT;
  }
  if (!ended) {
    // The last resort: its seats are gone with the server, so nothing is
    // lost, and the players' port is free again for the next Begin.
    TerminateProcess(gateway->process, 1);
    WaitForSingleObject(gateway->process, kGatewayCloseGraceMs);
  }
  releaseGateway(gateway);
}

void releaseGateway(GatewayChild* gateway) {
  if (gateway->process != nullptr) CloseHandle(gateway->process);
  *gateway = GatewayChild();
}

}  // namespace qova

// What a Windows program running under Wine costs the host, read from a
// Windows test program through the host's /proc (Wine's drive Z:): its CPU
// time and the context switches of all its threads, that is, how often it
// was woken. Each Windows process is one host process; it is found by the
// program's path in its command line.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

namespace qova::testing {

// A whole /proc file; "" when it cannot be read.
inline std::string readHostFile(const std::string& windowsPath) {
  HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// Lower case, backslashes, no drive letter: "Z:/a/B.exe" and "/a/b.exe" compare equal.
inline std::string comparablePath(std::string path) {
  for (char& c : path)
    c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  return path;
}

// Host process ids whose command line starts with the program `exePath`.
inline std::set<int> hostProcessesOf(const std::string& exePath) {
  std::set<int> found;
  const std::string wanted = comparablePath(exePath);
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = entry.cFileName;
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::string command = readHostFile("Z:\\proc\\" + name + "\\cmdline");
    command = command.substr(0, command.find('\0'));
    const std::string program = comparablePath(command);
    if (program.size() >= wanted.size() &&
        program.compare(program.size() - wanted.size(), wanted.size(), wanted) == 0) {
      found.insert(std::atoi(name.c_str()));
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

struct HostLoad {
  bool ok = false;
  double cpuSeconds = 0;   // user + system, all threads, so far
  long long switches = 0;  // voluntary + involuntary, the threads alive now
};

// The load of host process `pid` so far. CPU ticks are counted at the
// kernel's USER_HZ of 100 (the same on every Linux the tests run on).
inline HostLoad hostLoad(int pid) {
  HostLoad load;
  const std::string folder = "Z:\\proc\\" + std::to_string(pid);
  std::string stat = readHostFile(folder + "\\stat");
  size_t close = stat.rfind(')');  // the name may hold spaces
  if (close == std::string::npos) return load;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  // After the name: state (3) ... utime (14), stime (15).
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  load.cpuSeconds = static_cast<double>(utime + stime) / 100.0;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\task\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return load;
  do {
    if (entry.cFileName[0] == '.') continue;
    std::istringstream status(readHostFile(folder + "\\task\\" + entry.cFileName + "\\status"));
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        load.switches += std::atoll(line.substr(line.find(':') + 1).c_str());
      }
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  load.ok = true;
  return load;
}

}  // namespace qova::testing

// The operator of the headless demonstration: drives the real launcher and
// quiz server the way a person at the screen would.
//
//   demo_driver RUN SIGNALS PLAYERS TIME QUESTIONS
//
// Starts RUN\QOVASTART.exe in RUN, types TIME and QUESTIONS and the sample
// database into its fields and presses Begin. Once the server's lobby is
// open it creates SIGNALS\lobby_open, waits until PLAYERS players are
// connected and presses Start. It then waits for SIGNALS\quit (created by
// the caller when the rounds it wants have been played), presses Quit in the
// Statistics window, waits for the server to end and for the launcher to come
// back, and quits the launcher. Exit code 0 when every step worked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/driver/driver.h"

namespace {

using namespace qova::driver;

constexpr DWORD kStepMs = 30000;
constexpr DWORD kGameMs = 600000;

bool fileThere(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int fail(const char* step, Child* launcher) {
  std::printf("demo: %s failed\n", step);
  std::fflush(stdout);
  endProgram(launcher);
  return 1;
}

void say(const std::string& text) {
  std::printf("demo: %s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: demo_driver RUN SIGNALS PLAYERS TIME QUESTIONS\n");
    return 2;
  }
  const std::string run = argv[1];
  const std::string signals = argv[2];
  const std::string players = argv[3];

  Child launcher;
  if (!startProgram(run + "\\QOVASTART.exe", run, &launcher))
    return fail("starting QOVASTART", &launcher);
  HWND startup = findTopWindow("QOVA Startup", kStepMs, launcher.id, "#32770");
  if (startup == nullptr) return fail("finding QOVA Startup", &launcher);
  if (!setItemText(startup, 1002, argv[4]) || !setItemText(startup, 1007, argv[5]) ||
      !setItemText(startup, 1006, "questions.qdb")) {
    return fail("typing the settings", &launcher);
  }
  say("QOVA Startup: time limit " + std::string(argv[4]) + ", " + argv[5] +
      " questions per round, questions.qdb; pressing Begin");
  clickLater(item(startup, 1000));

  DWORD server = findProcess(run + "\\Bin\\QOVAHOST.exe", kStepMs);
  if (server == 0) return fail("starting the server", &launcher);
  HWND lobby = findTopWindow("Waiting for Clients...", kStepMs, server, "#32770");
  if (lobby == nullptr) return fail("finding the lobby", &launcher);
  say("lobby open, server address " + itemText(lobby, 1010));
  HANDLE open = CreateFileA((signals + "\\lobby_open").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  if (open != INVALID_HANDLE_VALUE) CloseHandle(open);

  if (!waitUntil([&] { return itemText(lobby, 1002) == players; }, kStepMs)) {
    return fail("waiting for the players", &launcher);
  }
  say("clients connected: " + players + "; pressing Start");
  clickLater(item(lobby, 1000));
  HWND statistics = findTopWindow("Statistics", kStepMs, server, "#32770");
  if (statistics == nullptr || !waitUntil([&] { return isVisible(statistics); }, kStepMs)) {
    return fail("finding the Statistics window", &launcher);
  }
  say("game running");

  if (!waitUntil([&] { return fileThere(signals + "\\quit"); }, kGameMs)) {
    return fail("waiting for the rounds", &launcher);
  }
  say("pressing Quit in Statistics");
  clickLater(item(statistics, 1001));
  if (!waitUntil([&] { return !IsWindow(statistics); }, kStepMs)) {
    return fail("ending the server", &launcher);
  }
  if (!waitUntil([&] { return isVisible(startup); }, kStepMs)) {
    return fail("waiting for QOVA Startup to return", &launcher);
  }
  say("server ended; QOVA Startup is back, pressing Quit");
  clickLater(item(startup, 1008));
  DWORD code = 1;
  if (!waitForExit(launcher, kStepMs, &code)) return fail("ending QOVA Startup", &launcher);
  endProgram(&launcher);
  return code == 0 ? 0 : 1;
}

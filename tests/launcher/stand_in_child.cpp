// Takes the place of the server or the editor in the launcher's tests: the
// launcher's part is only to start that path and wait for it. On start it
// notes where it runs and what config.ini held at that moment, then waits
// until the test creates "child_release" in the working folder (at most
// 60 seconds, so nothing is left running) and exits with code 0.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string fileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  DWORD configAttributes = GetFileAttributesA("config.ini");
  {
    std::ofstream saw("child_saw_config.ini", std::ios::binary | std::ios::trunc);
    if (configAttributes != INVALID_FILE_ATTRIBUTES) saw << fileBytes("config.ini");
  }
  {
    // Written last: its presence tells the test that the child is running.
    std::ofstream ran("child_ran.txt.part", std::ios::binary | std::ios::trunc);
    ran << module << "\r\n" << folder << "\r\n" << GetCommandLineA() << "\r\n";
  }
  MoveFileA("child_ran.txt.part", "child_ran.txt");
  for (int i = 0; i < 600; ++i) {
    if (GetFileAttributesA("child_release") != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }
  return 0;
}

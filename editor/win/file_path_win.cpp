// File names on Windows: narrow names are in the ANSI code page, while the
// run-time library's std::filesystem would read them as Latin-1; they are
// decoded to UTF-16 here, so that every path names the file the user chose.
#include <windows.h>

#include "editor/file_path.h"

namespace qova {

std::filesystem::path ansiPath(const std::string& name) {
  if (name.empty()) return std::filesystem::path();
  int length = static_cast<int>(name.size());
  int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  if (wide <= 0) return std::filesystem::path();
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), length, &text[0], wide);
  return std::filesystem::path(text);
}

std::string currentDirectory() {
  char buffer[512];
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

}  // namespace qova

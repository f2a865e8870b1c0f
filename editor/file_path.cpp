// File names outside Windows: the bytes are the name.
#include "editor/file_path.h"

#include <system_error>

namespace qova {

std::filesystem::path ansiPath(const std::string& name) { return std::filesystem::path(name); }

std::string currentDirectory() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  if (ec) return std::string();
  std::string name = dir.native();
  return name.size() < 512 ? name : std::string();
}

}  // namespace qova

#include "launcher/launcher_config.h"

#include <fstream>

namespace qova {

std::string readLauncherField(std::istream& in) {
  std::string line;
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    return line;
  }
  const size_t limit = kLauncherFieldSize - 1;
  for (;;) {
    int c = in.get();
    if (c == std::char_traits<char>::eof()) {
      // get() has set failbit; a last line without line end still counts.
      if (!line.empty()) in.clear(std::ios::eofbit);
      return line;
    }
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (line.size() == limit) {
      // A CR LF right after a full buffer is the line end of a text-mode
      // stream; anything else does not fit.
      if (c == '\r' && in.peek() == '\n') {
        in.get();
        return line;
      }
      in.unget();
      in.setstate(std::ios::failbit);
      return line;
    }
    line.push_back(static_cast<char>(c));
  }
}

LauncherSettings readLauncherSettings(const std::string& path) {
  LauncherSettings settings;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return settings;
  settings.timeLimit = readLauncherField(in);
  settings.questionsPerRound = readLauncherField(in);
  settings.databaseFile = readLauncherField(in);
  return settings;
}

bool writeLauncherSettings(const std::string& path, const LauncherSettings& settings) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  out << settings.timeLimit << "\r\n";
  out << settings.questionsPerRound << "\r\n";
  out << settings.databaseFile;
  out.close();
  return !out.fail();
}

}  // namespace qova

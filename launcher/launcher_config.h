// The launcher's side of config.ini: three lines, the time limit, the number
// of questions per round and the question database file, kept exactly as the
// operator typed them.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace qova {

// Characters of each launcher field, the terminating NUL included; a field
// holds at most kLauncherFieldSize - 1 characters.
constexpr size_t kLauncherFieldSize = 512;

struct LauncherSettings {
  std::string timeLimit;
  std::string questionsPerRound;
  std::string databaseFile;
};

// Reads one line the way a stream getline into a kLauncherFieldSize buffer
// does on a text-mode stream: LF ends the line and is consumed, one CR right
// before it is dropped. A line too long for the buffer gives its first
// kLauncherFieldSize - 1 characters and fails the stream, so every later
// read gives "". End of file before any character gives "" and fails too.
std::string readLauncherField(std::istream& in);

// The three lines of `path` in file order; a missing file or line gives "".
LauncherSettings readLauncherSettings(const std::string& path);

// Creates or truncates `path` and writes the three texts as they stand, with
// CR LF after the first two and nothing after the third. False when the file
// cannot be written.
bool writeLauncherSettings(const std::string& path, const LauncherSettings& settings);

}  // namespace qova

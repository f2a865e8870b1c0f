// Helpers for the unit tests of every folder; linked into test programs only.
#pragma once

#include <string>
#include <vector>

#include "common/prompts.h"

namespace qova::testing {

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with a file name.
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Whole file as bytes; empty when it cannot be read (see fileExists).
std::string readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

// Runs `body` with the process's working folder moved to `dir`, and moves it
// back afterwards.
class WorkingDir {
 public:
  explicit WorkingDir(const std::string& dir);
  ~WorkingDir();
  WorkingDir(const WorkingDir&) = delete;
  WorkingDir& operator=(const WorkingDir&) = delete;

 private:
  std::string previous_;
};

// Prompts that answer from scripts and record every request.
struct ScriptedPrompts {
  std::vector<MessageRequest> messages;     // every message box shown
  std::vector<int> messageAnswers;          // answered in order; kIdOk when used up
  std::vector<FileDialogRequest> opens;     // every open dialog shown
  std::vector<std::string> openAnswers;     // "" cancels; cancel when used up
  std::vector<FileDialogRequest> saves;     // every save dialog shown
  std::vector<std::string> saveAnswers;     // "" cancels; cancel when used up

  // Prompts bound to this object; it must outlive them.
  Prompts prompts();
};

}  // namespace qova::testing

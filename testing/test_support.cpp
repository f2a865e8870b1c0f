#include "testing/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace qova::testing {

TempDir::TempDir() {
  static std::atomic<unsigned> serial{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    std::ostringstream name;
    name << "qova-test-" << stamp << "-" << serial++;
    fs::path candidate = fs::temp_directory_path() / name.str();
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

WorkingDir::WorkingDir(const std::string& dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

WorkingDir::~WorkingDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

Prompts ScriptedPrompts::prompts() {
  Prompts p;
  p.messageBox = [this](const MessageRequest& request) {
    size_t index = messages.size();
    messages.push_back(request);
    return index < messageAnswers.size() ? messageAnswers[index] : kIdOk;
  };
  p.openFile = [this](const FileDialogRequest& request, std::string* path) {
    size_t index = opens.size();
    opens.push_back(request);
    if (index >= openAnswers.size() || openAnswers[index].empty()) return false;
    *path = openAnswers[index];
    return true;
  };
  p.saveFile = [this](const FileDialogRequest& request, std::string* path) {
    size_t index = saves.size();
    saves.push_back(request);
    if (index >= saveAnswers.size() || saveAnswers[index].empty()) return false;
    *path = saveAnswers[index];
    return true;
  };
  return p;
}

}  // namespace qova::testing

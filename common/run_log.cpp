#include "common/run_log.h"

#include <fstream>

namespace qova {

namespace {

// Every line end is CR LF, written explicitly, so that the file has the same
// bytes on every platform.
constexpr char kBanner[] =
    "\r\n"
    "+-------------------------+\r\n"
    "|     *Program Start*     |\r\n"
    "+-------------------------+\r\n"
    "\r\n";

// Messages closer together than this share one running-time line.
constexpr uint32_t kQuietMs = 400;

}  // namespace

RunLog::RunLog(TickSource ticks) : ticks_(ticks), startTick_(ticks()) {}

void RunLog::write(const char* message, const char* fileName) {
  const uint32_t now = ticks_();
  if (fileName != nullptr && fileName[0] != '\0') currentFileName_ = fileName;
  if (message == nullptr) return;

  RunLogFile* file = nullptr;
  for (RunLogFile& f : files_) {
    if (f.name == currentFileName_) {
      file = &f;
      break;
    }
  }
  if (file == nullptr) {
    files_.push_back(RunLogFile{});
    file = &files_.back();
    file->name = currentFileName_;
  }

  std::string text;
  if (file->bannerPending) {
    text += kBanner;
    file->bannerPending = false;
  }
  size_t j = 0;
  while (j < file->messages.size() && file->messages[j] != message) ++j;
  if (j == file->messages.size()) {
    file->messages.push_back(message);
    file->counts.push_back(1);
  } else {
    ++file->counts[j];
  }
  if (now - file->lastWriteTick > kQuietMs) {
    text += "\r\n//Running time: " + std::to_string(now - startTick_) + " ms\r\n";
  }
  text += message;
  text += " - " + std::to_string(file->counts[j]) + "\r\n";

  // An unwritable file loses only this text; the state above has advanced
  // as if it had been written, and nothing is reported.
  std::ofstream out(currentFileName_, std::ios::binary | std::ios::app);
  if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  file->lastWriteTick = now;
}

RunLog& RunLog::process() {
  static RunLog log;
  return log;
}

namespace {
// Creates the process log while the program loads, so its start tick is taken
// before the entry point runs.
[[maybe_unused]] const RunLog& processLogAtLoad = RunLog::process();
}  // namespace

}  // namespace qova

// The run log: error messages appended to a text file (default "errLog.txt"),
// with a banner at the first message of each run per file, a running-time line
// whenever the previous write to that file is more than 400 ms old, and a
// per-file count of how often each distinct message occurred in this run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/tick.h"

namespace qova {

struct RunLogFile {
  std::string name;
  std::vector<std::string> messages;  // distinct texts, in order of first use
  std::vector<int32_t> counts;        // parallel to messages
  uint32_t lastWriteTick = 0;
  bool bannerPending = true;
};

class RunLog {
 public:
  // Takes the start tick from `ticks` now.
  explicit RunLog(TickSource ticks = tickCount);

  // Appends `message` to the current file. A non-empty `fileName` becomes the
  // current file for this and later writes (the pointer is kept, not the
  // text, so the caller keeps it alive). A null message only switches files.
  // Never fails visibly: an unwritable file still advances the counts.
  void write(const char* message, const char* fileName);

  const std::vector<RunLogFile>& files() const { return files_; }

  // The log of the process, started before the entry point runs.
  static RunLog& process();

 private:
  TickSource ticks_;
  uint32_t startTick_;
  const char* currentFileName_ = "errLog.txt";
  std::vector<RunLogFile> files_;
};

}  // namespace qova

// Replacing a file so that a power loss leaves the old file or the new one,
// never a torn one: the new bytes go to a temporary file beside the target,
// are flushed to the disk, and only then is the temporary file renamed over
// the target with a rename that is itself on the disk when it returns.
//
// The steps go through FileOps, plain functions that the platform fills and
// that a test can wrap to record the order of the steps or make one fail.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qova {

struct FileOps {
  // Creates or truncates `path` for writing; -1 when it cannot.
  std::function<intptr_t(const std::string& path)> create;
  // Writes all of `bytes`; false when not all could be written.
  std::function<bool(intptr_t file, const std::string& bytes)> write;
  // Pushes what was written through every cache to the disk.
  std::function<bool(intptr_t file)> flush;
  std::function<bool(intptr_t file)> close;
  // Renames `from` over `to` (replacing it) and returns once the rename is
  // on the disk.
  std::function<bool(const std::string& from, const std::string& to)> replace;
  std::function<void(const std::string& path)> remove;
};

// Windows: CreateFileA, WriteFile, FlushFileBuffers, MoveFileExA with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. POSIX: open, write,
// fsync, rename, then fsync of the folder that holds the name.
FileOps platformFileOps();

// The temporary file that replaceFile writes for `target`: target + ".tmp".
std::string temporaryFileFor(const std::string& target);

// Creates or replaces `target` with `bytes` by the steps above. False when
// any step failed; the target is then as it was and the temporary file is
// removed.
bool replaceFile(const std::string& target, const std::string& bytes, const FileOps& ops);
bool replaceFile(const std::string& target, const std::string& bytes);

}  // namespace qova

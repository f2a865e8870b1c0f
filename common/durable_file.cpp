#include "common/durable_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qova {

namespace {

#ifdef _WIN32

intptr_t createFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

bool writeFile(intptr_t file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t left = bytes.size() - done;
    const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

bool flushFile(intptr_t file) { return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0; }

bool closeFile(intptr_t file) { return CloseHandle(reinterpret_cast<HANDLE>(file)) != 0; }

bool replaceName(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

#else

intptr_t createFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? -1 : fd;
}

bool writeFile(intptr_t file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(static_cast<int>(file), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool flushFile(intptr_t file) { return ::fsync(static_cast<int>(file)) == 0; }

bool closeFile(intptr_t file) { return ::close(static_cast<int>(file)) == 0; }

// The new name is only on the disk once the folder that holds it is.
bool replaceName(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  const size_t slash = to.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : to.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

#endif

}  // namespace

FileOps platformFileOps() {
  FileOps ops;
  ops.create = createFile;
  ops.write = writeFile;
  ops.flush = flushFile;
  ops.close = closeFile;
  ops.replace = replaceName;
  ops.remove = removeFile;
  return ops;
}

std::string temporaryFileFor(const std::string& target) { return target + ".tmp"; }

bool replaceFile(const std::string& target, const std::string& bytes, const FileOps& ops) {
  const std::string temp = temporaryFileFor(target);
  intptr_t file = ops.create(temp);
  if (file < 0) return false;
  bool ok = ops.write(file, bytes);
  // Flushed before the rename: otherwise the rename could reach the disk
  // ahead of the bytes, and a power loss leave an empty or torn file.
  ok = ok && ops.flush(file);
  ok = ops.close(file) && ok;
  ok = ok && ops.replace(temp, target);
  if (!ok) ops.remove(temp);
  return ok;
}

bool replaceFile(const std::string& target, const std::string& bytes) {
  static const FileOps ops = platformFileOps();
  return replaceFile(target, bytes, ops);
}

}  // namespace qova

// Read errors for the tests of the question file readers and their users:
// a stream buffer that fails part way, and (on Linux) a way to make an open
// file fail the way a dropped network share does. Test programs only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <ios>
#include <streambuf>
#include <string>
#include <utility>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace qova::testing {

// Serves `bytes` a few at a time and, from offset `failAt` on, throws on
// every read as the standard file buffer does on a read error. Seeks work.
// After `throwLimit` throws it gives the end of the file instead, so that a
// reader that retries after an error ends, and a test of it fails rather
// than hangs.
class FailingBuffer : public std::streambuf {
 public:
  FailingBuffer(std::string bytes, size_t failAt, int throwLimit = 100)
      : bytes_(std::move(bytes)), failAt_(failAt), throwsLeft_(throwLimit) {
    setg(data(), data(), data());
  }
  int throws() const { return throws_; }

 protected:
  int_type underflow() override {
    size_t at = static_cast<size_t>(gptr() - data());
    if (at >= failAt_) {
      if (throwsLeft_ > 0) {
        --throwsLeft_;
        ++throws_;
        throw std::ios_base::failure("read error");
      }
      return traits_type::eof();
    }
    if (at >= bytes_.size()) return traits_type::eof();
    size_t end = std::min({at + kPiece, failAt_, bytes_.size()});
    setg(data(), data() + at, data() + end);
    return traits_type::to_int_type(*gptr());
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    off_type base = dir == std::ios_base::beg   ? 0
                    : dir == std::ios_base::cur ? gptr() - data()
                                                : static_cast<off_type>(bytes_.size());
    return seekpos(base + off, std::ios_base::in);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    off_type at = pos;
    if (at < 0 || at > static_cast<off_type>(bytes_.size())) return pos_type(off_type(-1));
    setg(data(), data() + at, data() + at);
    return pos;
  }

 private:
  static constexpr size_t kPiece = 7;
  char* data() { return &bytes_[0]; }

  std::string bytes_;
  size_t failAt_;
  int throwsLeft_;
  int throws_ = 0;
};

#ifdef __linux__
// Makes every later read of the open file `path` fail with EIO, as when the
// share that holds it drops: its descriptor is replaced by one of this
// process's memory file, which has nothing mapped at the small offsets of a
// question file. False when no open descriptor of `path` is found.
inline bool breakOpenFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = fs::canonical(path, ec);
  if (ec) return false;
  int broken = ::open("/proc/self/mem", O_RDONLY);
  if (broken < 0) return false;
  bool found = false;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError) != target || linkError) continue;
    int fd = std::stoi(entry.path().filename().string());
    if (fd != broken && ::dup2(broken, fd) >= 0) found = true;
  }
  ::close(broken);
  return found;
}
#endif

}  // namespace qova::testing

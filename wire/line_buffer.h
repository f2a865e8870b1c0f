// Bytes that arrive in pieces of any size, taken out again as CR LF lines.
// Every byte is searched for a line end once, however the pieces fall, and
// a line may hold at most `maxLine` bytes (CR LF not counted), so that a
// peer that never ends a line cannot make the reader hold without limit.
#pragma once

#include <cstddef>
#include <string>

namespace qova {

class LineBuffer {
 public:
  enum class Take {
    kNeedMore,   // no whole line yet
    kLine,       // a line within the bound
    kLongLine,   // a whole line beyond the bound (still given out)
    kNoLineEnd,  // more than maxLine + 1 bytes without a line end (a CR
                 // at the end may still finish a line of maxLine bytes)
  };

  explicit LineBuffer(size_t maxLine) : maxLine_(maxLine) {}

  // Appends received bytes; drops what has been taken when that is at least
  // half of the buffer.
  void append(const char* data, size_t size);
  // Takes the next line into *line (without CR LF) for kLine and kLongLine.
  Take take(std::string* line);
  // Where the first line end of the untaken bytes stands, counted from their
  // start (the CR of CR LF); npos while there is none.
  size_t lineEnd();
  bool hasCompleteLine() const;
  // Drops the first `count` untaken bytes (at most size()), whole lines
  // found by the caller.
  void skip(size_t count);

  // The bytes not yet taken.
  const char* data() const { return buffer_.data() + start_; }
  size_t size() const { return buffer_.size() - start_; }
  bool empty() const { return size() == 0; }
  void clear();

 private:
  // Once what is left is small, gives back the memory a long message took.
  void giveBack();

  size_t maxLine_;
  std::string buffer_;
  size_t start_ = 0;  // buffer_ before this has been taken
  size_t scan_ = 0;   // buffer_ before this holds no line end past start_
};

}  // namespace qova

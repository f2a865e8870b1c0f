#include "wire/line_buffer.h"

namespace qova {

void LineBuffer::append(const char* data, size_t size) {
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    scan_ = scan_ > start_ ? scan_ - start_ : 0;
    start_ = 0;
  }
  buffer_.append(data, size);
}

size_t LineBuffer::lineEnd() {
  size_t from = scan_ > start_ ? scan_ : start_;
  size_t end = buffer_.find("\r\n", from);
  if (end == std::string::npos) {
    // A CR at the very end may be the first half of a line end.
    scan_ = buffer_.size() > start_ ? buffer_.size() - 1 : start_;
    return std::string::npos;
  }
  scan_ = end;
  return end - start_;
}

LineBuffer::Take LineBuffer::take(std::string* line) {
  size_t length = lineEnd();
  if (length == std::string::npos)
    return size() > maxLine_ + 1 ? Take::kNoLineEnd : Take::kNeedMore;
  line->assign(buffer_, start_, length);
  start_ += length + 2;
  scan_ = start_;
  if (start_ == buffer_.size()) giveBack();
  return length > maxLine_ ? Take::kLongLine : Take::kLine;
}

bool LineBuffer::hasCompleteLine() const {
  return buffer_.find("\r\n", scan_ > start_ ? scan_ : start_) != std::string::npos;
}

void LineBuffer::skip(size_t count) {
  start_ += count < size() ? count : size();
  scan_ = start_;
  giveBack();
}

void LineBuffer::giveBack() {
  // Many readers may each have held one long message: what is left after
  // it moves to a buffer of its own size.
  constexpr size_t kKept = 4096;
  if (buffer_.capacity() <= kKept || size() > kKept) return;
  std::string rest(data(), size());
  buffer_.swap(rest);
  start_ = scan_ = 0;
}

void LineBuffer::clear() {
  std::string().swap(buffer_);  // its memory too: it may have held a long message
  start_ = scan_ = 0;
}

}  // namespace qova

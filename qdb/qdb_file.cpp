#include "qdb/qdb_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/number_format.h"

namespace qova {

namespace {

using Traits = std::char_traits<char>;

bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A read error becomes badbit. setstate throws when the stream's owner asked
// for exceptions on badbit; the state is set by then, and the error goes on
// as a value like any other.
void markReadError(std::istream& in) {
  try {
    in.setstate(std::ios::badbit);
  } catch (...) {
  }
}

// The byte offset of the stream, or -1 once it has failed. Taken from the
// buffer so that an end-of-file flag alone does not hide the position.
int64_t position(std::istream& in) {
  if (in.fail()) return -1;
  try {
    return static_cast<int64_t>(in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
  } catch (...) {
    markReadError(in);
    return -1;
  }
}

void moveTo(std::istream& in, int64_t offset) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
}

// One formatted decimal integer, the way `in >> value` reads it: white space
// first, an optional sign, at least one digit; a value beyond 32 bits fails.
// The buffer is read directly, so what it throws on a read error is caught
// here.
bool readIntFrom(std::istream& in, int32_t& value) {
  std::streambuf* sb = in.rdbuf();
  int c = sb->sgetc();
  while (c != Traits::eof() && isBlank(c)) c = sb->snextc();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = sb->snextc();
  }
  int64_t magnitude = 0;
  bool anyDigit = false;
  bool overflow = false;
  while (c >= '0' && c <= '9') {
    anyDigit = true;
    if (!overflow) {
      magnitude = magnitude * 10 + (c - '0');
      overflow = magnitude > static_cast<int64_t>(INT32_MAX) + 1;
    }
    c = sb->snextc();
  }
  if (c == Traits::eof()) in.setstate(std::ios::eofbit);
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (!anyDigit || overflow || signedValue > INT32_MAX || signedValue < INT32_MIN) {
    in.setstate(std::ios::failbit);
    return false;
  }
  value = static_cast<int32_t>(signedValue);
  return true;
}

bool readInt(std::istream& in, int32_t& value) {
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    return false;
  }
  try {
    return readIntFrom(in, value);
  } catch (...) {
    markReadError(in);
    return false;
  }
}

std::string decimal(int64_t value) { return std::to_string(value); }

// readLine on a stream that has not failed. getline turns what the buffer
// throws into badbit, which must be seen before a full chunk clears the
// state; the direct buffer calls after it may throw, for the caller to catch.
LineRead readLineFrom(std::istream& in, std::string& line, int32_t lineBound) {
  if (in.eof()) {
    in.setstate(std::ios::failbit);
    return LineRead::kEnd;
  }
  const size_t bound = lineBound < 0 ? 0 : static_cast<size_t>(lineBound);
  // getline scans the stream's buffer for the LF in bulk; chunks keep the
  // line growing only with what is really read, never to the bound in
  // advance, and never more than `bound` characters are taken.
  constexpr size_t kChunk = 4096;
  char chunk[kChunk + 1];
  for (;;) {
    const size_t want = std::min(kChunk, bound - line.size());
    if (want == 0) break;
    in.getline(chunk, static_cast<std::streamsize>(want) + 1);
    if (in.bad()) return LineRead::kError;
    const size_t got = static_cast<size_t>(in.gcount());
    if (!in.fail() && !in.eof()) {
      // The LF was met and consumed; a CR right before it is dropped.
      line.append(chunk, got - 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return LineRead::kLine;
    }
    line.append(chunk, got);
    if (in.eof()) {
      if (line.empty()) return LineRead::kEnd;  // getline set eof and fail
      in.clear(std::ios::eofbit);
      return LineRead::kLastLine;
    }
    in.clear();  // the chunk was full without a line end: read on
  }

  // `bound` characters are in: only a line end may follow.
  std::streambuf* sb = in.rdbuf();
  int c = sb->sgetc();
  if (c == '\n') {
    sb->sbumpc();
    return LineRead::kLine;
  }
  if (c == Traits::eof()) {
    if (line.empty()) {
      in.setstate(std::ios::eofbit | std::ios::failbit);
      return LineRead::kEnd;
    }
    in.setstate(std::ios::eofbit);
    return LineRead::kLastLine;
  }
  if (c == '\r') {
    sb->sbumpc();
    if (sb->sgetc() == '\n') {
      sb->sbumpc();
      return LineRead::kLine;
    }
    sb->sungetc();  // a CR not ending the line is one character too many
  }
  line.clear();
  in.setstate(std::ios::failbit);
  return LineRead::kTooLong;
}

}  // namespace

LineRead readLine(std::istream& in, std::string& line, int32_t lineBound) {
  line.clear();
  if (in.fail()) return LineRead::kFailed;
  try {
    LineRead r = readLineFrom(in, line, lineBound);
    if (!in.bad()) return r;
  } catch (...) {
  }
  // Whatever part of the line came before the error is not a text.
  line.clear();
  markReadError(in);
  return LineRead::kError;
}

bool readHeader(std::istream& in, QdbHeader& header) {
  QdbHeader h;
  if (!readInt(in, h.lineBound) || !readInt(in, h.responseCount) || !readInt(in, h.recordCount)) {
    return false;
  }
  std::string rest;
  LineRead r = readLine(in, rest, h.lineBound);
  if (r == LineRead::kTooLong || r == LineRead::kFailed || r == LineRead::kError) return false;
  // A header that ends the file, with or without its line end, leaves the
  // stream usable at its end, so its position can still be taken.
  if (r != LineRead::kLine) in.clear(in.rdstate() & ~(std::ios::eofbit | std::ios::failbit));
  header = h;
  return true;
}

bool headerIsUsable(const QdbHeader& header) {
  return header.lineBound >= 0 && header.lineBound <= kMaxLineBound && header.responseCount >= 1 &&
         header.responseCount <= kMaxResponseCount && header.recordCount >= 0;
}

void writeHeader(std::ostream& out, int32_t lineBound, int32_t responseCount, int32_t recordCount) {
  std::string text = decimal(lineBound) + "\r\n" + decimal(responseCount) + "\r\n" +
                     decimal(static_cast<uint32_t>(recordCount)) + "\r\n";
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeRecord(std::ostream& out, const QuestionRecord& record, int32_t responseCount) {
  // Sized first, so that a save of a million records allocates once a record.
  const size_t lines = static_cast<size_t>(std::max(responseCount, 0));
  const size_t texts = std::min(lines, record.responses.size());
  const std::string correct = decimal(record.correct);
  size_t size = record.question.size() + correct.size() + 2 * (lines + 2);
  for (size_t i = 0; i < texts; ++i) size += record.responses[i].size();
  std::string text;
  text.reserve(size);
  text.append(record.question).append("\r\n");
  for (size_t i = 0; i < lines; ++i) {
    if (i < texts) text.append(record.responses[i]);
    text.append("\r\n");
  }
  text.append(correct).append("\r\n");
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

namespace {

// Reads a record's question and responses, both forms alike, and returns its
// correct line.
std::string readTexts(std::istream& in, std::string& question, std::vector<std::string>& responses,
                      int32_t responseCount, int32_t lineBound) {
  readLine(in, question, lineBound);
  // Read in place: a copy of each line would cost an allocation per response.
  responses.resize(static_cast<size_t>(std::max(responseCount, 0)));
  for (std::string& response : responses) readLine(in, response, lineBound);
  std::string line;
  readLine(in, line, lineBound);
  return line;
}

}  // namespace

QuestionRecord readRecord(std::istream& in, int32_t responseCount, int32_t lineBound) {
  QuestionRecord record;
  readRecord(in, record, responseCount, lineBound);
  return record;
}

void readRecord(std::istream& in, QuestionRecord& record, int32_t responseCount,
                int32_t lineBound) {
  record.correct =
      parseLeadingInt(readTexts(in, record.question, record.responses, responseCount, lineBound));
  record.erased = false;
}

ServerQuestionRecord readServerRecord(std::istream& in, int32_t responseCount, int32_t lineBound) {
  ServerQuestionRecord record;
  std::string line = readTexts(in, record.question, record.responses, responseCount, lineBound);
  record.correct = line.empty() ? '\0' : line[0];
  return record;
}

void skipRecord(std::istream& in, int32_t responseCount, int32_t lineBound) {
  std::string line;
  for (int64_t i = 0; i < static_cast<int64_t>(responseCount) + 2; ++i) {
    readLine(in, line, lineBound);
  }
}

bool atEnd(std::istream& in, int32_t lineBound) {
  if (in.fail()) return false;
  const int64_t noted = position(in);
  if (in.bad()) return false;
  std::string line;
  LineRead r = readLine(in, line, lineBound);
  // Left failed, as the read left it; a read error keeps its badbit.
  if (r == LineRead::kTooLong || r == LineRead::kError) return false;
  moveTo(in, noted);
  return r == LineRead::kEnd || r == LineRead::kLastLine;
}

namespace {

// A forward scan of whole lines that reads the stream's buffer in large
// blocks and counts the bytes it passes, so that the offset of every line is
// known without asking the buffer for its position: on a file stream each
// such ask is a system call, and a million records would pay a million. What
// the buffer throws on a read error is caught here and becomes badbit, and
// the scan ends there.
class LineScanner {
 public:
  LineScanner(std::istream& in, int64_t offset) : in_(in), offset_(offset), block_(kBlock) {}

  // The offset of the first byte not yet passed: the start of the next line.
  int64_t offset() const { return offset_; }

  // Passes one line, with the outcomes readLine gives for the same bytes and
  // bound (kLine, kLastLine, kEnd, kTooLong, kError). Never throws.
  LineRead skipLine(size_t bound) {
    size_t length = 0;  // of the line so far, CR included, LF not
    bool crLast = false;
    for (;;) {
      if (at_ == end_ && !fill()) {
        if (failed_) return LineRead::kError;
        if (length == 0) return LineRead::kEnd;
        // No line end follows, so a CR at the end is part of the line.
        return length > bound ? LineRead::kTooLong : LineRead::kLastLine;
      }
      const char* from = block_.data() + at_;
      const size_t avail = end_ - at_;
      const char* lf = static_cast<const char*>(std::memchr(from, '\n', avail));
      if (lf == nullptr) {
        length += avail;
        crLast = from[avail - 1] == '\r';
        passed(avail);
        // Even a CR that the next block ends with an LF would not bring it
        // back within the bound.
        if (length > bound + 1) return LineRead::kTooLong;
        continue;
      }
      const size_t n = static_cast<size_t>(lf - from);
      if (n > 0) crLast = from[n - 1] == '\r';
      length += n;
      passed(n + 1);
      if (crLast && length > 0) --length;
      return length > bound ? LineRead::kTooLong : LineRead::kLine;
    }
  }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;

  void passed(size_t n) {
    at_ += n;
    offset_ += static_cast<int64_t>(n);
  }

  // Reads the next block; false at the end of the stream or on a read error.
  bool fill() {
    if (ended_) return false;
    std::streamsize got = 0;
    try {
      got = in_.rdbuf()->sgetn(block_.data(), static_cast<std::streamsize>(block_.size()));
    } catch (...) {
      markReadError(in_);
      failed_ = true;
    }
    // sgetn gives fewer bytes than asked only at the end of the stream.
    if (failed_ || got < static_cast<std::streamsize>(block_.size())) ended_ = true;
    at_ = 0;
    end_ = failed_ || got < 0 ? 0 : static_cast<size_t>(got);
    return end_ > 0;
  }

  std::istream& in_;
  int64_t offset_;
  std::vector<char> block_;
  size_t at_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

// indexRecords' scan, from a stream that stands at `first`. Every start but
// the last is pushed; the return tells whether the file is usable.
bool scanRecords(LineScanner& scan, const QdbHeader& header, std::vector<int64_t>& recordStart) {
  const size_t bound = static_cast<size_t>(header.lineBound);
  for (;;) {
    recordStart.push_back(scan.offset());
    if (static_cast<int64_t>(recordStart.size()) > header.recordCount) return true;
    // The end of the file, or a last line without line end, where a record
    // would begin ends the data.
    LineRead r = scan.skipLine(bound);
    if (r == LineRead::kEnd || r == LineRead::kLastLine) return true;
    for (int32_t i = 0; r == LineRead::kLine && i < header.responseCount + 1; ++i) {
      r = scan.skipLine(bound);
    }
    if (r == LineRead::kTooLong || r == LineRead::kError) return false;
    if (r != LineRead::kLine) {
      // A record cut short by the end of the file still counts as found;
      // its missing lines read as empty texts.
      recordStart.push_back(scan.offset());
      return true;
    }
  }
}

}  // namespace

bool indexRecords(std::istream& in, const QdbHeader& header, std::vector<int64_t>& recordStart) {
  recordStart.clear();
  if (!headerIsUsable(header)) return false;
  const int64_t first = position(in);
  if (first < 0) return false;
  // Records past the header's count are never read, so the scan ends there
  // and the index stays bounded by what the header claims.
  LineScanner scan(in, first);
  if (!scanRecords(scan, header, recordStart)) {
    if (!in.bad()) in.setstate(std::ios::failbit);
    return false;
  }
  // The scan read ahead in blocks; the stream is left where the data ends.
  try {
    moveTo(in, recordStart.back());
  } catch (...) {
    markReadError(in);
  }
  return !in.fail();
}

}  // namespace qova

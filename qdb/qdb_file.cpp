#include "qdb/qdb_file.h"

#include <algorithm>
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
  std::string text = record.question + "\r\n";
  for (int32_t i = 0; i < responseCount; ++i) {
    if (static_cast<size_t>(i) < record.responses.size()) text += record.responses[i];
    text += "\r\n";
  }
  text += decimal(record.correct) + "\r\n";
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

namespace {

// Reads a record's question and responses, both forms alike, and returns its
// correct line.
std::string readTexts(std::istream& in, std::string& question, std::vector<std::string>& responses,
                      int32_t responseCount, int32_t lineBound) {
  readLine(in, question, lineBound);
  std::string line;
  for (int32_t i = 0; i < responseCount; ++i) {
    readLine(in, line, lineBound);
    responses.push_back(line);
  }
  readLine(in, line, lineBound);
  return line;
}

}  // namespace

QuestionRecord readRecord(std::istream& in, int32_t responseCount, int32_t lineBound) {
  QuestionRecord record;
  record.correct =
      parseLeadingInt(readTexts(in, record.question, record.responses, responseCount, lineBound));
  return record;
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

bool indexRecords(std::istream& in, const QdbHeader& header, std::vector<int64_t>& recordStart) {
  recordStart.clear();
  if (!headerIsUsable(header)) return false;
  // Records past the header's count are never read, so the scan ends there
  // and the index stays bounded by what the header claims.
  std::string line;
  for (;;) {
    int64_t start = position(in);
    if (start < 0) return false;
    recordStart.push_back(start);
    if (static_cast<int64_t>(recordStart.size()) > header.recordCount) return true;
    // The first line read answers what atEnd would, without its seek back:
    // the end of the file, or a last line without line end, ends the data.
    LineRead r = readLine(in, line, header.lineBound);
    if (r == LineRead::kEnd || r == LineRead::kLastLine) {
      in.clear();
      return true;
    }
    for (int32_t i = 0; r == LineRead::kLine && i < header.responseCount + 1; ++i) {
      r = readLine(in, line, header.lineBound);
    }
    if (r == LineRead::kTooLong || r == LineRead::kFailed || r == LineRead::kError) return false;
    if (r != LineRead::kLine) {
      // A record cut short by the end of the file still counts as found;
      // its missing lines read as empty texts.
      in.clear();
      recordStart.push_back(position(in));
      return true;
    }
  }
}

}  // namespace qova

// Line-level reading and writing of question database (.qdb) files.
//
// Layout: three header lines (lineBound, responseCount, recordCount), then per
// record the question, responseCount response lines and the correct line.
// Every line written ends with CR LF. Readers take LF as the line end and drop
// one CR right before it; a last line without line end is accepted. Streams
// are binary so that positions and bytes are the same on every platform.
//
// Read errors: a stream whose buffer fails or throws (a file on a share that
// drops, a folder opened as a file) ends the read as a failure value. Every
// reader here leaves such an error as badbit on the stream and never lets an
// exception out, so after readHeader, readRecord, skipRecord, atEnd or
// indexRecords a caller tells a read error from the end or damage of the
// file by in.bad().
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "qdb/question_record.h"

namespace qova {

struct QdbHeader {
  int32_t lineBound = 0;
  int32_t responseCount = 0;
  int32_t recordCount = 0;
};

// Limits past which a header is refused as damaged rather than trusted; see
// docs/decisions/qdb-usable-header.md. They are far above anything the editor writes.
constexpr int32_t kMaxLineBound = 1 << 20;
constexpr int32_t kMaxResponseCount = 64;

enum class LineRead {
  kLine,      // a whole line was read and its LF consumed
  kLastLine,  // end of file after at least one character; stream at its end
  kEnd,       // end of file before any character; `line` empty, stream failed
  kTooLong,   // longer than lineBound: stream failed, rest of the line unread
  kFailed,    // the stream had already failed (a read error before included)
  kError,     // this read met a read error of the stream: badbit set
};

// Reads one line of at most `lineBound` characters (CR LF or LF not counted).
// A line of exactly `lineBound` characters followed by CR LF reads fine. On
// kTooLong, kEnd, kFailed and kError `line` is empty. The line is never sized
// to the bound in advance. Never throws.
LineRead readLine(std::istream& in, std::string& line, int32_t lineBound);

// Reads three formatted decimal integers (any white space before each, an
// optional sign; so they may share a line) and then the rest of the third
// line. False when the stream does not hold three 32-bit integers there, when
// that rest is longer than the bound just read, or on a read error. A header that ends the file
// leaves the stream usable at its end.
bool readHeader(std::istream& in, QdbHeader& header);

// A header the readers can work with: lineBound 0..kMaxLineBound,
// responseCount 1..kMaxResponseCount, recordCount >= 0.
bool headerIsUsable(const QdbHeader& header);

void writeHeader(std::ostream& out, int32_t lineBound, int32_t responseCount, int32_t recordCount);

// Question, responseCount responses (fewer in the record give empty lines,
// more are dropped), then `correct` in decimal.
void writeRecord(std::ostream& out, const QuestionRecord& record, int32_t responseCount);

// The editor's form: the correct line converted like atoi. Lines that cannot
// be read give empty texts.
QuestionRecord readRecord(std::istream& in, int32_t responseCount, int32_t lineBound);
// The same into `record`, whose texts keep their storage, so that reading
// record after record into one allocates next to nothing.
void readRecord(std::istream& in, QuestionRecord& record, int32_t responseCount, int32_t lineBound);

// The server's form: the first character of the correct line.
ServerQuestionRecord readServerRecord(std::istream& in, int32_t responseCount, int32_t lineBound);

void skipRecord(std::istream& in, int32_t responseCount, int32_t lineBound);

// True when the next read would meet the end of file (the stream state is then
// cleared); the position is left where it was. False, with the stream left
// failed, for a line that is too long or a read error.
bool atEnd(std::istream& in, int32_t lineBound);

// After readHeader: the start of each record found and, last, the end of the
// data. The scan ends after header.recordCount records (later ones are never
// read), at the end of the file (a record cut short counts as found), or at a
// line longer than lineBound, when it returns false (the file is then damaged
// and refused); false too for an unusable header and on a read error.
// Always terminates.
bool indexRecords(std::istream& in, const QdbHeader& header, std::vector<int64_t>& recordStart);

}  // namespace qova

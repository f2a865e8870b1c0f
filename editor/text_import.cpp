#include "editor/text_import.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "editor/file_dialogs.h"
#include "editor/file_path.h"
#include "editor/file_replace.h"
#include "editor/record_store.h"
#include "qdb/qdb_file.h"

namespace qova {

const char kImportOpenFailed[] = "Could not open file.";
const char kImportCreateFailed[] = "Could not create file.";
const char kImportLineTooLong[] = "Could not convert file: a line is longer than 511 characters.";

namespace {

void showError(const Prompts& prompts, void* owner, const char* text) {
  if (prompts.messageBox) {
    prompts.messageBox(MessageRequest{owner, text, "Error", kMbIconExclamation});
  }
}

bool isEnd(LineRead r) { return r == LineRead::kLastLine || r == LineRead::kEnd; }

// The first six lines, each followed by CR LF (lines that cannot be read show
// empty), then the question.
std::string previewText(std::istream& in) {
  std::string text;
  std::string line;
  for (int i = 0; i < 6; ++i) {
    line.clear();
    LineRead r = readLine(in, line, kImportLineBound);
    if (r != LineRead::kLine && r != LineRead::kLastLine) line.clear();
    text += line;
    text += "\r\n";
  }
  text += "\r\nHow many responses per answer?\r\nYes = 4\r\nNo  = 5";
  return text;
}

// Counts the groups of n + 2 lines and measures the longest line. A last
// line without line end counts as one more record when it is not empty, so a
// group cut off by the end of such a file is counted, and one cut off in a
// file that ends with a line end is not. False on a line that is too long or
// a read error (the stream is then bad()).
bool countRecords(std::istream& in, int32_t n, uint32_t* longest, int32_t* count) {
  std::string line;
  int32_t inGroup = 0;
  for (;;) {
    line.clear();
    LineRead r = readLine(in, line, kImportLineBound);
    if (in.bad() || r == LineRead::kTooLong || r == LineRead::kFailed) return false;
    if (isEnd(r)) break;
    if (line.size() > *longest) *longest = static_cast<uint32_t>(line.size());
    if (++inGroup == n + 2) {
      ++*count;
      inGroup = 0;
    }
  }
  if (line.size() > *longest) *longest = static_cast<uint32_t>(line.size());
  if (!line.empty()) ++*count;
  return true;
}

// Every line of the text file, unchanged, each followed by CR LF.
bool copyLines(std::istream& in, std::ostream& out) {
  std::string line;
  for (;;) {
    line.clear();
    LineRead r = readLine(in, line, kImportLineBound);
    if (in.bad()) return false;
    if (r == LineRead::kEnd) return true;
    if (r != LineRead::kLine && r != LineRead::kLastLine) return false;
    out << line << "\r\n";
    if (r == LineRead::kLastLine) return true;
  }
}

void rewind(std::istream& in) {
  in.clear();
  in.seekg(0);
}

}  // namespace

bool importTextFile(const Prompts& prompts, void* owner) {
  std::string textPath;
  if (!prompts.openFile || !prompts.openFile(textOpenRequest(owner), &textPath)) return false;
  std::ifstream in;
  if (!textPath.empty() && textPath.size() < kMaxPathBuffer) {
    in.open(ansiPath(textPath), std::ios::binary);
  }
  if (!in.is_open()) {
    showError(prompts, owner, kImportOpenFailed);
    return false;
  }

  MessageRequest format{owner, previewText(in), "Format", kMbYesNo | kMbIconInformation};
  int answer = prompts.messageBox ? prompts.messageBox(format) : kIdNo;
  int32_t n = answer == kIdYes ? 4 : 5;

  // The count pass runs before anything is created: a line that is too long
  // stops the import here, before the user is asked for a file name.
  rewind(in);
  uint32_t longest = 0;
  int32_t count = 0;
  if (!countRecords(in, n, &longest, &count)) {
    showError(prompts, owner, in.bad() ? kImportOpenFailed : kImportLineTooLong);
    return false;
  }

  std::string outPath;
  if (!prompts.saveFile || !prompts.saveFile(importSaveRequest(owner), &outPath)) return false;
  namespace fs = std::filesystem;
  const fs::path target = outPath.size() < kMaxPathBuffer ? ansiPath(outPath) : fs::path();
  // The new file is written to a temporary file beside the chosen one and put
  // in place only when complete, so the chosen file is never left with a
  // wrong header, the text file itself may be chosen as the output without
  // losing it, and a full or read-only working folder does not matter. A
  // chosen name that is the temporary file's is written directly. A file
  // marked read-only is not replaced.
  fs::path temp = besideOf(target, kSaveTempFileName);
  const bool direct = target.filename() == fs::path(kSaveTempFileName);
  if (direct) temp = target;
  if (target.empty() || sameFile(ansiPath(textPath), temp)) {
    showError(prompts, owner, kImportCreateFailed);
    return false;
  }
  if (direct && isReadOnlyFile(target)) {
    showError(prompts, owner, kImportCreateFailed);
    return false;
  }
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    showError(prompts, owner, kImportCreateFailed);
    return false;
  }
  writeHeader(out, static_cast<int32_t>(longest), n, count);
  rewind(in);
  bool copied = copyLines(in, out);
  bool readError = in.bad();
  out.close();
  in.close();
  if (!copied || out.fail() || (!direct && !replaceFile(temp, target, false))) {
    removeQuietly(temp);
    showError(prompts, owner,
              readError ? kImportOpenFailed
              : copied  ? kImportCreateFailed
                        : kImportLineTooLong);
    return false;
  }
  return true;
}

}  // namespace qova

// qova_import IN OUT.qdb: imports a question file (Aiken, GIFT, CSV or the
// text layout) into a new question database, the way QOVAMAKE's Import...
// reads it. The report goes to standard error. Records have four responses,
// five when any imported question has five; texts are in the ANSI code page
// (Windows-1252 outside Windows).
//
// Exit codes: 0 when at least one question was imported and the database
// written; 1 when no question could be imported (nothing is written); 2 for
// a wrong command line or a database that cannot be written.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "editor/file_path.h"
#include "editor/file_replace.h"
#include "editor/import/question_import.h"
#include "qdb/qdb_file.h"

namespace {

int32_t longestLine(const qova::ImportedQuestions& imported, int32_t responseCount) {
  size_t longest = 1;  // the correct line, one digit
  for (const qova::QuestionRecord& record : imported.records) {
    longest = std::max(longest, record.question.size());
    for (int32_t i = 0; i < responseCount && i < static_cast<int32_t>(record.responses.size());
         ++i) {
      longest = std::max(longest, record.responses[static_cast<size_t>(i)].size());
    }
  }
  return static_cast<int32_t>(longest);
}

// Writes the database beside `target` and renames it into place when whole.
bool writeDatabase(const qova::ImportedQuestions& imported, const std::filesystem::path& target) {
  const int32_t responseCount = imported.mostResponses == 5 ? 5 : 4;
  std::filesystem::path temp =
      qova::besideOf(target, (target.filename().string() + ".tmp").c_str());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    qova::writeHeader(out, longestLine(imported, responseCount), responseCount,
                      static_cast<int32_t>(imported.records.size()));
    for (const qova::QuestionRecord& record : imported.records) {
      qova::writeRecord(out, record, responseCount);
    }
    out.close();
    if (out.fail()) {
      qova::removeQuietly(temp);
      return false;
    }
  }
  if (!qova::replaceFile(temp, target, false)) {
    qova::removeQuietly(temp);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qova_import IN OUT.qdb\n");
    return 2;
  }
  const std::string in = argv[1];
  const std::string outName = argv[2];
  const std::filesystem::path target = qova::ansiPath(outName);
  if (target.empty() || qova::sameFile(qova::ansiPath(in), target)) {
    std::fprintf(stderr, "qova_import: OUT must be another file than IN\n");
    return 2;
  }
  qova::ImportedQuestions imported = qova::importQuestionFile(in, 5);
  std::string report = qova::importReport(imported, in, qova::kMaxListedSkips);
  std::fputs(report.c_str(), stderr);
  if (imported.records.empty()) return 1;
  if (!writeDatabase(imported, target)) {
    std::fprintf(stderr, "qova_import: could not write %s\n", outName.c_str());
    return 2;
  }
  std::fprintf(stderr, "Wrote %s.\n", outName.c_str());
  return 0;
}

#include "editor/import/question_import.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

#include "editor/file_path.h"
#include "editor/import/aiken_reader.h"
#include "editor/import/ansi_text.h"
#include "editor/import/csv_reader.h"
#include "editor/import/gift_reader.h"
#include "editor/import/layout_reader.h"
#include "editor/import/text_lines.h"
#include "editor/import/utf8_text.h"

namespace qova {
namespace {

enum class Format { kNone, kAiken, kGift, kCsv, kLayout };

// The file's text in UTF-8.
std::string decoded(std::string_view bytes) {
  auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (startsWith("\xFF\xFE")) return utf8FromUtf16(bytes.substr(2), false);
  if (startsWith("\xFE\xFF")) return utf8FromUtf16(bytes.substr(2), true);
  if (startsWith("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  if (isUtf8(bytes)) return std::string(bytes);
  return utf8FromAnsi(std::string(bytes));
}

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Format hintOf(const std::string& fileName) {
  std::string name = baseName(fileName);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return Format::kNone;
  std::string extension;
  for (char c : name.substr(dot + 1)) {
    extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (extension == "csv" || extension == "tsv") return Format::kCsv;
  if (extension == "gift") return Format::kGift;
  return Format::kNone;
}

bool fits(Format format, std::string_view text) {
  switch (format) {
    case Format::kAiken:
      return looksLikeAiken(text);
    case Format::kGift:
      return looksLikeGift(text);
    case Format::kLayout:
      return layoutResponseCount(text) != 0;
    case Format::kCsv:
      return looksLikeCsv(text);
    case Format::kNone:
      break;
  }
  return false;
}

// Aiken's marks and the layout's numbers at fixed lines are the strictest
// tests; GIFT's braces come next (a layout question may hold a brace); CSV
// is what is left with enough fields a row.
Format detect(std::string_view text, Format hint) {
  if (hint != Format::kNone && fits(hint, text)) return hint;
  for (Format format : {Format::kAiken, Format::kLayout, Format::kGift, Format::kCsv}) {
    if (fits(format, text)) return format;
  }
  return hint;
}

std::string counted(int64_t n, const char* thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

ImportedQuestions importQuestions(std::string_view bytes, const std::string& fileName,
                                  int responseLimit) {
  ImportedQuestions out;
  out.responseLimit = responseLimit;
  if (bytes.size() > kMaxImportBytes) {
    out.failure = "The file is larger than " + std::to_string(kMaxImportBytes >> 20) + " MB.";
    return out;
  }
  std::string text = decoded(bytes);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    out.failure = "The file is empty.";
    return out;
  }
  switch (detect(text, hintOf(fileName))) {
    case Format::kAiken:
      out.format = "Aiken";
      readAiken(text, &out);
      break;
    case Format::kGift:
      out.format = "GIFT";
      readGift(text, &out);
      break;
    case Format::kLayout: {
      int n = layoutResponseCount(text);
      out.format = "QOVA text layout, " + std::to_string(n) + " responses";
      readLayout(text, n, &out);
      break;
    }
    case Format::kCsv:
      out.format = "CSV";
      readCsv(text, &out);
      break;
    case Format::kNone:
      out.failure =
          "It is in none of the formats the import reads: Aiken, GIFT, CSV or the QOVA text "
          "layout.";
      return out;
  }
  if (out.failure.empty() && out.records.empty() && out.skippedCount == 0) {
    out.failure = "No questions were found in it.";
  }
  if (!out.failure.empty()) out.records.clear();
  return out;
}

ImportedQuestions importQuestionFile(const std::string& path, int responseLimit) {
  ImportedQuestions out;
  out.responseLimit = responseLimit;
  std::ifstream in;
  if (!path.empty()) in.open(ansiPath(path), std::ios::binary);
  if (!in.is_open()) {
    out.failure = "The file cannot be opened.";
    return out;
  }
  // One byte beyond the limit tells a file that is too large.
  std::string bytes;
  char buffer[1 << 16];
  while (bytes.size() <= kMaxImportBytes) {
    in.read(buffer, sizeof buffer);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  if (in.bad()) {
    out.failure = "The file cannot be read.";
    return out;
  }
  return importQuestions(bytes, path, responseLimit);
}

std::string importReport(const ImportedQuestions& imported, const std::string& path,
                         size_t listed) {
  std::string name = baseName(path);
  std::string from = name + (imported.format.empty() ? "" : " (" + imported.format + ")");
  std::string report;
  if (imported.records.empty()) {
    report = "No questions were imported from " + from + ".\n";
  } else {
    report = "Imported " + counted(static_cast<int64_t>(imported.records.size()), "question") +
             " from " + from + ".\n";
  }
  if (!imported.failure.empty()) report += "\n" + imported.failure + "\n";
  // What the imported questions had that the database cannot hold.
  if (!imported.records.empty() && (imported.noteCount > 0 || !imported.fileNotes.empty())) {
    report += "\nNot kept:\n";
    for (const std::string& note : imported.fileNotes) report += note + "\n";
    size_t shown = std::min(imported.notes.size(), listed);
    for (size_t i = 0; i < shown; ++i) {
      report +=
          "Line " + std::to_string(imported.notes[i].line) + ": " + imported.notes[i].text + ".\n";
    }
    int64_t more = imported.noteCount - static_cast<int64_t>(shown);
    if (more > 0) report += "...and " + std::to_string(more) + " more.\n";
  }
  if (imported.skippedCount > 0) {
    report += "\nSkipped " + counted(imported.skippedCount, "question") + ":\n";
    size_t shown = std::min(imported.skipped.size(), listed);
    for (size_t i = 0; i < shown; ++i) {
      const SkippedQuestion& s = imported.skipped[i];
      report += "Line " + std::to_string(s.line) + ": " + s.reason + ".\n";
    }
    int64_t more = imported.skippedCount - static_cast<int64_t>(shown);
    if (more > 0) report += "...and " + std::to_string(more) + " more.\n";
  }
  return report;
}

}  // namespace qova

// libFuzzer target for the question file import: any bytes, read as any of
// the formats, must give records that keep the import's promises or a
// report, never a crash, a hang or runaway memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "editor/import/question_import.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
  }
}

void checkText(const std::string& text) {
  require(!text.empty(), "texts are not empty");
  require(text.size() <= qova::kMaxImportedText, "texts are bounded");
  require(text.find_first_of("\r\n") == std::string::npos, "texts hold no line end");
  require(text.front() != ' ' && text.back() != ' ', "texts are trimmed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the name (the extension hint) and the response limit.
  static const char* const kNames[] = {"q.txt", "q.csv", "q.gift", "q"};
  const std::string name = kNames[data[0] & 3];
  const int limit = (data[0] & 4) ? 5 : 4;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  qova::ImportedQuestions got = qova::importQuestions(bytes, name, limit);
  require(got.failure.empty() || got.records.empty(), "a failure imports nothing");
  require(got.skipped.size() <= qova::kMaxListedSkips, "the skip list is bounded");
  require(got.skippedCount >= static_cast<int64_t>(got.skipped.size()), "skips are counted");
  require(got.mostResponses <= limit, "no record has more responses than the database");
  for (const qova::QuestionRecord& r : got.records) {
    checkText(r.question);
    require(r.responses.size() == static_cast<size_t>(limit), "records are padded");
    require(r.correct >= 1 && r.correct <= limit, "the right response is one of them");
    size_t real = 0;
    while (real < r.responses.size() && !r.responses[real].empty()) checkText(r.responses[real++]);
    require(real >= 2, "at least two responses");
    require(static_cast<size_t>(r.correct) <= real, "the right response is not padding");
    for (size_t i = real; i < r.responses.size(); ++i) {
      require(r.responses[i].empty(), "padding follows the responses");
    }
  }
  for (const qova::SkippedQuestion& s : got.skipped) {
    require(s.line >= 1, "skips name a line");
    require(!s.reason.empty(), "skips give a reason");
  }
  require(!qova::importReport(got, name).empty(), "there is a report");
  return 0;
}

// Record store on a question file of a million records (about 100 MB):
// open (header and index), seeks to 100 random records, a search on a
// question text, and an overwrite save with 1,000 edits and 1,000 erasures,
// each timed against a plain sequential line-by-line read of the same file.
// Prints the ratios and the peak resident memory. Not a test.
//
//   editor_bench [records]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "editor/record_store.h"

namespace fs = std::filesystem;
using qova::QuestionRecord;
using qova::RecordStore;
using qova::SearchCriteria;

namespace {

// Wall-clock and process CPU time of one run. The machine may be shared, so
// both are kept: CPU time is less disturbed by other processes.
struct Times {
  double wall = 1e9;
  double cpu = 1e9;
};

double cpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Stopwatch {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = cpuNow();
  // Keeps the best of the runs in *best.
  void stop(Times* best) const {
    double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    best->wall = std::min(best->wall, w);
    best->cpu = std::min(best->cpu, cpuNow() - cpu);
  }
};

std::string questionText(int n) { return "Question " + std::to_string(n) + ": which one?"; }

// Writes the file and returns its size in bytes.
uintmax_t generate(const std::string& path, int records) {
  std::vector<char> buffer(1 << 20);
  std::ofstream out;
  out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  out.open(path, std::ios::binary | std::ios::trunc);
  out << "60\r\n4\r\n" << records << "\r\n";
  for (int n = 1; n <= records; ++n) {
    out << questionText(n) << "\r\n";
    for (int r = 1; r <= 4; ++r) out << "Answer " << r << ", " << n << "\r\n";
    out << 1 + n % 4 << "\r\n";
  }
  out.close();
  return fs::file_size(path);
}

// The baseline: every line of the file read once, in order.
void sequentialRead(const std::string& path, long* lines, Times* best) {
  Stopwatch watch;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  long count = 0;
  size_t chars = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    chars += line.size();
    ++count;
  }
  *lines = count + static_cast<long>(chars % 2);  // keep the loop from being dropped
  watch.stop(best);
}

long peakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  if (records < 1000) records = 1000;

  fs::path dir = fs::temp_directory_path() /
                 ("qova-editor-bench-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  fs::path previousDir = fs::current_path();
  fs::current_path(dir);  // the save's temporary file goes here
  std::string path = (dir / "bench.qdb").string();

  uintmax_t bytes = generate(path, records);
  long lines = 0;
  // Each figure is the best of a few runs: the machine is shared, and the
  // best run is the one least disturbed by others.
  Times warm, baseline;
  sequentialRead(path, &lines, &warm);  // warm the cache like the runs below
  for (int i = 0; i < 3; ++i) sequentialRead(path, &lines, &baseline);

  RecordStore store;
  store.prompts.messageBox = [](const qova::MessageRequest&) { return qova::kIdYes; };

  Times openTime;
  int opened = 0;
  for (int i = 0; i < 3; ++i) {
    Stopwatch watch;
    opened = store.open(path);
    watch.stop(&openTime);
  }

  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> pick(1, records);
  Times seekTime;
  int seekErrors = 0;
  {
    Stopwatch watch;
    for (int i = 0; i < 100; ++i) {
      int n = pick(random);
      if (store.seek(n).question != questionText(n)) ++seekErrors;
    }
    watch.stop(&seekTime);
  }

  SearchCriteria criteria;
  criteria.mask = SearchCriteria::MatchQuestion;
  criteria.question = questionText(records * 3 / 4);
  Times searchTime;
  std::vector<int32_t> found;
  for (int i = 0; i < 3; ++i) {
    Stopwatch watch;
    found = store.search(criteria);
    watch.stop(&searchTime);
  }

  // Two saves, each of 1,000 fresh edits and 1,000 fresh erasures.
  Times saveTime;
  bool saveOk = true;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 1000; ++i) {
      store.seek(pick(random));
      QuestionRecord edited = store.current;
      edited.question += " (edited)";
      store.commit(edited);
    }
    for (int i = 0; i < 1000; ++i) {
      store.seek(pick(random));
      store.setErased(true);
    }
    int32_t expectedTotal = store.totalRecords - static_cast<int32_t>(store.erasedNumbers.size());
    Stopwatch watch;
    int saved = store.save();
    watch.stop(&saveTime);
    saveOk = saveOk && saved == 4 && store.totalRecords == expectedTotal && store.edits.empty();
  }

  std::printf("editor benchmark: %d records, %.1f MB, %ld lines\n", records, bytes / 1e6, lines);
  std::printf("best of 3 runs (save: of 2); ratio = time / baseline time\n");
  std::printf("%-34s %9s %9s %9s %9s %5s\n", "operation", "wall s", "ratio", "cpu s", "ratio",
              "aim");
  auto row = [&](const char* name, const Times& t, const char* aim) {
    std::printf("%-34s %9.4f %9.3f %9.4f %9.3f %5s\n", name, t.wall, t.wall / baseline.wall, t.cpu,
                t.cpu / baseline.cpu, aim);
  };
  row("sequential line read (baseline)", baseline, "");
  row("open (header and index)", openTime, "3");
  row("seek to 100 random records", seekTime, "");
  row("search on a question text", searchTime, "3");
  row("save: 1,000 edits, 1,000 erasures", saveTime, "4");
  std::printf("peak resident memory: %.1f MB (aim below 64 MB)\n", peakResidentKb() / 1024.0);
  std::printf("checks: open %s, seeks %s, search %s (%zu found), save %s\n",
              opened == 4 ? "ok" : "FAILED", seekErrors == 0 ? "ok" : "FAILED",
              found.size() == 1 ? "ok" : "FAILED", found.size(), saveOk ? "ok" : "FAILED");

  store.clear();
  fs::current_path(previousDir);
  std::error_code ec;
  fs::remove_all(dir, ec);
  bool ok = opened == 4 && seekErrors == 0 && found.size() == 1 && saveOk;
  return ok ? 0 : 1;
}

#include "server/results_save.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/run_log.h"
#include "server/results.h"
#include "server/results_csv.h"
#include "server/results_report.h"

namespace qova {

const char kResultsReportName[] = "endscores.html";
const char kUnfinishedMarkName[] = "endscores.unfinished";

namespace {

namespace fs = std::filesystem;

std::string besideResults(const ServerApp& app, const std::string& leaf) {
  return (fs::path(app.resultsFileName).parent_path() / leaf).string();
}

std::string leafOf(const std::string& path) { return fs::path(path).filename().string(); }

void logLine(ServerApp& app, const std::string& text) {
  RunLog::process().write(text.c_str(), app.logFileName.c_str());
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

bool isStamp(const std::string& s) {
  // 2026-12-10-2103
  if (s.size() != 15) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 4 || i == 7 || i == 10;
    if (dash != (s[i] == '-')) return false;
    if (!dash && (s[i] < '0' || s[i] > '9')) return false;
  }
  return true;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readStamp(const std::string& markPath) {
  std::ifstream in(markPath, std::ios::binary);
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The dated name of `path`: its stem, "-", the stamp, `suffix` and its
// extension ("endscores-2026-12-10-2103-2.csv").
std::string datedPath(const std::string& path, const std::string& stamp,
                      const std::string& suffix) {
  fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-" + stamp + suffix + p.extension().string()))
      .string();
}

}  // namespace

std::vector<std::string> resultsFilePaths(const ServerApp& app) {
  return {app.resultsFileName, besideResults(app, kEndScoresCsvName),
          besideResults(app, kAnswersCsvName), besideResults(app, kResultsReportName)};
}

std::string unfinishedMarkPath(const ServerApp& app) {
  return besideResults(app, kUnfinishedMarkName);
}

std::vector<std::string> writeResultsFiles(ServerApp& app) {
  const std::vector<std::string> paths = resultsFilePaths(app);
  const DateTime now = app.results.clock ? app.results.clock() : localNow();
  // One file at a time, so that at most one file's bytes are held beside
  // the records.
  std::vector<std::string> failed;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string bytes;
    switch (i) {
      case 0:
        bytes = endScoresText(app.players);
        break;
      case 1:
        bytes = endScoresCsv(app.players);
        break;
      case 2:
        bytes = answersCsv(app.players, app.askedRounds);
        break;
      default:
        bytes = resultsReportHtml(app.players, app.askedRounds, now);
        break;
    }
    if (!replaceFile(paths[i], bytes, app.results.files)) failed.push_back(leafOf(paths[i]));
  }
  return failed;
}

void saveRoundResults(ServerApp& app) {
  const DateTime now = app.results.clock ? app.results.clock() : localNow();
  // The round just begun has no answers yet: the rounds played are those
  // before it.
  const size_t played = app.askedRounds.empty() ? 0 : app.askedRounds.size() - 1;
  // The mark first: a power loss between the files then still leaves them
  // marked as a game under way.
  const std::string mark = dateTimeStamp(now) +
                           "\r\nResults of a game under way, saved after round " +
                           std::to_string(played) + ".\r\n";
  std::vector<std::string> failed;
  if (!replaceFile(unfinishedMarkPath(app), mark, app.results.files)) {
    failed.push_back(kUnfinishedMarkName);
  }
  for (const std::string& name : writeResultsFiles(app)) failed.push_back(name);
  if (!failed.empty()) {
    logLine(app, "The results could not be saved after round " + std::to_string(played) + ": " +
                     listed(failed) + ".");
  }
}

void saveFinalResults(ServerApp& app) {
  if (!writeResultsFiles(app).empty()) return;
  app.results.files.remove(unfinishedMarkPath(app));
}

std::vector<std::string> setAsideUnfinishedResults(ServerApp& app) {
  std::vector<std::string> moved;
  const std::string markPath = unfinishedMarkPath(app);
  std::error_code ec;
  if (!fs::exists(markPath, ec)) return moved;
  std::string stamp = readStamp(markPath);
  if (!isStamp(stamp)) stamp = dateTimeStamp(app.results.clock ? app.results.clock() : localNow());
  // One suffix for the four, the first under which none of them exists.
  const std::vector<std::string> paths = resultsFilePaths(app);
  std::string suffix;
  for (int n = 2;; ++n) {
    bool taken = false;
    for (const std::string& path : paths)
      taken = taken || fs::exists(datedPath(path, stamp, suffix), ec);
    if (!taken || n > 1000) break;
    suffix = "-" + std::to_string(n);
  }
  std::vector<std::string> failed;
  for (const std::string& path : paths) {
    if (!fs::exists(path, ec)) continue;
    const std::string to = datedPath(path, stamp, suffix);
    // A file that cannot be renamed (a spreadsheet program holding it open)
    // is copied instead; the original then stays as it is too.
    if (app.results.files.replace(path, to) || replaceFile(to, readAll(path), app.results.files)) {
      moved.push_back(leafOf(to));
    } else {
      failed.push_back(leafOf(path));
    }
  }
  if (!moved.empty()) {
    logLine(app, "The results of an unfinished game were kept as " + listed(moved) + ".");
  }
  if (!failed.empty()) {
    // The mark stays, so that the next start tries again.
    logLine(app,
            "The results of an unfinished game could not be kept aside: " + listed(failed) + ".");
    return moved;
  }
  app.results.files.remove(markPath);
  return moved;
}

}  // namespace qova

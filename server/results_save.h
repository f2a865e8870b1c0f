// The results files as the night goes: after each round's summary the server
// writes endscores.txt, endscores.csv, answers.csv and endscores.html from
// the rounds so far, in the form Quit writes them, beside a small companion
// file, endscores.unfinished, that marks them as those of a game still under
// way. Quit writes them once more and removes the mark. A server that starts
// and finds the mark moves the unfinished game's files aside under dated
// names before anything can replace them.
//
// Every file goes through replaceFile (common/durable_file.h): a power loss
// leaves the old file or the new one.
#pragma once

#include <string>
#include <vector>

#include "server/server_app.h"

namespace qova {

extern const char kResultsReportName[];   // "endscores.html"
extern const char kUnfinishedMarkName[];  // "endscores.unfinished"

// The four results files beside app.resultsFileName, in the order written:
// endscores.txt, endscores.csv, answers.csv, endscores.html.
std::vector<std::string> resultsFilePaths(const ServerApp& app);
// The companion mark beside them.
std::string unfinishedMarkPath(const ServerApp& app);

// Writes the four files from app's records. Returns the names (leaf names)
// of those that could not be written; empty when all were.
std::vector<std::string> writeResultsFiles(ServerApp& app);

// After a round's summary: the mark, then the four files. A failure is
// written to the run log and changes nothing else; the game goes on.
void saveRoundResults(ServerApp& app);

// At shutdown: the four files, then the mark removed once all four are
// written (a file that could not be written leaves the mark, so that the
// saved rounds are kept aside at the next start).
void saveFinalResults(ServerApp& app);

// At start-up, before anything else: when the mark is there, every results
// file there is renamed to its dated name (endscores-2026-12-10-2103.txt,
// dated by the mark's last save), the run log says so and the mark goes.
// Returns the new names (empty when there was no mark).
std::vector<std::string> setAsideUnfinishedResults(ServerApp& app);

}  // namespace qova

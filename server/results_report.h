// endscores.html: the results as a page a teacher reads at a glance, written
// beside endscores.txt from the same records. One self-contained UTF-8 file
// (one style element, inline SVG, no script, nothing fetched) that opens by
// a double-click without a network and prints on A4:
//   - the date and time it was written, the numbers of players, rounds and
//     questions;
//   - a podium and the full standings, placed as the players' leaderboard
//     places them (most right, then the lower average time; equal figures
//     share a place);
//   - every question asked, hardest first (fewest right, then slowest, then
//     as asked), with its text, correct response, percent right as a bar
//     and average time;
//   - a grid per round of every player's answers, each marked with a symbol
//     and a word besides its colour.
// Every text from a player or a question is converted from Windows-1252 and
// escaped, so no name or question adds markup.
#pragma once

#include <string>
#include <vector>

#include "common/wall_clock.h"
#include "server/server_app.h"

namespace qova {

std::string resultsReportHtml(const std::vector<PlayerRecord>& players,
                              const std::vector<std::vector<AskedQuestion>>& askedRounds,
                              const DateTime& written);

// Windows-1252 text as UTF-8, escaped for HTML text and attribute values
// (& < > " ' as character references).
std::string htmlText(const std::string& cp1252);

}  // namespace qova

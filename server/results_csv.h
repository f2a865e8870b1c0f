// The results as spreadsheet files, written at shutdown beside the results
// file and from the same records: endscores.csv, a row a player with the
// figures of the results file, and answers.csv, a row an answer.
//
// Both are UTF-16LE text with a byte-order mark, fields separated by tabs,
// CR LF line ends, a heading row first: the form a spreadsheet program on
// Windows opens by a double-click into columns whatever the list separator
// of its locale, with every letter right (docs/decisions/results-spreadsheet-files.md). Texts are
// converted from Windows-1252; each text field is quoted (quotes doubled),
// and one that begins with = + - @, a tab or a CR gets a leading apostrophe
// so that a spreadsheet never takes a player's name for a formula.
#pragma once

#include <string>
#include <vector>

#include "server/server_app.h"

namespace qova {

extern const char kEndScoresCsvName[];  // "endscores.csv"
extern const char kAnswersCsvName[];    // "answers.csv"

// Player, Answers, Right, Percent right, Average time: the figures written
// as the results file writes them.
std::string endScoresCsv(const std::vector<PlayerRecord>& players);

// Player, Round, Question (its number in the round), Record (its number in
// the database), Question text, Time (the text as the player sent it),
// Result (Right or Wrong). Round r of each player answers askedRounds[r];
// a question not found there gets an empty record number and text.
std::string answersCsv(const std::vector<PlayerRecord>& players,
                       const std::vector<std::vector<AskedQuestion>>& askedRounds);

// Writes both files into the folder of `resultsFileName`, each to a
// temporary file first that is flushed and then renamed over the old one
// (common/durable_file.h), so a failure
// leaves the old file whole and no half-written one. False when either could
// not be written.
bool writeResultsCsv(const std::vector<PlayerRecord>& players,
                     const std::vector<std::vector<AskedQuestion>>& askedRounds,
                     const std::string& resultsFileName);

// Windows-1252 text as UTF-16LE bytes, without a byte-order mark. The five
// bytes the code page leaves undefined become U+FFFD.
std::string cp1252ToUtf16le(const std::string& text);

}  // namespace qova

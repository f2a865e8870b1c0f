// What the server shows of its players' answers: the results file written at
// shutdown, and the entries of the Statistics window's two combo boxes and
// list, which the Win32 shell only copies into its controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/client_connection.h"

namespace qova {

// A player's figures over all rounds, as the results file shows them: the
// average of the time texts read as numbers and the percentage of right
// answers, both 0 for a player without any answer (docs/decisions/results-no-answers.md).
struct PlayerFigures {
  int64_t answers = 0;
  int64_t right = 0;
  double averageTime = 0;
  float percentRight = 0;
};
PlayerFigures playerFigures(const PlayerRecord& player);

// The results file's text, CR LF line ends. A player without any answer
// shows 0 for the average time and 0% (docs/decisions/results-no-answers.md).
std::string endScoresText(const std::vector<PlayerRecord>& players);
// Creates or replaces `fileName` with that text through a flushed temporary
// file (common/durable_file.h); nothing when it cannot.
void writeEndScores(const std::vector<PlayerRecord>& players, const std::string& fileName);

// Statistics window view modes, stored in its user-data word.
enum : int32_t { kViewInitial = 0, kViewByPlayer = 112, kViewByQuestion = 114 };

// Texts of the list heading 1011 and the combo labels 1012 and 1013.
struct ViewLabels {
  const char* listHeading;
  const char* firstLabel;
  const char* secondLabel;
};
ViewLabels viewLabels(int32_t viewMode);

// Entries of combo 1009: players' names by player, else round numbers.
std::vector<std::string> firstComboEntries(const std::vector<PlayerRecord>& players,
                                           int32_t viewMode);
// Entries of combo 1007 for selection `first` of 1009 (-1: none): the
// player's round numbers by player, else the question numbers the first
// player holds in that round. Empty when `first` designates nothing.
std::vector<std::string> secondComboEntries(const std::vector<PlayerRecord>& players,
                                            int32_t viewMode, int first);
// Lines of list 1006 for selections `first` and `second`: "first field \t
// time \t Yes|No".
std::vector<std::string> listLines(const std::vector<PlayerRecord>& players, int32_t viewMode,
                                   int first, int second);

}  // namespace qova
